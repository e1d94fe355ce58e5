// The keys and values tables: a table that replays the walk of the hive's
// earlier table gives exactly the rows of one that walks, in either order,
// across batch boundaries; and only a walk that finished leaves a plan.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "hive/hive.hpp"
#include "record_builders.hpp"
#include "small_tree.hpp"
#include "table/hive_tables.hpp"
#include "table/walk_plan.hpp"

namespace orvane::table {
namespace {

std::string cell_text(const Column& column, std::int64_t row) {
    if (column.is_null(row)) return "null";
    switch (column.type()) {
        case ColumnType::Bool: return column.bool_at(row) ? "true" : "false";
        case ColumnType::UInt16:
        case ColumnType::UInt32:
        case ColumnType::UInt64: return std::to_string(column.unsigned_at(row));
        case ColumnType::Timestamp: return std::to_string(column.timestamp_at(row));
        case ColumnType::Utf8:
        case ColumnType::Binary: return std::string(column.text_at(row));
        case ColumnType::Utf8List: {
            std::string out = "[";
            const auto [begin, end] = column.list_at(row);
            for (std::int32_t item = begin; item < end; ++item) out += std::string(column.child()->text_at(item)) + "|";
            return out + "]";
        }
        case ColumnType::Utf8Dictionary: return std::string(column.child()->text_at(column.index_at(row)));
    }
    return "?";
}

struct Built {
    std::vector<std::string> rows;  // every cell of a row, joined
    std::size_t batches = 0;
    std::string error;               // the message the table ended with, if any
};

Built build(const std::shared_ptr<const hive::Hive>& hive, TableKind kind, std::shared_ptr<WalkPlans> plans,
            TableOptions options = {}) {
    Built built;
    auto source = open_table(hive, kind, options, {}, std::move(plans));
    EXPECT_TRUE(source.has_value());
    if (!source) return built;
    for (;;) {
        Batch batch;
        auto more = (*source)->next(batch);
        if (!more) {
            built.error = more.error().registry_error()->message();
            return built;
        }
        if (!*more) return built;
        ++built.batches;
        for (std::int64_t row = 0; row < batch.rows; ++row) {
            std::string text;
            for (const Column& column : batch.columns) text += cell_text(column, row) + '\t';
            built.rows.push_back(std::move(text));
        }
    }
}

std::uint32_t root_of(const hive::Hive& hive) { return hive.base_block().root_cell_offset; }

class CorpusTables : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusTables, ReplayedWalkGivesTheWalkedRows) {
    auto hive = hive::Hive::from_data(hive::HiveData::copy_of(testing::corpus_file(GetParam())));
    ASSERT_TRUE(hive.has_value());
    // Small batches, so that a key's values run across batches.
    TableOptions small;
    small.batch_rows = 13;
    const Built keys = build(*hive, TableKind::Keys, nullptr, small);
    const Built values = build(*hive, TableKind::Values, nullptr, small);
    ASSERT_GT(keys.rows.size(), 1u);
    ASSERT_GT(keys.batches, 1u);
    ASSERT_EQ(keys.error, "");

