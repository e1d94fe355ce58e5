#pragma once
// The per-hive cache of decoded key nodes: offset -> KeyNode behind a
// reader-writer lock. The lock is held only for one lookup or one insertion,
// never while decoding. A fault while the exclusive lock is held poisons the
// cache for good; every later call then reports an internal failure.

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

    KeyCache() = default;
    KeyCache(const KeyCache&) = delete;
    KeyCache& operator=(const KeyCache&) = delete;

    // A copy of the cached node, std::nullopt on a miss, or the poisoned failure.
    error::Expected<std::optional<KeyNode>, error::InternalFailure> find(std::uint32_t offset) const;

    // Stores (or replaces) the node for `offset`. An exception thrown while the
    // exclusive lock is held (out of memory) poisons the cache and is rethrown.
    error::Expected<void, error::InternalFailure> insert(std::uint32_t offset, const KeyNode& node);

    std::size_t size() const;
    bool poisoned() const noexcept { return poisoned_.load(std::memory_order_acquire); }

private:
    friend struct KeyCacheTestAccess;

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uint32_t, KeyNode> nodes_;
    std::atomic<bool> poisoned_{false};
};

}  // namespace orvane::key
