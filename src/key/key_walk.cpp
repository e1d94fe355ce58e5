#include "key/key_walk.hpp"

#include <algorithm>

#include "hive/hive.hpp"
#include "hive/layout.hpp"
#include "key/key_path.hpp"
#include "subkey_list/subkey_entries.hpp"

namespace orvane::key {

// A walk visits each key once, so its nodes are decoded without filling the
// key cache: a walk of a large hive costs no memory that stays behind it.
Result<KeyNode> read_key_node(const hive::Hive& hive, std::uint32_t offset) {
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView payload, hive.get_cell(offset));
    return key::decode_key_node(payload.bytes(), offset, hive.problem_log());
}

namespace {

Checked<RegistryKey> read_key(const hive::Hive& hive, std::uint32_t offset) {
    ORVANE_ASSIGN_OR_RETURN(key::KeyNode node, read_key_node(hive, offset));
    return RegistryKey(std::move(node), offset, hive);
}

}  // namespace

KeyWalk::KeyWalk(RegistryKey start)
    : current_(std::move(start)),
      claimed_(current_.hive().data().size()),
      entry_limit_((current_.hive().data().size() - hive::layout::base_block_size) / 4) {
    claimed_.insert(current_.offset());
}

bool KeyWalk::continue_from(RegistryKey start) {
    if (!claimed_.insert(start.offset())) return false;
    current_ = std::move(start);
    path_.clear();
    frames_.clear();
    pending_.clear();
    started_ = false;
    expand_current_ = false;
    start_expanded_ = false;
    return true;
}

void KeyWalk::note_listed_again(std::uint32_t offset) {
    if (!noticed_.insert(offset).second) return;
    const hive::Hive& hive = current_.hive();
    auto key = read_key(hive, offset);
    if (!key) return;  // unreadable: the walk skipped or reported it when it met it first
    const std::string second = path_.empty() ? key->node().name : path_ + '\\' + key->node().name;
    // The walk keeps no path of the keys it visited; the parent field tells
    // where the key was first seen, unless it names this second list's key.
    std::string first = "another key";
    if (auto by_parents = key_path(*key); by_parents && *by_parents != second) first = *by_parents;
    std::string text = "Key at offset " + error::hex(offset) + " is listed under " + first + " and " + second;
    if (error::ProblemLog* problems = hive.problem_log()) problems->note(text);
    notices_.push_back({path_, std::move(text)});
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
        if (claimed_.insert(*it)) {
            pending_.push_back(*it);
        } else if (*it != current_.offset()) {
            note_listed_again(*it);
        }
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
