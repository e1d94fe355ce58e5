// A hive image read as the keys and values tables, deleted rows included, in
// small batches through the stream a consumer sees, on the strict and the
// tolerant reading of the same bytes.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::read_tables_image({data, size});
    return 0;
}
