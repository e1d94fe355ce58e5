// The key cache: hits, misses, failures that are not cached, poisoning, and
// concurrent get_key calls on one hive.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <latch>
#include <numeric>
#include <thread>

#include "key/registry_key.hpp"
#include "record_builders.hpp"

namespace orvane::key {

// Reaches into the cache to poison it, or to make its next insertion fail
// with the lock held.
struct KeyCacheTestAccess {
    static void poison(KeyCache& cache) { cache.poisoned_.store(true); }
    // The next insertion into any shard then asks for more buckets than can
    // ever be allocated, and the map throws std::bad_alloc before touching memory.
    static void starve(KeyCache& cache) {
        for (auto& shard : cache.shards_) shard.nodes.max_load_factor(1e-18f);
    }
    static std::size_t shard_index(std::uint32_t offset) { return KeyCache::shard_index(offset); }
};

namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;

constexpr const char* kPoisoned = "key cache lock poisoned: PoisonError { .. }";

KeyCache& cache_of(const hive::Hive& hive) { return const_cast<KeyCache&>(hive.key_cache()); }

std::string outcome(const Checked<key::RegistryKey>& key) {
    if (key.has_value()) return "name=" + key->node().name;
    if (const auto* e = key.error().registry_error()) return e->message();
    return "internal: " + key.error().internal_failure()->text;
}

struct TwoKeys {
    ByteVector image;
    std::uint32_t root = 0, child = 0, bad = 0;
};
TwoKeys two_keys() {
    TwoKeys t;
    ImageBuilder b;
    t.root = testing::add_key(b, "Root");
    t.child = testing::add_key(b, "Child");
    t.bad = b.add_cell(testing::Vk().payload());  // a value record, too short for a key node
    t.image = b.build();
    return t;
}

TEST(KeyCache, HitEqualsFreshDecodeAndIsStoredOnce) {
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    EXPECT_EQ(hive->key_cache().size(), 0u);
    const auto first = hive->get_key(t.root);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(hive->key_cache().size(), 1u);
    const auto second = hive->get_key(t.root);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(hive->key_cache().size(), 1u);
    EXPECT_EQ(second->node(), first->node());
    EXPECT_EQ(second->offset(), t.root);
    EXPECT_EQ(second->node(), *decode_key_node(hive->get_cell(t.root)->bytes(), t.root));
}

TEST(KeyCache, HitDoesNotReadTheImage) {
    const TwoKeys t = two_keys();
    // Keep a writable alias of the buffer to show a hit is served from the map.
    auto buffer = std::make_shared<utils::ImageBytes>(t.image.begin(), t.image.end());
    const auto hive = *hive::Hive::from_data(hive::HiveData(hive::HiveData::Buffer(buffer)));
    ASSERT_EQ(outcome(hive->get_key(t.root)), "name=Root");
    (*buffer)[testing::payload_position(t.root, 76)] = 'B';
    EXPECT_EQ(outcome(hive->get_key(t.root)), "name=Root");
    // A miss reads the image as it is now.
    (*buffer)[testing::payload_position(t.child, 76)] = 'W';
    EXPECT_EQ(outcome(hive->get_key(t.child)), "name=Whild");
}

TEST(KeyCache, FailedDecodesAreNotCached) {
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    const std::string truncated = "Truncated data at offset 0xd0: expected 76 bytes, got 28 bytes";
    ASSERT_EQ(t.bad, 0xd0u);
    EXPECT_EQ(outcome(hive->get_key(t.bad)), truncated);
    EXPECT_EQ(outcome(hive->get_key(0xFFFFFFFF)), "Invalid offset 0xffffffff (hive size: 0x0)");
    EXPECT_EQ(hive->key_cache().size(), 0u);
    EXPECT_EQ(outcome(hive->get_key(t.child)), "name=Child");
    EXPECT_EQ(outcome(hive->get_key(t.bad)), truncated);
    EXPECT_EQ(hive->key_cache().size(), 1u);
}

TEST(KeyCache, PoisonedCacheFailsHitsAndMisses) {
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    ASSERT_TRUE(hive->get_key(t.root).has_value());
    KeyCacheTestAccess::poison(cache_of(*hive));
    EXPECT_TRUE(hive->key_cache().poisoned());
    for (const std::uint32_t offset : {t.root, t.child, t.bad, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        const auto key = hive->get_key(offset);
        ASSERT_FALSE(key.has_value());
        EXPECT_EQ(key.error().registry_error(), nullptr);
        EXPECT_EQ(outcome(key), std::string("internal: ") + kPoisoned);
    }
}

KeyNode called(std::string name) {
    KeyNode node;
    node.name = std::move(name);
    return node;
}

// Offers a node to the cache as get_key does; what is not kept is dropped.
error::Expected<const KeyNode*, error::InternalFailure> offer(KeyCache& cache, std::uint32_t offset, KeyNode node) {
    auto owned = std::make_unique<const KeyNode>(std::move(node));
    return cache.insert(offset, owned);
}

TEST(KeyCache, PoisonedFindAndInsertReportTheFixedText) {
    KeyCache cache;
    ASSERT_TRUE(offer(cache, 1, called("one")).has_value());
    KeyCacheTestAccess::poison(cache);
    const auto found = cache.find(1);
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().text, kPoisoned);
    const auto inserted = offer(cache, 2, called("two"));
    ASSERT_FALSE(inserted.has_value());
    EXPECT_EQ(inserted.error().text, kPoisoned);
    EXPECT_EQ(cache.size(), 1u);
}

TEST(KeyCache, OutOfMemoryWhileInsertingOnlyLeavesTheNodeOut) {
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    ASSERT_TRUE(hive->get_key(t.root).has_value());
    const std::uint64_t bytes = hive->key_cache().bytes();
    KeyCacheTestAccess::starve(cache_of(*hive));
    EXPECT_EQ(outcome(hive->get_key(t.child)), "name=Child");
    EXPECT_FALSE(hive->key_cache().poisoned());
    EXPECT_EQ(hive->key_cache().size(), 1u);
    EXPECT_EQ(hive->key_cache().bytes(), bytes);
    EXPECT_EQ(outcome(hive->get_key(t.root)), "name=Root");
}

KeyNode named(std::size_t length) {
    KeyNode node;
    node.name.assign(length, 'n');
    return node;
}

TEST(KeyCache, NodesPastTheBudgetAreNotKept) {
    const std::uint64_t one = KeyCache::cost_of(named(100));
    KeyCache cache(3 * one);
    for (std::uint32_t offset = 0; offset < 5; ++offset) ASSERT_TRUE(offer(cache, offset * 8, named(100)).has_value());
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(cache.bytes(), 3 * one);
    EXPECT_NE(*cache.find(16), nullptr);
    EXPECT_EQ(*cache.find(24), nullptr);
    // Offering a kept cell again counts it once; a smaller node still fits nowhere.
    ASSERT_TRUE(offer(cache, 0, named(100)).has_value());
    EXPECT_EQ(cache.bytes(), 3 * one);
    ASSERT_TRUE(offer(cache, 40, named(0)).has_value());
    EXPECT_EQ(cache.size(), 3u);
}

TEST(KeyCache, BudgetGrowsWithTheImage) {
    EXPECT_EQ(KeyCache::budget_for(0), std::uint64_t{1} << 20);
    EXPECT_EQ(KeyCache::budget_for(1000), (std::uint64_t{1} << 20) + 4000);
    // The smallest cell that holds a node (80 bytes) costs less than twice itself.
    EXPECT_LT(KeyCache::cost_of(named(0)), 160u);
}

TEST(KeyCache, ASecondInsertionKeepsTheFirstNode) {
    KeyCache cache;
    const auto first = offer(cache, 7, called("same"));
    ASSERT_TRUE(first.has_value());
    // A racing decode of the same cell hands in an equal node; the one already
    // cached stays, so pointers handed out earlier remain valid.
    const auto second = offer(cache, 7, called("same"));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, *first);
    EXPECT_EQ(cache.size(), 1u);
    const auto found = cache.find(7);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, *first);
    EXPECT_EQ((*found)->name, "same");
    EXPECT_EQ(*cache.find(8), nullptr);
}

