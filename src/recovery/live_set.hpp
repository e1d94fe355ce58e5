#pragma once
// The records reachable from the root key through subkey and value lists: a
// record found in free space at one of their offsets is not deleted. Also
// how many bytes each reachable value list and data cell uses, so that the
// slack behind them can be searched.

#include <cstdint>
#include <utility>
#include <vector>

#include "hive/hive.hpp"
#include "hive/offset_set.hpp"

namespace orvane::recovery {

// (cell offset, value) pairs sorted by offset.
using OffsetTable = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct LiveSet {
    explicit LiveSet(std::uint64_t image_size) : keys(image_size), values(image_size) {}

    hive::OffsetSet keys;
    hive::OffsetSet values;
    OffsetTable used_lengths;  // value list and data cells: payload bytes in use
    OffsetTable data_owners;   // data cells: the offset of the value record naming them

    // Walks the tree from the root, each key node once, whatever the lists
    // say; lists and records that cannot be read are passed over.
    static LiveSet find(const hive::Hive& hive);
};

// The value stored for `offset` in a sorted table, if any.
const std::uint32_t* find_in(const OffsetTable& table, std::uint32_t offset) noexcept;

}  // namespace orvane::recovery
