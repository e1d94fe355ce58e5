// Recovery of deleted keys and values: the scan of free cells, cell slack and
// the bytes past the hive bins data, the checks that keep look-alikes out, and
// reading through recovered records.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "corpus.hpp"
#include "key/registry_key.hpp"

#include "recovery/plausible_records.hpp"
#include "recovery/recovery.hpp"
#include "record_builders.hpp"

namespace orvane::recovery {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::kNoCell;
using testing::Nk;
using testing::payload_position;
using testing::put_u32;
using testing::u32_array;
using testing::utf16le;
using testing::Vk;

constexpr std::uint16_t kRootFlags = 0x2c;

std::int32_t free_size(const ByteVector& payload) {
    return static_cast<std::int32_t>((payload.size() + 4 + 7) & ~std::size_t{7});
}

Nk key(std::string_view name, std::uint32_t parent) {
    Nk nk;
    nk.name = ascii(name);
    nk.parent_offset = parent;
    nk.last_written = 133'000'000'000'000'000;
    nk.security_offset = kNoCell;
    return nk;
}

Vk value(std::string_view name, std::uint32_t size, std::uint32_t data_offset, std::uint32_t type = 3) {
    Vk vk;
    vk.name = ascii(name);
    vk.data_size = size;
    vk.data_offset = data_offset;
    vk.data_type = type;
    return vk;
}

// A hive being built for a scan: a live root key "ROOT" at 0x20, and cells
// added live (allocated) or free after it, in file order.
class Scene {
public:
    Scene() {
        Nk nk = key("ROOT", 0);
        nk.flags = kRootFlags;
        root = b.add_cell(nk.payload());
    }

    std::uint32_t live(const ByteVector& payload) { return b.add_cell(payload); }
    std::uint32_t free(const ByteVector& payload) { return b.add_cell(payload, free_size(payload)); }

    // Gives `key` a live "lf" list of `children`.
    void link_subkeys(std::uint32_t parent, const std::vector<std::uint32_t>& children) {
        const std::uint32_t list = live(testing::lf(children));
        put_u32(b.raw(), payload_position(parent, 20), static_cast<std::uint32_t>(children.size()));
        put_u32(b.raw(), payload_position(parent, 28), list);
    }
    void link_values(std::uint32_t owner, const std::vector<std::uint32_t>& values, bool list_free) {
        const ByteVector list = u32_array(values);
        const std::uint32_t at = list_free ? free(list) : live(list);
        put_u32(b.raw(), payload_position(owner, 36), static_cast<std::uint32_t>(values.size()));
        put_u32(b.raw(), payload_position(owner, 40), at);
    }

    const Recovery& scan() {
        auto loaded = testing::load(b.build());
        EXPECT_TRUE(loaded.has_value()) << loaded.error().message();
        hive = *loaded;
        found.emplace(Recovery::scan(*hive));
        return *found;
    }

    ImageBuilder b;
    std::uint32_t root = 0;
    std::shared_ptr<const hive::Hive> hive;
    std::optional<Recovery> found;
};

std::string hex_bytes(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t byte : bytes) out += {digits[byte >> 4], digits[byte & 15]};
    return out;
}

// "name@offset" of each key, with its partial path when it differs from its name.
std::string keys_of(const Recovery& found, const hive::Hive&) {
    std::string out;
    for (const DeletedKey& k : found.keys()) {
        if (!out.empty()) out += "; ";
        out += found.partial_path_of(k) + "@" + error::hex(k.offset);
    }
    return out;
}

// "name=data" of each value ("name=-" when its data is gone).
std::string values_of(const Recovery& found, const std::vector<DeletedValue>& values) {
    std::string out;
    for (const DeletedValue& v : values) {
        if (!out.empty()) out += "; ";
        const auto data = found.data_of(v);
        out += v.value.name + "=" + (data ? "[" + hex_bytes(*data) + "]" : "-");
    }
    return out;
}

