#include "recovery/orphan_walk.hpp"

#include <algorithm>

#include "hive/hive.hpp"
#include "recovery/orphan_keys.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::recovery {

OrphanWalk::OrphanWalk(key::RegistryKey start, bool include_orphans)
    : walk_(std::move(start)), include_orphans_(include_orphans) {}

std::string OrphanWalk::full_path(const std::string& relative) const {
    if (orphan_prefix_.empty()) return relative;
    return relative.empty() ? orphan_prefix_ : orphan_prefix_ + '\\' + relative;
}

// Moves the walk to the next orphan not yet visited; false when none is left.
bool OrphanWalk::start_next_orphan() {
    const hive::Hive& hive = walk_.key().hive();
    if (!scanned_) {
        scanned_ = true;
        const std::vector<std::uint32_t> all = find_orphan_keys(hive);
        const std::vector<std::uint32_t> tops = orphan_tops(hive, all);  // in file order, as `all`
        orphans_ = tops;
        // Orphans in a ring of their own head no tree; they come after the tops.
        for (const std::uint32_t offset : all) {
            if (!std::binary_search(tops.begin(), tops.end(), offset)) orphans_.push_back(offset);
        }
    }
    while (next_orphan_ < orphans_.size()) {
        const std::uint32_t offset = orphans_[next_orphan_++];
        auto key = hive.get_key(offset);
        if (!key) continue;
        const std::string partial = partial_path(hive, offset, key->node());
        if (!walk_.continue_from(std::move(*key))) continue;
        orphan_prefix_ = std::string(orphans_path) + '\\' + partial;
        return true;
    }
    return false;
}

error::Expected<bool, key::WalkError> OrphanWalk::next() {
    for (;;) {
        auto step = walk_.next();
        if (!step) {
            key::WalkError error = std::move(step).error();
            error.path = full_path(error.path);
            return error::unexpected(std::move(error));
        }
        if (*step) {
            if (!orphan_prefix_.empty()) path_ = full_path(walk_.path());
            return true;
        }
        if (!include_orphans_ || !start_next_orphan()) return false;
    }
}

std::vector<key::WalkNotice> OrphanWalk::take_notices() {
    std::vector<key::WalkNotice> notices = walk_.take_notices();
    for (key::WalkNotice& notice : notices) notice.path = full_path(notice.path);
    return notices;
}

}  // namespace orvane::recovery
