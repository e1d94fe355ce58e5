// Raw bytes carved for hives, fragments and loose records, and what was carved
// opened and walked.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::carve_image({data, size});
    return 0;
}
