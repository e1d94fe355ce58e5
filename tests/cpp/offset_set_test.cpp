// The offset set against a plain std::set: aligned offsets in the bits
// (across block boundaries and in the last, short block), unaligned ones and
// ones past the image in the hash set, for images from empty to beyond what
// 32-bit offsets reach.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "hive/offset_set.hpp"

namespace orvane::hive {
namespace {

constexpr std::uint64_t block_bytes = OffsetSet::block_slots * 8;

class OffsetSetImages : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(OffsetSetImages, AgreesWithAPlainSet) {
    const std::uint64_t image_size = GetParam();
    const auto clamp = [](std::uint64_t offset) { return static_cast<std::uint32_t>(std::min<std::uint64_t>(offset, 0xFFFFFFFF)); };
    std::vector<std::uint32_t> offsets = {0, 8, 3, 0xFFFFFFF8, 0xFFFFFFFF};
    for (const std::uint64_t edge : {block_bytes, 2 * block_bytes, image_size}) {
        for (const std::int64_t delta : {-16, -8, -1, 0, 1, 8}) {
            if (static_cast<std::int64_t>(edge) + delta >= 0) offsets.push_back(clamp(edge + delta));
        }
    }
    std::mt19937 random(static_cast<std::uint32_t>(image_size));
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t spread = std::max<std::uint64_t>(image_size + block_bytes, 64);
        const std::uint64_t offset = random() % spread;
        offsets.push_back(clamp(i % 3 == 0 ? offset : offset / 8 * 8));
    }

    OffsetSet set(image_size);
    std::set<std::uint32_t> model;
    // Every offset added twice, in two orders; membership checked in between.
    for (int round = 0; round < 2; ++round) {
        for (const std::uint32_t offset : offsets) {
            SCOPED_TRACE(offset);
            EXPECT_EQ(set.contains(offset), model.contains(offset));
            EXPECT_EQ(set.insert(offset), model.insert(offset).second);
            EXPECT_TRUE(set.contains(offset));
        }
        std::reverse(offsets.begin(), offsets.end());
    }
    // Offsets never added are not in it, wherever they fall.
    for (const std::uint32_t probe : {16u, 24u, 11u, static_cast<std::uint32_t>(block_bytes + 64), 0xFFFFFFF0u}) {
        EXPECT_EQ(set.contains(probe), model.contains(probe)) << probe;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OffsetSetImages,
                         ::testing::Values(std::uint64_t{0}, std::uint64_t{8}, std::uint64_t{16384},
                                           block_bytes - 8, block_bytes, block_bytes + 8, 3 * block_bytes + 520,
                                           std::uint64_t{512} << 20, std::uint64_t{5} << 30));

}  // namespace
}  // namespace orvane::hive
