// Reading damaged hives the tolerant way: the problem log, the load that
// notes instead of refusing, the bin walk that ends at the first bad bin, and
// the reads that skip and note where a strict hive fails.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "error/problem_log.hpp"
#include "image_builder.hpp"
#include "record_builders.hpp"
#include "key/registry_key.hpp"

namespace orvane::testing {
namespace {

using Lines = std::vector<std::string>;

ByteVector vk(std::string_view name, std::uint32_t data_size = 0, std::uint32_t data_offset = kNoCell) {
    Vk record;
    record.name = ascii(name);
    record.data_size = data_size;
    record.data_offset = data_offset;
    return record.payload();
}

TEST(ProblemLog, KeepsFirstOrderAndDropsRepeats) {
    error::ProblemLog log;
    log.note("b");
    log.note("a");
    log.note("b");
    log.note("Skipped value at offset 0x20", RegistryError(error::InvalidCellSize{0, 0x20}));
    log.note("Skipped value at offset 0x20", RegistryError(error::InvalidCellSize{0, 0x20}));
    EXPECT_EQ(log.lines(), (Lines{"b", "a", "Skipped value at offset 0x20: Invalid cell size 0 at offset 0x20"}));
}

TEST(ProblemLog, ListsTheFirstTenThousandThenCountsTheRest) {
    error::ProblemLog log;
    for (int round = 0; round < 2; ++round) {  // the second round repeats every line
        for (std::size_t i = 0; i < error::ProblemLog::listed_limit + 3; ++i) log.note("problem " + std::to_string(i));
    }
    const Lines lines = log.lines();
    ASSERT_EQ(lines.size(), error::ProblemLog::listed_limit + 1);
    EXPECT_EQ(lines.front(), "problem 0");
    EXPECT_EQ(lines[error::ProblemLog::listed_limit - 1], "problem 9999");
    EXPECT_EQ(lines.back(), "3 more problems not listed");
}

TEST(ProblemLog, ThreadsNotingAtOnceLoseAndRepeatNothing) {
    error::ProblemLog log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log] {
            for (int i = 0; i < 500; ++i) log.note("problem " + std::to_string(i));
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(log.lines().size(), 500u);
}

// Three 4096-byte bins: the root and key A in the first, B in the second, C
// in the third; the root lists A, B and C and has two values.
struct ThreeBins {
    ImageBuilder image;
    std::uint32_t a, b, c, root, values;

