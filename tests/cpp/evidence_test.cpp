// Reading evidence as it comes: the control set a "CurrentControlSet" path
// stands for, the orphan keys that damage hid from the tree, and the logs
// found beside a hive.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "key/control_set.hpp"
#include "recovery/orphan_keys.hpp"
#include "recovery/orphan_walk.hpp"
#include "record_builders.hpp"
#include "transaction_log/opening.hpp"

namespace orvane {
namespace {

using testing::ByteVector;
using testing::ImageBuilder;
using testing::kNoCell;

constexpr std::uint32_t kInlineDword = 0x80000004;  // data size with the "data in the offset field" bit

struct ControlSetCase {
    const char* name;
    std::optional<std::uint32_t> current;  // Select\Current; none: no Select key
    std::uint32_t current_type;            // its value type (4: REG_DWORD)
    bool real_key;                         // the root holds a key named CurrentControlSet itself
    const char* path;
    const char* resolved;
};

class CurrentControlSet : public ::testing::TestWithParam<ControlSetCase> {};

TEST_P(CurrentControlSet, StandsForTheSelectedSet) {
    const ControlSetCase& c = GetParam();
    ImageBuilder image;
    std::vector<std::uint32_t> subkeys;
    if (c.current) {
        testing::Vk current;
        current.name = testing::ascii("Current");
        current.data_type = c.current_type;
        current.data_size = kInlineDword;
        current.data_offset = *c.current;
        const std::uint32_t list = image.add_cell(testing::u32_array({image.add_cell(current.payload())}));
        subkeys.push_back(testing::add_key(image, "Select", 0, kNoCell, 1, list));
    }
    if (c.real_key) subkeys.push_back(testing::add_key(image, "CurrentControlSet"));
    const std::uint32_t list = subkeys.empty() ? kNoCell : image.add_cell(testing::li(subkeys));
    const std::uint32_t root = testing::add_key(image, "ROOT", static_cast<std::uint32_t>(subkeys.size()), list);
    image.root(root);
    auto hive = testing::load(image.build());
    ASSERT_TRUE(hive.has_value());
    auto start = (*hive)->get_key(root);
    ASSERT_TRUE(start.has_value());
    auto resolved = key::resolve_current_control_set(*start, c.path);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(*resolved, c.resolved);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CurrentControlSet,
    ::testing::Values(
        ControlSetCase{"Selected", 2, 4, false, "CurrentControlSet\\Services", "ControlSet002\\Services"},
        ControlSetCase{"AnyCase", 3, 4, false, "currentcontrolset", "ControlSet003"},
        ControlSetCase{"LeadingBackslash", 1, 4, false, "\\CurrentControlSet\\Enum", "ControlSet001\\Enum"},
        ControlSetCase{"NoSelect", std::nullopt, 4, false, "CurrentControlSet\\Control", "ControlSet001\\Control"},
        ControlSetCase{"ZeroIsNoSet", 0, 4, false, "CurrentControlSet", "ControlSet001"},
        ControlSetCase{"PastThreeDigits", 1000, 4, false, "CurrentControlSet", "ControlSet001"},
        ControlSetCase{"RealKeyWins", 2, 4, true, "CurrentControlSet\\X", "CurrentControlSet\\X"},
        ControlSetCase{"OnlyTheFirstComponent", 2, 4, false, "Software\\CurrentControlSet", "Software\\CurrentControlSet"},
        ControlSetCase{"LongerName", 2, 4, false, "CurrentControlSets", "CurrentControlSets"}),
    [](const auto& test) { return std::string(test.param.name); });

// ROOT lists A only through a list past the end of the hive; A lists B, and C
// is an orphan of its own whose parent field names the root.
struct OrphanTree {
    ImageBuilder image;
    std::uint32_t root = 0, a = 0, b = 0, c = 0;

