// A full walk of every real hive in the corpus: every key through get_key and
// its subkey lists, every value with its raw data and decoded data.

#include <gtest/gtest.h>

#include <thread>

#include "corpus.hpp"
#include "image_builder.hpp"
#include "tree_walk.hpp"

namespace orvane::hive {
namespace {

using testing::WalkCounts;
using testing::walk;

struct CorpusCase {
    const char* file;
    WalkCounts expected;
};

class CorpusWalkTest : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(CorpusWalkTest, ReachesEveryKeyAndValue) {
    const auto image = testing::corpus_file(GetParam().file);
    const auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value()) << hive.error().message();
    const WalkCounts counts = walk(**hive);
    EXPECT_EQ(counts, GetParam().expected);
    // A second walk is served from the key cache and sees the same tree.
    EXPECT_EQ(walk(**hive), counts);
}

TEST_P(CorpusWalkTest, ConcurrentWalksAgree) {
    const auto image = testing::corpus_file(GetParam().file);
    const auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value()) << hive.error().message();
    constexpr int kThreads = 3;
    std::vector<WalkCounts> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { results[t] = walk(**hive); });
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorpusWalkTest,
    ::testing::Values(
        // Both version 1.3 hives keep a value of more than 16344 bytes in one
        // plain cell (ProgramsCache, IconStreams), read whole.
        CorpusCase{"NTUSER.DAT", {1812, 4094, 276160, {}}},
        CorpusCase{"UsrClass.dat", {6205, 12369, 1080296, {}}},
        CorpusCase{"amcache.hve", {2105, 17539, 909574, {}}},
        CorpusCase{"SAM", {65, 70, 9682, {}}},
        CorpusCase{"SECURITY", {100, 109, 5946, {}}},
        CorpusCase{"BCD", {132, 103, 5209, {}}}),
    [](const auto& case_info) {
        std::string name = case_info.param.file;
        return name.substr(0, name.find('.'));
    });

}  // namespace
}  // namespace orvane::hive
