#include "key/key_cache.hpp"

#include <mutex>

namespace orvane::key {

namespace {

error::Unexpected<error::InternalFailure> poisoned_failure() {
    return error::unexpected(error::InternalFailure{KeyCache::poisoned_text});
}

}  // namespace

error::Expected<std::optional<KeyNode>, error::InternalFailure> KeyCache::find(std::uint32_t offset) const {
    std::shared_lock lock(mutex_);
    if (poisoned()) return poisoned_failure();
    const auto it = nodes_.find(offset);
    if (it == nodes_.end()) return std::optional<KeyNode>();
    return std::optional<KeyNode>(it->second);
}

error::Expected<void, error::InternalFailure> KeyCache::insert(std::uint32_t offset, const KeyNode& node) {
    // Copy before locking: a failed copy then leaves the cache untouched and
    // unpoisoned, and the exclusive section shrinks to the map update.
    KeyNode copy = node;
    std::unique_lock lock(mutex_);
    if (poisoned()) return poisoned_failure();
    try {
        // A concurrent decode of the same node may have got here first; its
        // entry is equal, so replacing it changes nothing visible.
        nodes_.insert_or_assign(offset, std::move(copy));
    } catch (...) {
        // The map may be half-updated; nobody may trust it again.
        poisoned_.store(true, std::memory_order_release);
        throw;
    }
    return {};
}

std::size_t KeyCache::size() const {
    std::shared_lock lock(mutex_);
    return nodes_.size();
}

}  // namespace orvane::key
