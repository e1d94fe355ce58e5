// Column buffers: the pool that keeps large blocks for the next batch, the
// buffers grown in its blocks, and batches reserving what the one before them
// filled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "table/buffer_pool.hpp"
#include "table/column.hpp"
#include "table/pod_buffer.hpp"

namespace orvane::table {
namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

class BufferPool : public ::testing::Test {
protected:
    void SetUp() override { buffer_pool::release_all(); }
    void TearDown() override { buffer_pool::release_all(); }
};

struct SizeCase {
    std::size_t asked;
    std::size_t made;
};

TEST_F(BufferPool, BlockSizesArePowersOfTwoUpToTheLargestKept) {
    const SizeCase cases[] = {
        {0, 64 * KiB},           {1, 64 * KiB},           {64 * KiB, 64 * KiB}, {64 * KiB + 1, 128 * KiB},
        {3 * MiB, 4 * MiB},      {16 * MiB, 16 * MiB},    {16 * MiB + 1, 16 * MiB + 1},
        {100 * MiB, 100 * MiB},
    };
    for (const SizeCase& c : cases) EXPECT_EQ(buffer_pool::block_size(c.asked), c.made) << c.asked;
}

TEST_F(BufferPool, AGivenBlockServesTheNextTakeOfItsClassOnly) {
    void* block = buffer_pool::take(100 * KiB);
    ASSERT_NE(block, nullptr);
    buffer_pool::give(block, 100 * KiB);
    EXPECT_EQ(buffer_pool::kept_bytes(), 128 * KiB);

    void* other_class = buffer_pool::take(200 * KiB);
    EXPECT_NE(other_class, block);
    void* same_class = buffer_pool::take(128 * KiB);
    EXPECT_EQ(same_class, block);
    EXPECT_EQ(buffer_pool::kept_bytes(), 0u);
    buffer_pool::give(other_class, 200 * KiB);
    buffer_pool::give(same_class, 128 * KiB);
}

TEST_F(BufferPool, KeepsNoHugeBlockAndAtMostItsBound) {
    buffer_pool::give(buffer_pool::take(32 * MiB), 32 * MiB);
    EXPECT_EQ(buffer_pool::kept_bytes(), 0u);

    std::vector<void*> blocks;
    for (std::size_t i = 0; i < buffer_pool::most_kept / (16 * MiB) + 2; ++i) blocks.push_back(buffer_pool::take(16 * MiB));
    for (void* block : blocks) buffer_pool::give(block, 16 * MiB);
    EXPECT_EQ(buffer_pool::kept_bytes(), buffer_pool::most_kept);
    buffer_pool::release_all();
    EXPECT_EQ(buffer_pool::kept_bytes(), 0u);
}

TEST_F(BufferPool, ThreadsTakeAndGiveAtOnce) {
    auto churn = [] {
        for (int round = 0; round < 2000; ++round) {
            const std::size_t bytes = (64 * KiB) << (round % 4);
            auto* block = static_cast<std::uint8_t*>(buffer_pool::take(bytes));
            ASSERT_NE(block, nullptr);
            block[0] = block[bytes - 1] = 0xA5;  // the whole block is the taker's
            buffer_pool::give(block, bytes);
        }
    };
    std::thread first(churn), second(churn);
    first.join();
    second.join();
    EXPECT_LE(buffer_pool::kept_bytes(), buffer_pool::most_kept);
}

// Buffers grown past the pooled size, element by element or in runs, keep
// every element in order, whatever the element's width.
template <class T>
void expect_growth_keeps_order(std::size_t count, std::size_t run) {
    PodBuffer<T> buffer;
    std::vector<T> expected;
    while (expected.size() < count) {
        std::vector<T> piece;
        for (std::size_t i = 0; i < run; ++i) piece.push_back(static_cast<T>(expected.size() + i));
        if (run == 1) {
            buffer.push_back(piece[0]);
        } else {
            buffer.append(piece.data(), piece.size());
        }
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    ASSERT_EQ(buffer.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(buffer[i], expected[i]) << i;
    EXPECT_GE(buffer.capacity() * sizeof(T), buffer.size() * sizeof(T));
}

TEST_F(BufferPool, GrowthAcrossThePooledSizeKeepsEveryElement) {
    expect_growth_keeps_order<std::uint8_t>(300 * KiB, 1);
    expect_growth_keeps_order<std::uint8_t>(300 * KiB, 997);
    expect_growth_keeps_order<std::int32_t>(100 * KiB, 1);
    expect_growth_keeps_order<std::int32_t>(100 * KiB, 4099);
}

struct ShrinkCase {
    std::size_t reserved;
    std::size_t filled;
    bool moves;
};

// Filling a buffer up to its reserve moves nothing; shrinking it then gives
// back what the reserve left unused and keeps the elements.
TEST_F(BufferPool, AReserveHoldsItsFillAndShrinkingGivesBackTheRest) {
    const ShrinkCase cases[] = {
        {1 * MiB, 0, true},          {1 * MiB, 1000, true},         {1 * MiB, 100 * KiB, true},
        {1 * MiB, 600 * KiB, false},  // more than half used: left as it is
        {1 * MiB, 1 * MiB, false},    {64 * KiB, 64 * KiB, false},  {1000, 1000, false},
        {32 * KiB, 10, false},        // a malloc block: left to realloc
    };
    for (const ShrinkCase& c : cases) {
        PodBuffer<std::uint8_t> buffer;
        buffer.reserve(c.reserved);
        const std::uint8_t* reserved_at = buffer.data();
        for (std::size_t i = 0; i < c.filled; ++i) buffer.push_back(static_cast<std::uint8_t>(i * 7));
        EXPECT_EQ(buffer.data(), reserved_at) << c.reserved << " " << c.filled;
        const std::uint8_t* at = buffer.data();
        const std::size_t capacity = buffer.capacity();
        buffer.shrink();
        EXPECT_EQ(buffer.data() != at, c.moves) << c.reserved << " " << c.filled;
        if (c.moves) {
            EXPECT_LE(buffer.capacity(), std::max(2 * c.filled, buffer_pool::smallest_pooled));
        } else {
            EXPECT_EQ(buffer.capacity(), capacity);
        }
        ASSERT_EQ(buffer.size(), c.filled);
        for (std::size_t i = 0; i < c.filled; ++i) ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(i * 7));
    }
}

// A column reserved with the sizes another filled holds the same rows
// without moving any of its buffers.
TEST_F(BufferPool, AColumnReservedWithAnotherSizesDoesNotMove) {
    auto fill = [](Column& column) {
        for (int row = 0; row < 20000; ++row) {
            if (row % 7 == 0) {
                column.append_null();
            } else if (column.type() == ColumnType::Utf8List) {
                const std::string_view items[] = {"one", "two"};
                column.append_texts(items);
            } else if (column.type() == ColumnType::Utf8) {
                column.append_text("row " + std::to_string(row));
            } else {
                column.append_u64(static_cast<std::uint64_t>(row));
            }
        }
    };
    for (const ColumnType type : {ColumnType::UInt64, ColumnType::Utf8, ColumnType::Utf8List}) {
        Column first(type);
        fill(first);
        Column second(type);
        second.reserve(first.sizes());
        const auto* values = second.values().data();
        const auto* offsets = second.offsets().data();
        const auto* bytes = second.bytes().data();
        const auto* validity = second.validity().data();
        fill(second);
        EXPECT_EQ(second.values().data(), values);
        EXPECT_EQ(second.offsets().data(), offsets);
        EXPECT_EQ(second.bytes().data(), bytes);
        EXPECT_EQ(second.validity().data(), validity);
        EXPECT_EQ(second.null_count(), first.null_count());
        EXPECT_EQ(second.length(), first.length());
    }
}

}  // namespace
}  // namespace orvane::table