    OrphanTree() {
        b = testing::add_key(image, "B");
        a = testing::add_key(image, "A", 1, image.add_cell(testing::li({b})));
        c = testing::add_key(image, "C");
        root = testing::add_key(image, "ROOT", 1, 0x7FFF0);
        parent(a, root).parent(b, a).parent(c, root);
        image.root(root);
    }
    OrphanTree& parent(std::uint32_t key, std::uint32_t of) {
        testing::put_u32(image.raw(), testing::payload_position(key, 16), of);
        return *this;
    }
};

TEST(OrphanKeys, FoundInFileOrderAndWalkedOnceBelowTheirTops) {
    OrphanTree tree;
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    const auto orphans = recovery::find_orphan_keys(**hive);
    EXPECT_EQ(orphans, (std::vector<std::uint32_t>{tree.b, tree.a, tree.c}));
    EXPECT_EQ(recovery::orphan_tops(**hive, orphans), (std::vector<std::uint32_t>{tree.a, tree.c}));

    auto root = (*hive)->get_key(tree.root);
    ASSERT_TRUE(root.has_value());
    for (const bool include : {false, true}) {
        recovery::OrphanWalk walk(*root, include);
        std::vector<std::string> paths, errors;
        for (;;) {
            auto step = walk.next();
            if (!step) {
                errors.push_back(step.error().path);
                continue;
            }
            if (!*step) break;
            paths.push_back(walk.path());
        }
        EXPECT_EQ(errors, std::vector<std::string>{""});  // the root's list, once
        const std::vector<std::string> tree_only{""};
        const std::vector<std::string> with_orphans{"", "<orphans>\\A", "<orphans>\\A\\B", "<orphans>\\C"};
        EXPECT_EQ(paths, include ? with_orphans : tree_only);
    }
}

TEST(OrphanKeys, NoneInASoundHiveNorTheRootItself) {
    ImageBuilder image;
    const std::uint32_t a = testing::add_key(image, "A");
    const std::uint32_t root = testing::add_key(image, "ROOT", 1, image.add_cell(testing::li({a})));
    testing::put_u32(image.raw(), testing::payload_position(a, 16), root);
    image.root(root);
    auto hive = testing::load(image.build());
    ASSERT_TRUE(hive.has_value());
    EXPECT_TRUE(recovery::find_orphan_keys(**hive).empty());
}

struct BesideCase {
    const char* name;
    std::vector<std::string> files;  // in the folder besides "Hive"
    std::vector<std::string> found;
};

class LogsBeside : public ::testing::TestWithParam<BesideCase> {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("orvane_beside_" + std::to_string(::getpid()) + "_" + GetParam().name);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_P(LogsBeside, LogOneBeforeLogTwoBeforeLogInAnyCaseAtMostTwo) {
    std::vector<std::string> files = GetParam().files;
    files.push_back("Hive");
    for (const std::string& name : files) std::ofstream(dir_ / name) << "x";
    std::vector<std::string> found = transaction_log::logs_beside((dir_ / "Hive").string());
    for (std::string& path : found) path = std::filesystem::path(path).filename().string();
    EXPECT_EQ(found, GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogsBeside,
    ::testing::Values(BesideCase{"None", {"Other.LOG1"}, {}},
                      BesideCase{"Both", {"Hive.LOG2", "Hive.LOG1"}, {"Hive.LOG1", "Hive.LOG2"}},
                      BesideCase{"AnyCase", {"hive.log1", "HIVE.Log2"}, {"hive.log1", "HIVE.Log2"}},
                      BesideCase{"AtMostTwo", {"Hive.LOG", "Hive.LOG2", "Hive.LOG1"}, {"Hive.LOG1", "Hive.LOG2"}},
                      BesideCase{"OldLogAlone", {"Hive.LOG"}, {"Hive.LOG"}},
                      BesideCase{"NotAPrefix", {"Hive.LOG1.bak", "XHive.LOG1"}, {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(LogsBeside, AFolderThatCannotBeListedGivesNone) {
    EXPECT_TRUE(transaction_log::logs_beside("/nonexistent-orvane-folder/Hive").empty());
}

}  // namespace
}  // namespace orvane