TEST(RecoveryTest, DeletedKeyWithItsValuesInFreeCells) {
    Scene s;
    const std::uint32_t data = s.free(utf16le(u"hello"));
    const std::uint32_t text = s.free(value("Text", 10, data, 1).payload());
    const std::uint32_t number = s.free(value("Number", 0x80000004, 0x2a, 4).payload());
    const std::uint32_t gone = s.free(key("Gone", s.root).payload());
    s.link_values(gone, {text, number}, true);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Gone@" + error::hex(gone));
    EXPECT_EQ(values_of(found, found.values()), "Text=[680065006c006c006f00]; Number=[2a000000]");
    ASSERT_EQ(found.keys().size(), 1u);
    EXPECT_EQ(found.keys()[0].place, Place::FreeCell);
    EXPECT_EQ(values_of(found, found.values_of(found.keys()[0])), "Text=[680065006c006c006f00]; Number=[2a000000]");
    EXPECT_EQ(found.values()[0].offset, text);
}

TEST(RecoveryTest, DeletedSubtreeBelowLiveKeysHasPartialPaths) {
    Scene s;
    const std::uint32_t one = s.live(key("1", s.root).payload());
    const std::uint32_t two = s.live(key("2", one).payload());
    s.link_subkeys(s.root, {one});
    s.link_subkeys(one, {two});
    const std::uint32_t three = s.free(key("3", two).payload());
    Nk four_nk = key("4", three);
    const std::uint32_t four = s.free(four_nk.payload());
    // 3 still names 4 in its (free) list; the list also names live key 2, which is not 3's.
    const std::uint32_t list = s.free(testing::lf({four, two}));
    put_u32(s.b.raw(), payload_position(three, 20), 2);
    put_u32(s.b.raw(), payload_position(three, 28), list);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "1\\2\\3@" + error::hex(three) + "; 1\\2\\3\\4@" + error::hex(four));
    std::vector<std::string> names;
    for (const DeletedKey& k : found.subkeys_of(three, found.keys()[0].node)) names.push_back(k.node.name);
    EXPECT_EQ(names, std::vector<std::string>{"4"});
    // Live keys have their partial path too: the path from the root.
    EXPECT_EQ(partial_path(*s.hive, two, *key_node_at(*s.hive, two)), "1\\2");
    EXPECT_EQ(partial_path(*s.hive, s.root, *key_node_at(*s.hive, s.root)), "");
}

TEST(RecoveryTest, DeletedTreeWhoseTopParentIsGone) {
    Scene s;
    // The parent's cell now holds a live value list: no key node any more.
    const std::uint32_t reused = s.live(u32_array({0, 0, 0, 0}));
    const std::uint32_t three = s.free(key("3", reused).payload());
    const std::uint32_t four = s.free(key("4", three).payload());
    // A chain that comes back on itself ends too.
    const std::uint32_t loop_a = s.free(key("A", 0).payload());
    const std::uint32_t loop_b = s.free(key("B", loop_a).payload());
    put_u32(s.b.raw(), payload_position(loop_a, 16), loop_b);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "3@" + error::hex(three) + "; 3\\4@" + error::hex(four) + "; B\\A@" +
                                           error::hex(loop_a) + "; A\\B@" + error::hex(loop_b));
}

TEST(RecoveryTest, DeletedValueOnly) {
    Scene s;
    const std::uint32_t kept = s.live(value("Kept", 0x80000002, 0x0101).payload());
    s.link_values(s.root, {kept}, false);
    const std::uint32_t data = s.free(testing::pattern(12, 0xa0));
    s.free(value("Old", 12, data).payload());
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "");
    EXPECT_EQ(values_of(found, found.values()), "Old=[a0a1a2a3a4a5a6a7a8a9aaab]");
}

TEST(RecoveryTest, RecordsInsideOneMergedFreeCell) {
    Scene s;
    const std::uint32_t first = s.free(value("First", 0x80000001, 7).payload());
    const std::uint32_t inner_key = s.free(key("Inner", s.root).payload());
    s.free(value("Second", 0x80000000, 0).payload());
    const std::uint32_t tail = s.free(ByteVector(40, 0));
    // Merged: the first cell's size word now spans them all; the others keep theirs.
    put_u32(s.b.raw(), ImageBuilder::base + first, tail + 48 - first);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Inner@" + error::hex(inner_key));
    EXPECT_EQ(values_of(found, found.values()), "First=[07]; Second=[]");
    ASSERT_EQ(found.free_space().spans().size(), 2u);  // the merged cell, and the rest of the bin
}

