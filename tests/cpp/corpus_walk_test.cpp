// A full walk of every real hive in the corpus: every key through get_key and
// its subkey lists, every value with its raw data and decoded data.

#include <gtest/gtest.h>

#include <thread>
#include <unordered_set>

#include "cell/value_data.hpp"
#include "hive/registry_key.hpp"
#include "corpus.hpp"
#include "image_builder.hpp"

namespace orvane::hive {
namespace {

struct WalkCounts {
    std::size_t keys = 0;
    std::size_t values = 0;
    std::size_t data_bytes = 0;
    std::vector<std::string> failures;  // keys, lists or data that could not be read or decoded
    bool operator==(const WalkCounts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const WalkCounts& c) {
    out << "{keys " << c.keys << ", values " << c.values << ", data bytes " << c.data_bytes
               << ", failures [";
    for (const auto& failure : c.failures) out << "\"" << failure << "\" ";
    return out << "]}";
}

// Depth-first from the root; a key offset met twice is walked once.
WalkCounts walk(const Hive& hive) {
    WalkCounts counts;
    std::vector<std::uint32_t> pending{hive.base_block().root_cell_offset};
    std::unordered_set<std::uint32_t> seen;
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        if (!seen.insert(offset).second) continue;
        const auto key = hive.get_key(offset);
        if (!key.has_value()) {
            const auto* e = key.error().registry_error();
            counts.failures.push_back("key " + error::hex(offset) + ": " + (e ? e->message() : "internal"));
            continue;
        }
        ++counts.keys;
        if (key->node().subkey_count != 0) {
            std::vector<std::uint32_t> children;
            const auto collected = key->collect_subkey_offsets(key->node().subkey_list_offset, children);
            if (collected.has_value()) {
                pending.insert(pending.end(), children.rbegin(), children.rend());
            } else {
                counts.failures.push_back("subkeys of " + error::hex(offset) + ": " + collected.error().message());
            }
        }
        const auto values = key->values();
        if (!values.has_value()) {
            counts.failures.push_back("values of " + error::hex(offset) + ": " + values.error().message());
            continue;
        }
        for (const RegistryValue& value : *values) {
            ++counts.values;
            const auto data = value.raw_data();
            const std::string where = key->node().name + "\\" + value.name + ": ";
            if (!data.has_value()) {
                counts.failures.push_back("data of " + where + data.error().message());
                continue;
            }
            EXPECT_LE(data->size(), value.data_size);
            counts.data_bytes += data->size();
            const auto decoded = cell::ValueData::decode(value.value_type, *data);
            if (!decoded.has_value()) counts.failures.push_back("decoding " + where + decoded.error().message());
        }
    }
    return counts;
}

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
