#include "base/unicode.hpp"

#include <algorithm>

#include "base/unicode_tables.hpp"

namespace orvane::base {

void append_utf8_multibyte(std::string& out, char32_t cp) {
    auto put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    const auto c = static_cast<std::uint32_t>(cp);
    if (c < 0x80) {
        put(c);
    } else if (c < 0x800) {
        put(0xC0 | (c >> 6));
        put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        put(0xE0 | (c >> 12));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    } else {
        put(0xF0 | (c >> 18));
        put(0x80 | ((c >> 12) & 0x3F));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

Utf8Step decode_utf8_step(Bytes bytes) {
    const std::uint8_t lead = bytes[0];
    if (lead < 0x80) return {lead, 1, true};

    // Length and the allowed range of the second byte, from the Unicode
    // Standard's table of well-formed UTF-8 byte sequences.
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {replacement_character, 1, false};
    }

    std::uint32_t cp = lead & (0xFFu >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= bytes.size()) return {replacement_character, i, false};
        const std::uint8_t b = bytes[i];
        const std::uint8_t lo = i == 1 ? low : 0x80;
        const std::uint8_t hi = i == 1 ? high : 0xBF;
        if (b < lo || b > hi) return {replacement_character, i, false};
        cp = (cp << 6) | (b & 0x3Fu);
    }
    return {static_cast<char32_t>(cp), length, true};
}

std::string utf8_lossy(Bytes bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        // Runs of ASCII, nearly every name there is, are copied whole.
        std::size_t ascii = 0;
        while (ascii < bytes.size() && bytes[ascii] < 0x80) ++ascii;
        out.append(reinterpret_cast<const char*>(bytes.data()), ascii);
        bytes = bytes.subspan(ascii);
        if (bytes.empty()) break;
        const Utf8Step step = decode_utf8_step(bytes);
        if (step.valid) {
            out.append(reinterpret_cast<const char*>(bytes.data()), step.length);
        } else {
            append_utf8(out, replacement_character);
        }
        bytes = bytes.subspan(step.length);
    }
    return out;
}

namespace {

bool in_ranges(const tables::CodePointRange* ranges, std::size_t size, char32_t cp) {
    const auto* end = ranges + size;
    const auto* it = std::upper_bound(ranges, end, cp,
                                      [](char32_t c, const tables::CodePointRange& r) { return c < r.first; });
    return it != ranges && cp <= (it - 1)->last;
}

}  // namespace

bool is_printable(char32_t cp) {
    return !in_ranges(tables::not_printable, tables::not_printable_size, cp);
}

bool is_grapheme_extend(char32_t cp) {
    return in_ranges(tables::grapheme_extend, tables::grapheme_extend_size, cp);
}

char32_t simple_uppercase(char32_t cp) {
    if (cp < 0x80) return cp >= 'a' && cp <= 'z' ? cp - ('a' - 'A') : cp;
    const auto* end = tables::simple_uppercase + tables::simple_uppercase_size;
    const auto* it = std::lower_bound(tables::simple_uppercase, end, cp,
                                      [](const tables::CodePointMapping& m, char32_t c) { return m.from < c; });
    return it != end && it->from == cp ? it->to : cp;
}

}  // namespace orvane::base
