#pragma once
// The depth-first walk of a key and every key below it.
//
// Iterative, so no depth limit applies. Each key cell is visited at most once
// per walk: a key is claimed when the list that names it is read, so a list
// that leads back to an ancestor, or lists that share keys, cannot make the
// walk endless or repeat a key (a shared key is visited under the first list
// read that names it). A list already read for another key is not read again,
// and the walk reads no more list entries than the hive has 4-byte slots, so a
// walk costs time and memory in proportion to the hive. The nodes it reads
// do not go into the key cache.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "error/expected.hpp"
#include "error/failure.hpp"
#include "hive/offset_set.hpp"
#include "key/registry_key.hpp"

namespace orvane::key {

// A key whose subkeys could not be read: its path in the walk, and why.
struct WalkError {
    std::string path;
    error::Failure failure;
};

// Something the walk met and went on past, for the caller to report: a key
// listed by a second list ("Key at offset 0x470 is listed under A\k and
// B\k"); `path` is the key whose list named it again.
struct WalkNotice {
    std::string path;
    std::string text;
};

// The node of the key at `offset`, read as a walk reads it: past the key cache.
[[nodiscard]] Result<KeyNode> read_key_node(const hive::Hive& hive, std::uint32_t offset);

class KeyWalk {
public:
    explicit KeyWalk(RegistryKey start);

    // Moves to the next key: true when there is one (see path() and key()),
    // false when the walk is over. The first key is the start key (path ""),
    // then the keys below it, depth first, each level in stored list order.
    // An error names a key whose subkey list, or one of whose subkeys, could
    // not be read; calling next() again goes on with the next key. On a
    // tolerant hive such a subkey is noted and skipped instead, as by
    // subkeys(), and only the entry limit can end the walk with an error.
    [[nodiscard]] error::Expected<bool, WalkError> next();

    // The current key's path relative to the start key ("A", "A\B").
    const std::string& path() const noexcept { return path_; }
    const RegistryKey& key() const noexcept { return current_; }
    // The current key's depth below the start key (0 for the start key).
    std::size_t depth() const noexcept { return frames_.size(); }

    // Once next() has returned false: walks on from `start` (path "" again),
    // sharing what this walk has visited, so no key of the earlier trees
    // comes again. False, and nothing to walk, when `start` was visited.
    bool continue_from(RegistryKey start);

    // The notices met since the last call, oldest first. On a tolerant hive
    // each is also noted in its problems.
    std::vector<WalkNotice> take_notices() { return std::exchange(notices_, {}); }

private:
    // The claimed subkeys of one key still to visit: pending_[begin, end).
    struct Frame {
        std::size_t begin;
        std::size_t path_length;  // the parent's path
        bool top;                 // the parent is the start key
    };

    [[nodiscard]] error::Expected<void, WalkError> expand();
    void note_listed_again(std::uint32_t offset);

    RegistryKey current_;
    std::string path_;
    bool started_ = false;
    bool expand_current_ = false;
    bool start_expanded_ = false;
    std::vector<Frame> frames_;
    std::vector<std::uint32_t> pending_;   // every frame's keys, each frame's in reverse list order
    std::vector<std::uint32_t> children_;  // scratch for one list
    hive::OffsetSet claimed_;
    std::unordered_set<std::uint32_t> lists_read_;
    std::unordered_map<std::uint32_t, error::Failure> lists_failed_;
    std::uint64_t entries_read_ = 0;
    const std::uint64_t entry_limit_;
    std::vector<WalkNotice> notices_;
    std::unordered_set<std::uint32_t> noticed_;  // keys already told as listed again (rare)
};

}  // namespace orvane::key
