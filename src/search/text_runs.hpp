#pragma once
// The texts a value's data holds, decoded, for patterns the core cannot
// match itself (regular expressions, which Python tests on each text).
//
// A string value (REG_SZ, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ) gives its
// UTF-16LE strings, split at each U+0000, whatever their length. Any other
// data gives its runs of at least min_run_characters printable characters
// read as UTF-16LE, at even and at odd offsets, as `strings` finds text in
// binary files. Every value's data also gives its runs of printable Latin-1
// bytes, which is how text stored one byte per character reads (even in a
// string value written by a program that got its type wrong). Runs as
// UTF-16LE and as Latin-1 cannot overlap over ASCII text: its UTF-16LE form
// holds a NUL byte after each character.

#include <cstdint>
#include <string>
#include <vector>

#include "search/match.hpp"
#include "utils/byte_view.hpp"
#include "value/value_type.hpp"

namespace orvane::search {

inline constexpr std::size_t min_run_characters = 4;

struct TextRun {
    std::uint64_t offset = 0;  // of its first byte in the data
    Encoding encoding = Encoding::Utf16Le;
    std::string text;  // UTF-8
};

// Appends the runs of `data`, UTF-16LE ones first, each kind in order of offset.
void text_runs(value::ValueType type, utils::ByteView data, std::vector<TextRun>& runs);

// The byte offset in the data of character `index` of a run.
std::uint64_t run_byte_offset(const TextRun& run, std::size_t index) noexcept;

}  // namespace orvane::search
