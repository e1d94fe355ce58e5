// Carving hives, fragments and loose records out of images built from the
// corpus hives: placement, truncation, reconstruction, damaged bins, LZNT1
// compression units, memory-style pages and images full of signatures.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "carve/carve.hpp"
#include "carve/lznt1.hpp"
#include "corpus.hpp"
#include "hive/hive.hpp"
#include "key/key_reads.hpp"
#include "key/registry_key.hpp"
#include "lznt1_compressor.hpp"
#include "record_builders.hpp"
#include "recovery/recovery.hpp"
#include "tree_walk.hpp"

namespace orvane::carve {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& byte : out) byte = static_cast<std::uint8_t>(random());
    return out;
}

void append(Bytes& image, const Bytes& more) { image.insert(image.end(), more.begin(), more.end()); }
Bytes slice(const Bytes& bytes, std::size_t at, std::size_t length) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

CarveResult carve_bytes(const Bytes& image, bool memory = false, bool records = false) {
    CarveOptions options;
    options.memory = memory;
    options.records = records;
    return carve(std::make_shared<const hive::HiveData>(hive::HiveData::copy_of(image)), options);
}

Bytes bytes_of(const CarvedItem& item) {
    const utils::ImageBytes bytes = item_bytes(item);
    return Bytes(bytes.begin(), bytes.end());
}

// A corpus hive up to the end of its hive bins data (the files run on past it).
Bytes readable_part(const std::string& name) {
    Bytes hive = testing::corpus_file(name);
    hive.resize(4096 + *utils::ByteView(hive).u32(40));
    return hive;
}
const Bytes& sam() {
    static const Bytes hive = readable_part("SAM");
    return hive;
}
const Bytes& bcd() {
    static const Bytes hive = readable_part("BCD");
    return hive;
}

// The image offsets of a hive's bins (from the start of the hive file).
std::vector<std::size_t> bin_starts(const Bytes& hive) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 4096; at + 12 <= hive.size();) {
        starts.push_back(at);
        const std::uint32_t size = *utils::ByteView(hive).u32(at + 8);
        if (size == 0) break;
        at += size;
    }
    return starts;
}

testing::WalkCounts walk_of(const Bytes& hive_bytes) {
    auto opened = hive::Hive::from_data(hive::HiveData::copy_of(hive_bytes));
    EXPECT_TRUE(opened.has_value());
    return opened ? testing::walk(**opened) : testing::WalkCounts{};
}

testing::WalkCounts walk_item(const CarvedItem& item) {
    auto opened = open_item(item);
    EXPECT_TRUE(opened.has_value());
    return opened ? testing::walk(**opened) : testing::WalkCounts{};
}

struct Placement {
    const char* name;
    std::size_t before;  // noise bytes ahead of the hive
    bool memory;
};

class HivePlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(HivePlacement, FindsTheWholeHiveEqualToTheOriginal) {
    Bytes image = noise(GetParam().before, 1);
    append(image, sam());
    append(image, noise(3000, 2));
    const CarveResult found = carve_bytes(image, GetParam().memory);
    ASSERT_EQ(found.items.size(), 1u);
    const CarvedItem& item = found.items[0];
    EXPECT_EQ(item.kind, Kind::Hive);
    EXPECT_EQ(item.image_offset, GetParam().before);
    EXPECT_FALSE(item.truncated);
    EXPECT_EQ(item.size, sam().size());
    EXPECT_EQ(bytes_of(item), sam());
    EXPECT_EQ(walk_item(item), walk_of(sam()));
}

