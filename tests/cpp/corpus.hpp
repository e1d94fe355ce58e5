#pragma once
// The real hives of tests/data/corpus, decompressed in memory.

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orvane::testing {

// The file tests/data/corpus/<name>.xz, decompressed ("UsrClass.dat.LOG1").
inline std::vector<std::uint8_t> corpus_file(const std::string& name) {
    const std::string path = std::string(ORVANE_TEST_DATA_DIR) + "/corpus/" + name + ".xz";
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.good()) << path;
    const std::vector<std::uint8_t> packed{std::istreambuf_iterator<char>(file), {}};
    lzma_stream stream = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_stream_decoder(&stream, UINT64_MAX, 0), LZMA_OK);
    std::vector<std::uint8_t> out(packed.size() * 8);
    stream.next_in = packed.data();
    stream.avail_in = packed.size();
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        if (stream.total_out == out.size()) out.resize(out.size() * 2);
        stream.next_out = out.data() + stream.total_out;
        stream.avail_out = out.size() - stream.total_out;
        ret = lzma_code(&stream, LZMA_FINISH);
    }
    EXPECT_EQ(ret, LZMA_STREAM_END) << path;
    out.resize(stream.total_out);
    lzma_end(&stream);
    return out;
}

}  // namespace orvane::testing
