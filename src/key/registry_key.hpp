#pragma once
// A key node read from a hive, with what can be read through it: its subkey
// offsets and its values.

#include <cstdint>
#include <memory>
#include <vector>

#include "error/registry_error.hpp"
#include "value/registry_value.hpp"
#include "key/key_node.hpp"

namespace orvane::hive {
class Hive;
}

namespace orvane::key {

class RegistryKey {
public:
    // A key whose node lives in `hive`'s key cache (which never moves or drops
    // a node), so the key copies nothing.
    RegistryKey(const key::KeyNode* cached, std::uint32_t offset, const hive::Hive& hive) noexcept
        : node_(cached), offset_(offset), hive_(&hive) {}
    // A key that owns its node, shared among its copies.
    RegistryKey(std::shared_ptr<const key::KeyNode> owned, std::uint32_t offset, const hive::Hive& hive) noexcept
        : owned_(std::move(owned)), node_(owned_.get()), offset_(offset), hive_(&hive) {}
    RegistryKey(key::KeyNode node, std::uint32_t offset, const hive::Hive& hive)
        : RegistryKey(std::make_shared<const key::KeyNode>(std::move(node)), offset, hive) {}

    const key::KeyNode& node() const noexcept { return *node_; }
    // The node's owner when the key owns it; empty for a node in the key cache.
    const std::shared_ptr<const key::KeyNode>& owned_node() const noexcept { return owned_; }
    std::uint32_t offset() const noexcept { return offset_; }
    const hive::Hive& hive() const noexcept { return *hive_; }

    // Appends the key node offsets named by the subkey list at `list_offset`,
    // following root indexes depth-first in list order. 0 and 0xFFFFFFFF name
    // no list. A root index may not name a list twice (which catches cycles),
    // nesting is limited to 32 levels, and the elements read may not outnumber
    // the 4-byte slots of the hive bins data (lists carved out of each other),
    // so a hostile hive can make this neither run forever nor exhaust memory.
    // On failure `offsets` may hold a partial result. On a tolerant hive this
    // never fails: a list that cannot be read is noted and skipped (the lists
    // a root index names one by one), and a leaf cut short gives the offsets
    // it still holds.
    [[nodiscard]] Result<void> collect_subkey_offsets(std::uint32_t list_offset,
                                                      std::vector<std::uint32_t>& offsets) const;

    // The values in value-list order (names and types; no data is read). On a
    // tolerant hive a record that cannot be read is noted and skipped, a list
    // cut short gives the entries it holds, and an unreadable list gives none.
    [[nodiscard]] Result<std::vector<value::RegistryValue>> values() const;

private:
    std::shared_ptr<const key::KeyNode> owned_;  // empty for a cached node
    const key::KeyNode* node_;
    std::uint32_t offset_;
    const hive::Hive* hive_;  // not owned; a RegistryKey never outlives its hive::Hive
};

// What RegistryKey::values() reads, from the list at `list_offset` said to
// hold `count` entries.
[[nodiscard]] Result<std::vector<value::RegistryValue>> read_values(const hive::Hive& hive, std::uint32_t list_offset,
                                                                    std::uint32_t count);
// The same into `values` (emptied first), reusing its room, for a caller
// going from key to key. On an error `values` is left empty.
[[nodiscard]] Result<void> read_values_into(const hive::Hive& hive, std::uint32_t list_offset, std::uint32_t count,
                                            std::vector<value::RegistryValue>& values);

}  // namespace orvane::key