INSTANTIATE_TEST_SUITE_P(Carve, HivePlacement,
                         ::testing::Values(Placement{"AtZero", 0, false}, Placement{"OddSector", 7 * 512, false},
                                           Placement{"MemoryOddByte", 4099, true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Carve, TwoHivesBackToBack) {
    Bytes image = sam();
    append(image, bcd());
    const CarveResult found = carve_bytes(image);
    ASSERT_EQ(found.items.size(), 2u);
    EXPECT_EQ(bytes_of(found.items[0]), sam());
    EXPECT_EQ(found.items[1].image_offset, sam().size());
    EXPECT_EQ(bytes_of(found.items[1]), bcd());
}

TEST(Carve, TruncatedHiveKeepsItsWholeBins) {
    const auto bins = bin_starts(sam());
    ASSERT_GE(bins.size(), 4u);
    const std::size_t cut = bins[3] + 100;  // the image ends inside the fourth bin
    const Bytes image = slice(sam(), 0, cut);
    const CarveResult found = carve_bytes(image);
    ASSERT_EQ(found.items.size(), 1u);
    EXPECT_TRUE(found.items[0].truncated);
    EXPECT_EQ(found.items[0].size, bins[3]);
    EXPECT_EQ(bytes_of(found.items[0]), slice(sam(), 0, bins[3]));
    auto opened = open_item(found.items[0]);
    ASSERT_TRUE(opened.has_value());
    EXPECT_FALSE((*opened)->problems().empty());
}

struct Split {
    const char* name;
    bool damage_last_cells;  // the cells of the bin before the gap no longer end where the fragment begins
};

class Reconstruction : public ::testing::TestWithParam<Split> {};

TEST_P(Reconstruction, RebuildsAHiveWhoseMiddleLiesElsewhere) {
    const auto bins = bin_starts(sam());
    const std::size_t gap = bins[bins.size() / 2];
    Bytes head = slice(sam(), 0, gap);
    if (GetParam().damage_last_cells) {
        // A size word in the last bin before the gap that overshoots its end.
        const std::size_t last_bin = *std::find_if(bins.rbegin(), bins.rend(), [&](std::size_t b) { return b < gap; });
        head[last_bin + 32] = 0x08;
        head[last_bin + 33] = 0x00;
        head[last_bin + 34] = 0x00;
        head[last_bin + 35] = 0x00;
        head[last_bin + 40] = 0xFF;
        head[last_bin + 41] = 0xFF;
        head[last_bin + 42] = 0x0F;
        head[last_bin + 43] = 0x00;
    }
    Bytes image = head;
    append(image, noise(5 * 512, 4));
    const std::size_t tail_at = image.size();
    append(image, slice(sam(), gap, sam().size() - gap));
    const CarveResult found = carve_bytes(image);
    if (GetParam().damage_last_cells) {
        ASSERT_EQ(found.items.size(), 2u);
        EXPECT_TRUE(found.items[0].truncated);
        EXPECT_EQ(found.items[1].kind, Kind::Fragment);
        EXPECT_EQ(found.items[1].hive_offset, gap - 4096);
        return;
    }
    ASSERT_EQ(found.items.size(), 1u);
    const CarvedItem& item = found.items[0];
    EXPECT_FALSE(item.truncated);
    EXPECT_EQ(item.reconstructed_from(), (std::vector<std::uint64_t>{0, tail_at}));
    EXPECT_EQ(bytes_of(item), sam());
    EXPECT_EQ(walk_item(item), walk_of(sam()));
}

INSTANTIATE_TEST_SUITE_P(Carve, Reconstruction,
                         ::testing::Values(Split{"CellsEndAtTheGap", false}, Split{"CellsOvershoot", true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Carve, FragmentsAloneKeepTheirHiveOffsets) {
    const auto bins = bin_starts(sam());
    const std::size_t middle = bins[bins.size() / 2];
    Bytes image = noise(1024, 5);
    append(image, slice(sam(), 4096, middle - 4096));  // from the first bin on
    append(image, noise(2048, 6));
    const std::size_t second = image.size();
    append(image, slice(sam(), middle, sam().size() - middle));
    const CarveResult found = carve_bytes(image);
    ASSERT_EQ(found.items.size(), 2u);
    EXPECT_EQ(found.items[0].kind, Kind::Fragment);
    EXPECT_EQ(found.items[0].hive_offset, 0u);
    EXPECT_EQ(found.items[0].image_offset, 1024u);
    EXPECT_EQ(found.items[1].hive_offset, middle - 4096);
    EXPECT_EQ(found.items[1].image_offset, second);
    EXPECT_EQ(bytes_of(found.items[1]), slice(sam(), middle, sam().size() - middle));
    // The fragment holding the root opens and walks from it.
    auto opened = open_item(found.items[0]);
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ((*opened)->base_block().root_cell_offset, *utils::ByteView(sam()).u32(36));
    EXPECT_GT(testing::walk(**opened).keys, 1u);
    auto later = open_item(found.items[1]);
    ASSERT_TRUE(later.has_value());
    EXPECT_FALSE((*later)->problems().empty());
}

// A fragment that claims to lie 1 GiB into its hive, whose root refers into the
// bins before it: its value list, or a value's data. The stand-in for those
// bins is 1 GiB of zeros nobody wrote; read as cells it would be a value list
// of 2^28 entries from one page of input, or zeros taken for a value's data.
struct StandInReference {
    const char* name;
    std::uint32_t list;       // the root's value list offset (0: a list in the fragment)
    std::uint32_t data;       // the value's data offset, when the list is the fragment's own
    const char* problem;      // the start of a line the hive notes
};

class FragmentStandIn : public ::testing::TestWithParam<StandInReference> {};

TEST_P(FragmentStandIn, ReferencesIntoTheMissingBinsReadNothing) {
    constexpr std::uint32_t at = 0x40000000;
    const StandInReference& c = GetParam();
    testing::ImageBuilder bins;
    testing::Vk vk;
    vk.data_size = 16000;  // in one cell (more would need a big-data record)
    vk.data_offset = c.data;
    testing::ByteVector entries(4);
    testing::put_u32(entries, 0, at + bins.add_cell(vk.payload()));
    const std::uint32_t own_list = at + bins.add_cell(entries);
    testing::Nk root_node;
    root_node.flags = 0x0024;  // a root, with an ASCII name
    root_node.value_count = c.list != 0 ? 0x10000000u : 1u;
    root_node.value_list_offset = c.list != 0 ? c.list : own_list;
    bins.add_cell(root_node.payload());
    Bytes page = slice(bins.build(), testing::ImageBuilder::base, 4096);
    utils::store_u32(page.data() + 4, at);  // the bin's offset field
    const CarveResult found = carve_bytes(page);
    ASSERT_EQ(found.items.size(), 1u);
    ASSERT_EQ(found.items[0].kind, Kind::Fragment);
    ASSERT_EQ(found.items[0].hive_offset, at);
    auto opened = open_item(found.items[0]);
    ASSERT_TRUE(opened.has_value());
    auto root = (*opened)->get_key((*opened)->base_block().root_cell_offset);
    ASSERT_TRUE(root.has_value());
    auto values = key::values_with_data(*root);
    ASSERT_TRUE(values.has_value());
    if (c.list != 0) {
        EXPECT_TRUE(values->empty());
    } else {
        // The one value, without made-up data: the stand-in's zeros.
        ASSERT_EQ(values->size(), 1u);
        EXPECT_TRUE(values->front().data.empty());
        EXPECT_FALSE(values->front().value.raw_data().has_value());
    }
    const std::vector<std::string> problems = (*opened)->problems();
    EXPECT_TRUE(std::any_of(problems.begin(), problems.end(),
                            [&](const std::string& line) { return line.starts_with(c.problem); }))
        << ::testing::PrintToString(problems);
    for (const std::string& line : problems) EXPECT_FALSE(line.starts_with("Skipped value at")) << line;
    // A cell that starts in the fragment still reads.
    EXPECT_TRUE((*opened)->get_cell(own_list).has_value());
}

INSTANTIATE_TEST_SUITE_P(Carve, FragmentStandIn,
                         ::testing::Values(StandInReference{"ListIsTheStandInCell", 0x20, 0, "Skipped value list at offset 0x20"},
                                           StandInReference{"ListAtTheBinSizeField", 0x8, 0, "Skipped value list at offset 0x8"},
                                           StandInReference{"DataIsTheStandInCell", 0, 0x20, "Carved fragment"},
                                           StandInReference{"DataAtTheBinSizeField", 0, 0x8, "Carved fragment"}),
                         [](const ::testing::TestParamInfo<StandInReference>& param) { return std::string(param.param.name); });

struct BadBin {
    const char* name;
    std::size_t field;    // offset in the bin header
    std::uint32_t value;  // written there
};

class DamagedBin : public ::testing::TestWithParam<BadBin> {};

TEST_P(DamagedBin, EndsTheHiveThereAndTheRestIsAFragment) {
    Bytes image = sam();
    const auto bins = bin_starts(sam());
    const std::size_t bad = bins[2];
    const std::size_t after = bins[3];
    utils::store_u32(image.data() + bad + GetParam().field, GetParam().value);
    const CarveResult found = carve_bytes(image);
    ASSERT_GE(found.items.size(), 2u);
    EXPECT_EQ(found.items[0].kind, Kind::Hive);
    EXPECT_TRUE(found.items[0].truncated);
    EXPECT_EQ(found.items[0].size, bad);
    const CarvedItem& rest = found.items.back();
    EXPECT_EQ(rest.kind, Kind::Fragment);
    EXPECT_EQ(rest.image_offset + rest.size, sam().size());
    EXPECT_LE(rest.image_offset, after);
}

INSTANTIATE_TEST_SUITE_P(Carve, DamagedBin,
                         ::testing::Values(BadBin{"UnalignedOffset", 4, 0x1234}, BadBin{"WrongOffset", 4, 0x7000000},
                                           BadBin{"ZeroSize", 8, 0}, BadBin{"UnalignedSize", 8, 0x1100},
                                           BadBin{"Signature", 0, 0x6e696278}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct Compression {
    const char* name;
    std::size_t cluster;
    std::set<std::size_t> stored_raw;
    std::set<std::size_t> exact = {};  // units whose chunks end exactly on a cluster boundary
};

class CompressedHive : public ::testing::TestWithParam<Compression> {};

TEST_P(CompressedHive, DecodesTheUnitsAndCarvesTheHive) {
    const Bytes stored = testing::ntfs_compressed(sam(), GetParam().cluster, GetParam().stored_raw, GetParam().exact);
    ASSERT_FALSE(stored.empty());
    ASSERT_LT(stored.size(), sam().size());
    const std::size_t at = 3 * GetParam().cluster;
    Bytes image = noise(at, 7);
    append(image, stored);
    append(image, noise(4 * GetParam().cluster, 8));
    const CarveResult found = carve_bytes(image);
    ASSERT_EQ(found.items.size(), 1u);
    const CarvedItem& item = found.items[0];
    EXPECT_EQ(item.kind, Kind::Hive);
    EXPECT_TRUE(item.compressed);
    EXPECT_FALSE(item.truncated);
    EXPECT_EQ(item.image_offset, at);
    EXPECT_EQ(bytes_of(item), sam());
}

INSTANTIATE_TEST_SUITE_P(Carve, CompressedHive,
                         ::testing::Values(Compression{"Cluster512", 512, {}}, Compression{"Cluster1024", 1024, {}},
                                           Compression{"Cluster4096", 4096, {}},
                                           Compression{"Cluster512RawUnits", 512, {2, 3}},
                                           Compression{"Cluster1024RawUnit", 1024, {1}},
                                           Compression{"Cluster4096RawUnit", 4096, {1}},
                                           Compression{"Cluster512FirstUnitExact", 512, {}, {0}},
                                           Compression{"Cluster1024TwoUnitsExact", 1024, {}, {0, 1}},
                                           Compression{"Cluster4096FirstUnitExact", 4096, {}, {0}},
                                           Compression{"Cluster512ExactThenRaw", 512, {1}, {0, 2}}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The bins of SAM as memory holds them: each at an odd byte offset among noise, out of order.
struct MemoryPages {
    Bytes image;
    std::vector<std::pair<std::size_t, std::size_t>> bins;  // (image offset, offset in the hive file)
};

MemoryPages shuffled_pages(bool wipe_first_header) {
    auto starts = bin_starts(sam());
    std::mt19937 random(9);
    std::shuffle(starts.begin(), starts.end(), random);
    MemoryPages pages;
    pages.image = noise(777, 10);
    for (std::size_t index = 0; index < starts.size(); ++index) {
        const std::size_t at = starts[index];
        const std::size_t size = *utils::ByteView(sam()).u32(at + 8);
        Bytes bin = slice(sam(), at, size);
        if (wipe_first_header && index == 0) std::fill_n(bin.begin(), 32, 0x5A);
        else pages.bins.emplace_back(pages.image.size(), at);
        append(pages.image, bin);
        append(pages.image, noise(101 + 13 * index, static_cast<unsigned>(11 + index)));
    }
    return pages;
}

TEST(Carve, MemoryPagesAreEachAFragment) {
    MemoryPages pages = shuffled_pages(false);
    const CarveResult found = carve_bytes(pages.image, true);
    std::sort(pages.bins.begin(), pages.bins.end());
    ASSERT_EQ(found.items.size(), pages.bins.size());
    for (std::size_t i = 0; i < pages.bins.size(); ++i) {
        EXPECT_EQ(found.items[i].kind, Kind::Fragment);
        EXPECT_EQ(found.items[i].image_offset, pages.bins[i].first);
        EXPECT_EQ(found.items[i].hive_offset, pages.bins[i].second - 4096);
    }
    // At sector steps the odd offsets hide them all.
    EXPECT_TRUE(carve_bytes(pages.image, false).items.empty());
}

TEST(Carve, LooseRecordsOfAPageWithoutItsHeader) {
    const MemoryPages pages = shuffled_pages(true);
    const CarveResult found = carve_bytes(pages.image, true, true);
    std::vector<std::string> names;
    std::size_t records = 0;
    for (const CarvedItem& item : found.items) {
        if (item.kind != Kind::Record) continue;
        ++records;
        auto opened = open_item(item);
        ASSERT_TRUE(opened.has_value());
        const recovery::Recovery scan = recovery::Recovery::scan(**opened);
        for (const auto& key : scan.keys()) names.push_back(key.node.name);
    }
    EXPECT_GE(records, 1u);
    EXPECT_FALSE(names.empty());
    // Without records asked for, none come out.
    for (const CarvedItem& item : carve_bytes(pages.image, true, false).items) EXPECT_NE(item.kind, Kind::Record);
}

struct Flood {
    const char* name;
    bool memory;
    bool plausible_bins;  // bins of size 4096, offset 0: every one a candidate
};

class SignatureFlood : public ::testing::TestWithParam<Flood> {};

TEST_P(SignatureFlood, FinishesWithoutCarvingNoise) {
    Bytes image(16u << 20, 0);
    for (std::size_t at = 0; at + 512 <= image.size(); at += 512) {
        const char* signature = (at / 512) % 2 == 0 ? "regf" : "hbin";
        std::copy_n(signature, 4, image.begin() + static_cast<std::ptrdiff_t>(at));
        if (GetParam().plausible_bins) utils::store_u32(image.data() + at + 8, 4096);
    }
    const CarveResult found = carve_bytes(image, GetParam().memory, true);
    if (!GetParam().plausible_bins) {
        EXPECT_TRUE(found.items.empty());
        return;
    }
    // Each carved bin hides the candidates inside it; at most one item a page.
    EXPECT_LE(found.items.size(), image.size() / 4096);
    for (const CarvedItem& item : found.items) EXPECT_EQ(item.kind, Kind::Fragment);
}

INSTANTIATE_TEST_SUITE_P(Carve, SignatureFlood,
                         ::testing::Values(Flood{"Sectors", false, false}, Flood{"Memory", true, false},
                                           Flood{"SectorsPlausibleBins", false, true},
                                           Flood{"MemoryPlausibleBins", true, true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct Lznt1Case {
    const char* name;
    Bytes data;
};

Bytes text_data() {
    Bytes out;
    const std::string line = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID ";
    while (out.size() < 10000) out.insert(out.end(), line.begin(), line.end());
    return out;
}

class Lznt1RoundTrip : public ::testing::TestWithParam<Lznt1Case> {};

TEST_P(Lznt1RoundTrip, DecodesWhatTheCompressorWrote) {
    const Bytes& data = GetParam().data;
    const Bytes packed = testing::lznt1_compress(data.data(), data.size());
    utils::ImageBytes out;
    const lznt1::Decoded decoded = lznt1::decode(utils::ByteView(packed), out, 1u << 20);
    EXPECT_TRUE(decoded.clean);
    EXPECT_EQ(decoded.consumed, packed.size());
    EXPECT_EQ(Bytes(out.begin(), out.end()), data);
    // The limit stops at a chunk boundary.
    utils::ImageBytes first;
    lznt1::decode(utils::ByteView(packed), first, 4096);
    EXPECT_EQ(first.size(), std::min<std::size_t>(4096, data.size()));
}

INSTANTIATE_TEST_SUITE_P(Lznt1, Lznt1RoundTrip,
                         ::testing::Values(Lznt1Case{"Zeros", Bytes(9000, 0)}, Lznt1Case{"Noise", noise(9000, 12)},
                                           Lznt1Case{"Text", text_data()}, Lznt1Case{"Sam", slice(sam(), 0, 65536)},
                                           Lznt1Case{"OneByte", Bytes{0x41}}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct Malformed {
    const char* name;
    Bytes stream;
    std::size_t produced;  // what decodes before the fault
};

class Lznt1Malformed : public ::testing::TestWithParam<Malformed> {};

TEST_P(Lznt1Malformed, StopsBeforeTheBadChunk) {
    utils::ImageBytes out;
    const lznt1::Decoded decoded = lznt1::decode(utils::ByteView(GetParam().stream), out, 1u << 20);
    EXPECT_FALSE(decoded.clean);
    EXPECT_EQ(out.size(), GetParam().produced);
}

INSTANTIATE_TEST_SUITE_P(
    Lznt1, Lznt1Malformed,
    ::testing::Values(
        // A back-reference as the first item reaches before the chunk.
        Malformed{"ReferenceBeforeStart", {0x02, 0xB0, 0x01, 0x00, 0x00}, 0},
        // A chunk whose length runs past the input.
        Malformed{"ShortChunk", {0x10, 0xB0, 0x00, 0x41}, 0},
        // A good one-byte raw chunk, then a header without the signature bits.
        Malformed{"BadSignature", {0x00, 0x30, 0x41, 0x05, 0x80, 0x00}, 1},
        // A reference whose copy runs past 4096 bytes.
        Malformed{"CopyPastChunk", {0x03, 0xB0, 0x02, 0x41, 0xFF, 0x0F}, 0}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace orvane::carve
