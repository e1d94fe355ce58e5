#include "search/case_fold.hpp"

#include <memory>

#include "base/unicode.hpp"

namespace orvane::search {

namespace {

template <class Map>
std::unique_ptr<const FoldTables> build(Map&& map) {
    auto tables = std::make_unique<FoldTables>();
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
        const char32_t mapped = map(unit);
        tables->units[unit] = static_cast<std::uint16_t>(mapped < 0x10000 ? mapped : unit);
    }
    for (std::uint32_t byte = 0; byte < 0x100; ++byte) {
        const char32_t mapped = map(byte);
        tables->latin1[byte] = static_cast<std::uint8_t>(mapped < 0x100 ? mapped : byte);
    }
    return tables;
}

}  // namespace

// Function-local statics: built by the first caller, thread-safely.
const FoldTables& case_folding() {
    static const std::unique_ptr<const FoldTables> tables =
        build([](char32_t cp) { return base::simple_uppercase(cp); });
    return *tables;
}

const FoldTables& no_folding() {
    static const std::unique_ptr<const FoldTables> tables = build([](char32_t cp) { return cp; });
    return *tables;
}

}  // namespace orvane::search