TEST(KeyCache, HitsShareTheCachedNode) {
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    const auto first = hive->get_key(t.root);
    const auto second = hive->get_key(t.root);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_EQ(&first->node(), &second->node());
    // A copy of a key refers to the same node, cached or owned.
    const key::RegistryKey copy = *first;
    EXPECT_EQ(&copy.node(), &first->node());
    const key::RegistryKey owned(first->node(), t.root, *hive);
    const key::RegistryKey owned_copy = owned;
    EXPECT_NE(&owned.node(), &first->node());
    EXPECT_EQ(&owned_copy.node(), &owned.node());
    EXPECT_EQ(owned.node(), first->node());
}

TEST(KeyCache, CellsSpreadOverAllShards) {
    // Runs of neighbouring cells and regular strides (same-sized cells laid
    // out one after another) must not pile up in a few shards.
    for (const std::uint32_t stride : {8u, 16u, 80u, 96u, 4096u}) {
        SCOPED_TRACE(stride);
        std::vector<int> counts(KeyCache::shard_count);
        constexpr std::uint32_t cells = 64 * 256;
        for (std::uint32_t i = 0; i < cells; ++i) ++counts[KeyCacheTestAccess::shard_index(0x20 + i * stride)];
        const auto [least, most] = std::minmax_element(counts.begin(), counts.end());
        EXPECT_GT(*least, 256 / 2);
        EXPECT_LT(*most, 256 * 2);
    }
}