    for (const TableKind first : {TableKind::Keys, TableKind::Values}) {
        const TableKind second = first == TableKind::Keys ? TableKind::Values : TableKind::Keys;
        auto plans = std::make_shared<WalkPlans>();
        const Built walked = build(*hive, first, plans, small);
        const auto plan = plans->find(root_of(**hive));
        ASSERT_NE(plan, nullptr);
        EXPECT_EQ(plan->keys().size(), keys.rows.size());
        const Built replayed = build(*hive, second, plans, small);
        EXPECT_EQ(plans->find(root_of(**hive)), plan);  // replaying keeps the plan
        EXPECT_EQ(walked.rows, first == TableKind::Keys ? keys.rows : values.rows);
        EXPECT_EQ(replayed.rows, second == TableKind::Keys ? keys.rows : values.rows);
    }
}

INSTANTIATE_TEST_SUITE_P(Hives, CorpusTables,
                         ::testing::Values("SYSTEM", "NTUSER.DAT", "UsrClass.dat", "amcache.hve", "SAM"),
                         [](const auto& tested) {
                             std::string name = tested.param;
                             std::erase(name, '.');
                             return name;
                         });

using Tree = testing::SmallTree;

TEST(TablePlans, AWalkThatFailsLeavesNoPlan) {
    Tree tree;
    // A's list names a cell past the end of the hive.
    tree.relist(tree.a, {tree.a1, 0x7FFF0000});
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    auto plans = std::make_shared<WalkPlans>();
    for (const TableKind kind : {TableKind::Keys, TableKind::Values, TableKind::Keys}) {
        const Built built = build(*hive, kind, plans);
        EXPECT_NE(built.error.find("Invalid offset 0x7fff0000"), std::string::npos) << built.error;
        EXPECT_EQ(plans->find(root_of(**hive)), nullptr);
    }
}

TEST(TablePlans, APlanServesOnlyWalksFromItsKey) {
    Tree tree;
    auto hive = testing::load(tree.image.build());
    ASSERT_TRUE(hive.has_value());
    auto plans = std::make_shared<WalkPlans>();
    TableOptions below_a;
    below_a.key_path = "A";
    EXPECT_EQ(build(*hive, TableKind::Keys, plans, below_a).rows.size(), 3u);
    ASSERT_NE(plans->find(tree.a), nullptr);
    EXPECT_EQ(plans->find(root_of(**hive)), nullptr);
    // The root's table walks on its own, and its plan replaces the one from A.
    const Built whole = build(*hive, TableKind::Keys, plans);
    EXPECT_EQ(whole.rows.size(), 5u);
    EXPECT_EQ(plans->find(tree.a), nullptr);
    EXPECT_EQ(build(*hive, TableKind::Keys, plans).rows, whole.rows);
}

// Cells of one column of a whole table, in row order.
std::vector<std::string> column_of(const std::shared_ptr<const hive::Hive>& hive, TableKind kind,
                                   std::shared_ptr<WalkPlans> plans, std::size_t column, TableOptions options = {}) {
    std::vector<std::string> cells;
    for (const std::string& row : build(hive, kind, std::move(plans), options).rows) {
        std::size_t begin = 0;
        for (std::size_t i = 0; i < column; ++i) begin = row.find('\t', begin) + 1;
        cells.push_back(row.substr(begin, row.find('\t', begin) - begin));
    }
    return cells;
}

TEST(KeysTable, DepthCountsThePartsOfThePathWhenNamesHoldBackslashes) {
    // ROOT: "a\b" (below it "c", below that "\"), "" (below it "x").
    testing::ImageBuilder image;
    const std::uint32_t slash = testing::add_key(image, "\\");
    const std::uint32_t c = testing::add_key(image, "c", 1, image.add_cell(testing::li({slash})));
    const std::uint32_t ab = testing::add_key(image, "a\\b", 1, image.add_cell(testing::li({c})));
    const std::uint32_t x = testing::add_key(image, "x");
    const std::uint32_t empty = testing::add_key(image, "", 1, image.add_cell(testing::li({x})));
    image.root(testing::add_key(image, "ROOT", 2, image.add_cell(testing::li({ab, empty}))));
    auto hive = testing::load(image.build());
    ASSERT_TRUE(hive.has_value());
    const std::vector<std::string> paths = {"", "a\\b", "a\\b\\c", "a\\b\\c\\\\", "", "\\x"};
    const std::vector<std::string> depths = {"0", "2", "3", "5", "0", "2"};
    // Walked, and replayed from the plan the values table left.
    for (const bool replayed : {false, true}) {
        auto plans = std::make_shared<WalkPlans>();
        if (replayed) (void)build(*hive, TableKind::Values, plans);
        EXPECT_EQ(column_of(*hive, TableKind::Keys, plans, 0), paths) << replayed;
        EXPECT_EQ(column_of(*hive, TableKind::Keys, plans, 2), depths) << replayed;
    }
}

TEST(ValuesTable, TypeNamesOfSmallAndLargeCodesAcrossBatches) {
    const std::vector<std::uint32_t> types = {1, 0x1234, 1, 3, 0x1234, 0xFFFFFFFF, 15, 16, 3, 0};
    testing::ImageBuilder image;
    std::vector<std::uint32_t> values;
    for (const std::uint32_t type : types) {
        testing::Vk vk;
        vk.data_type = type;
        values.push_back(image.add_cell(vk.payload()));
    }
    const auto count = static_cast<std::uint32_t>(values.size());
    image.root(testing::add_key(image, "ROOT", 0, testing::kNoCell, count, image.add_cell(testing::u32_array(values))));
    auto hive = testing::load(image.build());
    ASSERT_TRUE(hive.has_value());
    TableOptions options;
    options.batch_rows = 3;  // each batch starts its dictionary afresh
    EXPECT_EQ(column_of(*hive, TableKind::Values, nullptr, 3, options),
              (std::vector<std::string>{"REG_SZ", "REG_UNKNOWN_0x00001234", "REG_SZ", "REG_BINARY",
                                        "REG_UNKNOWN_0x00001234", "REG_UNKNOWN_0xffffffff", "REG_UNKNOWN_0x0000000f",
                                        "REG_UNKNOWN_0x00000010", "REG_BINARY", "REG_NONE"}));
}

TEST(PlannedPaths, RebuiltFromTheNamesAboveEachKey) {
    // No reservation, one the names outgrow, and one they fit in.
    for (const std::size_t hive_bytes : {std::size_t{0}, std::size_t{12}, std::size_t{1} << 20}) {
        SCOPED_TRACE(hive_bytes);
        WalkPlan plan(0x20, hive_bytes);
        for (const auto& [depth, name] : std::vector<std::pair<std::uint32_t, std::string>>{
                 {0, "ROOT"}, {1, "A"}, {2, "A1"}, {3, "deep"}, {2, "A2"}, {1, "B"}, {2, "B\\x"}}) {
            ASSERT_TRUE(plan.add(0, depth, 0, 0, name));
        }
        PlannedPaths paths;
        std::vector<std::string> out;
        for (std::size_t i = 0; i < plan.keys().size(); ++i) out.push_back(paths.path_of(plan, i));
        EXPECT_EQ(out, (std::vector<std::string>{"", "A", "A\\A1", "A\\A1\\deep", "A\\A2", "B", "B\\B\\x"}));
    }
}

}  // namespace
}  // namespace orvane::table
