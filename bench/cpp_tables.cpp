// The tables' own cost, without Python: both tables of a hive built batch by
// batch through the core's table builder, as Hive.keys_table() and
// Hive.values_table() stream them from one Hive object (the Arrow export only
// hands the buffers over, so it is left out).
//
//   cpp_tables HIVE [ROUNDS] [keys|values|both]
//
// Each round opens the hive afresh. Prints one line: keys=K values=V best_seconds=S.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "hive/hive.hpp"
#include "table/hive_tables.hpp"

namespace {

using orvane::table::Batch;
using orvane::table::TableKind;

// The rows of one table, or -1 (after printing why) when it cannot be built.
void report(const orvane::error::Failure& failure) {
    const auto* error = failure.registry_error();
    std::fprintf(stderr, "%s\n", error ? error->message().c_str() : "internal");
}

long long rows_of(std::shared_ptr<const orvane::hive::Hive> hive, TableKind kind,
                  std::shared_ptr<orvane::table::WalkPlans> plans) {
    auto source = orvane::table::open_table(std::move(hive), kind, {}, {}, std::move(plans));
    if (!source) {
        report(source.error());
        return -1;
    }
    long long rows = 0;
    Batch batch;
    for (;;) {
        auto more = (*source)->next(batch);
        if (!more) {
            report(more.error());
            return -1;
        }
        if (!*more) return rows;
        rows += batch.rows;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s HIVE [ROUNDS] [keys|values|both]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const char* which = argc > 3 ? argv[3] : "both";
    const bool keys = std::strcmp(which, "values") != 0;
    const bool values = std::strcmp(which, "keys") != 0;
    double best = 1e300;
    long long key_rows = 0;
    long long value_rows = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        auto opened = orvane::hive::Hive::open(argv[1]);
        if (!opened) {
            std::fprintf(stderr, "%s\n", opened.error().message().c_str());
            return 1;
        }
        const std::shared_ptr<const orvane::hive::Hive> hive = std::move(*opened);
        // The Hive object's own share: the second table replays the first one's walk.
        const auto plans = std::make_shared<orvane::table::WalkPlans>();
        if (keys && (key_rows = rows_of(hive, TableKind::Keys, plans)) < 0) return 1;
        if (values && (value_rows = rows_of(hive, TableKind::Values, plans)) < 0) return 1;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    std::printf("keys=%lld values=%lld best_seconds=%.6f\n", key_rows, value_rows, best);
    return 0;
}
