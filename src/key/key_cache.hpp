#pragma once
// The per-hive cache of decoded key nodes: offset -> KeyNode.
//
// The map is split into a fixed number of shards chosen by offset, each behind
// its own reader-writer lock, so threads walking different parts of a hive
// rarely meet on a lock: a lookup takes one shard's lock shared, an insertion
// takes one shard's lock exclusively, and neither is held while decoding.
//
// Every node is allocated once and never moved, replaced or removed while the
// cache lives: a hit hands out a pointer to the cached node instead of a copy,
// valid for the life of the cache (that is, of its Hive). An unexpected fault
// while an exclusive lock is held poisons the whole cache for good; every
// later call then reports an internal failure.
//
// The cache is bounded by a byte budget. A sound hive never reaches it (each
// entry costs less than twice the cell it was decoded from), but key nodes
// can overlap in a hostile file, so that a small image holds a great many
// nodes with long names; past the budget, nodes are still decoded and handed
// out, just not kept.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <unordered_map>

#include "error/failure.hpp"
#include "key/key_node.hpp"

namespace orvane::key {

class KeyCache {
public:
    // The text of the internal failure reported once the cache is poisoned.
    static constexpr const char* poisoned_text = "key cache lock poisoned: PoisonError { .. }";
    // A power of two; enough that two or more threads rarely want one shard.
    static constexpr std::size_t shard_count = 64;

    // The budget for a hive image of `image_size` bytes: a small multiple of
    // it, so the cache never holds more than a few times the file.
    static std::uint64_t budget_for(std::uint64_t image_size) noexcept;

    // What one entry is counted as: its name and a fixed allowance for the
    // node and the map's own bookkeeping.
    static std::uint64_t cost_of(const KeyNode& node) noexcept;

    explicit KeyCache(std::uint64_t byte_budget = budget_for(0)) noexcept : budget_(byte_budget) {}
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // The cached node, nullptr on a miss, or the poisoned failure.
    error::Expected<const KeyNode*, error::InternalFailure> find(std::uint32_t offset) const;

    // Offers `node` for `offset` and returns the node now cached there: `node`
    // itself (the cache takes it, leaving `node` empty), or the node a
    // concurrent decode of the same cell stored first (equal to it; it stays,
    // since others may hold pointers to it). Returns nullptr, leaving `node`
    // with the caller, when keeping it would take the cache past its budget or
    // memory runs out. Any other exception thrown while the exclusive lock is
    // held poisons the cache and is rethrown.
    error::Expected<const KeyNode*, error::InternalFailure> insert(std::uint32_t offset,
                                                                   std::unique_ptr<const KeyNode>& node);

    std::size_t size() const;
    std::uint64_t bytes() const noexcept { return bytes_.load(std::memory_order_relaxed); }
    bool poisoned() const noexcept { return poisoned_.load(std::memory_order_acquire); }

private:
    friend struct KeyCacheTestAccess;

    // Each shard on its own cache lines, so that a lock taken on one does not
    // slow down a thread working on its neighbour.
    struct alignas(64) Shard {
        mutable std::shared_mutex mutex;
        std::unordered_map<std::uint32_t, std::unique_ptr<const KeyNode>> nodes;
    };

    static std::size_t shard_index(std::uint32_t offset) noexcept;
    Shard& shard_for(std::uint32_t offset) const noexcept { return shards_[shard_index(offset)]; }

    mutable std::array<Shard, shard_count> shards_;
    std::atomic<bool> poisoned_{false};
    // Counted apart from the shards, so that the bound stays one number.
    std::atomic<std::uint64_t> bytes_{0};
    std::uint64_t budget_;
};

}  // namespace orvane::key
