#include "key/key_path.hpp"

#include <algorithm>
#include <vector>

#include "hive/hive.hpp"
#include "subkey_list/subkey_entries.hpp"
#include "key/control_set.hpp"
#include "key/key_name.hpp"

namespace orvane::key {

namespace {

// Windows nests keys at most 512 levels deep.
constexpr unsigned max_parent_steps = 512;

// Whether the entry's stored check rules out a key named `name`.
bool ruled_out(const subkey_list::SubkeyEntry& entry, std::string_view name, std::uint32_t hash) {
    switch (entry.check) {
        case subkey_list::SubkeyEntry::Check::Hint: return !key::key_name_hint_may_match(entry.check_word, name);
        case subkey_list::SubkeyEntry::Check::Hash: return entry.check_word != hash;
        case subkey_list::SubkeyEntry::Check::None: return false;
    }
    return false;
}

}  // namespace

Checked<std::optional<RegistryKey>> find_subkey(const RegistryKey& key, std::string_view name) {
    if (key.node().subkey_count == 0) return std::optional<RegistryKey>();
    std::vector<subkey_list::SubkeyEntry> entries;
    if (auto collected = subkey_list::collect_subkey_entries(key, key.node().subkey_list_offset, entries); !collected) {
        return error::fail(std::move(collected).error());
    }
    const std::uint32_t hash = key::key_name_hash(name);
    std::optional<error::Failure> unreadable;  // the first sibling that could not be read
    // The first pass reads the entries whose check allows the name; the second
    // the rest, in case a check is wrong.
    for (const bool checked_pass : {true, false}) {
        for (const subkey_list::SubkeyEntry& entry : entries) {
            if (ruled_out(entry, name, hash) == checked_pass) continue;
            auto subkey = key.hive().get_key(entry.key_offset);
            if (!subkey) {
                if (subkey.error().internal_failure()) return error::unexpected(std::move(subkey).error());
                if (!unreadable) unreadable = std::move(subkey).error();
                continue;
            }
            if (key::key_names_equal(subkey->node().name, name)) return std::optional<RegistryKey>(std::move(*subkey));
        }
    }
    if (unreadable) return error::unexpected(std::move(*unreadable));
    return std::optional<RegistryKey>();
}

Checked<RegistryKey> open_key_path(const RegistryKey& key, std::string_view path) {
    ORVANE_ASSIGN_OR_RETURN(const std::string resolved, resolve_current_control_set(key, path));
    auto found = follow_key_path(key, resolved, find_subkey);
    // Not found names the path as it was asked for.
    if (!found && resolved != path && found.error().registry_error() &&
        found.error().registry_error()->is<error::NotFound>()) {
        return error::fail(error::NotFound{"Key '" + std::string(path) + "'"});
    }
    return found;
}

bool is_root_key(const RegistryKey& key) noexcept {
    return (key.node().flags & root_key_flag) != 0 || key.offset() == key.hive().base_block().root_cell_offset;
}

Checked<std::optional<RegistryKey>> parent_key(const RegistryKey& key) {
    if (is_root_key(key)) return std::optional<RegistryKey>();
    auto parent = key.hive().get_key(key.node().parent_offset);
    if (parent) return std::optional<RegistryKey>(std::move(*parent));
    if (parent.error().internal_failure()) return error::unexpected(std::move(parent).error());
    return std::optional<RegistryKey>();
}

Checked<std::string> key_path(const RegistryKey& key) {
    std::vector<std::string> names;
    std::vector<std::uint32_t> seen{key.offset()};
    const auto broken_chain = [&](const std::string& how) {
        return error::fail(
            error::invalid_format("Key at offset " + error::hex(key.offset()) + " has a parent chain that " + how));
    };
    RegistryKey current = key;
    while (!is_root_key(current)) {
        if (names.size() == max_parent_steps) {
            return broken_chain("does not reach the root within " + std::to_string(max_parent_steps) + " steps");
        }
        names.push_back(current.node().name);
        const std::uint32_t parent = current.node().parent_offset;
        if (std::find(seen.begin(), seen.end(), parent) != seen.end()) {
            return broken_chain("comes back to offset " + error::hex(parent));
        }
        seen.push_back(parent);
        ORVANE_ASSIGN_OR_RETURN(current, key.hive().get_key(parent));
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (it != names.rbegin()) path += '\\';
        path += *it;
    }
    return path;
}

}  // namespace orvane::key
