// A hive image read as the keys and values tables, deleted rows included, in
// small batches through the stream a consumer sees, on the strict or the
// tolerant reading of the bytes.
#include "harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvane::fuzz::read_tables_one_way({data, size});
    return 0;
}
