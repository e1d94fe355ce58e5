#include "hive/hive.hpp"
#include "key/registry_key.hpp"

namespace orvane::hive {

Checked<key::RegistryKey> Hive::get_key(std::uint32_t offset) const {
    ORVANE_ASSIGN_OR_RETURN(const key::KeyNode* cached, key_cache_.find(offset));
    if (cached != nullptr) return key::RegistryKey(cached, offset, *this);

    // Decoded with no lock held, so a slow decode never blocks other readers.
    // Two threads missing on the same offset both decode; the first node
    // stored is the one both get.
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView payload, get_cell(offset));
    ORVANE_ASSIGN_OR_RETURN(key::KeyNode node, key::decode_key_node(payload.bytes(), offset, problem_log()));
    auto owned = std::make_unique<const key::KeyNode>(std::move(node));
    ORVANE_ASSIGN_OR_RETURN(const key::KeyNode* stored, key_cache_.insert(offset, owned));
    if (stored != nullptr) return key::RegistryKey(stored, offset, *this);
    // Not kept (the cache is at its budget): the key owns its node.
    return key::RegistryKey(std::shared_ptr<const key::KeyNode>(std::move(owned)), offset, *this);
}

}  // namespace orvane::hive
