#pragma once
// A literal pattern, found in names and in value data.
//
// Names are decoded text and are searched character by character. Data is
// searched as bytes, at every offset (odd ones too: binary data need not
// align its text), for the pattern's UTF-16LE encoding and, when every
// character of the pattern lies below U+0100, its Latin-1 encoding; a
// Latin-1 hit inside a UTF-16LE hit (a one-letter pattern in UTF-16 text)
// is the same text and not reported again. Both read their input through
// bounds-checked views only: a match that would end past the data is no match.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "error/registry_error.hpp"
#include "search/case_fold.hpp"
#include "search/match.hpp"
#include "utils/byte_view.hpp"

namespace orvane::search {

// A match in a name, in characters (code points).
struct NameHit {
    std::size_t start = 0;
    std::size_t length = 0;
};

// A match in data, in bytes.
struct DataHit {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    Encoding encoding = Encoding::Utf16Le;
};

class LiteralMatcher {
public:
    // `pattern` is UTF-8. InvalidFormat "The search pattern is empty" or
    // "The search pattern is not valid UTF-8".
    [[nodiscard]] static Result<LiteralMatcher> create(std::string_view pattern, bool case_sensitive);

    // The first match in a name (UTF-8, as the core decodes names).
    std::optional<NameHit> find_in_name(std::string_view name) const noexcept;

    // Appends every match in `data`, in order of offset; matches of one
    // encoding do not overlap.
    void find_in_data(utils::ByteView data, std::vector<DataHit>& hits) const;

private:
    explicit LiteralMatcher(const FoldTables& fold) noexcept : fold_(&fold) {}

    bool utf16_at(utils::Bytes bytes, std::size_t at) const noexcept;
    bool latin1_at(utils::Bytes bytes, std::size_t at) const noexcept;

    const FoldTables* fold_;  // static tables
    std::vector<char32_t> code_points_;  // folded
    std::vector<std::uint16_t> units_;   // folded UTF-16 units
    std::vector<std::uint8_t> latin1_;   // folded; empty when the pattern has no Latin-1 form
};

}  // namespace orvane::search
