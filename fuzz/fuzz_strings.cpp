// The string readers, value data decoding and every error message.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::read_strings({data, size});
    return 0;
}
