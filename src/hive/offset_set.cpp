#include "hive/offset_set.hpp"

#include <algorithm>

namespace orvane::hive {

OffsetSet::OffsetSet(std::uint64_t image_size) {
    // Offsets are 32-bit, so the bitmap never covers more than 4 GiB (64 MiB
    // of bits); calloc leaves the pages no offset touches unused.
    const std::uint64_t covered = std::min<std::uint64_t>(image_size, std::uint64_t{1} << 32);
    slots_ = covered / 8;
    bits_.reset(static_cast<std::uint64_t*>(std::calloc(slots_ / 64 + 1, sizeof(std::uint64_t))));
    if (!bits_) slots_ = 0;
}

bool OffsetSet::insert(std::uint32_t offset) {
    const std::uint64_t slot = offset / 8;
    if (offset % 8 != 0 || slot >= slots_) return others_.insert(offset).second;
    std::uint64_t& word = bits_[slot / 64];
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    const bool added = (word & bit) == 0;
    word |= bit;
    return added;
}

bool OffsetSet::contains(std::uint32_t offset) const {
    const std::uint64_t slot = offset / 8;
    if (offset % 8 != 0 || slot >= slots_) return others_.contains(offset);
    return (bits_[slot / 64] >> (slot % 64)) & 1;
}

}  // namespace orvane::hive
