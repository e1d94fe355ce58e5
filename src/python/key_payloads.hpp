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
#include "key/registry_key.hpp"
#include "recovery/recovery.hpp"
#include "recovery/scan_cache.hpp"

namespace orvane::python {

// What a Hive object holds: the shared hive, and its scan for deleted
// records once one has been made.
struct HiveHandle {
    HiveHandle(std::shared_ptr<const hive::Hive> loaded)
        : hive(std::move(loaded)), deleted(std::make_shared<recovery::ScanCache>()) {}

    std::shared_ptr<const hive::Hive> hive;
    std::shared_ptr<recovery::ScanCache> deleted;
};

// A key's name and counts as read when its object was made; never refreshed
// (a loaded image does not change).
struct KeySnapshot {
    std::uint32_t offset = 0;
    std::string name;
    std::uint32_t subkey_count = 0;
    std::uint32_t value_count = 0;

    static KeySnapshot of(const key::RegistryKey& key) {
        const key::KeyNode& node = key.node();
        return {key.offset(), node.name, node.subkey_count, node.value_count};
    }
    static KeySnapshot of(const recovery::DeletedKey& key) {
        return {key.offset, key.node.name, key.node.subkey_count, key.node.value_count};
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
};

}  // namespace orvane::python
