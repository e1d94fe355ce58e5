#pragma once
// Case folding for the search: every character maps to its simple
// (one-character) uppercase form, the mapping key names are compared by.
// Folding keeps lengths, so a match found on folded text has the same length,
// in units, in the original.
//
// The data scan folds a unit per byte of data, so the mappings are tables
// (built once, on first use) rather than a search of the Unicode mapping per
// unit; a case-sensitive search uses tables that map everything to itself,
// and the scan does not branch on the choice.

#include <array>
#include <cstdint>

namespace orvane::search {

struct FoldTables {
    // A UTF-16 unit folded. Surrogates keep their value, so characters beyond
    // the Basic Multilingual Plane keep their case, as Windows folds names by
    // 16-bit units.
    std::array<std::uint16_t, 0x10000> units;
    // A Latin-1 byte folded within Latin-1: a letter whose uppercase form
    // lies beyond U+00FF (ÿ, µ) stays as it is, so byte text folds to byte text.
    std::array<std::uint8_t, 0x100> latin1;

    char32_t code_point(char32_t cp) const noexcept { return cp < 0x10000 ? units[cp] : cp; }
};

const FoldTables& case_folding();
const FoldTables& no_folding();

}  // namespace orvane::search
