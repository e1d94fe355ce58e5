#pragma once
// The records reachable from the root key through subkey and value lists: a
// record found in free space at one of their offsets is not deleted. Also
// how many bytes each reachable value list and data cell uses, so that the
// slack behind them can be searched.

#include <cstdint>
#include <unordered_set>
#include <utility>
#include <vector>

#include "hive/hive.hpp"

namespace orvane::recovery {

// A set of cell offsets: a bit per 8-byte-aligned offset of the area, and a
// hash set for the few others a damaged hive may name.
class OffsetSet {
public:
    explicit OffsetSet(std::uint64_t area_size) : bits_((area_size / 8 + 63) / 64, 0) {}

    // True when `offset` was not in the set before.
    bool insert(std::uint32_t offset);
    bool contains(std::uint32_t offset) const;

private:
    std::vector<std::uint64_t> bits_;
    std::unordered_set<std::uint32_t> others_;
};

// (cell offset, value) pairs sorted by offset.
using OffsetTable = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct LiveSet {
    explicit LiveSet(std::uint64_t area_size) : keys(area_size), values(area_size) {}

    OffsetSet keys;
    OffsetSet values;
    OffsetTable used_lengths;  // value list and data cells: payload bytes in use
    OffsetTable data_owners;   // data cells: the offset of the value record naming them

    // Walks the tree from the root, each key node once, whatever the lists
    // say; lists and records that cannot be read are passed over.
    static LiveSet find(const hive::Hive& hive);
};

// The value stored for `offset` in a sorted table, if any.
const std::uint32_t* find_in(const OffsetTable& table, std::uint32_t offset) noexcept;

}  // namespace orvane::recovery
