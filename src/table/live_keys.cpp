#include "table/live_keys.hpp"

#include <utility>

namespace orvane::table {

LiveKeys::LiveKeys(key::RegistryKey start, std::shared_ptr<WalkPlans> plans)
    : hive_(start.hive()), start_offset_(start.offset()), plans_(std::move(plans)) {
    if (plans_) replay_ = plans_->find(start_offset_);
    if (replay_) return;
    walk_.emplace(std::move(start));
    if (plans_) recording_ = std::make_shared<WalkPlan>(start_offset_, hive_.data().size());
}

Checked<bool> LiveKeys::next() {
    if (replay_) {
        if (next_ == replay_->keys().size()) return false;
        replayed_path_ = &paths_.path_of(*replay_, next_++);
        return true;
    }
    auto step = walk_->next();
    if (!step) {
        recording_.reset();  // a walk that fails part-way leaves no plan
        return error::unexpected(std::move(step).error().failure);
    }
    if (!*step) {
        if (recording_) plans_->keep(std::exchange(recording_, nullptr));
        return false;
    }
    if (recording_) {
        const key::KeyNode& node = walk_->key().node();
        const bool added = recording_->add(walk_->key().offset(), static_cast<std::uint32_t>(walk_->depth()),
                                           node.value_list_offset, node.value_count, node.name);
        if (!added) recording_.reset();
    }
    return true;
}

std::uint32_t LiveKeys::offset() const noexcept {
    return replay_ ? replay_->keys()[next_ - 1].offset : walk_->key().offset();
}

std::uint32_t LiveKeys::value_list() const noexcept {
    return replay_ ? replay_->keys()[next_ - 1].value_list : walk_->key().node().value_list_offset;
}

std::uint32_t LiveKeys::value_count() const noexcept {
    return replay_ ? replay_->keys()[next_ - 1].value_count : walk_->key().node().value_count;
}

Result<const key::RegistryKey*> LiveKeys::key() {
    if (!replay_) return &walk_->key();
    ORVANE_ASSIGN_OR_RETURN(node_, key::read_key_node(hive_, offset()));
    replayed_key_.emplace(&node_, offset(), hive_);
    return &*replayed_key_;
}

}  // namespace orvane::table