// Runs `work(thread)` on `count` threads released together.
template <class Work>
void on_threads(int count, Work work) {
    std::latch start(count);
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            work(t);
        });
    }
    for (auto& thread : threads) thread.join();
}

class KeyCacheThreads : public ::testing::TestWithParam<int> {};

TEST_P(KeyCacheThreads, RacingOffersOfOneCellKeepOneNode) {
    const int count = GetParam();
    KeyCache cache;
    std::vector<std::unique_ptr<const KeyNode>> offered(count);
    for (auto& node : offered) node = std::make_unique<const KeyNode>(called("same"));
    std::vector<const KeyNode*> stored(count);
    on_threads(count, [&](int t) { stored[t] = *cache.insert(0x20, offered[t]); });
    // Every thread gets the one node kept, which is the node of the one thread
    // whose offer was taken; the others keep theirs.
    ASSERT_NE(stored[0], nullptr);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), stored[0]), count);
    EXPECT_EQ(std::count(offered.begin(), offered.end(), nullptr), 1);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.bytes(), KeyCache::cost_of(called("same")));
    EXPECT_EQ(*cache.find(0x20), stored[0]);
}

TEST_P(KeyCacheThreads, RacingMissesOnOneKeyShareOneNode) {
    const int count = GetParam();
    const TwoKeys t = two_keys();
    const auto hive = *testing::load(t.image);
    std::vector<const KeyNode*> seen(count);
    on_threads(count, [&](int i) {
        const auto key = hive->get_key(t.child);
        seen[i] = key ? &key->node() : nullptr;
    });
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), seen[0]), count);
    EXPECT_EQ(seen[0]->name, "Child");
    EXPECT_EQ(hive->key_cache().size(), 1u);
    EXPECT_EQ(hive->key_cache().bytes(), KeyCache::cost_of(*seen[0]));
}

INSTANTIATE_TEST_SUITE_P(Threads, KeyCacheThreads, ::testing::Values(2, 4, 8));

struct BudgetCase {
    std::uint32_t budget_nodes;  // what the budget holds, in nodes of one size
    std::uint32_t offers;        // distinct cells offered, split over 4 threads
};

class KeyCacheBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(KeyCacheBudget, OneBudgetForAllShards) {
    const BudgetCase c = GetParam();
    const std::uint64_t one = KeyCache::cost_of(named(20));
    KeyCache cache(c.budget_nodes * one);
    constexpr int kThreads = 4;
    std::vector<int> refused(kThreads);
    on_threads(kThreads, [&](int t) {
        for (std::uint32_t i = static_cast<std::uint32_t>(t); i < c.offers; i += kThreads) {
            if (*offer(cache, 0x20 + 8 * i, named(20)) == nullptr) ++refused[t];
        }
    });
    // Nodes of one size offered for distinct cells: exactly as many as the
    // budget holds are kept, wherever their shards, however the threads race.
    const std::uint32_t kept = std::min(c.budget_nodes, c.offers);
    EXPECT_EQ(cache.size(), kept);
    EXPECT_EQ(cache.bytes(), kept * one);
    EXPECT_EQ(std::accumulate(refused.begin(), refused.end(), 0u), c.offers - kept);
    std::vector<bool> used(KeyCache::shard_count);
    std::uint32_t found = 0;
    for (std::uint32_t i = 0; i < c.offers; ++i) {
        if (*cache.find(0x20 + 8 * i) == nullptr) continue;
        ++found;
        used[KeyCacheTestAccess::shard_index(0x20 + 8 * i)] = true;
    }
    EXPECT_EQ(found, kept);
    if (kept >= 4 * KeyCache::shard_count) {
        EXPECT_EQ(static_cast<std::size_t>(std::count(used.begin(), used.end(), true)), KeyCache::shard_count);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeyCacheBudget,
                         ::testing::Values(BudgetCase{0, 100}, BudgetCase{1, 100}, BudgetCase{63, 1000},
                                           BudgetCase{300, 1000}, BudgetCase{999, 1000}, BudgetCase{1000, 1000},
                                           BudgetCase{5000, 1000}));

struct FailedDecode {
    const char* name;
    std::function<std::uint32_t(ImageBuilder&)> add;  // adds the cell, returns the offset to read
    const char* message;
};

class KeyCacheFailures : public ::testing::TestWithParam<FailedDecode> {};

TEST_P(KeyCacheFailures, RacingFailedDecodesAreNeverCached) {
    ImageBuilder b;
    const std::uint32_t good = testing::add_key(b, "Good");
    const std::uint32_t offset = GetParam().add(b);
    const auto hive = *testing::load(b.build());
    constexpr int kThreads = 4;
    std::vector<std::vector<std::string>> seen(kThreads);
    on_threads(kThreads, [&](int t) {
        for (int round = 0; round < 20; ++round) seen[t].push_back(outcome(hive->get_key(offset)));
    });
    for (const auto& outcomes : seen) EXPECT_EQ(outcomes, std::vector<std::string>(20, GetParam().message));
    EXPECT_EQ(hive->key_cache().size(), 0u);
    EXPECT_EQ(hive->key_cache().bytes(), 0u);
    // The cache still works, and the failure is still not cached.
    EXPECT_EQ(outcome(hive->get_key(good)), "name=Good");
    EXPECT_EQ(outcome(hive->get_key(offset)), GetParam().message);
    EXPECT_EQ(hive->key_cache().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, KeyCacheFailures,
    ::testing::Values(
        FailedDecode{"short", [](ImageBuilder& b) { return b.add_cell(testing::Vk().payload()); },
                     "Truncated data at offset 0x78: expected 76 bytes, got 28 bytes"},
        FailedDecode{"signature",
                     [](ImageBuilder& b) {
                         testing::Nk nk;
                         nk.signature = ascii("vk");
                         return b.add_cell(nk.payload());
                     },
                     "Invalid format: Expected 'nk' signature at offset 0x78"},
        FailedDecode{"utf16_name",
                     [](ImageBuilder& b) {
                         testing::Nk nk;
                         nk.flags = 0;
                         nk.name = ByteVector{0x00, 0xD8};  // a lone surrogate
                         return b.add_cell(nk.payload());
                     },
                     "Invalid UTF-16 string at offset 0x78"},
        FailedDecode{"past_the_image", [](ImageBuilder&) { return 0xFFFFFFF0u; },
                     "Invalid offset 0xfffffff0 (hive size: 0x0)"}),
    [](const ::testing::TestParamInfo<FailedDecode>& param) { return std::string(param.param.name); });

TEST(KeyCache, ManyThreadsOnOneHiveSeeEqualKeys) {
    constexpr int kKeys = 300;
    constexpr int kThreads = 8;
    ImageBuilder b;
    b.add_cell(testing::Nk().payload());  // the root, at 0x20
    std::vector<std::uint32_t> offsets;
    std::vector<std::string> names;
    for (int i = 0; i < kKeys; ++i) {
        names.push_back("key" + std::to_string(i));
        offsets.push_back(testing::add_key(b, names.back(), 0, testing::kNoCell, 0, testing::kNoCell));
    }
    offsets.push_back(0xFFFFFFFF);  // a failure mixed in
    const auto hive = *testing::load(b.build());

    std::latch start(kThreads);
    std::vector<std::vector<std::string>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int round = 0; round < 3; ++round) {
                // Half the threads walk backwards, so misses on one offset race.
                for (std::size_t i = 0; i < offsets.size(); ++i) {
                    const std::size_t j = t % 2 == 0 ? i : offsets.size() - 1 - i;
                    const auto key = hive->get_key(offsets[j]);
                    if (round == 2) seen[t].push_back(std::to_string(j) + ":" + outcome(key));
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::vector<std::string> forward, backward;
    for (std::size_t j = 0; j < offsets.size(); ++j) {
        forward.push_back(std::to_string(j) + ":" +
                          (j < names.size() ? "name=" + names[j] : "Invalid offset 0xffffffff (hive size: 0x0)"));
    }
    backward.assign(forward.rbegin(), forward.rend());
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[t], t % 2 == 0 ? forward : backward) << "thread " << t;
    EXPECT_EQ(hive->key_cache().size(), static_cast<std::size_t>(kKeys));
    EXPECT_FALSE(hive->key_cache().poisoned());
}

}  // namespace
}  // namespace orvane::key
