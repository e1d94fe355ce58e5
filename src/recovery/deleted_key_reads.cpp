// What can be read through a recovered key besides its lists: its parent,
// its path, its class name and security descriptor, a value by name and a
// subkey by path. A recovered record has no cell of its own to trust (it may
// lie in slack or in the middle of a merged free cell), so nothing here goes
// through the ordinary lookup of a key by offset: free bytes are read only
// through the checks of the scan, and a live key only where a cell is
// allocated.

#include <algorithm>

#include "key/key_metadata.hpp"
#include "key/key_path.hpp"
#include "key/key_reads.hpp"
#include "hive/layout.hpp"
#include "hive/offset_set.hpp"
#include "key/key_name.hpp"
#include "recovery/plausible_records.hpp"
#include "recovery/recovery.hpp"
#include "utils/strings.hpp"

namespace orvane::recovery {

namespace {

namespace layout = hive::layout;

// Windows nests keys at most 512 levels deep.
constexpr unsigned max_parent_steps = 512;

template <class T>
Checked<T> failed(RegistryError error) {
    return error::unexpected(error::Failure(std::move(error)));
}

}  // namespace

bool Recovery::in_free_space(std::uint32_t offset) const noexcept {
    return sane_cell_offset(offset, area_.size()) &&
           space_.holding(std::uint64_t{offset} + layout::cell_size_word, 1) != nullptr;
}

Checked<DeletedValue> Recovery::value_named(const DeletedKey& key, std::string_view name) const {
    for (DeletedValue& value : values_of(key)) {
        if (key::equal_ascii_case_folded(value.value.name, name)) return std::move(value);
    }
    return failed<DeletedValue>(error::NotFound{"Value '" + std::string(name) + "'"});
}

Checked<DeletedKey> Recovery::open_path(const DeletedKey& key, std::string_view path) const {
    return key::follow_key_path(
        key, path, [&](const DeletedKey& current, std::string_view name) -> Checked<std::optional<DeletedKey>> {
            for (DeletedKey& subkey : subkeys_of(current.offset, current.node)) {
                if (key::key_names_equal(subkey.node.name, name)) return std::optional<DeletedKey>(std::move(subkey));
            }
            return std::optional<DeletedKey>();
        });
}

Result<std::vector<std::pair<std::string, DeletedKey>>> Recovery::walk(const DeletedKey& start) const {
    std::vector<std::pair<std::string, DeletedKey>> walked;
    walked.emplace_back(std::string(), start);
    hive::OffsetSet claimed(hive_->data().size());
    claimed.insert(start.offset);
    // As for the names of a live key's subkeys: distinct keys' paths fit in a
    // few times the image unless keys are nested very deep, and a hive crafted
    // for that costs an error rather than memory in the square of its size.
    const std::uint64_t budget = std::uint64_t{3} * hive_->data().size();
    std::uint64_t path_bytes = 0;
    std::vector<std::pair<std::size_t, DeletedKey>> pending;  // (the parent's index in `walked`, key)
    const auto claim_subkeys = [&](std::size_t parent) {
        std::vector<DeletedKey> subkeys = subkeys_of(walked[parent].second.offset, walked[parent].second.node);
        for (auto subkey = subkeys.rbegin(); subkey != subkeys.rend(); ++subkey) {
            if (claimed.insert(subkey->offset)) pending.emplace_back(parent, std::move(*subkey));
        }
    };
    claim_subkeys(0);
    while (!pending.empty()) {
        auto [parent, key] = std::move(pending.back());
        pending.pop_back();
        const std::string& above = walked[parent].first;
        std::string path = above.empty() ? key.node.name : above + '\\' + key.node.name;
        path_bytes += path.size();
        if (path_bytes > budget) {
            return error::fail(error::invalid_format("Deleted keys below offset " + error::hex(start.offset) +
                                                     " name more than the hive holds"));
        }
        walked.emplace_back(std::move(path), std::move(key));
        claim_subkeys(walked.size() - 1);
    }
    return walked;
}

Checked<std::optional<EitherKey>> Recovery::parent_of(const DeletedKey& key) const {
    const std::uint32_t root = hive_->base_block().root_cell_offset;
    if ((key.node.flags & root_key_flag) || key.offset == root) return std::optional<EitherKey>();
    const std::uint32_t parent = resolve(key.offset, key.node.parent_offset);
    if (in_free_space(parent)) {
        auto found = key_at(parent);
        if (!found) return std::optional<EitherKey>();
        return std::optional<EitherKey>(std::move(*found));
    }
    auto live = hive_->get_key(parent);
    if (live) return std::optional<EitherKey>(std::move(*live));
    if (live.error().internal_failure()) return error::unexpected(std::move(live).error());
    return std::optional<EitherKey>();
}

Checked<std::string> Recovery::path_of(const DeletedKey& key) const {
    const auto broken_chain = [&](const std::string& how) {
        return failed<std::string>(
            error::invalid_format("Key at offset " + error::hex(key.offset) + " has a parent chain that " + how));
    };
    std::vector<std::string> names;
    std::vector<std::uint32_t> seen{key.offset};
    std::string path;  // the live part, once the chain reaches a live key
    const DeletedKey* current = &key;
    std::optional<DeletedKey> above;
    const std::uint32_t root = hive_->base_block().root_cell_offset;
    while ((current->node.flags & root_key_flag) == 0 && current->offset != root) {
        if (names.size() == max_parent_steps) {
            return broken_chain("does not reach the root within " + std::to_string(max_parent_steps) + " steps");
        }
        names.push_back(current->node.name);
        const std::uint32_t parent = resolve(current->offset, current->node.parent_offset);
        if (parent == root) break;  // the root's own name is never part of a path
        if (std::find(seen.begin(), seen.end(), parent) != seen.end()) {
            return broken_chain("comes back to offset " + error::hex(parent));
        }
        seen.push_back(parent);
        if (in_free_space(parent)) {
            above = key_at(parent);
            if (!above) return broken_chain("breaks at offset " + error::hex(parent));
            current = &*above;
            continue;
        }
        auto live = hive_->get_key(parent);
        if (!live) {
            if (live.error().internal_failure()) return error::unexpected(std::move(live).error());
            return broken_chain("breaks at offset " + error::hex(parent));
        }
        ORVANE_ASSIGN_OR_RETURN(path, key::key_path(*live));
        break;
    }
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty()) path += '\\';
        path += *name;
    }
    return path;
}

std::string Recovery::partial_path_of(const DeletedKey& key) const {
    return partial_path(*hive_, key.offset, key.node, &remnants_);
}

Result<std::optional<std::string>> Recovery::class_name_of(const DeletedKey& key) const {
    const std::uint32_t length = key.node.class_name_length;
    if (length == 0) return std::optional<std::string>();
    const auto cell = free_cell(resolve(key.offset, key.node.class_name_offset), length);
    if (!cell) return std::optional<std::string>();
    ORVANE_ASSIGN_OR_RETURN(std::string name, utils::read_utf16_string(cell->first(length).bytes(), cell->origin()));
    return std::optional<std::string>(std::move(name));
}

std::optional<utils::ByteView> Recovery::security_descriptor_of(const DeletedKey& key) const {
    key::KeyNode node = key.node;
    node.security_offset = resolve(key.offset, node.security_offset);
    if (node.security_offset == 0) return std::nullopt;  // it lay where no remnant bin reaches
    // The record is checked as a live key's is: its cell, its "sk" signature and the descriptor's length.
    auto descriptor = key::read_security_descriptor(key::RegistryKey(node, 0, *hive_));
    if (!descriptor) return std::nullopt;
    return *descriptor;
}

}  // namespace orvane::recovery
