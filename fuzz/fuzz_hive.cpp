// A hive image, loaded and walked completely: hbins, every key, subkey list,
// value, raw data and decoded value; loaded the strict way or the tolerant
// one, so the reads that skip and note are driven as hard as the strict ones.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::walk_one_way({data, size});
    return 0;
}
