#pragma once
// The keys one finished walk visited, in its order, kept so that a hive's
// second table need not walk the tree again.
//
// A walk reads every subkey list, claims every key it names and keeps its
// path as it goes; replaying a plan reads none of that, only the cells of
// the keys (for the keys table) or their value lists (for the values table).
// A plan holds a few words and the name of each key, so its size follows the
// hive's, never the sum of the paths.

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::table {

struct PlannedKey {
    std::uint32_t offset;       // the key's cell
    std::uint32_t depth;        // 0 for the start key
    std::uint32_t value_list;   // as the key node gives them
    std::uint32_t value_count;
    std::uint32_t name_end;     // where the key's name ends in the plan's names
};

class WalkPlan {
public:
    // `hive_bytes`: the size of the hive walked, which bounds what the plan can hold.
    explicit WalkPlan(std::uint32_t start, std::size_t hive_bytes = 0);

    // The start key's offset: the plan serves only walks from that key.
    std::uint32_t start() const noexcept { return start_; }
    std::span<const PlannedKey> keys() const noexcept { return keys_; }
    // The name of keys()[index].
    std::string_view name(std::size_t index) const noexcept;

    // Records the next key of the walk. False (and the plan no longer to be
    // kept) once the names pass what 32-bit positions address.
    bool add(std::uint32_t offset, std::uint32_t depth, std::uint32_t value_list, std::uint32_t value_count,
             std::string_view name);

private:
    std::uint32_t start_;
    std::vector<PlannedKey> keys_;
    std::string names_;
};

// Rebuilds each planned key's path (relative to the start key) as the walk
// made it, from the names of the keys above it.
class PlannedPaths {
public:
    // The path of keys()[index]; indices must come in plan order.
    const std::string& path_of(const WalkPlan& plan, std::size_t index);

private:
    std::string path_;
    std::vector<std::size_t> ends_;  // ends_[d]: where the path of the key at depth d ends
};

// A hive's latest finished plan, shared by its tables. One plan is kept: the
// tables of one hive are mostly built from one key, one after the other.
class WalkPlans {
public:
    std::shared_ptr<const WalkPlan> find(std::uint32_t start) const;
    void keep(std::shared_ptr<const WalkPlan> plan);

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const WalkPlan> kept_;
};

}  // namespace orvane::table
