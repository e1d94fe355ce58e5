// Replays the fuzz targets' seeds and every input that once made a target
// crash, hang or blow up (tests/data/regressions/<target>/), through the very
// harness code the fuzzers run. Under ./dev.sh sanitize this catches the old
// faults coming back; the counts pin that the fuzz walk really reaches the
// whole tree, without which fuzzing would stay shallow.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/harness.hpp"

namespace orvane::fuzz {
namespace {

const std::filesystem::path data_dir = ORVANE_TEST_DATA_DIR;
const std::filesystem::path seeds_dir = data_dir / ".." / ".." / "fuzz" / "seeds";
const std::filesystem::path regressions_dir = data_dir / "regressions";

ByteVector read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Input {
    std::string target;
    std::filesystem::path path;
};

void PrintTo(const Input& input, std::ostream* out) { *out << input.target << "/" << input.path.filename().string(); }

std::vector<Input> inputs_in(const std::filesystem::path& root) {
    std::vector<Input> inputs;
    for (const char* target : {"fuzz_hive", "fuzz_transaction_log", "fuzz_strings", "fuzz_recovery", "fuzz_carve", "fuzz_lznt1", "fuzz_tables", "fuzz_find"}) {
        if (!std::filesystem::is_directory(root / target)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(root / target)) {
            if (entry.is_regular_file()) inputs.push_back({target, entry.path()});
        }
    }
    std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
    return inputs;
}

void replay(const Input& input) {
    const ByteVector bytes = read_file(input.path);
    if (input.target == "fuzz_hive") {
        // No value may come out larger than the file it was read from, nor
        // the names of one key's values outgrow it by more than decoding can.
        const auto [strict, tolerant] = walk_both_ways(bytes);
        for (const WalkCounts& counts : {strict, tolerant, walk_tolerant_hive_image(bytes), walk_one_way(bytes)}) {
            EXPECT_LE(counts.largest_raw_data, bytes.size());
            EXPECT_LE(counts.largest_value_names, 3 * bytes.size());
        }
    } else if (input.target == "fuzz_recovery") {
        const RecoveryCounts counts = scan_deleted_image(bytes);
        EXPECT_LE(counts.largest_data, bytes.size());
    } else if (input.target == "fuzz_carve") {
        const CarveCounts counts = carve_image(bytes);
        EXPECT_LE(counts.opened, counts.items);
    } else if (input.target == "fuzz_tables") {
        (void)read_tables_image(bytes);
        (void)read_tables_one_way(bytes);
    } else if (input.target == "fuzz_find") {
        // Context is a few characters either side of a match in one name or value.
        const SearchCounts counts = search_image(bytes);
        EXPECT_LE(counts.largest_context, 2 * 4 * search::context_characters + 3 * bytes.size());
    } else if (input.target == "fuzz_lznt1") {
        (void)decode_lznt1(bytes);
    } else if (input.target == "fuzz_transaction_log") {
        (void)replay_log(bytes);
    } else {
        (void)read_strings(bytes);
    }
}

std::string test_name(const ::testing::TestParamInfo<Input>& param) {
    std::string name = param.param.target + "_" + param.param.path.filename().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class FuzzRegression : public ::testing::TestWithParam<Input> {};
TEST_P(FuzzRegression, ReplaysWithoutFault) { replay(GetParam()); }
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegression);
INSTANTIATE_TEST_SUITE_P(Regressions, FuzzRegression, ::testing::ValuesIn(inputs_in(regressions_dir)), test_name);

class FuzzSeed : public ::testing::TestWithParam<Input> {};
TEST_P(FuzzSeed, ReplaysWithoutFault) { replay(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Seeds, FuzzSeed, ::testing::ValuesIn(inputs_in(seeds_dir)), test_name);

TEST(FuzzSeedsExist, EveryTargetHasSeeds) {
    for (const char* target : {"fuzz_hive", "fuzz_transaction_log", "fuzz_strings", "fuzz_recovery", "fuzz_carve", "fuzz_lznt1", "fuzz_tables", "fuzz_find"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(std::filesystem::is_empty(seeds_dir / target));
    }
}

ByteVector seed(const std::string& target, const std::string& name) { return read_file(seeds_dir / target / name); }

TEST(FuzzWalk, ReachesEveryKeyAndValueOfTheBuiltTrees) {
    struct Case {
        const char* seed;
        std::size_t keys;
        std::size_t values;
        std::size_t largest_raw_data;
    };
    // Counted from fuzz/make_seeds.py: the root with every value type (the
    // largest a 22-character REG_EXPAND_SZ) and four subkeys; a root index over six keys beside an "li" list of two; a value
    // of 20000 bytes in two big-data segments beside one of exactly 16344.
    for (const Case& c : {Case{"lf_every_type", 5, 13, 44}, Case{"ri_li_lists", 11, 8, 4},
                          Case{"big_data", 1, 2, 20000}}) {
        SCOPED_TRACE(c.seed);
        const WalkCounts counts = walk_hive_image(seed("fuzz_hive", c.seed));
        EXPECT_TRUE(counts.loaded);
        EXPECT_GE(counts.hbins, 1u);
        EXPECT_EQ(counts.keys, c.keys);
        EXPECT_EQ(counts.values, c.values);
        EXPECT_EQ(counts.largest_raw_data, c.largest_raw_data);
        EXPECT_EQ(counts.errors, 0u);
        // A sound hive read the tolerant way gives the same walk and notes nothing.
        const WalkCounts tolerant = walk_tolerant_hive_image(seed("fuzz_hive", c.seed));
        EXPECT_EQ(tolerant.keys, c.keys);
        EXPECT_EQ(tolerant.values, c.values);
        EXPECT_EQ(tolerant.errors, 0u);
        EXPECT_EQ(tolerant.problems, 0u);
    }
}

TEST(FuzzWalk, SmallHiveForReplayIsSound) {
    const ByteVector image = small_hive();
    const WalkCounts counts = walk_hive_image(image);
    EXPECT_TRUE(counts.loaded);
    EXPECT_EQ(counts.hbins, 1u);
    EXPECT_EQ(counts.keys, 2u);
    EXPECT_EQ(counts.values, 1u);
    EXPECT_EQ(counts.errors, 0u);
}

TEST(FuzzWalk, WalksEachKeyOnceWhenListsNameItAgain) {
    // The root's "li" list names the root itself and then a child twice: the
    // walk must end, visiting two keys.
    ByteVector image = small_hive();
    const std::size_t list = 4096 + 0xE0;
    image[list + 4] = 'l';
    image[list + 5] = 'i';
    image[list + 6] = 3;
    utils::store_u32(image.data() + list + 8, 0x20);
    utils::store_u32(image.data() + list + 12, 0x80);
    utils::store_u32(image.data() + list + 16, 0x80);
    utils::store_u32(image.data() + list, static_cast<std::uint32_t>(-32));  // the list cell now holds 28 bytes
    const WalkCounts counts = walk_hive_image(image);
    EXPECT_EQ(counts.keys, 2u);
    EXPECT_EQ(counts.errors, 0u);
}

TEST(FuzzRecovery, ReachesEveryAccessorOfTheDeletedTree) {
    // fuzz/make_seeds.py frees a key with three values (one of 17000 bytes in
    // big data) and one subkey below a live key.
    const RecoveryCounts counts = scan_deleted_image(seed("fuzz_recovery", "deleted_tree"));
    EXPECT_TRUE(counts.loaded);
    EXPECT_EQ(counts.keys, 2u);
    EXPECT_EQ(counts.values, 3u);
    EXPECT_EQ(counts.values_of_keys, 3u);
    EXPECT_EQ(counts.subkeys_of_keys, 1u);
    EXPECT_EQ(counts.largest_data, 17000u);
    EXPECT_EQ(counts.largest_path, std::string("Live\\Gone\\Child").size());
    // Gone hangs below a live key and Child below Gone: both lead to the root.
    EXPECT_EQ(counts.parents, 2u);
    EXPECT_EQ(counts.full_paths, 2u);
    EXPECT_EQ(counts.walked_keys, 3u);  // Gone and Child from Gone, Child alone
}

TEST(FuzzLog, ReplaysTheBuiltLogIntoTheSmallHive) {
    const LogCounts counts = replay_log(seed("fuzz_transaction_log", "hvle_three_pages"));
    EXPECT_TRUE(counts.parsed);
    EXPECT_EQ(counts.pages, 3u);
    EXPECT_TRUE(counts.replayed);
    // The pages rename the root and add a zeroed page behind the bin.
    EXPECT_TRUE(counts.replayed_walk.loaded);
    EXPECT_EQ(counts.replayed_walk.keys, 2u);
}

TEST(FuzzLog, WindowsLogsRecoverTheSmallHive) {
    for (const char* name : {"corpus_UsrClass.dat.LOG1", "corpus_UsrClass.dat.LOG2", "windows_old_format"}) {
        SCOPED_TRACE(name);
        const LogCounts counts = replay_log(seed("fuzz_transaction_log", name));
        EXPECT_FALSE(counts.parsed);  // not an "HvLE" file
        // The dirty hive is set up so that the log's data really get applied.
        EXPECT_GT(counts.recovered, 0u);
        EXPECT_TRUE(counts.recovered_walk.loaded);
    }
}

TEST(FuzzLog, KeptRecoveryImageComesBackAsTheHiveAndZeros) {
    // replay_log() replays and recovers into one buffer kept between inputs: once a log
    // has filled it, taking it again must give the hive and then nothing but
    // zeros, up to all the capacity a later recovery may grow into.
    for (const char* name : {"corpus_UsrClass.dat.LOG1", "windows_old_format"}) {
        SCOPED_TRACE(name);
        ASSERT_GT(replay_log(seed("fuzz_transaction_log", name)).recovered, 0u);
        const ByteVector hive = small_hive(7, 6);
        const std::shared_ptr<utils::ImageBytes> image = detail::kept_image(hive);
        ASSERT_GT(image->capacity(), 2 * hive.size());  // the kept buffer, not a fresh one
        ASSERT_EQ(image->size(), hive.size());
        EXPECT_TRUE(std::equal(hive.begin(), hive.end(), image->begin()));
        image->resize(image->capacity());  // writes nothing: shows what was left there
        EXPECT_EQ(std::count(image->begin() + static_cast<std::ptrdiff_t>(hive.size()), image->end(), 0),
                  static_cast<std::ptrdiff_t>(image->size() - hive.size()));
    }
}

TEST(FuzzLog, KeptImageGrownPastWhatIsComparedComesBackZeroed) {
    // A log may grow the kept buffer to hundreds of MiB; the part past what is
    // compared with zeros is handed back to the system, and the buffer is kept.
    const ByteVector hive = small_hive();
    constexpr std::size_t mib = std::size_t{1} << 20;
    for (const std::size_t length : {40 * mib, 16 * mib + 1, 16 * mib + 4097}) {
        SCOPED_TRACE(length);
        const std::uint8_t* buffer = nullptr;
        {
            const std::shared_ptr<utils::ImageBytes> image = detail::kept_image(hive);
            utils::grow_image(*image, length, length);
            for (const std::size_t at : {std::size_t{5} * mib, 16 * mib - 1, 16 * mib, length - 1}) (*image)[at] = 0xA5;
            buffer = image->data();
        }
        const std::shared_ptr<utils::ImageBytes> image = detail::kept_image(hive);
        ASSERT_EQ(image->size(), hive.size());
        EXPECT_TRUE(std::equal(hive.begin(), hive.end(), image->begin()));
        image->resize(length);  // writes nothing: shows what was left there
        EXPECT_EQ(std::count(image->begin() + static_cast<std::ptrdiff_t>(hive.size()), image->end(), 0),
                  static_cast<std::ptrdiff_t>(length - hive.size()));
        EXPECT_EQ(image->data(), buffer);  // kept, not made afresh
    }
}

TEST(FuzzLog, PutsEntryHashesRight) {
    // A real entry keeps its hashes; zeroed ones are restored.
    ByteVector log = seed("fuzz_transaction_log", "corpus_UsrClass.dat.LOG2");
    ASSERT_GE(log.size(), 0x6000u);
    const ByteVector original = log;
    std::fill(log.begin() + 512 + 24, log.begin() + 512 + 40, std::uint8_t{0});
    log[508] ^= 0xFF;
    EXPECT_EQ(with_windows_hashes(original), original);
    EXPECT_EQ(with_windows_hashes(log), original);
}

}  // namespace
}  // namespace orvane::fuzz