TEST(RecoveryTest, RecordInTheSlackOfALiveCell) {
    Scene s;
    // A live 8-byte data cell 16 bytes into which an old value record survives.
    ByteVector cell = testing::pattern(8);
    cell.resize(16, 0);
    const ByteVector old = value("Slack", 0x80000004, 0x01020304, 4).payload();
    cell.insert(cell.end(), old.begin(), old.end());
    const std::uint32_t data = s.live(cell);
    const std::uint32_t owner = s.live(value("Owner", 8, data).payload());
    s.link_values(s.root, {owner}, false);
    const Recovery& found = s.scan();
    EXPECT_EQ(values_of(found, found.values()), "Slack=[04030201]");
    ASSERT_EQ(found.values().size(), 1u);
    EXPECT_EQ(found.values()[0].offset, data + 16);
    EXPECT_EQ(found.values()[0].place, Place::Slack);
}

TEST(RecoveryTest, RecordPastTheHiveBinsData) {
    Scene s;
    const std::uint32_t recorded = static_cast<std::uint32_t>(s.b.raw().size() - ImageBuilder::base);
    s.b.add_hbin();
    // Still allocated: a hive that shrank leaves its old bins behind as they were.
    const std::uint32_t old = s.live(key("Left", s.root).payload());
    s.b.u32_at(40, recorded);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Left@" + error::hex(old));
    EXPECT_EQ(found.keys()[0].place, Place::Unallocated);
}

TEST(RecoveryTest, ReusedOrShortDataCellsGiveNoData) {
    Scene s;
    const std::uint32_t live_data = s.live(testing::pattern(16));
    const std::uint32_t owner = s.live(value("Owner", 16, live_data).payload());
    s.link_values(s.root, {owner}, false);
    const std::uint32_t short_data = s.free(testing::pattern(8));
    s.free(value("Reused", 16, live_data).payload());
    s.free(value("Short", 24, short_data).payload());
    // Big data whose second segment was reused.
    const std::uint32_t seg1 = s.free(testing::pattern(16344));
    const std::uint32_t seg2 = s.live(testing::pattern(100));
    const std::uint32_t segments = s.free(u32_array({seg1, seg2}));
    const std::uint32_t db = s.free(testing::db(2, segments));
    s.free(value("Big", 16400, db).payload());
    const Recovery& found = s.scan();
    EXPECT_EQ(values_of(found, found.values()), "Reused=-; Short=-; Big=-");
}

TEST(RecoveryTest, BigDataStillFreeIsGathered) {
    Scene s;
    const std::uint32_t seg1 = s.free(testing::pattern(16344, 1));
    const std::uint32_t seg2 = s.free(testing::pattern(56, 2));
    const std::uint32_t segments = s.free(u32_array({seg1, seg2}));
    const std::uint32_t db = s.free(testing::db(2, segments));
    s.free(value("Big", 16400, db).payload());
    const Recovery& found = s.scan();
    ASSERT_EQ(found.values().size(), 1u);
    const auto data = found.data_of(found.values()[0]);
    ASSERT_TRUE(data.has_value());
    ByteVector expected = testing::pattern(16344, 1);
    const ByteVector rest = testing::pattern(56, 2);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(*data, expected);
}

// Hive bins left past the hive bins data, as Windows leaves them when it
// truncates a hive: the bins the base block no longer counts.
std::uint32_t end_hive_bins_data_at(Scene& s, std::uint32_t size) {
    s.b.u32_at(40, size);
    return size;
}

TEST(RemnantBinsTest, AllocatedCellsOfOldBinsComeBackAsDeleted) {
    Scene s;
    s.b.add_hbin();  // 0x1000: the first old bin
    const std::uint32_t data = s.live(utf16le(u"hello"));
    const std::uint32_t text = s.live(value("Text", 10, data, 1).payload());
    const std::uint32_t old = s.live(key("Old", s.root).payload());
    s.link_values(old, {text}, false);
    s.b.add_hbin();  // 0x2000: the second
    const std::uint32_t child = s.live(key("Child", old).payload());
    const std::uint32_t number = s.live(value("Number", 0x80000004, 7, 4).payload());
    s.link_values(child, {number}, false);
    s.link_subkeys(old, {child});
    end_hive_bins_data_at(s, 0x1000);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Old@" + error::hex(old) + "; Old\\Child@" + error::hex(child));
    EXPECT_EQ(values_of(found, found.values()), "Text=[680065006c006c006f00]; Number=[07000000]");
    ASSERT_EQ(found.keys().size(), 2u);
    EXPECT_EQ(found.keys()[0].place, Place::Unallocated);
    EXPECT_EQ(values_of(found, found.values_of(found.keys()[0])), "Text=[680065006c006c006f00]");
    EXPECT_EQ(found.subkeys_of(old, found.keys()[0].node).size(), 1u);
    EXPECT_EQ(*found.path_of(found.keys()[1]), "Old\\Child");
    ASSERT_EQ(found.remnant_bins().bins().size(), 2u);
    EXPECT_EQ(found.remnant_bins().total_size(), 0x2000u);
}

