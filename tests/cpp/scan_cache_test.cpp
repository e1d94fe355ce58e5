// The scan cache: one scan per hive, shared by the threads that ask at once,
// and a result larger than the image not kept once nobody holds it.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "record_builders.hpp"
#include "recovery/scan_cache.hpp"

namespace orvane::recovery {
namespace {

using testing::ascii;
using testing::ImageBuilder;
using testing::kNoCell;
using testing::Nk;
using testing::Vk;

// A hive with a live root, and `free_values` small value records in free cells.
std::shared_ptr<const hive::Hive> hive_with(std::size_t free_values) {
    ImageBuilder b;
    Nk root;
    root.name = ascii("ROOT");
    root.flags = 0x2c;
    root.security_offset = kNoCell;
    b.add_cell(root.payload());
    for (std::size_t i = 0; i < free_values; ++i) {
        Vk vk;
        vk.name = ascii("v");
        vk.data_size = 0x80000004;
        vk.data_offset = static_cast<std::uint32_t>(i);
        vk.data_type = 4;
        b.add_cell(vk.payload(), 32);
    }
    auto loaded = testing::load(b.build());
    EXPECT_TRUE(loaded.has_value());
    return *loaded;
}

TEST(ScanCacheTest, ScansOnceAndSharesTheResult) {
    const auto hive = hive_with(3);
    ScanCache cache;
    const auto first = cache.get(*hive);
    EXPECT_EQ(first->values().size(), 3u);
    EXPECT_EQ(cache.get(*hive), first);
}

TEST(ScanCacheTest, ThreadsAskingAtOnceGetOneScan) {
    const auto hive = hive_with(100);
    ScanCache cache;
    std::vector<std::shared_ptr<const Recovery>> got(4);
    std::vector<std::thread> threads;
    for (auto& slot : got) threads.emplace_back([&] { slot = cache.get(*hive); });
    for (auto& thread : threads) thread.join();
    for (const auto& result : got) EXPECT_EQ(result, got[0]);
}

TEST(ScanCacheTest, AResultLargerThanTheImageIsKeptOnlyWhileHeld) {
    // Free cells of 32 bytes each holding a value record: each found record
    // costs more memory than the cell it lies in.
    const auto hive = hive_with(2000);
    ScanCache cache;
    auto held = cache.get(*hive);
    ASSERT_GT(held->memory_size(), hive->data().size());
    EXPECT_EQ(cache.get(*hive), held);  // still held: shared
    const std::weak_ptr<const Recovery> dropped = held;
    held.reset();
    EXPECT_TRUE(dropped.expired());  // the cache did not keep it
    EXPECT_EQ(cache.get(*hive)->values().size(), 2000u);  // scanned again
}

}  // namespace
}  // namespace orvane::recovery
