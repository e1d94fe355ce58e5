#include "hive/offset_set.hpp"

#include <algorithm>

namespace orvane::hive {

namespace {

constexpr std::uint64_t words_per_block = OffsetSet::block_slots / 64;

}  // namespace

OffsetSet::OffsetSet(std::uint64_t image_size) {
    // Offsets are 32-bit, so the bits never cover more than 4 GiB.
    slots_ = std::min<std::uint64_t>(image_size, std::uint64_t{1} << 32) / 8;
}

std::uint64_t* OffsetSet::block_of(std::uint64_t slot, bool make) {
    const std::uint64_t index = slot / block_slots;
    if (index >= blocks_.size()) {
        if (!make) return nullptr;
        blocks_.resize(static_cast<std::size_t>(index + 1));
    }
    Block& block = blocks_[static_cast<std::size_t>(index)];
    if (!block && make) {
        // The last block covers only the slots the image has: a small hive
        // pays for its own few words, not for a whole block.
        const std::uint64_t first_slot = index * block_slots;
        const std::uint64_t words = std::min(words_per_block, (slots_ - first_slot) / 64 + 1);
        block.reset(static_cast<std::uint64_t*>(std::calloc(static_cast<std::size_t>(words), sizeof(std::uint64_t))));
    }
    return block.get();
}

bool OffsetSet::insert(std::uint32_t offset) {
    const std::uint64_t slot = offset / 8;
    std::uint64_t* bits = offset % 8 == 0 && slot < slots_ ? block_of(slot, true) : nullptr;
    if (!bits) return others_.insert(offset).second;
    std::uint64_t& word = bits[(slot % block_slots) / 64];
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    const bool added = (word & bit) == 0;
    word |= bit;
    return added;
}

bool OffsetSet::contains(std::uint32_t offset) const {
    const std::uint64_t slot = offset / 8;
    if (offset % 8 != 0 || slot >= slots_) return others_.contains(offset);
    const std::uint64_t index = slot / block_slots;
    const std::uint64_t* bits = index < blocks_.size() ? blocks_[static_cast<std::size_t>(index)].get() : nullptr;
    // A block never made holds nothing, unless making it failed and its
    // offsets went to the hash set.
    if (!bits) return !others_.empty() && others_.contains(offset);
    return (bits[(slot % block_slots) / 64] >> (slot % 64)) & 1;
}

}  // namespace orvane::hive