TEST(RemnantBinsTest, RecordsPointIntoTheLiveBinsAndCopiesOfLiveKeysStayLive) {
    Scene s;
    const std::uint32_t live_key = s.live(key("Live", s.root).payload());
    s.link_subkeys(s.root, {live_key});
    s.b.add_hbin();
    const std::uint32_t below = s.live(key("Below", live_key).payload());
    s.live(key("Live", s.root).payload());  // an old copy of the live key
    end_hive_bins_data_at(s, 0x1000);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Live\\Below@" + error::hex(below));
    ASSERT_EQ(found.keys().size(), 1u);
    EXPECT_EQ(*found.path_of(found.keys()[0]), "Live\\Below");
}

TEST(RemnantBinsTest, CutAndGarbledRemnantsAreReadAsFarAsTheyGo) {
    Scene s;
    s.b.add_hbin();  // 0x1000: its header is overwritten with garbage below
    s.b.add_hbin();  // 0x2000: a good old bin
    const std::uint32_t kept = s.live(key("Kept", s.root).payload());
    s.b.add_hbin();  // 0x3000: cut in the middle by the end of the file
    const std::uint32_t cut = s.live(key("Cut", s.root).payload());
    end_hive_bins_data_at(s, 0x1000);
    testing::put_bytes(s.b.raw(), ImageBuilder::base + 0x1000, ascii("garbage!"));
    s.b.raw().resize(ImageBuilder::base + 0x3800);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Kept@" + error::hex(kept) + "; Cut@" + error::hex(cut));
    ASSERT_EQ(found.remnant_bins().bins().size(), 1u);
    EXPECT_EQ(found.remnant_bins().bins()[0].position, 0x2000u);
}

// Bins carried from a hive laid out differently: their offset fields, not
// their places in the file, say where their records' offsets lead.
TEST(RemnantBinsTest, BinsFromAnotherLayoutResolveThroughTheirOffsetFields) {
    Scene s;
    constexpr std::uint32_t first = 0x1000, field = 0x40000;
    const auto moved = [&](std::uint32_t position) { return position - first + field; };
    s.b.add_hbin();
    const std::uint32_t data = s.live(utf16le(u"far"));
    const std::uint32_t text = s.live(value("Text", 6, moved(data), 1).payload());
    const std::uint32_t list = s.live(u32_array({moved(text)}));
    Nk top_nk = key("Moved", 0x90000);  // a parent no bin covers: the top of a tree
    top_nk.value_count = 1;
    top_nk.value_list_offset = moved(list);
    top_nk.class_name_offset = 0x20;  // in the other layout, not the live root's cell
    top_nk.class_name_length = 8;
    const std::uint32_t top = s.live(top_nk.payload());
    s.b.add_hbin();
    const std::uint32_t inner = s.live(key("Inner", moved(top)).payload());
    const std::uint32_t subkeys = s.live(testing::lf({moved(inner)}));
    put_u32(s.b.raw(), payload_position(top, 20), 1);
    put_u32(s.b.raw(), payload_position(top, 28), moved(subkeys));
    // Data only the live layout has: gone, never the live bytes at that offset.
    s.live(value("Stray", 8, 0x20, 3).payload());
    put_u32(s.b.raw(), ImageBuilder::base + first + 4, field);
    put_u32(s.b.raw(), ImageBuilder::base + first + 0x1000 + 4, field + 0x1000);
    end_hive_bins_data_at(s, first);
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "Moved@" + error::hex(top) + "; Moved\\Inner@" + error::hex(inner));
    EXPECT_EQ(values_of(found, found.values()), "Text=[660061007200]; Stray=-");
    ASSERT_EQ(found.keys().size(), 2u);
    EXPECT_EQ(values_of(found, found.values_of(found.keys()[0])), "Text=[660061007200]");
    const auto subs = found.subkeys_of(top, found.keys()[0].node);
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0].offset, inner);
    EXPECT_EQ(*found.class_name_of(found.keys()[0]), std::nullopt);
    const auto parent = found.parent_of(found.keys()[1]);
    ASSERT_TRUE(parent.has_value() && parent->has_value());
    EXPECT_EQ(std::get<DeletedKey>(**parent).offset, top);
    EXPECT_FALSE(*found.parent_of(found.keys()[0]));
}

