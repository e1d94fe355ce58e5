#pragma once
// A full walk of a hive's key tree for tests: every key the core's walk
// reaches, every value with its raw data and decoded data. A key offset met
// twice is walked once; whatever cannot be read is listed as a failure.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "value/value_data.hpp"
#include "hive/hive.hpp"
#include "key/key_walk.hpp"
#include "key/registry_key.hpp"

namespace orvane::testing {

struct WalkCounts {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t data_bytes = 0;
    std::vector<std::string> failures;  // keys, lists or data that could not be read or decoded
    bool operator==(const WalkCounts&) const = default;
};

inline std::string describe(const error::Failure& failure) {
    const auto* e = failure.registry_error();
    return e ? e->message() : failure.internal_failure()->text;
}

inline std::ostream& operator<<(std::ostream& out, const WalkCounts& c) {
    out << "{keys " << c.keys << ", values " << c.values << ", data bytes " << c.data_bytes
               << ", failures [";
    for (const auto& failure : c.failures) out << "\"" << failure << "\" ";
    return out << "]}";
}

// Depth-first from the root with the core's walk; a key offset met twice is walked once.
inline WalkCounts walk(const hive::Hive& hive) {
    WalkCounts counts;
    auto root = hive.get_key(hive.base_block().root_cell_offset);
    if (!root.has_value()) {
        counts.failures.push_back("root: " + describe(root.error()));
        return counts;
    }
    key::KeyWalk keys(std::move(*root));
    for (;;) {
        auto step = keys.next();
        if (!step.has_value()) {
            counts.failures.push_back("subkeys of '" + step.error().path + "': " + describe(step.error().failure));
            continue;
        }
        if (!*step) break;
        const key::RegistryKey* key = &keys.key();
        ++counts.keys;
        const auto values = key->values();
        if (!values.has_value()) {
            counts.failures.push_back("values of '" + keys.path() + "': " + values.error().message());
            continue;
        }
        for (const value::RegistryValue& value : *values) {
            ++counts.values;
            const auto data = value.raw_data();
            const std::string where = key->node().name + "\\" + value.name + ": ";
            if (!data.has_value()) {
                counts.failures.push_back("data of " + where + data.error().message());
                continue;
            }
            EXPECT_LE(data->size(), value.data_size);
            counts.data_bytes += data->size();
            const auto decoded = value::ValueData::decode(value.value_type, *data);
            if (!decoded.has_value()) counts.failures.push_back("decoding " + where + decoded.error().message());
        }
    }
    return counts;
}

}  // namespace orvane::testing
