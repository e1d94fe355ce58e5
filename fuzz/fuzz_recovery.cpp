// A hive image scanned for deleted keys and values, and everything read
// through them: partial paths, values with data, subkeys.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::scan_deleted_image({data, size});
    return 0;
}