TEST(RecoveryTest, DeletedDefaultValueIsReported) {
    Scene s;
    const std::uint32_t nameless = s.free(value("", 0x80000004, 7, 4).payload());
    const std::uint32_t gone = s.free(key("Gone", s.root).payload());
    s.link_values(gone, {nameless}, true);
    const Recovery& found = s.scan();
    EXPECT_EQ(values_of(found, found.values()), "(default)=[07000000]");
    ASSERT_EQ(found.keys().size(), 1u);
    EXPECT_EQ(values_of(found, found.values_of(found.keys()[0])), "(default)=[07000000]");
}

TEST(RecoveryTest, PathsStopAtTheRootCellWithoutItsFlag) {
    testing::ImageBuilder b;
    Nk root_nk = key("ROOT", 0x20);  // its own parent, so the record passes the checks
    root_nk.flags = 0x20;  // no root flag
    const std::uint32_t root = b.add_cell(root_nk.payload());
    const ByteVector gone = key("Gone", root).payload();
    const std::uint32_t at = b.add_cell(gone, free_size(gone));
    const ByteVector below = key("Below", at).payload();
    const std::uint32_t under = b.add_cell(below, free_size(below));
    auto loaded = testing::load(b.build());
    ASSERT_TRUE(loaded.has_value());
    const Recovery found = Recovery::scan(**loaded);
    EXPECT_EQ(keys_of(found, **loaded), "Gone@" + error::hex(at) + "; Gone\\Below@" + error::hex(under));
    ASSERT_EQ(found.keys().size(), 2u);
    EXPECT_EQ(*found.path_of(found.keys()[1]), "Gone\\Below");
    const auto root_node = key_node_at(**loaded, root);
    ASSERT_TRUE(root_node.has_value());
    const DeletedKey root_key{root, Place::FreeCell, *root_node};
    const auto above_root = found.parent_of(root_key);
    ASSERT_TRUE(above_root.has_value());
    EXPECT_FALSE(above_root->has_value());
    EXPECT_EQ(partial_path(**loaded, root, *root_node), "");
}

TEST(RecoveryTest, ReusedListsOfADeletedKeyGiveNothing) {
    Scene s;
    const std::uint32_t other = s.live(key("Other", s.root).payload());
    s.link_subkeys(s.root, {other});
    const std::uint32_t live_value = s.live(value("Live", 0x80000000, 0).payload());
    s.link_values(other, {live_value}, false);
    Nk gone = key("Gone", s.root);
    gone.value_count = 1;
    gone.value_list_offset = other;  // both cells now hold a live key node
    gone.subkey_count = 1;
    gone.subkey_list_offset = other;
    s.free(gone.payload());
    const Recovery& found = s.scan();
    ASSERT_EQ(found.keys().size(), 1u);
    EXPECT_TRUE(found.values_of(found.keys()[0]).empty());
    EXPECT_TRUE(found.subkeys_of(found.keys()[0].offset, found.keys()[0].node).empty());
}

TEST(RecoveryTest, LiveKeyCopiedIntoFreeSpaceIsReportedOnce) {
    Scene s;
    const std::uint32_t one = s.live(key("1", s.root).payload());
    s.link_subkeys(s.root, {one});
    const std::uint32_t data = s.live(testing::pattern(8));
    const std::uint32_t live_value = s.live(value("V", 8, data).payload());
    s.link_values(one, {live_value}, false);
    s.free(key("1", s.root).payload());
    s.free(value("V", 8, data).payload());
    // A key of the same name deleted at another time is no copy.
    Nk older = key("1", s.root);
    older.last_written -= 1;
    const std::uint32_t deleted = s.free(older.payload());
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "1@" + error::hex(deleted));
    EXPECT_EQ(values_of(found, found.values()), "");
}

