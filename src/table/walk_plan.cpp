#include "table/walk_plan.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "key/key_node.hpp"

namespace orvane::table {

namespace {

// A key's cell: its size word and the node's fixed part, the name after.
constexpr std::size_t smallest_key_cell = 4 + key::nk_layout::fixed_size;
constexpr std::size_t most_reserved_bytes = std::size_t{64} << 20;

}  // namespace

// A walk visits each key cell once and each name lies in its cell, so the
// hive's size bounds the keys and (nearly) the name bytes a plan holds.
// Reserving that much up front keeps the plan from growing by copying: on
// a 43k-key hive the copies of every doubling faulted in three quarters of
// both tables' pages. Only the pages written are ever faulted in; the cap
// keeps a huge hive from asking for more address space than that is worth.
WalkPlan::WalkPlan(std::uint32_t start, std::size_t hive_bytes) : start_(start) {
    keys_.reserve(std::min(hive_bytes / smallest_key_cell, most_reserved_bytes / sizeof(PlannedKey)));
    names_.reserve(std::min(hive_bytes, most_reserved_bytes));
}

std::string_view WalkPlan::name(std::size_t index) const noexcept {
    const std::size_t begin = index == 0 ? 0 : keys_[index - 1].name_end;
    return std::string_view(names_).substr(begin, keys_[index].name_end - begin);
}

bool WalkPlan::add(std::uint32_t offset, std::uint32_t depth, std::uint32_t value_list, std::uint32_t value_count,
                   std::string_view name) {
    if (names_.size() + name.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    names_.append(name);
    keys_.push_back({offset, depth, value_list, value_count, static_cast<std::uint32_t>(names_.size())});
    return true;
}

const std::string& PlannedPaths::path_of(const WalkPlan& plan, std::size_t index) {
    const PlannedKey& key = plan.keys()[index];
    // A walk goes down one level at a time, so the key above sits at depth - 1.
    if (key.depth == 0) {
        path_.clear();
        ends_.assign(1, 0);
        return path_;
    }
    ends_.resize(key.depth);
    path_.resize(ends_[key.depth - 1]);
    if (key.depth > 1) path_ += '\\';
    path_ += plan.name(index);
    ends_.push_back(path_.size());
    return path_;
}

std::shared_ptr<const WalkPlan> WalkPlans::find(std::uint32_t start) const {
    std::lock_guard lock(mutex_);
    return kept_ && kept_->start() == start ? kept_ : nullptr;
}

void WalkPlans::keep(std::shared_ptr<const WalkPlan> plan) {
    std::lock_guard lock(mutex_);
    kept_ = std::move(plan);
}

}  // namespace orvane::table
