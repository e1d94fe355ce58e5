#pragma once
// A value's bytes decoded by its type. Owns everything it holds.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "value/value_type.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::value {

struct NoData {
    bool operator==(const NoData&) const = default;
};
struct StringData {
    std::string text;
    bool operator==(const StringData&) const = default;
};
struct ExpandStringData {
    std::string text;
    bool operator==(const ExpandStringData&) const = default;
};
struct BinaryData {
    std::vector<std::uint8_t> bytes;
    bool operator==(const BinaryData&) const = default;
};
struct DwordData {
    std::uint32_t value = 0;
    bool operator==(const DwordData&) const = default;
};
struct DwordBigEndianData {
    std::uint32_t value = 0;  // already converted to its numeric value
    bool operator==(const DwordBigEndianData&) const = default;
};
struct MultiStringData {
    std::vector<std::string> texts;
    bool operator==(const MultiStringData&) const = default;
};
struct QwordData {
    std::uint64_t value = 0;
    bool operator==(const QwordData&) const = default;
};
struct OtherData {
    std::vector<std::uint8_t> bytes;
    bool operator==(const OtherData&) const = default;
};

class ValueData {
public:
    using Variant = std::variant<NoData, StringData, ExpandStringData, BinaryData, DwordData,
                                 DwordBigEndianData, MultiStringData, QwordData, OtherData>;

    template <class V, std::enable_if_t<std::is_constructible_v<Variant, V&&>, int> = 0>
    ValueData(V&& kind) : kind_(std::forward<V>(kind)) {}

    // Empty bytes give NoData whatever the type; otherwise by type (strings
    // through read_utf16_string with offset 0, DWORD/QWORD need 4/8 bytes).
    [[nodiscard]] static Result<ValueData> decode(ValueType type, utils::Bytes bytes);

    // The data as Windows reads it, for plain Python objects and the command
    // line's output: a REG_SZ or REG_EXPAND_SZ string that does not decode as
    // a whole is read up to its first U+0000 (utils::read_windows_string),
    // and `trailing` views the stale bytes after it; a malformed string fails
    // naming the offset of its first bad unit. Otherwise as decode().
    struct WindowsReading;
    [[nodiscard]] static Result<WindowsReading> decode_as_windows_reads(ValueType type, utils::Bytes bytes);

    const Variant& kind() const noexcept { return kind_; }
    template <class V>
    const V* get_if() const noexcept { return std::get_if<V>(&kind_); }

    // The printable form: "(none)", the text, "[0A, FF]", "1 (0x00000001)", ...
    std::string to_display_string() const;

    bool operator==(const ValueData&) const = default;

private:
    Variant kind_;
};

struct ValueData::WindowsReading {
    ValueData data;
    utils::Bytes trailing;  // empty unless a string ended before its data did
};

}  // namespace orvane::value
