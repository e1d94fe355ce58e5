#pragma once
// The per-hive cache of decoded key nodes: offset -> KeyNode behind a
// reader-writer lock. The lock is held only for one lookup or one insertion,
// never while decoding. An unexpected fault while the exclusive lock is held
// poisons the cache for good; every later call then reports an internal
// failure.
//
// The cache is bounded by a byte budget. A sound hive never reaches it (each
// entry costs less than twice the cell it was decoded from), but key nodes
// can overlap in a hostile file, so that a small image holds a great many
// nodes with long names; past the budget, nodes are still decoded and handed
// out, just not kept.

#include <atomic>
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <unordered_map>

#include "error/failure.hpp"
#include "key/key_node.hpp"

namespace orvane::key {

class KeyCache {
public:
    // The text of the internal failure reported once the cache is poisoned.
    static constexpr const char* poisoned_text = "key cache lock poisoned: PoisonError { .. }";

    // The budget for a hive image of `image_size` bytes: a small multiple of
    // it, so the cache never holds more than a few times the file.
    static std::uint64_t budget_for(std::uint64_t image_size) noexcept;

    // What one entry is counted as: its name and a fixed allowance for the
    // node and the map's own bookkeeping.
    static std::uint64_t cost_of(const KeyNode& node) noexcept;

    explicit KeyCache(std::uint64_t byte_budget = budget_for(0)) noexcept : budget_(byte_budget) {}
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // A copy of the cached node, std::nullopt on a miss, or the poisoned failure.
    error::Expected<std::optional<KeyNode>, error::InternalFailure> find(std::uint32_t offset) const;

    // Stores (or replaces) the node for `offset`, unless that would take the
    // cache past its budget or memory runs out: the node is then simply not
    // kept (the map is left as it was). Any other exception thrown while the
    // exclusive lock is held poisons the cache and is rethrown.
    error::Expected<void, error::InternalFailure> insert(std::uint32_t offset, const KeyNode& node);

    std::size_t size() const;
    std::uint64_t bytes() const noexcept { return bytes_.load(std::memory_order_relaxed); }
    bool poisoned() const noexcept { return poisoned_.load(std::memory_order_acquire); }

private:
    friend struct KeyCacheTestAccess;

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uint32_t, KeyNode> nodes_;
    std::atomic<bool> poisoned_{false};
    // Counted apart from the map, so that the bound stays one number however
    // the map is split.
    std::atomic<std::uint64_t> bytes_{0};
    std::uint64_t budget_;
};

}  // namespace orvane::key
