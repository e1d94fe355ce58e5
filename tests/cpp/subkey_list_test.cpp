// Subkey lists: decoding one list, and collecting the key offsets of a whole
// list tree, including the shapes a hostile hive can take.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sstream>

#include "key/registry_key.hpp"
#include "record_builders.hpp"
#include "subkey_list/subkey_list.hpp"

namespace orvane::subkey_list {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::subkey_list;
using Offsets = std::vector<std::uint32_t>;

std::string join(const Offsets& offsets) {
    std::ostringstream out;
    out << "[";
    for (std::size_t i = 0; i < offsets.size(); ++i) out << (i ? ", " : "") << error::hex(offsets[i]);
    out << "]";
    return out.str();
}

std::string describe(const Result<SubkeyList>& list) {
    if (!list.has_value()) return list.error().message();
    if (const auto* leaf = std::get_if<IndexLeaf>(&*list)) return "li " + join(leaf->key_offsets);
    if (const auto* index = std::get_if<RootIndex>(&*list)) return "ri " + join(index->list_offsets);
    std::string out = "hash";
    for (const auto& [offset, hash] : std::get<HashLeaf>(*list).entries) {
        out += " " + error::hex(offset) + "/" + error::hex(hash);
    }
    return out;
}

ByteVector resized(ByteVector payload, std::size_t size) {
    payload.resize(size, 0);
    return payload;
}

struct DecodeCase {
    const char* name;
    ByteVector payload;
    std::string expected;
};

class DecodeSubkeyListTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeSubkeyListTest, Decodes) {
    EXPECT_EQ(describe(decode_subkey_list(GetParam().payload, 0x40)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeSubkeyListTest,
    ::testing::Values(
        DecodeCase{"li", testing::li({0x120, 0x220}), "li [0x120, 0x220]"},
        DecodeCase{"lf_keeps_hash", subkey_list("lf", {0x120, 0x220}, std::nullopt, 0xabcd), "hash 0x120/0xabcd 0x220/0xabcd"},
        DecodeCase{"lh_reads_like_lf", subkey_list("lh", {0x120}, std::nullopt, 7), "hash 0x120/0x7"},
        DecodeCase{"ri", testing::ri({0x300, 0x400}), "ri [0x300, 0x400]"},
        DecodeCase{"count_zero", subkey_list("lh", {}), "hash"},
        DecodeCase{"rest_of_payload_ignored", resized(testing::li({1}), 64), "li [0x1]"},
        DecodeCase{"three_bytes", resized(ascii("li"), 3), "Truncated data at offset 0x40: expected 4 bytes, got 3 bytes"},
        DecodeCase{"three_bytes_unknown_signature", resized(ascii("zz"), 3),
                   "Truncated data at offset 0x40: expected 4 bytes, got 3 bytes"},
        DecodeCase{"unknown_signature", subkey_list("zz", {}), "Invalid subkey list type: [122, 122]"},
        DecodeCase{"key_node_signature", testing::Nk().payload(), "Invalid subkey list type: [110, 107]"},
        DecodeCase{"uppercase_signature", subkey_list("LI", {}), "Invalid subkey list type: [76, 73]"},
        DecodeCase{"lf_short_by_one_element", resized(subkey_list("lf", {1, 2}), 16),
                   "Truncated data at offset 0x40: expected 20 bytes, got 16 bytes"},
        DecodeCase{"li_short", subkey_list("li", {1, 2}, 3), "Truncated data at offset 0x40: expected 16 bytes, got 12 bytes"},
        DecodeCase{"ri_largest_count", subkey_list("ri", {}, 0xFFFF),
                   "Truncated data at offset 0x40: expected 262144 bytes, got 4 bytes"},
        DecodeCase{"lh_largest_count", subkey_list("lh", {}, 0xFFFF),
                   "Truncated data at offset 0x40: expected 524284 bytes, got 4 bytes"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// An image and the list offset to collect from.
struct Tree {
    ByteVector image;
    std::uint32_t list = 0;
};

std::string collect(const Tree& tree) {
    const auto hive = testing::load(tree.image);
    if (!hive.has_value()) return "load: " + hive.error().message();
    const key::RegistryKey key(key::KeyNode{}, 0, **hive);
    Offsets offsets;
    const auto result = key.collect_subkey_offsets(tree.list, offsets);
    if (!result.has_value()) return result.error().message() + " after " + join(offsets);
    return join(offsets);
}

struct CollectCase {
    const char* name;
    std::function<Tree()> tree;
    std::string expected;
};

class CollectTest : public ::testing::TestWithParam<CollectCase> {};

TEST_P(CollectTest, Collects) { EXPECT_EQ(collect(GetParam().tree()), GetParam().expected); }

Tree single(const ByteVector& payload, std::optional<std::int32_t> size_word = std::nullopt) {
    ImageBuilder b;
    const auto at = b.add_cell(payload, size_word);
    return {b.build(), at};
}

// ri(0) -> ri(1) -> ... -> ri(levels - 2) -> li: `levels` lists in all.
Tree chain(int levels) {
    ImageBuilder b;
    // Cells are 16 bytes each, so the list at depth d sits at 0x20 + 16 d.
    for (int depth = 1; depth < levels; ++depth) {
        b.add_cell(testing::ri({static_cast<std::uint32_t>(0x20 + 16 * depth)}));
    }
    b.add_cell(testing::li({0xAAA}));
    return {b.build(), 0x20};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollectTest,
    ::testing::Values(
        // No bins at all: reading any cell would fail.
        CollectCase{"offset_zero_reads_nothing", [] { return Tree{ImageBuilder().build(), 0}; }, "[]"},
        CollectCase{"offset_all_ones_reads_nothing", [] { return Tree{ImageBuilder().build(), 0xFFFFFFFF}; }, "[]"},
        CollectCase{"missing_list", [] { return Tree{ImageBuilder().build(), 0x20}; },
                    "Invalid offset 0x20 (hive size: 0x1000) after []"},
        CollectCase{"li", [] { return single(testing::li({0x120, 0x220})); }, "[0x120, 0x220]"},
        CollectCase{"lf_payload_16", [] { return single(testing::lf({0x120, 0x220}), -20); },
                    "Truncated data at offset 0x20: expected 20 bytes, got 16 bytes after []"},
        CollectCase{"lf_payload_20", [] { return single(testing::lf({0x120, 0x220}), -24); }, "[0x120, 0x220]"},
        CollectCase{"lh_empty", [] { return single(testing::lh({}), -8); }, "[]"},
        CollectCase{"li_three_bytes", [] { return single(ascii("li"), -7); },
                    "Truncated data at offset 0x20: expected 4 bytes, got 3 bytes after []"},
        CollectCase{"key_node_as_list", [] { return single(testing::Nk().payload()); },
                    "Invalid subkey list type: [110, 107] after []"},
        CollectCase{"leaf_values_appended_as_they_are",
                    [] { return single(testing::li({0, 0xFFFFFFFF, 0x120, 0x120})); },
                    "[0x0, 0xffffffff, 0x120, 0x120]"},
        CollectCase{"ri_of_lh_and_li",
                    [] {
                        ImageBuilder b;
                        const auto lh = b.add_cell(testing::lh({0x1, 0x2}));
                        const auto li = b.add_cell(testing::li({0x3, 0x4, 0x5}));
                        const auto ri = b.add_cell(testing::ri({lh, li}));
                        return Tree{b.build(), ri};
                    },
                    "[0x1, 0x2, 0x3, 0x4, 0x5]"},
        CollectCase{"ri_of_ri_of_li",
                    [] {
                        ImageBuilder b;
                        const auto li = b.add_cell(testing::li({0x7, 0x8}));
                        const auto inner = b.add_cell(testing::ri({li}));
                        const auto outer = b.add_cell(testing::ri({inner}));
                        return Tree{b.build(), outer};
                    },
                    "[0x7, 0x8]"},
        CollectCase{"ri_skips_zero_and_all_ones",
                    [] {
                        ImageBuilder b;
                        const auto li = b.add_cell(testing::li({0x9}));
                        const auto ri = b.add_cell(testing::ri({0, li, 0xFFFFFFFF}));
                        return Tree{b.build(), ri};
                    },
                    "[0x9]"},
        CollectCase{"ri_second_list_unknown",
                    [] {
                        ImageBuilder b;
                        const auto li = b.add_cell(testing::li({0x1, 0x2}));
                        const auto zz = b.add_cell(subkey_list("zz", {0x3}));
                        const auto li2 = b.add_cell(testing::li({0x4}));
                        const auto ri = b.add_cell(testing::ri({li, zz, li2}));
                        return Tree{b.build(), ri};
                    },
                    "Invalid subkey list type: [122, 122] after [0x1, 0x2]"},
        CollectCase{"ri_names_bad_offset",
                    [] {
                        ImageBuilder b;
                        const auto ri = b.add_cell(testing::ri({0x10000}));
                        return Tree{b.build(), ri};
                    },
                    "Invalid offset 0x10000 (hive size: 0x2000) after []"},
        // Root indexes that would loop or explode.
        CollectCase{"ri_names_itself", [] { return single(testing::ri({0x20})); },
                    "Invalid format: Subkey list at offset 0x20 is named more than once after []"},
        CollectCase{"ri_cycle_through_another",
                    [] {
                        ImageBuilder b;  // 16-byte cells: a at 0x20, c at 0x30, the leaf at 0x40
                        const auto a = b.add_cell(testing::ri({0x30}));
                        b.add_cell(testing::ri({0x40, a}));
                        b.add_cell(testing::li({0x5}));
                        return Tree{b.build(), a};
                    },
                    "Invalid format: Subkey list at offset 0x20 is named more than once after [0x5]"},
        CollectCase{"ri_names_leaf_twice",
                    [] {
                        ImageBuilder b;
                        const auto li = b.add_cell(testing::li({0x5, 0x6}));
                        const auto ri = b.add_cell(testing::ri({li, li}));
                        return Tree{b.build(), ri};
                    },
                    "Invalid format: Subkey list at offset 0x20 is named more than once after [0x5, 0x6]"},
        CollectCase{"ri_names_leaf_again_deeper",
                    [] {
                        ImageBuilder b;
                        const auto li = b.add_cell(testing::li({0x5}));
                        const auto inner = b.add_cell(testing::ri({li}));
                        const auto ri = b.add_cell(testing::ri({li, inner}));
                        return Tree{b.build(), ri};
                    },
                    "Invalid format: Subkey list at offset 0x20 is named more than once after [0x5]"},
        CollectCase{"nesting_32_levels", [] { return chain(32); }, "[0xaaa]"},
        CollectCase{"nesting_33_levels", [] { return chain(33); },
                    "Invalid format: Subkey lists nested deeper than 32 levels at offset 0x220 after []"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(CollectSubkeyOffsets, RootIndexNamingOneBigLeafEveryTimeEndsAtOnce) {
    ImageBuilder b;
    const auto leaf = b.add_cell(testing::li(Offsets(0xFFFF, 0x20)));
    const auto ri = b.add_cell(testing::ri(Offsets(0xFFFF, leaf)));
    const auto start = std::chrono::steady_clock::now();
    const std::string result = collect({b.build(), ri});
    EXPECT_TRUE(result.starts_with("Invalid format: Subkey list at offset 0x20 is named more than once after ["))
        << result.substr(0, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// Two leaves carved out of one cell: the second starts inside the elements of
// the first. Distinct offsets, so only the element budget (one per four bytes
// of hive bins data) stops a tree of such lists from multiplying.
TEST(CollectSubkeyOffsets, OverlappingListsCannotOutnumberTheHive) {
    ImageBuilder b;  // one bin of 4096 bytes: room for 1024 elements
    ByteVector outer = subkey_list("li", Offsets(1000, 0x77));
    const std::uint32_t outer_at = 0x20, inner_at = outer_at + 8;
    testing::put_u32(outer, 4, static_cast<std::uint32_t>(-4000));  // element 0: the inner cell's size word
    testing::put_bytes(outer, 8, ascii("li"));                      // element 1: "li" and a count of 900
    testing::put_u16(outer, 10, 900);
    ASSERT_EQ(b.add_cell(outer), outer_at);
    const auto ri = b.add_cell(testing::ri({outer_at, inner_at}));
    ASSERT_EQ(b.build().size(), 8192u);
    const std::string result = collect({b.build(), ri});
    EXPECT_EQ(result.substr(0, result.find(" after ")),
              "Invalid format: Subkey lists hold more entries than the hive has room for at offset 0x28");
    EXPECT_EQ(collect({b.build(), inner_at}), join(Offsets(900, 0x77))) << "alone, the inner list is sound";
}

}  // namespace
}  // namespace orvane::subkey_list
