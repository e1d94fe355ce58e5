// The image buffer's copies and growth: bytes kept in order, the tail zero,
// the capacity never past the limit, on both sides of the size where memory
// comes from mappings instead of calloc.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "utils/image_bytes.hpp"

namespace orvane::utils {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

bool zero_from(const ImageBytes& image, std::size_t from) {
    for (std::size_t i = from; i < image.size(); ++i) {
        if (image[i] != 0) return false;
    }
    return true;
}

constexpr std::size_t mapped = std::size_t{1} << 20;  // allocate_zero_filled's switch to mappings

class ImageBytesSizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ImageBytesSizes, CopyThenGrowKeepsTheBytesAndZeroFillsTheRest) {
    const std::vector<std::uint8_t> bytes = pattern(GetParam(), 11);
    ImageBytes image = copy_image(bytes);
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.end()), bytes);
    for (const std::uint64_t length : {GetParam() + 1, 2 * GetParam() + 4096, 2 * GetParam() + mapped + 8}) {
        const std::uint64_t limit = length + 100;
        grow_image(image, length, limit);
        ASSERT_EQ(image.size(), length);
        EXPECT_LE(image.capacity(), limit);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin()));
        EXPECT_TRUE(zero_from(image, bytes.size()));
    }
    // Never shorter.
    const std::size_t grown = image.size();
    grow_image(image, 1, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(image.size(), grown);
}

TEST_P(ImageBytesSizes, AppendsPartsInOrder) {
    const std::vector<std::uint8_t> first = pattern(GetParam(), 5);
    const std::vector<std::uint8_t> second = pattern(GetParam() / 2 + 3, 200);
    for (const bool reserved : {false, true}) {
        SCOPED_TRACE(reserved);
        ImageBytes image;
        if (reserved) image.reserve(first.size() + second.size());
        append_image(image, first);
        append_image(image, {});
        append_image(image, second);
        std::vector<std::uint8_t> expected = first;
        expected.insert(expected.end(), second.begin(), second.end());
        EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.end()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageBytesSizes,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{4096}, mapped - 1, mapped,
                                           mapped + 4097));

}  // namespace
}  // namespace orvane::utils
