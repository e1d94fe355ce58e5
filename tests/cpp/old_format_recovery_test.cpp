// Recovery of a dirty hive from an old-format ("DIRT" bitmap) Windows log:
// which log is used, the per-bin header checks and the recovered base block.

#include <gtest/gtest.h>

#include <functional>

#include "transaction_log/recovery_steps.hpp"
#include "transaction_log/windows_recovery.hpp"
#include "windows_log_builder.hpp"

namespace orvane::transaction_log {
namespace {

using testing::ByteVector;
using testing::put_u32;

constexpr std::size_t base = 4096;
constexpr std::uint64_t hive_time = 0x01D29627F1C8A860;
constexpr std::uint64_t first_bin_time = 0x01D294F6CCF6F3F0;  // older: the first bin is itself dirty

// A 512-byte sector of `fill`; with `bin_at`, it starts a 4 KiB bin there.
ByteVector sector(std::uint8_t fill, std::optional<std::uint32_t> bin_at = std::nullopt) {
    ByteVector bytes(512, fill);
    if (bin_at) {
        testing::put_bytes(bytes, 0, testing::ascii("hbin"));
        put_u32(bytes, 4, *bin_at);
        put_u32(bytes, 8, 4096);
    }
    return bytes;
}

// Three bins filled with 0x11, sequence 5/4, last written at hive_time.
ByteVector dirty_hive() {
    testing::ImageBuilder builder;
    builder.u32_at(4, 5).u32_at(8, 4).u64_at(12, hive_time);
    for (int i = 0; i < 3; ++i) builder.add_hbin();
    ByteVector image = builder.build(false);
    for (std::uint32_t bin = 0; bin < 0x3000; bin += 0x1000) {
        std::fill(image.begin() + base + bin + 32, image.begin() + base + bin + 0x1000, 0x11);
    }
    testing::put_u64(image, base + 20, first_bin_time);
    hive::store_base_block_checksum(image);
    return image;
}

// Sector 0 rewrites the first bin's header sector, sector 9 a sector inside
// the second bin, sectors 24-31 a new fourth bin (the hive grows to 0x4000).
std::map<std::uint32_t, ByteVector> dirty_sectors() {
    std::map<std::uint32_t, ByteVector> sectors{{0, sector(0x50, 0)}, {9, sector(0x60)}, {24, sector(0x70, 0x3000)}};
    for (std::uint32_t s = 25; s < 32; ++s) sectors.emplace(s, sector(0x70));
    return sectors;
}

ByteVector old_log(std::map<std::uint32_t, ByteVector> sectors = dirty_sectors(), std::uint64_t time = hive_time,
                   std::uint32_t sequence = 5) {
    return testing::old_format_log(dirty_hive(), sequence, time, 0x4000, sectors);
}

RecoveryReport recover(ByteVector& image, const std::vector<ByteVector>& logs) {
    const std::vector<utils::Bytes> views(logs.begin(), logs.end());
    return testing::on_owned_image(image, [&](auto& owned) { return recover_from_windows_logs(owned, views); });
}

std::uint32_t u32(const ByteVector& bytes, std::size_t at) { return *utils::ByteView(bytes).u32(at); }
int at(const ByteVector& image, std::size_t relative) { return relative + base < image.size() ? image[base + relative] : -1; }

TEST(OldFormatRecovery, AppliesEveryDirtySector) {
    ByteVector image = dirty_hive();
    const RecoveryReport report = recover(image, {old_log()});

    EXPECT_EQ(report.format, WindowsLogFormat::old_format);
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(report.sectors_applied, 10u);
    EXPECT_EQ(report.logs[0].outcome, LogOutcome::applied);
    EXPECT_FALSE(report.timestamp_mismatch);
    EXPECT_FALSE(report.damaged_bin.has_value());

    EXPECT_EQ(image.size(), base + 0x4000);
    EXPECT_EQ(at(image, 100), 0x50);
    EXPECT_EQ(at(image, 0x1000 + 100), 0x11);  // a clean sector of the second bin
    EXPECT_EQ(at(image, 0x1200 + 100), 0x60);
    EXPECT_EQ(at(image, 0x3000 + 100), 0x70);
    EXPECT_EQ(at(image, 0x3FFF), 0x70);
    EXPECT_EQ(u32(image, 4), 5u);
    EXPECT_EQ(u32(image, 8), 5u);
    EXPECT_EQ(u32(image, 40), 0x4000u);
    EXPECT_TRUE(testing::load(image).has_value());
}

TEST(OldFormatRecovery, BinHeaderFailingStopsThere) {
    struct Case {
        const char* name;
        std::function<void(ByteVector& hive, std::map<std::uint32_t, ByteVector>& sectors)> mutate;
        std::uint32_t stopped_at;
        std::size_t applied;
    };
    const Case cases[] = {
        {"dirty_header_sector_bad", [](ByteVector&, auto& s) { s[8] = sector(0x66); }, 0x1000, 1},
        {"dirty_header_wrong_offset", [](ByteVector&, auto& s) { s[8] = sector(0x66, 0x2000); }, 0x1000, 1},
        {"clean_header_in_hive_bad", [](ByteVector& h, auto&) { h[base + 0x1000] = 'X'; }, 0x1000, 1},
        {"clean_header_in_hive_too_big",
         [](ByteVector& h, auto&) {
             put_u32(h, base + 0x2008, 0x3000);  // would run past the log's 0x4000
         },
         0x2000, 2},
        {"new_bin_header_not_in_log", [](ByteVector&, auto& s) { s.erase(24); }, 0x3000, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteVector image = dirty_hive();
        auto sectors = dirty_sectors();
        c.mutate(image, sectors);
        hive::store_base_block_checksum(image);
        const RecoveryReport report = recover(image, {old_log(sectors)});

        EXPECT_FALSE(report.recovered);
        EXPECT_EQ(report.logs[0].outcome, LogOutcome::bad_bin);
        EXPECT_EQ(report.stopped_at_bin, c.stopped_at);
        EXPECT_EQ(report.sectors_applied, c.applied);
        EXPECT_EQ(at(image, 100), 0x50);      // before the bad bin: applied
        EXPECT_EQ(at(image, 0x3000 + 100), -1);  // after it: nothing, not even growth
        // Still dirty, with the hive's own size.
        EXPECT_EQ(u32(image, 4), 5u);
        EXPECT_EQ(u32(image, 8), 4u);
        EXPECT_EQ(u32(image, 40), 0x3000u);
        EXPECT_EQ(u32(image, 508), hive::base_block_checksum(image));
    }
}

TEST(OldFormatRecovery, FirstBinFailingLeavesTheHiveAsRead) {
    ByteVector image = dirty_hive();
    const ByteVector before = image;
    auto sectors = dirty_sectors();
    sectors[0] = sector(0x50, 0x1000);
    const RecoveryReport report = recover(image, {old_log(sectors)});
    EXPECT_EQ(report.stopped_at_bin, 0u);
    EXPECT_EQ(report.sectors_applied, 0u);
    EXPECT_EQ(image, before);
}

TEST(OldFormatRecovery, BrokenBaseBlockIsRebuiltFromTheLog) {
    ByteVector image = dirty_hive();
    image[300] ^= 0xFF;
    // The log carries the hive's time; the first bin an older one. A broken
    // base block leaves only the first bin to compare with, and that bin is
    // dirty itself, so the log is used anyway.
    const RecoveryReport report = recover(image, {old_log()});
    EXPECT_FALSE(report.base_block_valid);
    EXPECT_TRUE(report.base_block_from_log);
    EXPECT_TRUE(report.timestamp_mismatch);
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(u32(image, 4), 5u);
    EXPECT_EQ(u32(image, 8), 5u);
    EXPECT_EQ(u32(image, 28), 0u);
    EXPECT_EQ(u32(image, 40), 0x4000u);
    EXPECT_EQ(image[300], 0);  // beyond the log's 512-byte copy: zeros
    EXPECT_TRUE(testing::load(image).has_value());
}

TEST(OldFormatRecovery, LogOfAnotherTimeAloneIsNotUsed) {
    ByteVector image = dirty_hive();
    const ByteVector before = image;
    const RecoveryReport report = recover(image, {old_log(dirty_sectors(), hive_time - 1)});
    EXPECT_EQ(report.logs[0].outcome, LogOutcome::not_chosen);
    EXPECT_EQ(image, before);
}

TEST(OldFormatRecovery, NewFormatLogTakesPrecedence) {
    ByteVector image = dirty_hive();
    testing::WindowsLogBuilder log = testing::WindowsLogBuilder::new_format(image, 5);
    log.entry({5, 0x3000, {{0x2000, ByteVector(32, 0)}}});
    const RecoveryReport report = recover(image, {old_log(), log.build()});
    EXPECT_EQ(report.format, WindowsLogFormat::new_format);
    EXPECT_EQ(report.logs[0].outcome, LogOutcome::other_format);
    EXPECT_EQ(report.entries_applied, 1u);
}

struct UsableCase {
    const char* name;
    std::function<void(ByteVector& log)> mutate;
    LogProblem problem;
};

class OldFormatUsable : public ::testing::TestWithParam<UsableCase> {};

TEST_P(OldFormatUsable, JudgesTheLog) {
    ByteVector log = old_log();
    GetParam().mutate(log);
    const WindowsLog judged = read_windows_log(log);
    EXPECT_EQ(judged.problem, GetParam().problem);
    if (judged.usable()) {
        EXPECT_EQ(judged.format, WindowsLogFormat::old_format);
        EXPECT_EQ(judged.bitmap.dirty_count, 10u);
        EXPECT_EQ(judged.bitmap.sector_count, 32u);
    }
}

std::string usable_name(const ::testing::TestParamInfo<UsableCase>& param) { return param.param.name; }

void set_and_fix(ByteVector& log, std::size_t at, std::uint32_t value) {
    put_u32(log, at, value);
    testing::fix_log_checksum(log);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OldFormatUsable,
    ::testing::Values(
        UsableCase{"valid", [](ByteVector&) {}, LogProblem::none},
        UsableCase{"nt_file_type_2", [](ByteVector& log) { set_and_fix(log, 28, 2); }, LogProblem::none},
        UsableCase{"file_type_3", [](ByteVector& log) { set_and_fix(log, 28, 3); }, LogProblem::unknown_file_type},
        UsableCase{"checksum", [](ByteVector& log) { log[509] ^= 1; }, LogProblem::bad_checksum},
        UsableCase{"dirt_replaced", [](ByteVector& log) { log[512] = 'd'; }, LogProblem::missing_dirt_signature},
        UsableCase{"clustering_factor_0", [](ByteVector& log) { set_and_fix(log, 44, 0); }, LogProblem::bad_clustering_factor},
        UsableCase{"clustering_factor_huge",
                   [](ByteVector& log) { set_and_fix(log, 44, 0xFFFFFFFF); },
                   LogProblem::bad_clustering_factor},
        UsableCase{"clustering_factor_2_without_dirt_at_1024",
                   [](ByteVector& log) { set_and_fix(log, 44, 2); },
                   LogProblem::missing_dirt_signature},
        UsableCase{"size_not_whole_pages", [](ByteVector& log) { set_and_fix(log, 40, 0x3E00); },
                   LogProblem::bad_hive_bins_data_size},
        UsableCase{"size_zero", [](ByteVector& log) { set_and_fix(log, 40, 0); }, LogProblem::bad_hive_bins_data_size},
        UsableCase{"size_past_largest_image", [](ByteVector& log) { set_and_fix(log, 40, 0x20000000); },
                   LogProblem::bad_hive_bins_data_size},
        UsableCase{"bitmap_past_the_end", [](ByteVector& log) { set_and_fix(log, 40, 0x1FFFF000); },
                   LogProblem::sectors_outside_file},
        UsableCase{"last_sector_cut", [](ByteVector& log) { log.pop_back(); }, LogProblem::sectors_outside_file}),
    usable_name);

TEST(DirtyBitmap, IgnoresBitsBeyondTheSectorCount) {
    ByteVector log(512, 0);
    testing::put_bytes(log, 512, testing::ascii("DIRT"));
    log.push_back(0xFF);       // 3 sectors: only bits 0-2 count
    log.resize(1024 + 3 * 512, 0);
    const auto bitmap = read_dirty_bitmap(log, 512, 512, 3 * 512);
    ASSERT_TRUE(bitmap.has_value());
    EXPECT_EQ(bitmap->dirty_count, 3u);
    EXPECT_EQ(bitmap->sectors.size(), 3u * 512);
    EXPECT_FALSE(read_dirty_bitmap(std::span(log).first(log.size() - 1), 512, 512, 3 * 512).has_value());
}

// --- Which of two old-format logs -------------------------------------------------

struct ChoiceCase {
    const char* name;
    std::vector<std::optional<std::pair<std::uint64_t, std::uint32_t>>> logs;  // time, sequence; none: unusable
    std::optional<std::uint64_t> reference;
    bool base_block_valid;
    std::optional<std::size_t> chosen;
    bool mismatch;
};

class OldLogChoiceTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(OldLogChoiceTest, Chooses) {
    const ChoiceCase& c = GetParam();
    std::vector<ByteVector> files;
    for (const auto& log : c.logs) files.push_back(log ? old_log(dirty_sectors(), log->first, log->second) : ByteVector{});
    std::vector<WindowsLog> judged;
    for (const ByteVector& file : files) judged.push_back(read_windows_log(file));
    const recovery::OldLogChoice choice = recovery::choose_old_format_log(judged, c.reference, c.base_block_valid);
    EXPECT_EQ(choice.index, c.chosen);
    if (choice.index) {
        EXPECT_EQ(choice.timestamp_mismatch, c.mismatch);
    }
}

std::string choice_name(const ::testing::TestParamInfo<ChoiceCase>& param) { return param.param.name; }

using Log = std::pair<std::uint64_t, std::uint32_t>;
constexpr std::uint64_t now = 100;
const auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, OldLogChoiceTest,
    ::testing::Values(
        ChoiceCase{"one_matching", {Log{now, 5}}, now, true, 0, false},
        ChoiceCase{"one_other_time", {Log{now - 1, 5}}, now, true, none, false},
        ChoiceCase{"one_other_time_base_block_broken", {Log{now - 1, 5}}, now, false, 0, true},
        ChoiceCase{"no_reference_base_block_broken", {Log{now, 5}}, none, false, 0, true},
        ChoiceCase{"matching_first", {Log{now, 5}, Log{now + 5, 6}}, now, true, 0, false},
        ChoiceCase{"matching_second", {Log{now + 5, 6}, Log{now, 5}}, now, true, 1, false},
        ChoiceCase{"both_matching_higher_sequence", {Log{now, 5}, Log{now, 6}}, now, true, 1, false},
        ChoiceCase{"both_matching_same_sequence", {Log{now, 5}, Log{now, 5}}, now, true, 0, false},
        ChoiceCase{"neither_matching_second_newer", {Log{90, 5}, Log{95, 6}}, now, true, 1, true},
        ChoiceCase{"neither_matching_first_newer", {Log{95, 6}, Log{90, 5}}, now, true, 0, true},
        ChoiceCase{"neither_matching_same_time", {Log{95, 5}, Log{95, 6}}, now, true, none, false},
        ChoiceCase{"other_log_unusable", {std::nullopt, Log{90, 5}}, now, true, 1, true},
        ChoiceCase{"none_usable", {std::nullopt, std::nullopt}, now, true, none, false}),
    choice_name);

}  // namespace
}  // namespace orvane::transaction_log
