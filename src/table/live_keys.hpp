#pragma once
// The keys of a table's live rows, in walk order: walked from the start key,
// recording a plan that the hive's next table from that key replays, or
// replayed from such a plan.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "error/failure.hpp"
#include "hive/hive.hpp"
#include "key/key_node.hpp"
#include "key/key_walk.hpp"
#include "key/registry_key.hpp"
#include "table/walk_plan.hpp"

namespace orvane::table {

class LiveKeys {
public:
    // `plans` may be empty: the keys are then walked, and no plan is kept.
    LiveKeys(key::RegistryKey start, std::shared_ptr<WalkPlans> plans);

    // Moves to the next key: true when there is one. An error is the walk's
    // (a subkey list that cannot be read); a replay meets none, since only a
    // walk that met none leaves a plan.
    [[nodiscard]] Checked<bool> next();

    // The current key's path relative to the start key ("" for it).
    const std::string& path() const noexcept { return replay_ ? *replayed_path_ : walk_->path(); }
    // The current key's depth below the start key (0 for it).
    std::size_t depth() const noexcept { return replay_ ? replay_->keys()[next_ - 1].depth : walk_->depth(); }
    std::uint32_t offset() const noexcept;
    std::uint32_t value_list() const noexcept;
    std::uint32_t value_count() const noexcept;
    // The current key with its node: the walk's, or read again from its cell
    // when replaying (valid until the next call).
    [[nodiscard]] Result<const key::RegistryKey*> key();

private:
    const hive::Hive& hive_;
    std::uint32_t start_offset_;
    std::shared_ptr<WalkPlans> plans_;
    // Walking: the walk, and the plan it records while it can.
    std::optional<key::KeyWalk> walk_;
    std::shared_ptr<WalkPlan> recording_;
    // Replaying: the plan, the next index, and the current key's path and node.
    std::shared_ptr<const WalkPlan> replay_;
    std::size_t next_ = 0;
    PlannedPaths paths_;
    const std::string* replayed_path_ = nullptr;
    key::KeyNode node_;
    std::optional<key::RegistryKey> replayed_key_;  // over node_
};

}  // namespace orvane::table
