// Arbitrary bytes decoded as LZNT1 chunks.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::decode_lznt1({data, size});
    return 0;
}