// Records that start with "nk" or "vk" but fail one check, each alone in a free cell.
struct LookAlike {
    const char* name;
    std::function<ByteVector()> payload;
};

class LookAlikeTest : public ::testing::TestWithParam<LookAlike> {};

TEST_P(LookAlikeTest, IsRejected) {
    Scene s;
    s.free(GetParam().payload());
    const Recovery& found = s.scan();
    EXPECT_EQ(keys_of(found, *s.hive), "");
    EXPECT_EQ(values_of(found, found.values()), "");
}

Nk key_with(const std::function<void(Nk&)>& change) {
    Nk nk = key("Name", 0x20);
    change(nk);
    return nk;
}
Vk value_with(const std::function<void(Vk&)>& change) {
    Vk vk = value("Name", 0x80000004, 1);
    change(vk);
    return vk;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LookAlikeTest,
    ::testing::Values(
        LookAlike{"nk_zero_filled", [] { ByteVector b(96, 0); b[0] = 'n', b[1] = 'k'; return b; }},
        LookAlike{"nk_unknown_flag", [] { return key_with([](Nk& k) { k.flags |= 0x0400; }).payload(); }},
        LookAlike{"nk_empty_name", [] { return key_with([](Nk& k) { k.name = {}; }).payload(); }},
        LookAlike{"nk_name_past_the_cell",
                  [] { return key_with([](Nk& k) { k.name_length = 40; }).payload(); }},
        LookAlike{"nk_name_longer_than_255_characters",
                  [] { return key_with([](Nk& k) { k.name = ByteVector(512, 'a'); }).payload(); }},
        LookAlike{"nk_odd_utf16_name", [] { return key_with([](Nk& k) { k.flags = 0, k.name = ascii("abc"); }).payload(); }},
        LookAlike{"nk_backslash_in_name", [] { return key_with([](Nk& k) { k.name = ascii("a\\b"); }).payload(); }},
        LookAlike{"nk_parent_zero", [] { return key_with([](Nk& k) { k.parent_offset = 0; }).payload(); }},
        LookAlike{"nk_parent_unaligned", [] { return key_with([](Nk& k) { k.parent_offset = 0x24; }).payload(); }},
        LookAlike{"nk_parent_past_the_area",
                  [] { return key_with([](Nk& k) { k.parent_offset = 0x10000; }).payload(); }},
        LookAlike{"nk_subkey_list_unaligned", [] {
                      return key_with([](Nk& k) { k.subkey_count = 1, k.subkey_list_offset = 0x31; }).payload();
                  }},
        LookAlike{"nk_value_list_missing", [] {
                      return key_with([](Nk& k) { k.value_count = 2, k.value_list_offset = kNoCell; }).payload();
                  }},
        LookAlike{"nk_security_unaligned", [] { return key_with([](Nk& k) { k.security_offset = 0x44; }).payload(); }},
        LookAlike{"nk_class_name_missing", [] { return key_with([](Nk& k) { k.class_name_length = 8; }).payload(); }},
        LookAlike{"vk_zero_filled", [] { ByteVector b(32, 0); b[0] = 'v', b[1] = 'k'; return b; }},
        LookAlike{"vk_unknown_flag", [] { return value_with([](Vk& v) { v.flags = 0x0005; }).payload(); }},
        LookAlike{"vk_inline_mark_on_large_data",
                  [] { return value_with([](Vk& v) { v.data_size = 0x80000008; }).payload(); }},
        LookAlike{"vk_no_data_naming_a_cell",
                  [] { return value_with([](Vk& v) { v.data_size = 0, v.data_offset = 0x20; }).payload(); }},
        LookAlike{"vk_data_cell_unaligned",
                  [] { return value_with([](Vk& v) { v.data_size = 8, v.data_offset = 0x2c; }).payload(); }},
        LookAlike{"vk_data_larger_than_the_hive",
                  [] { return value_with([](Vk& v) { v.data_size = 0x100000, v.data_offset = 0x20; }).payload(); }},
        LookAlike{"vk_name_past_the_cell", [] { return value_with([](Vk& v) { v.name_length = 30; }).payload(); }},
        LookAlike{"vk_odd_utf16_name",
                  [] { return value_with([](Vk& v) { v.flags = 0, v.name = ascii("Nam"); }).payload(); }},
        LookAlike{"noise_of_signatures", [] {
                      // Every 8 bytes "nk" or "vk" followed by random bytes.
                      std::mt19937 random(13);
                      ByteVector b(4000);
                      for (auto& byte : b) byte = static_cast<std::uint8_t>(random());
                      for (std::size_t at = 0; at + 2 < b.size(); at += 8) b[at] = at % 16 == 4 ? 'n' : 'v', b[at + 1] = 'k';
                      return b;
                  }}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

struct CorpusScan {
    const char* file;
    std::size_t keys;    // deleted keys found
    std::size_t values;  // deleted values found
};

class CorpusRecoveryTest : public ::testing::TestWithParam<CorpusScan> {};

// Every live key and value, with each key's path, from the root through the lists.
struct LiveTree {
    std::unordered_map<std::uint32_t, std::string> key_paths;
    std::unordered_set<std::uint32_t> values;
};

LiveTree live_tree(const hive::Hive& hive) {
    LiveTree tree;
    std::vector<std::uint32_t> pending{hive.base_block().root_cell_offset};
    tree.key_paths[pending.back()] = "";
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        const auto key = hive.get_key(offset);
        EXPECT_TRUE(key.has_value());
        if (!key) continue;
        const std::string path = tree.key_paths[offset];
        std::vector<std::uint32_t> children;
        if (key->node().subkey_count != 0) {
            EXPECT_TRUE(key->collect_subkey_offsets(key->node().subkey_list_offset, children).has_value());
        }
        for (const std::uint32_t child : children) {
            const auto node = hive.get_key(child);
            if (!node || tree.key_paths.count(child)) continue;
            tree.key_paths[child] = (path.empty() ? "" : path + "\\") + node->node().name;
            pending.push_back(child);
        }
        if (key->node().value_count == 0 || key->node().value_list_offset == kNoCell) continue;
        const auto list = hive.get_cell(key->node().value_list_offset);
        if (!list) continue;
        for (std::uint32_t i = 0; i < key->node().value_count && 4 * i + 4 <= list->size(); ++i) {
            tree.values.insert(*list->u32(4 * i));
        }
    }
    return tree;
}

TEST_P(CorpusRecoveryTest, FindsOnlyPlausibleRecordsAndNoLiveOne) {
    const auto image = testing::corpus_file(GetParam().file);
    const auto loaded = testing::load(image);
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
    const hive::Hive& hive = **loaded;
    const LiveTree live = live_tree(hive);

    // The checks accept every live key as Windows wrote it, and partial paths
    // of live keys are their paths.
    for (const auto& [offset, path] : live.key_paths) {
        const auto node = key_node_at(hive, offset);
        ASSERT_TRUE(node.has_value()) << error::hex(offset);
        EXPECT_EQ(*node, hive.get_key(offset)->node());
        EXPECT_EQ(partial_path(hive, offset, *node), path);
    }

    const Recovery found = Recovery::scan(hive);
    for (const DeletedKey& k : found.keys()) {
        EXPECT_EQ(live.key_paths.count(k.offset), 0u) << error::hex(k.offset);
        const auto again = found.key_at(k.offset);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(again->node, k.node);
        (void)found.values_of(k);
        (void)found.subkeys_of(k.offset, k.node);
    }
    for (const DeletedValue& v : found.values()) {
        EXPECT_EQ(live.values.count(v.offset), 0u) << error::hex(v.offset);
        const auto data = found.data_of(v);
        if (data) {
            EXPECT_EQ(data->size(), v.value.data_size);
        }
    }
    EXPECT_EQ(found.keys().size(), GetParam().keys);
    EXPECT_EQ(found.values().size(), GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusRecoveryTest,
                         // NTUSER.DAT's 103 keys and most of its values lie in the 12 old
                         // bins past its hive bins data, carried from a larger hive
                         // (their offset fields start at 0x13b2000); an independent
                         // reader finds the same 103 and 415.
                         ::testing::Values(CorpusScan{"NTUSER.DAT", 103, 415}, CorpusScan{"UsrClass.dat", 94, 221},
                                           CorpusScan{"amcache.hve", 0, 1}, CorpusScan{"SAM", 3, 4},
                                           CorpusScan{"SECURITY", 0, 1}, CorpusScan{"BCD", 4, 4}),
                         [](const auto& case_info) {
                             const std::string name = case_info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace orvane::recovery
