#pragma once
// Code point level helpers shared by the string readers and error messages.
// None of them can fail.

#include <cstdint>
#include <span>
#include <string>

namespace orvane::base {

using Bytes = std::span<const std::uint8_t>;

inline constexpr char32_t replacement_character = U'\uFFFD';

// Appends the UTF-8 encoding of `cp` (a scalar value) to `out`. Names are
// nearly all ASCII, so that case is inline and costs one append.
void append_utf8_multibyte(std::string& out, char32_t cp);
inline void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else {
        append_utf8_multibyte(out, cp);
    }
}

// Decodes one UTF-8 sequence at the front of `bytes` (non-empty). Returns the
// code point and the number of bytes consumed; an ill-formed sequence yields
// U+FFFD and the length of its maximal subpart (at least 1), as the Unicode
// Standard recommends for replacement.
struct Utf8Step {
    char32_t code_point;
    std::size_t length;
    bool valid;
};
Utf8Step decode_utf8_step(Bytes bytes);

// UTF-8 decoding with every ill-formed subsequence replaced by one U+FFFD.
std::string utf8_lossy(Bytes bytes);

bool is_printable(char32_t cp);
// The simple (one-character) uppercase mapping, over the Basic Multilingual
// Plane only: Windows maps key names by 16-bit units, so characters beyond it
// keep their case.
char32_t simple_uppercase(char32_t cp);
bool is_grapheme_extend(char32_t cp);

}  // namespace orvane::base
