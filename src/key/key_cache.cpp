#include "key/key_cache.hpp"

#include <bit>
#include <mutex>
#include <new>

namespace orvane::key {

namespace {

// Room for small images, whose cells are few but whose names may still be
// those of a real hive.
constexpr std::uint64_t minimum_budget = std::uint64_t{1} << 20;
// A sound entry costs under twice its cell; four times leaves room to spare.
constexpr std::uint64_t budget_per_image_byte = 4;
// The node's fixed members, the string header and the map's node and bucket.
constexpr std::uint64_t entry_overhead = sizeof(KeyNode) + 4 * sizeof(void*);

error::Unexpected<error::InternalFailure> poisoned_failure() {
    return error::unexpected(error::InternalFailure{KeyCache::poisoned_text});
}

}  // namespace

std::uint64_t KeyCache::budget_for(std::uint64_t image_size) noexcept {
    return minimum_budget + budget_per_image_byte * image_size;
}

std::uint64_t KeyCache::cost_of(const KeyNode& node) noexcept { return entry_overhead + node.name.size(); }

std::size_t KeyCache::shard_index(std::uint32_t offset) noexcept {
    static_assert(std::has_single_bit(shard_count));
    constexpr int shard_bits = std::countr_zero(shard_count);
    // Cells are 8-byte aligned, so the low three bits carry nothing. A
    // multiplicative hash spreads neighbouring cells, and regular strides of
    // cells, over all shards; its top bits are the best mixed.
    const std::uint32_t mixed = (offset >> 3) * 0x9E3779B1u;
    return mixed >> (32 - shard_bits);
}

error::Expected<const KeyNode*, error::InternalFailure> KeyCache::find(std::uint32_t offset) const {
    const Shard& shard = shard_for(offset);
    std::shared_lock lock(shard.mutex);
    if (poisoned()) return poisoned_failure();
    const auto it = shard.nodes.find(offset);
    return it == shard.nodes.end() ? nullptr : it->second.get();
}

error::Expected<const KeyNode*, error::InternalFailure> KeyCache::insert(std::uint32_t offset,
                                                                         std::unique_ptr<const KeyNode>& node) {
    if (poisoned()) return poisoned_failure();
    // Claimed before the lock, so that concurrent insertions cannot together
    // overshoot the budget; given back when the node is not added after all.
    const std::uint64_t cost = cost_of(*node);
    if (bytes_.fetch_add(cost, std::memory_order_relaxed) + cost > budget_) {
        bytes_.fetch_sub(cost, std::memory_order_relaxed);
        return nullptr;
    }
    // The node was allocated by the caller, so the exclusive section is only
    // the map update.
    Shard& shard = shard_for(offset);
    std::unique_lock lock(shard.mutex);
    if (poisoned()) {
        bytes_.fetch_sub(cost, std::memory_order_relaxed);
        return poisoned_failure();
    }
    try {
        // The slot is made empty first and filled once it exists, so a failed
        // insertion never takes the caller's node with it.
        const auto [it, added] = shard.nodes.try_emplace(offset, nullptr);
        if (added) {
            it->second = std::move(node);
        } else {
            bytes_.fetch_sub(cost, std::memory_order_relaxed);
        }
        return it->second.get();
    } catch (const std::bad_alloc&) {
        // Inserting one element either succeeds or leaves the map as it was;
        // the cache only saves work, so without memory the node is not kept.
        bytes_.fetch_sub(cost, std::memory_order_relaxed);
        return nullptr;
    } catch (...) {
        // The map may be half-updated; nobody may trust it again.
        poisoned_.store(true, std::memory_order_release);
        bytes_.fetch_sub(cost, std::memory_order_relaxed);
        throw;
    }
}

std::size_t KeyCache::size() const {
    std::size_t total = 0;
    for (const Shard& shard : shards_) {
        std::shared_lock lock(shard.mutex);
        total += shard.nodes.size();
    }
    return total;
}

}  // namespace orvane::key
