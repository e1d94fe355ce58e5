#pragma once
// Sorted, disjoint code point ranges generated from the Unicode character database.

#include <cstddef>

namespace orvane::base::tables {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

extern const CodePointRange not_printable[];
extern const std::size_t not_printable_size;
extern const CodePointRange grapheme_extend[];
extern const std::size_t grapheme_extend_size;

struct CodePointMapping {
    char32_t from;
    char32_t to;
};

// Simple uppercase mapping of the Basic Multilingual Plane; characters not
// listed map to themselves.
extern const CodePointMapping simple_uppercase[];
extern const std::size_t simple_uppercase_size;

}  // namespace orvane::base::tables
