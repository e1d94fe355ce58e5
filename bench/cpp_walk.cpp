// The native baseline of bench/walk.py: the same full walk of a hive, without
// Python, through the core's key walk. Every key: path, name, last-written
// time, counts; every value: name, type, raw bytes and decoded data.
//
//   cpp_walk HIVE [ROUNDS]
//
// Each round opens the hive afresh (so its key cache starts empty) and walks it.
// Prints one line: keys=K values=V best_seconds=S.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "value/value_data.hpp"
#include "hive/hive.hpp"
#include "key/key_walk.hpp"
#include "key/registry_key.hpp"

namespace {

using orvane::hive::Hive;

struct Totals {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;  // kept so the compiler cannot drop the work
};

// Returns false (after printing why) when the hive cannot be walked.
bool walk(const Hive& hive, Totals& totals) {
    auto root = hive.get_key(hive.base_block().root_cell_offset);
    if (!root) {
        std::fprintf(stderr, "the root key cannot be read\n");
        return false;
    }
    orvane::key::KeyWalk keys(std::move(*root));
    for (;;) {
        auto step = keys.next();
        if (!step) {
            const auto* error = step.error().failure.registry_error();
            std::fprintf(stderr, "%s: %s\n", step.error().path.c_str(), error ? error->message().c_str() : "internal");
            return false;
        }
        if (!*step) return true;
        const orvane::key::KeyNode& node = keys.key().node();
        ++totals.keys;
        totals.bytes += node.name.size() + node.subkey_count + node.value_count + keys.path().size();
        if (node.last_written != 0) totals.bytes += node.last_written / 10'000'000;

        auto values = keys.key().values();
        if (!values) {
            std::fprintf(stderr, "%s\n", values.error().message().c_str());
            return false;
        }
        for (const auto& value : *values) {
            ++totals.values;
            totals.bytes += value.name.size() + value.value_type.code();
            auto data = value.raw_data();
            if (!data) continue;  // as values() in Python: no bytes
            totals.bytes += data->size();
            auto decoded = orvane::value::ValueData::decode(value.value_type, *data);
            if (decoded) totals.bytes += decoded->kind().index();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    double best = 1e300;
    Totals totals;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        auto hive = Hive::open(argv[1]);
        if (!hive) {
            std::fprintf(stderr, "%s\n", hive.error().message().c_str());
            return 1;
        }
        totals = {};
        if (!walk(**hive, totals)) return 1;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    std::printf("keys=%llu values=%llu best_seconds=%.6f checksum=%llu\n",
                static_cast<unsigned long long>(totals.keys), static_cast<unsigned long long>(totals.values), best,
                static_cast<unsigned long long>(totals.bytes));
    return 0;
}
