#include "utils/strings.hpp"

#include "base/unicode.hpp"

namespace orvane::utils {

namespace {

using base::append_utf8;
using base::decode_utf8_step;
using base::replacement_character;
using base::Utf8Step;

void strip_trailing_nuls(std::string& text) {
    const auto end = text.find_last_not_of('\0');
    text.erase(end == std::string::npos ? 0 : end + 1);
}

RegistryError invalid_utf16(std::uint32_t offset) {
    return RegistryError(error::InvalidUtf16{offset});
}

Result<std::string> decode_utf8_strict(Bytes bytes, std::uint32_t offset) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const Utf8Step step = decode_utf8_step(bytes);
        if (!step.valid) return error::unexpected(invalid_utf16(offset));
        out.append(reinterpret_cast<const char*>(bytes.data()), step.length);
        bytes = bytes.subspan(step.length);
    }
    return out;
}

Result<std::string> decode_utf16_strict(Bytes bytes, bool big_endian, std::uint32_t offset) {
    // The callers guarantee an even length.
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const std::uint8_t a = bytes[i], b = bytes[i + 1];
        return big_endian ? (std::uint32_t{a} << 8) | b : (std::uint32_t{b} << 8) | a;
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 4 > bytes.size()) return error::unexpected(invalid_utf16(offset));
            const std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return error::unexpected(invalid_utf16(offset));
            append_utf8(out, static_cast<char32_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return error::unexpected(invalid_utf16(offset));
        } else {
            append_utf8(out, static_cast<char32_t>(u));
        }
    }
    return out;
}

}  // namespace

std::string read_fixed_utf16(std::span<const std::uint8_t, 64> bytes) {
    std::string out;
    const auto unit = [&](std::size_t i) -> char32_t { return char32_t{bytes[i]} | char32_t{bytes[i + 1]} << 8; };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char32_t u = unit(i);
        if (u == 0) break;
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 4 <= bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
            i += 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::string read_ascii_string(Bytes bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const std::uint8_t b : bytes) append_utf8(out, b);
    strip_trailing_nuls(out);
    return out;
}

Result<std::string> read_utf16_string(Bytes bytes, std::uint32_t offset) {
    if (bytes.size() % 2 != 0) return error::unexpected(invalid_utf16(offset));

    Result<std::string> text = [&]() -> Result<std::string> {
        if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
            return decode_utf8_strict(bytes.subspan(3), offset);
        }
        if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
            return decode_utf16_strict(bytes.subspan(2), false, offset);
        }
        if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
            return decode_utf16_strict(bytes.subspan(2), true, offset);
        }
        return decode_utf16_strict(bytes, false, offset);
    }();
    if (text) strip_trailing_nuls(*text);
    return text;
}

}  // namespace orvane::utils
