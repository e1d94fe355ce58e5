#include "value/value_data.hpp"

#include <cstdio>

#include "base/overloaded.hpp"
#include "utils/strings.hpp"

namespace orvane::value {

namespace {

// The text split at every U+0000 (a zero byte in UTF-8, which no other
// character contains), with empty pieces dropped.
std::vector<std::string> split_at_nuls(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return pieces;
}

std::string bracketed_hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = "[";
    out.reserve(bytes.size() * 4 + 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out += ", ";
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    out += ']';
    return out;
}

std::string number_with_hex(unsigned long long value, int hex_digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%llu (0x%0*llX)", value, hex_digits, value);
    return buffer;
}

}  // namespace

Result<ValueData> ValueData::decode(ValueType type, utils::Bytes bytes) {
    if (bytes.empty()) return ValueData(NoData{});
    using Kind = ValueType::Kind;
    switch (type.kind()) {
        case Kind::None:
            return ValueData(NoData{});
        case Kind::String: {
            ORVANE_ASSIGN_OR_RETURN(std::string text, utils::read_utf16_string(bytes, 0));
            return ValueData(StringData{std::move(text)});
        }
        case Kind::ExpandString: {
            ORVANE_ASSIGN_OR_RETURN(std::string text, utils::read_utf16_string(bytes, 0));
            return ValueData(ExpandStringData{std::move(text)});
        }
        case Kind::Binary:
            return ValueData(BinaryData{{bytes.begin(), bytes.end()}});
        case Kind::Dword:
        {
            ORVANE_ASSIGN_OR_RETURN(const std::uint32_t value, utils::ByteView(bytes).u32(0));
            return ValueData(DwordData{value});
        }
        case Kind::DwordBigEndian:
        {
            ORVANE_ASSIGN_OR_RETURN(const std::uint32_t value, utils::ByteView(bytes).u32(0));
            return ValueData(DwordBigEndianData{__builtin_bswap32(value)});
        }
        case Kind::MultiString: {
            ORVANE_ASSIGN_OR_RETURN(const std::string text, utils::read_utf16_string(bytes, 0));
            return ValueData(MultiStringData{split_at_nuls(text)});
        }
        case Kind::Qword:
        {
            ORVANE_ASSIGN_OR_RETURN(const std::uint64_t value, utils::ByteView(bytes).u64(0));
            return ValueData(QwordData{value});
        }
        case Kind::Link:
        case Kind::ResourceList:
        case Kind::FullResourceDescriptor:
        case Kind::ResourceRequirementsList:
        case Kind::Unknown:
            break;
    }
    return ValueData(OtherData{{bytes.begin(), bytes.end()}});
}

Result<ValueData::WindowsReading> ValueData::decode_as_windows_reads(ValueType type, utils::Bytes bytes) {
    using Kind = ValueType::Kind;
    const Kind kind = type.kind();
    if (bytes.empty() || (kind != Kind::String && kind != Kind::ExpandString && kind != Kind::MultiString)) {
        ORVANE_ASSIGN_OR_RETURN(ValueData data, decode(type, bytes));
        return WindowsReading{std::move(data), {}};
    }
    if (kind == Kind::MultiString) {
        ORVANE_ASSIGN_OR_RETURN(const std::string text, utils::read_utf16_string_at_fault(bytes));
        return WindowsReading{ValueData(MultiStringData{split_at_nuls(text)}), {}};
    }
    ORVANE_ASSIGN_OR_RETURN(utils::WindowsString string, utils::read_windows_string(bytes));
    if (kind == Kind::String) return WindowsReading{ValueData(StringData{std::move(string.text)}), string.trailing};
    return WindowsReading{ValueData(ExpandStringData{std::move(string.text)}), string.trailing};
}

std::string ValueData::to_display_string() const {
    return std::visit(
        base::Overloaded{
            [](const NoData&) -> std::string { return "(none)"; },
            [](const StringData& d) { return d.text; },
            [](const ExpandStringData& d) { return d.text; },
            [](const BinaryData& d) { return bracketed_hex(d.bytes); },
            [](const OtherData& d) { return bracketed_hex(d.bytes); },
            [](const DwordData& d) { return number_with_hex(d.value, 8); },
            [](const DwordBigEndianData& d) { return number_with_hex(d.value, 8); },
            [](const QwordData& d) { return number_with_hex(d.value, 16); },
            [](const MultiStringData& d) {
                std::string out;
                for (std::size_t i = 0; i < d.texts.size(); ++i) {
                    if (i != 0) out += ", ";
                    out += d.texts[i];
                }
                return out;
            },
        },
        kind_);
}

}  // namespace orvane::value
