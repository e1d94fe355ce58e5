// A hive image, loaded and walked completely: hbins, every key, subkey list,
// value, raw data and decoded value.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::walk_hive_image({data, size});
    return 0;
}
