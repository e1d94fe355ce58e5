#pragma once
// Orphan keys: key nodes still allocated in the hive bins but reached by no
// subkey list from the root, because their parent's list is gone or cut.
// Windows would have freed them on deletion, so they are not deleted keys;
// they are what damage hid from the tree.

#include <cstdint>
#include <vector>

#include "hive/hive.hpp"

namespace orvane::recovery {

// Every allocated cell whose record passes the checks of plausible_records.hpp
// for a key node, is not reachable from the root and is not the root itself,
// in file order. The bins are found as FreeSpace::map finds them (a header
// that cannot be right makes the next 4 KiB unreadable) and walked cell by
// cell up to a size word that cannot be right; cells are read through
// get_cell, so a tolerant hive's skipped bins give nothing. Never fails.
std::vector<std::uint32_t> find_orphan_keys(const hive::Hive& hive);

// The orphans that head a tree of their own: those whose parent field does
// not name another orphan that lists them. Walking these and the keys below
// them reaches every orphan that any list still names.
std::vector<std::uint32_t> orphan_tops(const hive::Hive& hive, const std::vector<std::uint32_t>& orphans);

}  // namespace orvane::recovery
