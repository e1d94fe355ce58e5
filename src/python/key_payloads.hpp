#pragma once
// What RegistryKey and RegistryValue objects hold. Neither refers to a Python
// object; only KeyHandle refers to the hive, through the shared handle that
// keeps it loaded.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "value/value_type.hpp"
#include "hive/hive.hpp"
#include "key/key_reads.hpp"
#include "key/registry_key.hpp"
#include "recovery/recovery.hpp"
#include "recovery/scan_cache.hpp"
#include "table/walk_plan.hpp"

namespace orvane::python {

// What a Hive object holds: the shared hive, its scan for deleted records
// once one has been made, and the latest walk its tables finished.
struct HiveHandle {
    HiveHandle(std::shared_ptr<const hive::Hive> loaded)
        : hive(std::move(loaded)),
          deleted(std::make_shared<recovery::ScanCache>()),
          walks(std::make_shared<table::WalkPlans>()) {}

    std::shared_ptr<const hive::Hive> hive;
    std::shared_ptr<recovery::ScanCache> deleted;
    std::shared_ptr<table::WalkPlans> walks;
};

// A key's node as read when its object was made; never refreshed (a loaded
// image does not change). A live key's node is the one in the hive's key
// cache, which keeps every node it holds as long as the hive lives (and the
// key object holds the hive), so nothing is copied; a node the cache did not
// take, or a deleted key's, is the snapshot's own.
struct KeySnapshot {
    std::uint32_t offset = 0;
    std::shared_ptr<const key::KeyNode> own_node;  // empty for a node in the key cache
    const key::KeyNode* node = nullptr;

    const std::string& name() const noexcept { return node->name; }
    std::uint32_t subkey_count() const noexcept { return node->subkey_count; }
    std::uint32_t value_count() const noexcept { return node->value_count; }

    static KeySnapshot of(const key::RegistryKey& key) { return {key.offset(), key.owned_node(), &key.node()}; }
    static KeySnapshot of(const recovery::DeletedKey& key) {
        auto own = std::make_shared<const key::KeyNode>(key.node);
        const key::KeyNode* node = own.get();
        return {key.offset, std::move(own), node};
    }
};

// A deleted key (found by the scan for deleted records) also holds the scan's
// result, through which its node, values and subkeys are read.
struct KeyHandle {
    std::shared_ptr<const hive::Hive> hive;
    KeySnapshot key;
    std::shared_ptr<const recovery::Recovery> recovery;  // null for a live key
};

// A value, copied out of the hive whole: it needs no hive afterwards.
struct OwnedValue {
    std::string name;
    value::ValueType value_type;
    std::vector<std::uint8_t> data;
    std::uint32_t offset = 0;  // the value record's cell offset
    bool deleted = false;  // found by the scan for deleted records

    static OwnedValue of(key::ValueWithData&& read) {
        return {std::move(read.value.name), read.value.value_type, std::move(read.data), read.value.offset};
    }
};

}  // namespace orvane::python
