// A hive image searched whole, deleted records included, for literal
// patterns and for the texts a regular expression is tested on, on the
// strict and the tolerant reading of the same bytes.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::search_image({data, size});
    return 0;
}