    ThreeBins() {
        image.add_hbin();
        a = add_key(image, "A");
        const std::uint32_t list = image.add_cell(lf({0x20, 0x1020, 0x2020}));
        const std::uint32_t v1 = image.add_cell(vk("one"));
        const std::uint32_t v2 = image.add_cell(vk("two"));
        values = image.add_cell(u32_array({v1, v2}));
        root = add_key(image, "ROOT", 3, list, 2, values);
        image.root(root);
        image.add_hbin();
        b = add_key(image, "B");
        image.add_hbin();
        c = add_key(image, "C");
        EXPECT_EQ(a, 0x20u);
        EXPECT_EQ(b, 0x1020u);
        EXPECT_EQ(c, 0x2020u);
    }
    // The image cut to `size` bytes of hive bins data.
    ByteVector cut(std::size_t size) const {
        ByteVector out = image.build();
        out.resize(ImageBuilder::base + size);
        return out;
    }
};

std::shared_ptr<const hive::Hive> tolerant(const ByteVector& image, std::uint64_t missing_bins_end = 0) {
    auto hive = hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(utils::ImageBytes(image.begin(), image.end())),
                                               missing_bins_end);
    EXPECT_TRUE(hive.has_value()) << hive.error().message();
    return hive ? *hive : nullptr;
}

// The outcome of reading one key: its name, or the error.
std::string key_at(const hive::Hive& hive, std::uint32_t offset) {
    auto key = hive.get_key(offset);
    if (key) return key->node().name;
    return key.error().registry_error()->message();
}

struct LoadCase {
    const char* name;
    std::function<ByteVector()> image;
    std::string strict;          // the strict load's error, or "" when it loads
    Lines problems;              // noted by the tolerant load
    std::vector<std::string> c;  // reading B and C from the tolerant hive
};

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class TolerantLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(TolerantLoad, NotesWhatStrictRefusesAndReadsPastBadBins) {
    const ByteVector image = GetParam().image();
    const auto strict = load(image);
    EXPECT_EQ(strict ? "" : strict.error().message(), GetParam().strict);

    const auto hive = tolerant(image);
    ASSERT_TRUE(hive);
    EXPECT_EQ(hive->problems(), GetParam().problems);
    EXPECT_EQ(key_at(*hive, 0x20), "A");
    EXPECT_EQ((std::vector<std::string>{key_at(*hive, 0x1020), key_at(*hive, 0x2020)}), GetParam().c);
    // Walking the bins again notes nothing new, and never fails.
    EXPECT_TRUE(hive->hbins().has_value());
    EXPECT_EQ(hive->problems(), GetParam().problems);
}

ByteVector three_bins() { return ThreeBins().image.build(); }

INSTANTIATE_TEST_SUITE_P(
    Cases, TolerantLoad,
    ::testing::Values(
        LoadCase{"sound", three_bins, "", {}, {"B", "C"}},
        LoadCase{"minor_version_7",
                 [] { ThreeBins three; three.image.version(1, 7); return three.image.build(); },
                 "Unsupported hive version: 1.7", {"Unsupported hive version: 1.7"}, {"B", "C"}},
        LoadCase{"minor_version_0",
                 [] { ThreeBins three; three.image.version(1, 0); return three.image.build(); },
                 "Unsupported hive version: 1.0", {"Unsupported hive version: 1.0"}, {"B", "C"}},
        LoadCase{"truncated_between_bins", [] { return ThreeBins().cut(0x2000); }, "",
                 {"Hive bins data size 0x3000 runs past the end of the file (0x2000 bytes present)"},
                 {"B", "Invalid offset 0x2020 (hive size: 0x3000)"}},
        LoadCase{"truncated_inside_a_bin", [] { return ThreeBins().cut(0x2040); }, "",
                 {"Hive bins data size 0x3000 runs past the end of the file (0x2040 bytes present)",
                  "Hive bins cut short at offset 0x2000: Truncated data at offset 0x2000: expected 4096 bytes, got 64 bytes"},
                 {"B", "Truncated data at offset 0x2020: expected 88 bytes, got 32 bytes"}},
        LoadCase{"truncated_inside_a_bin_after_its_cells", [] { return ThreeBins().cut(0x2080); }, "",
                 {"Hive bins data size 0x3000 runs past the end of the file (0x2080 bytes present)",
                  "Hive bins cut short at offset 0x2000: Truncated data at offset 0x2000: expected 4096 bytes, got 128 bytes"},
                 {"B", "C"}},
        LoadCase{"truncated_inside_a_bin_header", [] { return ThreeBins().cut(0x2010); }, "",
                 {"Hive bins data size 0x3000 runs past the end of the file (0x2010 bytes present)",
                  "Hive bins end at offset 0x2000: Truncated data at offset 0x2000: expected 32 bytes, got 16 bytes"},
                 {"B", "Invalid offset 0x2020 (hive size: 0x3000)"}},
        LoadCase{"bad_signature_in_the_middle",
                 [] { ThreeBins three; three.image.bytes_at(ImageBuilder::base + 0x1000, ascii("xxxx")); return three.image.build(); },
                 "", {"Skipped hive bins from offset 0x1000 to 0x2000: Invalid signature: expected \"hbin\", found \"xxxx\""},
                 {"Invalid offset 0x1020 (hive size: 0x4000)", "C"}},
        LoadCase{"offset_mismatch_in_the_middle",
                 [] { ThreeBins three; three.image.u32_at(ImageBuilder::base + 0x1004, 0); return three.image.build(); },
                 "", {"Skipped hive bins from offset 0x1000 to 0x2000: Invalid format: Hbin offset mismatch: expected 0x1000, found 0x0"},
                 {"Invalid offset 0x1020 (hive size: 0x4000)", "C"}},
        LoadCase{"size_0_in_the_middle",
                 [] { ThreeBins three; three.image.u32_at(ImageBuilder::base + 0x1008, 0); return three.image.build(); },
                 "", {"Skipped hive bins from offset 0x1000 to 0x2000: Invalid format: Hbin size 0 at offset 0x1000"},
                 {"Invalid offset 0x1020 (hive size: 0x4000)", "C"}},
        LoadCase{"bad_last_bin_in_the_slack_is_quiet",
                 [] { ThreeBins three; three.image.u32_at(40, 0x2000); three.image.bytes_at(ImageBuilder::base + 0x2000, ascii("xxxx")); return three.image.build(); },
                 "", {}, {"B", "Invalid offset 0x2020 (hive size: 0x3000)"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(TolerantLoad, ReadsEachKeyAroundManySkippedBins) {
    // One key per bin, and a bad header on the bins the pattern picks: every
    // key in a sound bin reads, every key in a skipped one is out of reach,
    // wherever the runs of bad bins start and end. The bins below `missing`
    // stand in for missing ones (a carved fragment's): no key there reads,
    // sound or not, and the bad bins around that end still skip as alone.
    struct Case {
        const char* bad;
        std::uint64_t missing;
    };
    for (const Case& c : {Case{"0101010101010101010101010101010101010101", 0},
                          Case{"0110011100011110000111110000011111100000", 0},
                          Case{"1000000000000000000000000000000000000001", 0}, Case{"00000000", 0x1000},
                          Case{"00000000", 0x4000}, Case{"00110100", 0x3000}, Case{"00011000", 0x3000},
                          Case{"01100110", 0x5000}, Case{"00000010", 0x7000}}) {
        SCOPED_TRACE(std::string(c.bad) + " below " + std::to_string(c.missing));
        const std::size_t bins = std::string_view(c.bad).size();
        ImageBuilder image;
        std::vector<std::uint32_t> keys;
        for (std::size_t i = 0; i < bins; ++i) {
            image.add_hbin();
            keys.push_back(add_key(image, "K" + std::to_string(i)));
        }
        image.root(keys.front());
        for (std::size_t i = 1; i < bins; ++i) {
            if (c.bad[i] == '1') image.bytes_at(ImageBuilder::base + 0x1000 * i, ascii("xxxx"));
        }
        const auto hive = tolerant(image.build(), c.missing);
        ASSERT_TRUE(hive);
        for (std::size_t i = 0; i < bins; ++i) {
            SCOPED_TRACE(i);
            const std::string read = key_at(*hive, keys[i]);
            const bool bad = i > 0 && c.bad[i] == '1';  // the first bin is always sound
            if (0x1000 * i < c.missing || (bad && i + 1 < bins)) {
                EXPECT_EQ(read.rfind("Invalid offset", 0), 0u) << read;
            } else if (!bad) {
                EXPECT_EQ(read, "K" + std::to_string(i));
            }
        }
    }
}

TEST(TolerantLoad, StillRefusesWhatIsNoHive) {
    struct Case {
        ByteVector image;
        std::string error;
    };
    ImageBuilder major2;
    major2.version(2, 0);
    ImageBuilder not_regf;
    not_regf.bytes_at(0, ascii("rexf"));
    for (const Case& c : {Case{ByteVector(4095, 0), "Hive too small: 4095 bytes (minimum: 4096 bytes)"},
                          Case{not_regf.build(), "Invalid signature: expected \"regf\", found \"rexf\""},
                          Case{major2.build(), "Unsupported hive version: 2.0"}}) {
        SCOPED_TRACE(c.error);
        const auto hive = hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(utils::ImageBytes(c.image.begin(), c.image.end())));
        ASSERT_FALSE(hive.has_value());
        EXPECT_EQ(hive.error().message(), c.error);
    }
}

TEST(TolerantLoad, StrictHiveNotesNothing) {
    ByteVector image = ThreeBins().cut(0x2000);
    const auto hive = load(image);
    ASSERT_TRUE(hive.has_value());
    EXPECT_EQ((*hive)->problem_log(), nullptr);
    EXPECT_FALSE((*hive)->get_key(0x2020).has_value());
    EXPECT_EQ((*hive)->problems(), Lines{});
}

// Reads on a tolerant hive next to the same reads on a strict one.
struct Both {
    std::shared_ptr<const hive::Hive> strict, tolerant;
    explicit Both(const ByteVector& image) : strict(*load(image)), tolerant(testing::tolerant(image)) {}
};

std::vector<std::string> names(const std::vector<value::RegistryValue>& values) {
    std::vector<std::string> out;
    for (const auto& value : values) out.push_back(value.name);
    return out;
}

TEST(TolerantReads, ValueListCutShortGivesTheEntriesItHolds) {
    ImageBuilder image;
    image.add_hbin();
    const std::uint32_t v1 = image.add_cell(vk("one"));
    const std::uint32_t list = image.add_cell(u32_array({v1}));  // 4 bytes of entries in an 8-byte cell
    image.root(add_key(image, "ROOT", 0, kNoCell, 3, list));
    const Both hives(image.build());
    const auto root = hives.tolerant->get_key(hives.tolerant->base_block().root_cell_offset);
    EXPECT_EQ(names(*root->values()), std::vector<std::string>{"one"});
    EXPECT_EQ(hives.tolerant->problems(), Lines{"Value list at offset " + error::hex(list) +
                                                " cut short: Truncated data at offset " + error::hex(list) +
                                                ": expected 12 bytes, got 4 bytes"});
}

TEST(TolerantReads, SubkeyListsSkipTheListsThatCannotBeRead) {
    ImageBuilder image;
    image.add_hbin();
    const std::uint32_t a = add_key(image, "A");
    const std::uint32_t b = add_key(image, "B");
    const std::uint32_t good = image.add_cell(li({a}));
    const std::uint32_t unknown = image.add_cell(subkey_list("zz", {}));
    const std::uint32_t cut = image.add_cell(subkey_list("lh", {b}, 3));  // three entries announced, one present
    const std::uint32_t index = image.add_cell(ri({unknown, good, 0x9000, cut}));
    image.root(add_key(image, "ROOT", 2, index));
    const Both hives(image.build());
    const std::uint32_t root_offset = hives.strict->base_block().root_cell_offset;

    std::vector<std::uint32_t> offsets;
    EXPECT_EQ(hives.strict->get_key(root_offset)->collect_subkey_offsets(index, offsets).error().message(),
              "Invalid subkey list type: [122, 122]");
    offsets.clear();
    EXPECT_TRUE(hives.tolerant->get_key(root_offset)->collect_subkey_offsets(index, offsets).has_value());
    EXPECT_EQ(offsets, (std::vector<std::uint32_t>{a, b}));
    EXPECT_EQ(hives.tolerant->problems(),
              (Lines{"Skipped subkey list at offset " + error::hex(unknown) + ": Invalid subkey list type: [122, 122]",
                     "Skipped subkey list at offset 0x9000: Invalid offset 0x9000 (hive size: 0x2000)",
                     "Subkey list at offset " + error::hex(cut) + " cut short: Truncated data at offset " +
                         error::hex(cut) + ": expected 28 bytes, got 12 bytes"}));
}

TEST(TolerantReads, MalformedUtf16KeyNameIsReplacedAndNotedOnce) {
    ImageBuilder image;
    image.add_hbin();
    Nk nk;
    nk.flags = 0;
    nk.name = ByteVector{'A', 0, 0x00, 0xDC, 'B', 0};
    const std::uint32_t offset = image.add_cell(nk.payload());
    image.root(offset);
    const Both hives(image.build());
    EXPECT_EQ(hives.strict->get_key(offset).error().registry_error()->message(),
              "Invalid UTF-16 string at offset 0x20");
    EXPECT_EQ(hives.tolerant->get_key(offset)->node().name, "A\xEF\xBF\xBD" "B");
    EXPECT_EQ(hives.tolerant->get_key(offset)->node().name, "A\xEF\xBF\xBD" "B");  // from the cache
    EXPECT_EQ(hives.tolerant->problems(),
              Lines{"Invalid UTF-16 string at offset 0x20, read with U+FFFD in place of each bad unit"});
}

}  // namespace
}  // namespace orvane::testing
