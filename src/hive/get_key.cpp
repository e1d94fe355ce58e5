#include "hive/hive.hpp"
#include "hive/registry_key.hpp"

namespace orvane::hive {

Checked<RegistryKey> Hive::get_key(std::uint32_t offset) const {
    ORVANE_ASSIGN_OR_RETURN(std::optional<key::KeyNode> cached, key_cache_.find(offset));
    if (cached) return RegistryKey(std::move(*cached), offset, *this);

    // Decoded with no lock held, so a slow decode never blocks other readers.
    // Two threads missing on the same offset both decode; both store equal nodes.
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView payload, get_cell(offset));
    ORVANE_ASSIGN_OR_RETURN(key::KeyNode node, key::decode_key_node(payload.bytes(), offset, problem_log()));
    ORVANE_TRY(key_cache_.insert(offset, node));
    return RegistryKey(std::move(node), offset, *this);
}

}  // namespace orvane::hive
