#pragma once
// Keys by path, and the path and parent of a key.
//
// Going down, a path names subkeys by name below a key. Going up, a key node's
// parent field names the key above it, up to the hive's root key (the key at
// the base block's root offset, or any key node flagged as a hive's root).

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error/failure.hpp"
#include "key/registry_key.hpp"

namespace orvane::key {

// Key node flag of the hive's root key.
inline constexpr std::uint16_t root_key_flag = 0x0004;

// The subkey of `key` named `name` (compared as Windows compares key names),
// or std::nullopt. The "lf" hints and "lh" hashes let it skip entries without
// decoding their key nodes; entries so skipped are read too before it answers
// std::nullopt, so a wrong hint never hides a key. The first match in list
// order wins. A sibling that cannot be read does not stop the search, but when
// the name is found nowhere else its error is returned, not std::nullopt.
[[nodiscard]] Checked<std::optional<RegistryKey>> find_subkey(const RegistryKey& key, std::string_view name);

// The key at `path` below `key`: components separated by backslashes, empty
// components skipped ("" is `key` itself). NotFound "Key '<path>'" when a
// component names no subkey. Below the root key, a first component
// "CurrentControlSet" names the control set Windows runs with (see
// resolve_current_control_set).
[[nodiscard]] Checked<RegistryKey> open_key_path(const RegistryKey& key, std::string_view path);

// The same walk down a path for any kind of key: `subkey(key, name)` gives
// the subkey of `key` named `name` as a Checked<std::optional<Key>>.
template <class Key, class Subkey>
[[nodiscard]] Checked<Key> follow_key_path(const Key& key, std::string_view path, Subkey&& subkey) {
    Key current = key;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        ORVANE_ASSIGN_OR_RETURN(std::optional<Key> next, subkey(current, component));
        if (!next) return error::fail(error::NotFound{"Key '" + std::string(path) + "'"});
        current = std::move(*next);
    }
    return current;
}

// True for the hive's root key.
bool is_root_key(const RegistryKey& key) noexcept;

// The key named by the parent field; std::nullopt for the root key, or when
// that field names no readable key node.
[[nodiscard]] Checked<std::optional<RegistryKey>> parent_key(const RegistryKey& key);

// The names from below the root down to `key`, joined by backslashes ("" for
// the root). At most 512 parent steps are taken, and a chain that comes back
// on itself is an error, so a damaged hive cannot make it run forever.
[[nodiscard]] Checked<std::string> key_path(const RegistryKey& key);

}  // namespace orvane::key
