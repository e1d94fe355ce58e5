#pragma once
// The matched text of a match and the few characters around it.
//
// Context in data reaches as far as the text does: it stops at the first
// unit (UTF-16LE) or byte (Latin-1) that is not a printable character, or at
// the end of the data, so a match in binary data shows the text it lies in
// and none of the bytes about it. Around a match in UTF-16LE whose
// characters all lie below U+0100 the context keeps below U+0100 too.

#include <string>
#include <string_view>

#include "search/literal_matcher.hpp"
#include "search/match.hpp"
#include "utils/byte_view.hpp"

namespace orvane::search {

// The bytes of UTF-8 text, for the UTF-8 decoder.
inline utils::Bytes utf8_bytes(std::string_view text) noexcept {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The UTF-16LE unit at `at`; the caller has checked that two bytes lie there.
inline std::uint16_t unit_at(utils::Bytes bytes, std::uint64_t at) noexcept {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Whether a UTF-16 unit reads as a printable character in text (not a
// surrogate, a control character or unassigned). A unit above U+00FF whose
// low byte is 0 is taken for none: it is what ASCII text in UTF-16LE gives
// when read one byte off ("t\0e\0" read from the NUL: U+6500), and few
// real characters have that form.
bool printable_unit(std::uint16_t unit) noexcept;
// Whether a byte read as Latin-1 is a printable character.
bool printable_latin1(std::uint8_t byte) noexcept;

// Appends the UTF-16 units, paired surrogates joined, an unpaired one as U+FFFD.
void append_units(std::string& out, std::u16string_view units);

// Sets match.before, .text and .after for a hit in `data`.
void set_data_context(utils::ByteView data, const DataHit& hit, Match& match);

// Sets match.before, .text and .after for the characters [start, start +
// length) of `text` (UTF-8), which the caller knows it holds.
void set_text_context(std::string_view text, std::size_t start, std::size_t length, Match& match);

}  // namespace orvane::search
