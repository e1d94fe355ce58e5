// What a second thread brings to the C++ walk of bench/cpp_walk.cpp, without
// Python: one hive walked by 1 thread and by 2 (each taking every other
// subtree of the root), and two hives (the file opened twice) walked one after
// the other and side by side. Every round opens the hives afresh, so their key
// caches start empty and the threads also share the cache's lock; the walks
// of one hive are also timed again once its key cache holds every key
// (`..._warm`), where the lock is only ever taken shared.
//
//   cpp_threads HIVE [ROUNDS]
//
// Prints one line: one_thread=S two_threads=S one_thread_warm=S
// two_threads_warm=S two_hives_sequential=S two_hives_parallel=S keys=K
// values=V (best seconds of ROUNDS).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "value/value_data.hpp"
#include "hive/hive.hpp"
#include "key/registry_key.hpp"

namespace {

using orvane::hive::Hive;

struct Totals {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;  // kept so the compiler cannot drop the work
};

// The walk of cpp_walk.cpp from the given key offsets; errors end a subtree.
Totals walk(const Hive& hive, std::vector<std::uint32_t> pending) {
    Totals totals;
    std::vector<std::uint32_t> subkeys;
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        auto key = hive.get_key(offset);
        if (!key) continue;
        const orvane::key::KeyNode& node = key->node();
        ++totals.keys;
        totals.bytes += node.name.size() + node.subkey_count + node.value_count + node.last_written / 10'000'000;
        if (auto values = key->values()) {
            for (const auto& value : *values) {
                ++totals.values;
                totals.bytes += value.name.size() + value.value_type.code();
                auto data = value.raw_data();
                if (!data) continue;
                totals.bytes += data->size();
                if (auto decoded = orvane::value::ValueData::decode(value.value_type, *data)) {
                    totals.bytes += decoded->kind().index();
                }
            }
        }
        if (node.subkey_count == 0) continue;
        subkeys.clear();
        if (key->collect_subkey_offsets(node.subkey_list_offset, subkeys)) {
            pending.insert(pending.end(), subkeys.rbegin(), subkeys.rend());
        }
    }
    return totals;
}

std::shared_ptr<const Hive> open_or_exit(const char* path) {
    auto hive = Hive::open(path);
    if (!hive) {
        std::fprintf(stderr, "%s\n", hive.error().message().c_str());
        std::exit(1);
    }
    return *hive;
}

std::vector<std::uint32_t> root_subkeys(const Hive& hive) {
    std::vector<std::uint32_t> offsets;
    auto root = hive.get_key(hive.base_block().root_cell_offset);
    if (!root || !root->collect_subkey_offsets(root->node().subkey_list_offset, offsets)) {
        std::fprintf(stderr, "the root key or its subkey list cannot be read\n");
        std::exit(1);
    }
    return offsets;
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    double best[6] = {1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
    Totals one;
    for (int round = 0; round < rounds; ++round) {
        {
            const auto hive = open_or_exit(path);
            const auto groups = root_subkeys(*hive);
            best[0] = std::min(best[0], seconds([&] { one = walk(*hive, groups); }));
        }
        {
            const auto hive = open_or_exit(path);
            const auto groups = root_subkeys(*hive);
            std::vector<std::uint32_t> halves[2];
            for (std::size_t i = 0; i < groups.size(); ++i) halves[i % 2].push_back(groups[i]);
            Totals parts[2];
            const auto both = [&] {
                std::thread other([&] { parts[1] = walk(*hive, halves[1]); });
                parts[0] = walk(*hive, halves[0]);
                other.join();
            };
            best[1] = std::min(best[1], seconds(both));
            best[2] = std::min(best[2], seconds([&] { walk(*hive, groups); }));
            best[3] = std::min(best[3], seconds(both));
            if (parts[0].keys + parts[1].keys != one.keys) {
                std::fprintf(stderr, "the two threads walked %llu keys, one thread %llu\n",
                             static_cast<unsigned long long>(parts[0].keys + parts[1].keys),
                             static_cast<unsigned long long>(one.keys));
                return 1;
            }
        }
        {
            const auto first = open_or_exit(path), second = open_or_exit(path);
            const auto groups = root_subkeys(*first);
            best[4] = std::min(best[4], seconds([&] {
                                   walk(*first, groups);
                                   walk(*second, groups);
                               }));
        }
        {
            const auto first = open_or_exit(path), second = open_or_exit(path);
            const auto groups = root_subkeys(*first);
            best[5] = std::min(best[5], seconds([&] {
                                   std::thread other([&] { walk(*second, groups); });
                                   walk(*first, groups);
                                   other.join();
                               }));
        }
    }
    std::printf("one_thread=%.6f two_threads=%.6f one_thread_warm=%.6f two_threads_warm=%.6f "
                "two_hives_sequential=%.6f two_hives_parallel=%.6f keys=%llu values=%llu checksum=%llu\n",
                best[0], best[1], best[2], best[3], best[4], best[5], static_cast<unsigned long long>(one.keys),
                static_cast<unsigned long long>(one.values), static_cast<unsigned long long>(one.bytes));
    return 0;
}
