// A transaction log: parsed and replayed into a small hive, and used as a
// Windows log to recover a dirty one; each result is loaded and walked.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::replay_log({data, size});
    return 0;
}
