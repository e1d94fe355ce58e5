#pragma once
// The entries of a subkey list with the name check each one carries, for
// lookups that skip entries without decoding their key nodes.

#include <cstdint>
#include <vector>

#include "error/registry_error.hpp"

namespace orvane::key {
class RegistryKey;
}

namespace orvane::subkey_list {

struct SubkeyEntry {
    enum class Check : std::uint8_t { None, Hint, Hash };  // from "li", "lf", "lh"
    std::uint32_t key_offset = 0;
    std::uint32_t check_word = 0;  // the "lf" hint or "lh" hash; 0 for "li"
    Check check = Check::None;
};

// Like RegistryKey::collect_subkey_offsets, with the same bounds and errors,
// keeping each entry's name check.
[[nodiscard]] Result<void> collect_subkey_entries(const key::RegistryKey& key, std::uint32_t list_offset,
                                                  std::vector<SubkeyEntry>& entries);

// The error for lists that hold more entries than the hive has 4-byte slots.
RegistryError subkey_entries_exceed_hive(std::uint32_t list_offset);

}  // namespace orvane::subkey_list
