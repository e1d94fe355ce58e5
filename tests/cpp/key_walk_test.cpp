// Key names compared as Windows compares them, stored times as dates, and the
// core's key walk and path lookup over the shapes a damaged hive can take.

#include <gtest/gtest.h>

#include "key/key_path.hpp"
#include "key/key_walk.hpp"
#include "key/key_name.hpp"
#include "record_builders.hpp"
#include "small_tree.hpp"
#include "utils/filetime.hpp"

namespace orvane::key {
namespace {

using testing::ImageBuilder;
using testing::kNoCell;

struct NameCase {
    const char* a;
    const char* b;
    bool equal;
};

class KeyNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(KeyNames, ComparedUnitByUnitAfterSimpleUppercase) {
    const NameCase& c = GetParam();
    EXPECT_EQ(key::key_names_equal(c.a, c.b), c.equal) << c.a << " / " << c.b;
    if (c.equal) {
        EXPECT_EQ(key::key_name_hash(c.a), key::key_name_hash(c.b));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, KeyNames,
                         ::testing::Values(NameCase{"Services", "services", true}, NameCase{"", "", true},
                                           NameCase{"caf\u00e9", "CAF\u00c9", true},
                                           NameCase{"\u03a3\u03c3", "\u03c3\u03a3", true},  // Greek sigma
                                           NameCase{"\u1f80", "\u1f88", true},  // simple, not full, mapping
                                           NameCase{"stra\u00dfe", "STRASSE", false},
                                           NameCase{"\U00010428", "\U00010400", false},  // beyond the BMP
                                           NameCase{"ab", "abc", false}, NameCase{"a", "\u00e0", false}),
                         [](const ::testing::TestParamInfo<NameCase>& tested) {
                             return "case" + std::to_string(tested.index);
                         });

TEST(KeyNameChecks, HashAndHint) {
    // 'A' * 37 + 'B' over the uppercased units.
    EXPECT_EQ(key::key_name_hash("ab"), 0x41u * 37 + 0x42);
    const std::uint32_t hint = 'S' | 'o' << 8 | 'f' << 16 | 't' << 24;
    EXPECT_TRUE(key::key_name_hint_may_match(hint, "SOFTWARE"));
    EXPECT_FALSE(key::key_name_hint_may_match(hint, "System"));
    EXPECT_FALSE(key::key_name_hint_may_match(hint, "Sof"));           // the stored name is longer
    EXPECT_TRUE(key::key_name_hint_may_match('A' | 'b' << 8, "aB"));
    EXPECT_TRUE(key::key_name_hint_may_match(0xE9u, "x"));             // a non-ASCII hint proves nothing
}

TEST(Filetime, CivilDates) {
    using utils::CivilTime;
    EXPECT_EQ(utils::civil_time_from_filetime(0), (CivilTime{1601, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(utils::civil_time_from_filetime(116444736000000000), (CivilTime{1970, 1, 1, 0, 0, 0, 0}));
    // 2000-02-29 23:59:59.999999, a leap day of a year divisible by 400.
    EXPECT_EQ(utils::civil_time_from_filetime(125963423999999999), (CivilTime{2000, 2, 29, 23, 59, 59, 999999}));
    EXPECT_EQ(utils::civil_time_from_filetime(2650467743999999999), (CivilTime{9999, 12, 31, 23, 59, 59, 999999}));
    EXPECT_EQ(utils::civil_time_from_filetime(~std::uint64_t{0}).year, 60056);
}

using Tree = testing::SmallTree;

// "path" for each key, "!path: message" for each error, walking on after errors.
std::vector<std::string> walk_all(const hive::Hive& hive, std::uint32_t start) {
    auto key = hive.get_key(start);
    EXPECT_TRUE(key.has_value());
    KeyWalk walk(std::move(*key));
    std::vector<std::string> out;
    for (;;) {
        auto step = walk.next();
        if (!step) {
            out.push_back("!" + step.error().path + ": " + step.error().failure.registry_error()->message());
            continue;
        }
        if (!*step) return out;
        out.push_back(walk.path());
    }
}

TEST(KeyWalk, DepthFirstInListOrderFromAnyKey) {
    Tree tree;
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    EXPECT_EQ(walk_all(**hive, tree.root), (std::vector<std::string>{"", "A", "A\\A1", "A\\A2", "B"}));
    EXPECT_EQ(walk_all(**hive, tree.a), (std::vector<std::string>{"", "A1", "A2"}));
}

TEST(KeyWalk, ListsBackToAncestorsAndSharedKeysEnd) {
    Tree tree;
    tree.relist(tree.a1, {tree.root, tree.a, tree.b, tree.a1});
    tree.relist(tree.b, {tree.a2, tree.a1});
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    EXPECT_EQ(walk_all(**hive, tree.root), (std::vector<std::string>{"", "A", "A\\A1", "A\\A2", "B"}));
}

TEST(KeyWalk, ErrorsNameTheKeyAndTheWalkGoesOn) {
    Tree tree;
    tree.relist(tree.a, {tree.a1, 0x7FFF0000, tree.a2});
    testing::put_u32(tree.image.raw(), testing::payload_position(tree.b, 20), 1);  // B's list offset is kNoCell...
    testing::put_u32(tree.image.raw(), testing::payload_position(tree.b, 28), 0xFFFFEFF0);  // ...now damaged
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    const std::string size = error::hex(tree.image.build().size());
    EXPECT_EQ(walk_all(**hive, tree.root),
              (std::vector<std::string>{"", "A", "A\\A1", "!A: Invalid offset 0x7fff0000 (hive size: " + size + ")",
                                        "A\\A2", "B", "!B: Invalid offset 0xffffeff0 (hive size: " + size + ")"}));
}

TEST(KeyPath, LookupParentAndPath) {
    Tree tree;
    testing::put_u32(tree.image.raw(), testing::payload_position(tree.a2, 16), tree.a);
    testing::put_u32(tree.image.raw(), testing::payload_position(tree.a, 16), tree.root);
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    auto root = (*hive)->get_key(tree.root);
    ASSERT_TRUE(root.has_value());
    auto found = open_key_path(*root, "\\a\\\\A2\\");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset(), tree.a2);
    EXPECT_EQ(*key_path(*found), "A\\A2");
    EXPECT_EQ((*parent_key(*found))->offset(), tree.a);
    EXPECT_FALSE(parent_key(*root)->has_value());
    EXPECT_EQ(open_key_path(*root, "A\\A3").error().registry_error()->message(), "Not found: Key 'A\\A3'");
}

}  // namespace
}  // namespace orvane::key
