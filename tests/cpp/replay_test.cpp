// Replaying dirty pages into an image: order, growth, the three limits with
// their texts, and when the checksum is recomputed.

#include <gtest/gtest.h>

#include "hive/base_block.hpp"
#include "image_builder.hpp"
#include "transaction_log/replay.hpp"

namespace orvane::transaction_log {
namespace {

using testing::ByteVector;

DirtyPage page(std::uint32_t offset, std::size_t size, std::uint8_t fill) {
    return DirtyPage{offset, static_cast<std::uint32_t>(size), ByteVector(size, fill)};
}

TransactionLog log_of(std::uint32_t sequence, std::vector<DirtyPage> pages) {
    return TransactionLog{sequence, std::move(pages)};
}

ByteVector base_image() { return testing::ImageBuilder().build(); }

std::string apply_error(ByteVector& image, const std::vector<TransactionLog>& logs) {
    auto result = testing::on_owned_image(image, [&](auto& owned) { return apply_logs(owned, logs); });
    return result ? "applied" : result.error().message();
}

void expect_valid_checksum(const ByteVector& image) {
    EXPECT_EQ(*utils::ByteView(image).u32(508), hive::stored_checksum_form(hive::base_block_checksum(image)));
}

// Two logs write the same byte; the one applied last shows.
TEST(ApplyLogs, LogsGoBySequenceAndTiesKeepLogOneFirst) {
    struct Case {
        const char* name;
        std::uint32_t sequence1;
        std::uint32_t sequence2;
        std::uint8_t survivor;
    };
    for (const Case c : {Case{"equal", 5, 5, 0x22}, Case{"second_smaller", 6, 5, 0x11},
                         Case{"first_smaller", 5, 6, 0x22}, Case{"extremes", 0xFFFFFFFF, 0, 0x11}}) {
        SCOPED_TRACE(c.name);
        ByteVector image = base_image();
        const std::vector logs{log_of(c.sequence1, {page(0x1000, 4, 0x11)}),
                               log_of(c.sequence2, {page(0x1002, 4, 0x22)})};
        ASSERT_EQ(apply_error(image, logs), "applied");
        ASSERT_EQ(image.size(), 0x1006u);
        // Bytes 0x1000..0x1001 come from log1 only, 0x1004..0x1005 from log2 only.
        EXPECT_EQ(ByteVector(image.begin() + 0x1000, image.end()),
                  (c.survivor == 0x11 ? ByteVector{0x11, 0x11, 0x11, 0x11, 0x22, 0x22}
                                      : ByteVector{0x11, 0x11, 0x22, 0x22, 0x22, 0x22}));
    }
}

TEST(ApplyLogs, LaterPagesOfOneLogWin) {
    ByteVector image = base_image();
    ASSERT_EQ(apply_error(image, {log_of(1, {page(0x1000, 4, 0x01), page(0x1000, 2, 0x02)})}), "applied");
    EXPECT_EQ(ByteVector(image.begin() + 0x1000, image.end()), (ByteVector{0x02, 0x02, 0x01, 0x01}));
}

TEST(ApplyLogs, GapBeforeAPageIsFilledWithZeros) {
    ByteVector image = base_image();
    std::fill(image.begin() + 512, image.end(), 0xAA);
    ASSERT_EQ(apply_error(image, {log_of(1, {page(0x3000, 2, 0x55)})}), "applied");
    ASSERT_EQ(image.size(), 0x3002u);
    EXPECT_EQ(image[0xFFF], 0xAA);
    EXPECT_TRUE(std::all_of(image.begin() + 0x1000, image.begin() + 0x3000, [](auto b) { return b == 0; }));
    EXPECT_EQ(image[0x3000], 0x55);
    expect_valid_checksum(image);
}

TEST(ApplyLogs, PageAtOffsetZeroReplacesTheBaseBlockAndTheChecksumFollows) {
    ByteVector image = base_image();
    ByteVector header = image;
    header.resize(512);
    testing::put_u32(header, 4, 0x1234);   // primary sequence
    testing::put_u32(header, 508, 0xBAD);  // a stale checksum, recomputed afterwards
    ASSERT_EQ(apply_error(image, {log_of(1, {DirtyPage{0, 512, header}})}), "applied");
    EXPECT_EQ(*utils::ByteView(image).u32(4), 0x1234u);
    expect_valid_checksum(image);
    EXPECT_TRUE(testing::load(image).has_value());
}

TEST(ApplyLogs, WithoutPagesTheImageIsUntouched) {
    ByteVector original = base_image();
    testing::put_u32(original, 508, 0xBAD);  // a wrong checksum stays wrong
    for (const auto& logs : {std::vector<TransactionLog>{}, std::vector{log_of(1, {})},
                             std::vector{log_of(1, {}), log_of(2, {})}}) {
        SCOPED_TRACE(logs.size());
        ByteVector image = original;
        ASSERT_EQ(apply_error(image, logs), "applied");
        EXPECT_EQ(image, original);
    }
}

TEST(ApplyLogs, ShortImageAfterReplay) {
    struct Case {
        const char* name;
        std::vector<DirtyPage> pages;
        std::string expected;
    };
    for (const Case& c :
         {Case{"pages_below_4096", {page(0, 10, 0x01)}, "Hive too small: 1000 bytes (minimum: 4096 bytes)"},
          Case{"pages_grow_to_4095", {page(4000, 95, 0x01)}, "Hive too small: 4095 bytes (minimum: 4096 bytes)"},
          Case{"pages_grow_to_4096", {page(4000, 96, 0x01)}, "applied"}}) {
        SCOPED_TRACE(c.name);
        ByteVector image(1000, 0);
        EXPECT_EQ(apply_error(image, {log_of(1, c.pages)}), c.expected);
        if (c.expected == "applied") expect_valid_checksum(image);
    }
}

TEST(ApplyLogs, EmptyImageBuiltFromPages) {
    const ByteVector hive = base_image();
    ByteVector image;
    ASSERT_EQ(apply_error(image, {log_of(1, {DirtyPage{0, 4096, hive}})}), "applied");
    EXPECT_EQ(image, hive);
}

struct LimitCase {
    const char* name;
    std::vector<TransactionLog> logs;
    std::string expected;
};

class ApplyLogsLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ApplyLogsLimits, RefusesExactly) {
    ByteVector image = base_image();
    EXPECT_EQ(apply_error(image, GetParam().logs), GetParam().expected);
}

constexpr std::uint64_t growth_limit = 16777216;

INSTANTIATE_TEST_SUITE_P(
    Limits, ApplyLogsLimits,
    ::testing::Values(
        LimitCase{"end_one_beyond_maximum",
                  {log_of(1, {page(0x20000000 - 1, 2, 0)})},
                  "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x20000001 > 0x20000000"},
        LimitCase{"end_beyond_32_bits",
                  {log_of(1, {page(0xFFFFFFFF, 65536, 0)})},
                  "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x10000ffff > 0x20000000"},
        LimitCase{"growth_one_too_many",
                  {log_of(1, {page(4096 + growth_limit, 1, 0)})},
                  "Invalid format: Dirty page 0 would extend hive by too much: 16777217 bytes (max: 16777216)"},
        LimitCase{"size_mismatch_short",
                  {log_of(1, {DirtyPage{0x1000, 4, {1, 2, 3}}})},
                  "Invalid format: Dirty page 0 data size mismatch: 3 != 4"},
        LimitCase{"size_mismatch_long",
                  {log_of(1, {DirtyPage{0x1000, 1, {1, 2}}})},
                  "Invalid format: Dirty page 0 data size mismatch: 2 != 1"},
        // The end is tested before the data length.
        LimitCase{"beyond_maximum_before_mismatch",
                  {log_of(1, {DirtyPage{0x20000000, 4, {}}})},
                  "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x20000004 > 0x20000000"},
        // The index counts within its own log: log2 goes first (smaller
        // sequence) and its page 1 is the bad one.
        LimitCase{"index_within_own_log",
                  {log_of(9, {page(0x1000, 4, 0)}),
                   log_of(3, {page(0x1000, 4, 0), page(0x1000, 4, 0), page(0x30000000, 4, 0)})},
                  "Invalid format: Dirty page 2 would extend hive beyond maximum size: 0x30000004 > 0x20000000"},
        LimitCase{"index_in_second_applied_log",
                  {log_of(1, {page(0x1000, 4, 0), page(0x1000, 4, 0)}),
                   log_of(2, {page(0x1000, 4, 0), DirtyPage{0x1000, 4, {}}})},
                  "Invalid format: Dirty page 1 data size mismatch: 0 != 4"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(ApplyLogs, GrowthLimitIsPerPage) {
    // Exactly 16777216 bytes of growth is allowed, and two such pages together
    // lengthen the image by twice that.
    ByteVector image = base_image();
    const auto first_end = static_cast<std::uint32_t>(4096 + growth_limit);
    ASSERT_EQ(apply_error(image, {log_of(1, {page(first_end - 1, 1, 0x01),
                                             page(static_cast<std::uint32_t>(first_end + growth_limit - 1), 1, 0x02)})}),
              "applied");
    EXPECT_EQ(image.size(), 4096 + 2 * growth_limit);
    EXPECT_EQ(image[first_end - 1], 0x01);
    EXPECT_EQ(image.back(), 0x02);
    // A later page is measured against the length reached so far.
    EXPECT_EQ(apply_error(image, {log_of(1, {page(static_cast<std::uint32_t>(image.size() + growth_limit), 1, 0)})}),
              "Invalid format: Dirty page 0 would extend hive by too much: 16777217 bytes (max: 16777216)");
}

TEST(ApplyLogs, PageEndingExactlyAtTheMaximumIsAccepted) {
    // Climb to 0x20000000 in steps of the growth limit.
    std::vector<DirtyPage> pages;
    for (std::uint64_t end = growth_limit; end <= 0x20000000; end += growth_limit) {
        pages.push_back(page(static_cast<std::uint32_t>(end - 1), 1, 0x7E));
    }
    ByteVector image = base_image();
    ASSERT_EQ(apply_error(image, {log_of(1, std::move(pages))}), "applied");
    EXPECT_EQ(image.size(), 0x20000000u);
    EXPECT_EQ(image.back(), 0x7E);
    // Growth never reserves past the maximum end.
    EXPECT_LE(image.capacity(), 0x20000000u);
}

}  // namespace
}  // namespace orvane::transaction_log
