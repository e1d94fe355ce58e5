// Big data whose segment list names the same cell again and again: the value
// is cut at the length of the hive bins area, so a small file cannot make
// raw_data() produce gigabytes. Found by a crafted fuzz_hive input
// (tests/data/regressions/fuzz_hive/big_data_repeated_segment).

#include <gtest/gtest.h>

#include "value/registry_value.hpp"
#include "image_builder.hpp"
#include "record_builders.hpp"

namespace orvane::value {
namespace {

using testing::ByteVector;
using testing::ImageBuilder;
using testing::pattern;
using testing::u32_array;

struct Repeated {
    ByteVector image;
    std::uint32_t db_offset = 0;
    ByteVector segment;
};

// A db record naming one 16344-byte segment `times` times, in an image padded
// with empty bins to `bins` bins.
Repeated repeated_segment(std::uint16_t times, std::size_t bins = 0) {
    ImageBuilder b;
    Repeated r;
    r.segment = pattern(16344, 3);
    const std::uint32_t segment = b.add_cell(r.segment);
    const std::uint32_t list = b.add_cell(u32_array(std::vector<std::uint32_t>(times, segment)));
    r.db_offset = b.add_cell(testing::db(times, list));
    while (b.raw().size() < ImageBuilder::base + bins * 4096) b.add_hbin();
    r.image = b.build();
    return r;
}

std::vector<std::uint8_t> read(const Repeated& r, std::uint32_t size) {
    auto hive = testing::load(r.image);
    EXPECT_TRUE(hive.has_value());
    RegistryValue value;
    value.data_size = size;
    value.data_offset = r.db_offset;
    value.hive = hive->get();
    auto data = value.raw_data();
    EXPECT_TRUE(data.has_value()) << data.error().message();
    return data.has_value() ? *data : std::vector<std::uint8_t>{};
}

ByteVector repeat(const ByteVector& segment, std::size_t length) {
    ByteVector out;
    while (out.size() < length) out.insert(out.end(), segment.begin(), segment.end());
    out.resize(length);
    return out;
}

TEST(BigDataBound, RepeatedSegmentIsCutAtTheHiveBinsArea) {
    // 4000 x 16344 bytes claimed (65 MB) from a file of about 40 KiB.
    const Repeated r = repeated_segment(4000);
    const std::size_t area = r.image.size() - ImageBuilder::base;
    const auto data = read(r, 0x7FFFFFFF);
    EXPECT_EQ(data.size(), area);
    EXPECT_EQ(data, repeat(r.segment, area));
}

TEST(BigDataBound, RepeatsWithinTheAreaStillGiveTheDataSize) {
    // Cutting never shortens a value that fits the area, repeats or not.
    const Repeated r = repeated_segment(3, 16);
    const auto data = read(r, 40000);
    EXPECT_EQ(data, repeat(r.segment, 40000));
}

}  // namespace
}  // namespace orvane::value
