#pragma once
// The walk of a whole hive that, after the tree, goes through the orphan keys
// (orphan_keys.hpp) below the synthetic path "<orphans>": each orphan that
// heads a tree of its own as "<orphans>\<its partial path>", the keys its
// lists still name below it. No key comes twice, in the tree or among the
// orphans.

#include <cstdint>
#include <string>
#include <vector>

#include "key/key_walk.hpp"

namespace orvane::recovery {

inline constexpr std::string_view orphans_path = "<orphans>";

class OrphanWalk {
public:
    // Without orphans this is the KeyWalk from `start`; with them `start`
    // should be the root key. The orphan scan runs when the tree is done.
    OrphanWalk(key::RegistryKey start, bool include_orphans);

    // As KeyWalk::next(); errors name the full path.
    [[nodiscard]] error::Expected<bool, key::WalkError> next();

    const std::string& path() const noexcept { return orphan_prefix_.empty() ? walk_.path() : path_; }
    const key::RegistryKey& key() const noexcept { return walk_.key(); }
    std::vector<key::WalkNotice> take_notices();

private:
    std::string full_path(const std::string& relative) const;
    bool start_next_orphan();

    key::KeyWalk walk_;
    bool include_orphans_;
    bool scanned_ = false;
    std::vector<std::uint32_t> orphans_;  // tops first, then the rest, in file order
    std::size_t next_orphan_ = 0;
    std::string orphan_prefix_;  // "<orphans>\..." of the orphan tree being walked
    std::string path_;
};

}  // namespace orvane::recovery
