#include "key/key_walk.hpp"

#include <algorithm>

#include "hive/hive.hpp"
#include "hive/layout.hpp"
#include "subkey_list/subkey_entries.hpp"

namespace orvane::key {

namespace {

// A walk visits each key once, so its nodes are decoded without filling the
// key cache: a walk of a large hive costs no memory that stays behind it.
Checked<RegistryKey> read_key(const hive::Hive& hive, std::uint32_t offset) {
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView payload, hive.get_cell(offset));
    ORVANE_ASSIGN_OR_RETURN(key::KeyNode node, key::decode_key_node(payload.bytes(), offset, hive.problem_log()));
    return RegistryKey(std::move(node), offset, hive);
}

}  // namespace

KeyWalk::KeyWalk(RegistryKey start)
    : current_(std::move(start)),
      claimed_(current_.hive().data().size()),
      entry_limit_((current_.hive().data().size() - hive::layout::base_block_size) / 4) {
    claimed_.insert(current_.offset());
}

error::Expected<void, WalkError> KeyWalk::expand() {
    const key::KeyNode& node = current_.node();
    if (node.subkey_count == 0) return {};
    const std::uint32_t list = node.subkey_list_offset;
    const auto fail = [&](error::Failure failure) { return error::unexpected(WalkError{path_, std::move(failure)}); };
    // Every key a list names was claimed when it was first read.
    if (lists_read_.contains(list)) return {};
    if (const auto failed = lists_failed_.find(list); failed != lists_failed_.end()) return fail(failed->second);

    children_.clear();
    auto collected = current_.collect_subkey_offsets(list, children_);
    if (collected) {
        entries_read_ += children_.size();
        if (entries_read_ > entry_limit_) collected = error::unexpected(subkey_list::subkey_entries_exceed_hive(list));
    }
    if (!collected) {
        lists_failed_.emplace(list, collected.error());
        return fail(std::move(collected).error());
    }
    lists_read_.insert(list);

    const std::size_t begin = pending_.size();
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        if (claimed_.insert(*it)) pending_.push_back(*it);
    }
    // Only the start key's own expansion can get this far with the flag clear:
    // when it has no subkeys to walk, the walk ends with it.
    if (pending_.size() > begin) frames_.push_back({begin, path_.size(), !start_expanded_});
    start_expanded_ = true;
    return {};
}

error::Expected<bool, WalkError> KeyWalk::next() {
    if (!started_) {
        started_ = expand_current_ = true;
        return true;
    }
    if (expand_current_) {
        expand_current_ = false;
        if (auto expanded = expand(); !expanded) return error::unexpected(std::move(expanded).error());
    }
    while (!frames_.empty()) {
        const Frame frame = frames_.back();
        if (pending_.size() == frame.begin) {
            frames_.pop_back();
            continue;
        }
        const std::uint32_t offset = pending_.back();
        pending_.pop_back();
        path_.resize(frame.path_length);
        auto key = read_key(current_.hive(), offset);
        if (!key) {
            if (current_.hive().skip_subkey(offset, key.error())) continue;
            return error::unexpected(WalkError{path_, std::move(key).error()});
        }
        if (!frame.top) path_ += '\\';
        path_ += key->node().name;
        current_ = std::move(*key);
        expand_current_ = true;
        return true;
    }
    return false;
}

}  // namespace orvane::key
