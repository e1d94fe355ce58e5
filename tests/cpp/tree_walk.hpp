#pragma once
// A full walk of a hive's key tree for tests: every key through get_key and its
// subkey lists, every value with its raw data and decoded data. A key offset
// met twice is walked once; whatever cannot be read is listed as a failure.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <unordered_set>
#include <vector>

#include "cell/value_data.hpp"
#include "hive/hive.hpp"
#include "hive/registry_key.hpp"

namespace orvane::testing {

struct WalkCounts {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t data_bytes = 0;
    std::vector<std::string> failures;  // keys, lists or data that could not be read or decoded
    bool operator==(const WalkCounts&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const WalkCounts& c) {
    out << "{keys " << c.keys << ", values " << c.values << ", data bytes " << c.data_bytes
               << ", failures [";
    for (const auto& failure : c.failures) out << "\"" << failure << "\" ";
    return out << "]}";
}

// Depth-first from the root; a key offset met twice is walked once.
inline WalkCounts walk(const hive::Hive& hive) {
    WalkCounts counts;
    std::vector<std::uint32_t> pending{hive.base_block().root_cell_offset};
    std::unordered_set<std::uint32_t> seen;
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        if (!seen.insert(offset).second) continue;
        const auto key = hive.get_key(offset);
        if (!key.has_value()) {
            const auto* e = key.error().registry_error();
            counts.failures.push_back("key " + error::hex(offset) + ": " + (e ? e->message() : "internal"));
            continue;
        }
        ++counts.keys;
        if (key->node().subkey_count != 0) {
            std::vector<std::uint32_t> children;
            const auto collected = key->collect_subkey_offsets(key->node().subkey_list_offset, children);
            if (collected.has_value()) {
                pending.insert(pending.end(), children.rbegin(), children.rend());
            } else {
                counts.failures.push_back("subkeys of " + error::hex(offset) + ": " + collected.error().message());
            }
        }
        const auto values = key->values();
        if (!values.has_value()) {
            counts.failures.push_back("values of " + error::hex(offset) + ": " + values.error().message());
            continue;
        }
        for (const hive::RegistryValue& value : *values) {
            ++counts.values;
            const auto data = value.raw_data();
            const std::string where = key->node().name + "\\" + value.name + ": ";
            if (!data.has_value()) {
                counts.failures.push_back("data of " + where + data.error().message());
                continue;
            }
            EXPECT_LE(data->size(), value.data_size);
            counts.data_bytes += data->size();
            const auto decoded = cell::ValueData::decode(value.value_type, *data);
            if (!decoded.has_value()) counts.failures.push_back("decoding " + where + decoded.error().message());
        }
    }
    return counts;
}

}  // namespace orvane::testing
