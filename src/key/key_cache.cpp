#include "key/key_cache.hpp"

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

error::Expected<std::optional<KeyNode>, error::InternalFailure> KeyCache::find(std::uint32_t offset) const {
    std::shared_lock lock(mutex_);
    if (poisoned()) return poisoned_failure();
    const auto it = nodes_.find(offset);
    if (it == nodes_.end()) return std::optional<KeyNode>();
    return std::optional<KeyNode>(it->second);
}

error::Expected<void, error::InternalFailure> KeyCache::insert(std::uint32_t offset, const KeyNode& node) {
    if (poisoned()) return poisoned_failure();
    // Claimed before the lock, so that concurrent insertions cannot together
    // overshoot the budget; given back when the entry is not added after all.
    const std::uint64_t cost = cost_of(node);
    if (bytes_.fetch_add(cost, std::memory_order_relaxed) + cost > budget_) {
        bytes_.fetch_sub(cost, std::memory_order_relaxed);
        return {};
    }
    bool added = false;
    try {
        // Copy before locking: a failed copy then leaves the cache untouched,
        // and the exclusive section shrinks to the map update.
        KeyNode copy = node;
        std::unique_lock lock(mutex_);
        if (poisoned()) {
            bytes_.fetch_sub(cost, std::memory_order_relaxed);
            return poisoned_failure();
        }
        try {
            // A concurrent decode of the same node may have got here first; its
            // entry is equal, so replacing it changes nothing visible.
            added = nodes_.insert_or_assign(offset, std::move(copy)).second;
        } catch (const std::bad_alloc&) {
            // Inserting one element either succeeds or leaves the map as it was.
            throw;
        } catch (...) {
            // The map may be half-updated; nobody may trust it again.
            poisoned_.store(true, std::memory_order_release);
            bytes_.fetch_sub(cost, std::memory_order_relaxed);
            throw;
        }
    } catch (const std::bad_alloc&) {
        // The cache only saves work: without memory for it, the node is not kept.
    }
    if (!added) bytes_.fetch_sub(cost, std::memory_order_relaxed);
    return {};
}

std::size_t KeyCache::size() const {
    std::shared_lock lock(mutex_);
    return nodes_.size();
}

}  // namespace orvane::key
