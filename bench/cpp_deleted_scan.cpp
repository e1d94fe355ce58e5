// The scan for deleted keys and values in C++ alone, and the data of every
// value it finds (as Hive.deleted_values() reads it).
//
//   cpp_deleted_scan HIVE [ROUNDS]
//
// Each round opens the hive afresh and scans it. Prints one line:
// keys=K values=V best_seconds=S.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "hive/hive.hpp"
#include "recovery/recovery.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HIVE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    double best = 1e300;
    std::size_t keys = 0, values = 0, bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        auto hive = orvane::hive::Hive::open(argv[1]);
        if (!hive) {
            std::fprintf(stderr, "%s\n", hive.error().message().c_str());
            return 1;
        }
        const auto found = orvane::recovery::Recovery::scan(**hive);
        bytes = 0;
        for (const auto& value : found.values()) {
            if (auto data = found.data_of(value)) bytes += data->size();
        }
        keys = found.keys().size();
        values = found.values().size();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    std::printf("keys=%zu values=%zu best_seconds=%.6f data_bytes=%zu\n", keys, values, best, bytes);
    return 0;
}
