#pragma once
// Comparing key names the way Windows does, and the name checks that "lf" and
// "lh" subkey lists store beside each entry.
//
// Windows compares key names case-insensitively, unit by unit after the simple
// (one-character) uppercase mapping: "services" matches "Services" and "é"
// matches "É", but "SS" does not match "ß". Names here are the decoded UTF-8
// texts, whatever encoding the key node stored them in.

#include <cstdint>
#include <string_view>

namespace orvane::key {

// True when the two names are equal under that comparison.
bool key_names_equal(std::string_view a, std::string_view b) noexcept;

// The hash an "lh" list stores for a key of this name: over the name's UTF-16
// units after uppercase mapping, hash = hash * 37 + unit.
std::uint32_t key_name_hash(std::string_view name) noexcept;

// The four bytes an "lf" list stores hold the name's first four characters
// (zero-padded). False only when `hint` cannot belong to a key named `name`;
// a hint holding anything but ASCII letters proves nothing and gives true.
bool key_name_hint_may_match(std::uint32_t hint, std::string_view name) noexcept;

}  // namespace orvane::key
