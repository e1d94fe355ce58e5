// Recovery of a dirty hive from new-format Windows logs: sequence rules across
// two logs, entry validity, growth and the recovered base block.

#include <gtest/gtest.h>

#include <functional>

#include "hive/layout.hpp"
#include "transaction_log/windows_recovery.hpp"
#include "windows_log_builder.hpp"

namespace orvane::transaction_log {
namespace {

using testing::ByteVector;
using testing::LogEntryContents;
using testing::WindowsLogBuilder;
using testing::put_u32;

constexpr std::size_t base = 4096;

// A whole 4 KiB bin at `offset` whose body is `fill`.
ByteVector bin(std::uint32_t offset, std::uint8_t fill) {
    ByteVector page(4096, fill);
    testing::put_bytes(page, 0, testing::ascii("hbin"));
    put_u32(page, 4, offset);
    put_u32(page, 8, 4096);
    return page;
}

// The hive as read: two bins filled with 0x11, sequence 5/4 (a write of the
// primary began and did not finish).
ByteVector dirty_hive(std::uint32_t primary = 5, std::uint32_t secondary = 4) {
    testing::ImageBuilder builder;
    builder.u32_at(4, primary).u32_at(8, secondary).u32_at(144, 0x2);
    builder.add_hbin();
    builder.add_hbin();
    ByteVector image = builder.build(false);
    std::fill(image.begin() + base + 32, image.end(), 0x11);
    std::fill(image.begin() + base + 0x1000 + 32, image.end(), 0x11);
    hive::store_base_block_checksum(image);
    return image;
}

// The entries: 5 rewrites bin 0, 6 bin 1, 7 adds a third bin (the hive grows
// to 0x3000), 8 rewrites bin 0 again and sets the KTM-locked flag.
LogEntryContents entry(std::uint32_t sequence) {
    switch (sequence) {
        case 5: return {5, 0x2000, {{0, bin(0, 0x50)}}};
        case 6: return {6, 0x2000, {{0x1000, bin(0x1000, 0x60)}}};
        case 7: return {7, 0x3000, {{0x2000, bin(0x2000, 0x70)}}};
        default: return {8, 0x3000, {{0, bin(0, 0x80)}}, 1};
    }
}

// LOG1 holds entries 5-6, LOG2 entries 7-8, as Windows leaves them after
// switching logs once.
struct Logs {
    WindowsLogBuilder log1;
    WindowsLogBuilder log2;
    std::size_t entry6 = 0;
    std::size_t entry8 = 0;
};

Logs make_logs(const ByteVector& hive) {
    Logs logs{WindowsLogBuilder::new_format(hive, 5), WindowsLogBuilder::new_format(hive, 7)};
    logs.log1.entry(entry(5));
    logs.entry6 = logs.log1.entry(entry(6));
    logs.log2.entry(entry(7));
    logs.entry8 = logs.log2.entry(entry(8));
    return logs;
}

RecoveryReport recover(ByteVector& image, const std::vector<ByteVector>& logs) {
    const std::vector<utils::Bytes> views(logs.begin(), logs.end());
    return testing::on_owned_image(image, [&](auto& owned) { return recover_from_windows_logs(owned, views); });
}

// The fill byte of each whole bin in the image, as far as the image goes.
std::vector<int> fills(const ByteVector& image) {
    std::vector<int> out;
    for (std::size_t at = base; at + 4096 <= image.size(); at += 4096) out.push_back(image[at + 100]);
    return out;
}

std::uint32_t u32(const ByteVector& bytes, std::size_t at) { return *utils::ByteView(bytes).u32(at); }

std::vector<LogOutcome> outcomes(const RecoveryReport& report) {
    std::vector<LogOutcome> out;
    for (const LogReport& log : report.logs) out.push_back(log.outcome);
    return out;
}

// --- The whole run ------------------------------------------------------------

TEST(WindowsRecovery, ReplaysBothLogsInSequenceOrder) {
    ByteVector image = dirty_hive();
    const Logs logs = make_logs(image);
    const RecoveryReport report = recover(image, {logs.log1.build(), logs.log2.build()});

    EXPECT_TRUE(report.dirty);
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(report.format, WindowsLogFormat::new_format);
    EXPECT_EQ(report.entries_applied, 4u);
    EXPECT_EQ(report.first_sequence, 5u);
    EXPECT_EQ(report.last_sequence, 8u);
    EXPECT_FALSE(report.may_be_incomplete);
    EXPECT_FALSE(report.damaged_bin.has_value());
    EXPECT_EQ(outcomes(report), (std::vector{LogOutcome::walk_ended, LogOutcome::walk_ended}));
    EXPECT_EQ(report.logs[0].walk_end, WalkEnd::end_of_log);
    EXPECT_EQ(report.logs[0].applied, 2u);
    EXPECT_EQ(report.logs[1].applied, 2u);
    EXPECT_EQ(report.applied_order, (std::vector<std::size_t>{0, 1}));

    // The hive grew to the last entry's size; later entries won.
    EXPECT_EQ(image.size(), base + 0x3000);
    EXPECT_EQ(fills(image), (std::vector{0x80, 0x60, 0x70}));
    EXPECT_EQ(u32(image, 4), 8u);
    EXPECT_EQ(u32(image, 8), 8u);
    EXPECT_EQ(u32(image, 40), 0x3000u);
    EXPECT_EQ(u32(image, 144), 0x3u);  // bit 0x1 from the last entry, 0x2 kept
    EXPECT_EQ(u32(image, 28), 0u);
    EXPECT_EQ(u32(image, 508), hive::base_block_checksum(image));
    EXPECT_TRUE(testing::load(image).has_value());
}

TEST(WindowsRecovery, OrderOfTheLogsDoesNotMatter) {
    const ByteVector hive = dirty_hive();
    const Logs logs = make_logs(hive);
    ByteVector forward = hive;
    ByteVector backward = hive;
    recover(forward, {logs.log1.build(), logs.log2.build()});
    const RecoveryReport report = recover(backward, {logs.log2.build(), logs.log1.build()});
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(report.logs[0].applied, 2u);  // LOG2 given first, replayed second
    EXPECT_EQ(report.last_sequence, 8u);
}

TEST(WindowsRecovery, LastEntryFlagClearedKeepsOtherBits) {
    ByteVector image = dirty_hive();
    put_u32(image, 144, 0x3);
    hive::store_base_block_checksum(image);
    WindowsLogBuilder log = WindowsLogBuilder::new_format(image, 5);
    log.entry(entry(5));
    recover(image, {log.build()});
    EXPECT_EQ(u32(image, 144), 0x2u);
}

TEST(WindowsRecovery, CleanHiveIsLeftAsRead) {
    ByteVector image = dirty_hive(5, 5);
    const ByteVector before = image;
    const Logs logs = make_logs(image);
    const RecoveryReport report = recover(image, {logs.log1.build(), logs.log2.build()});
    EXPECT_FALSE(report.dirty);
    EXPECT_EQ(image, before);
    EXPECT_EQ(outcomes(report), (std::vector{LogOutcome::not_read, LogOutcome::not_read}));
}

TEST(WindowsRecovery, HiveUnderOneBaseBlockIsLeftAsRead) {
    ByteVector image(4095, 0);
    const Logs logs = make_logs(dirty_hive());
    const RecoveryReport report = recover(image, {logs.log1.build()});
    EXPECT_TRUE(report.hive_too_small);
    EXPECT_EQ(image, ByteVector(4095, 0));
}

TEST(WindowsRecovery, NoLogsLeavesDirtyHiveAsRead) {
    ByteVector image = dirty_hive();
    const ByteVector before = image;
    const RecoveryReport report = recover(image, {});
    EXPECT_TRUE(report.dirty);
    EXPECT_FALSE(report.recovered);
    EXPECT_EQ(image, before);
}

// --- Edge cases: one mutation of the logs or the hive each ---------------------

struct Expected {
    std::size_t entries;        // applied
    std::uint32_t last;         // last sequence applied (0: none)
    std::vector<int> fills;     // of the resulting image
    std::vector<LogOutcome> logs;
    std::vector<WalkEnd> walk_ends = {};  // per log, where the outcome is walk_ended
};

struct EdgeCase {
    const char* name;
    // Changes the hive or the logs, and returns the logs to give, in order.
    std::function<std::vector<ByteVector>(ByteVector& hive, Logs& logs)> setup;
    Expected expected;
};

class WindowsRecoveryEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(WindowsRecoveryEdge, Recovers) {
    const EdgeCase& c = GetParam();
    ByteVector image = dirty_hive();
    Logs logs = make_logs(image);
    std::vector<ByteVector> given = c.setup(image, logs);
    const ByteVector before = image;
    const RecoveryReport report = recover(image, given);

    EXPECT_EQ(report.entries_applied, c.expected.entries);
    EXPECT_EQ(fills(image), c.expected.fills);
    EXPECT_EQ(outcomes(report), c.expected.logs);
    for (std::size_t i = 0; i < c.expected.walk_ends.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.logs[i].walk_end, c.expected.walk_ends[i]);
    }
    if (c.expected.entries == 0) {
        // Nothing applied: the hive is exactly as read, and still dirty.
        EXPECT_FALSE(report.recovered);
        EXPECT_EQ(image, before);
    } else {
        EXPECT_TRUE(report.recovered);
        EXPECT_EQ(report.last_sequence, c.expected.last);
        EXPECT_EQ(u32(image, 4), c.expected.last);
        EXPECT_EQ(u32(image, 8), c.expected.last);
        EXPECT_TRUE(testing::load(image).has_value());
    }
}

std::vector<ByteVector> both(Logs& logs) { return {logs.log1.build(), logs.log2.build()}; }

// Flips one byte of `log` at `at` (no rehash).
void flip(WindowsLogBuilder& log, std::size_t at) { log.raw()[at] ^= 0xFF; }

constexpr auto walked = LogOutcome::walk_ended;
constexpr auto broke = LogOutcome::sequence_break;
const std::vector<int> original{0x11, 0x11};
const std::vector<int> after5{0x50, 0x11};
const std::vector<int> after7{0x50, 0x60, 0x70};
const std::vector<int> after8{0x80, 0x60, 0x70};

std::string edge_name(const ::testing::TestParamInfo<EdgeCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsRecoveryEdge,
    ::testing::Values(
        EdgeCase{"torn_last_entry",
                 [](ByteVector&, Logs& l) {
                     l.log2.raw().resize(l.entry8 + 2048);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_entry_size}}},
        EdgeCase{"page_byte_changed",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, l.entry6 + 40 + 8 + 200);
                     return both(l);
                 },
                 // Entry 6 fails Hash-1; LOG2 cannot carry on from 5.
                 {1, 5, after5, {walked, broke}, {WalkEnd::data_hash_mismatch}}},
        EdgeCase{"padding_byte_changed",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, l.log1.raw().size() - 1);
                     return both(l);
                 },
                 {1, 5, after5, {walked, broke}, {WalkEnd::data_hash_mismatch}}},
        EdgeCase{"header_changed_without_rehash",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, l.entry6 + 8);
                     return both(l);
                 },
                 {1, 5, after5, {walked, broke}, {WalkEnd::header_hash_mismatch}}},
        EdgeCase{"stored_data_hash_changed",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, l.entry6 + 24);
                     return both(l);
                 },
                 {1, 5, after5, {walked, broke}, {WalkEnd::header_hash_mismatch}}},
        EdgeCase{"renumbered_with_valid_hashes",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 12, 9);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, broke}}},
        EdgeCase{"hive_bins_data_size_not_whole_pages",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 16, 0x3200);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_hive_bins_data_size}}},
        EdgeCase{"hive_bins_data_size_zero",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 16, 0);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_hive_bins_data_size}}},
        EdgeCase{"entry_would_pass_the_largest_image",
                 [](ByteVector&, Logs& l) {
                     // 4096 + 0x1FFFF000 would be exactly the limit; one page more is not.
                     put_u32(l.log2.raw(), l.entry8 + 16, 0x20000000);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::image_too_large}}},
        EdgeCase{"largest_hive_bins_data_size",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 16, 0xFFFFF000);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::image_too_large}}},
        EdgeCase{"entry_size_not_whole_sectors",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 4, 0x1100);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_entry_size}}},
        EdgeCase{"entry_size_below_header",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 4, 0);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_entry_size}}},
        EdgeCase{"page_count_overruns_entry",
                 [](ByteVector&, Logs& l) {
                     put_u32(l.log2.raw(), l.entry8 + 20, 0xFFFFFFFF);
                     testing::rehash_entry(l.log2.raw(), l.entry8);
                     return both(l);
                 },
                 {3, 7, after7, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_page_references}}},
        EdgeCase{"page_sizes_overflow_32_bits",
                 [](ByteVector&, Logs& l) {
                     LogEntryContents contents(9, 0x3000, {{0, {}}, {0, {}}});
                     contents.size_of_reference = 0x80000000;
                     l.log2.entry(contents);
                     return both(l);
                 },
                 {4, 8, after8, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::bad_page_references}}},
        EdgeCase{"page_beyond_hive_bins_data_size",
                 [](ByteVector&, Logs& l) {
                     l.log2.entry({9, 0x3000, {{0x3000, bin(0x3000, 0x90)}}});
                     return both(l);
                 },
                 {4, 8, after8, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::page_outside_hive}}},
        EdgeCase{"stale_entry_after_zero_gap",
                 [](ByteVector&, Logs& l) {
                     // A hash-valid entry 9 behind zeros is never reached.
                     l.log2.append(ByteVector(512, 0));
                     l.log2.entry({9, 0x3000, {{0, bin(0, 0x90)}}});
                     return both(l);
                 },
                 {4, 8, after8, {walked, walked}, {WalkEnd::end_of_log, WalkEnd::no_more_entries}}},
        EdgeCase{"first_entry_of_earlier_log_corrupt",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, 512 + 40 + 8 + 100);
                     return both(l);
                 },
                 {0, 0, original, {walked, broke}, {WalkEnd::data_hash_mismatch}}},
        EdgeCase{"only_the_later_log",
                 [](ByteVector&, Logs& l) { return std::vector<ByteVector>{l.log2.build()}; },
                 {2, 8, {0x80, 0x11, 0x70}, {walked}}},
        EdgeCase{"earlier_log_empty_file",
                 [](ByteVector&, Logs& l) { return std::vector<ByteVector>{ByteVector{}, l.log2.build()}; },
                 {2, 8, {0x80, 0x11, 0x70}, {LogOutcome::unusable, walked}}},
        EdgeCase{"earlier_log_older_than_hive",
                 [](ByteVector& hive, Logs& l) {
                     hive = dirty_hive(7, 6);
                     return both(l);
                 },
                 {2, 8, {0x80, 0x11, 0x70}, {LogOutcome::older_than_hive, walked}}},
        EdgeCase{"only_stale_logs",
                 [](ByteVector& hive, Logs& l) {
                     hive = dirty_hive(9, 8);
                     return both(l);
                 },
                 {0, 0, original, {LogOutcome::older_than_hive, LogOutcome::older_than_hive}}},
        EdgeCase{"log_base_block_checksum_bad",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, 100);
                     return both(l);
                 },
                 // LOG2 starts at 7 and is replayed alone.
                 {2, 8, {0x80, 0x11, 0x70}, {LogOutcome::unusable, walked}}},
        EdgeCase{"first_log_without_valid_entries",
                 [](ByteVector&, Logs& l) {
                     flip(l.log1, 512 + 8);
                     return both(l);
                 },
                 // LOG1 yields nothing; LOG2 does not start where it should.
                 {0, 0, original, {walked, broke}, {WalkEnd::header_hash_mismatch}}},
        EdgeCase{"entries_carry_on_in_the_same_log",
                 [](ByteVector& hive, Logs&) {
                     WindowsLogBuilder log = WindowsLogBuilder::new_format(hive, 5);
                     for (std::uint32_t n = 5; n <= 8; ++n) log.entry(entry(n));
                     return std::vector<ByteVector>{log.build()};
                 },
                 {4, 8, after8, {walked}}}),
    edge_name);

// --- The recovered base block -------------------------------------------------

TEST(WindowsRecovery, BrokenBaseBlockIsRebuiltFromTheLatestLog) {
    ByteVector image = dirty_hive();
    const Logs logs = make_logs(image);
    image[300] ^= 0xFF;  // the checksum no longer matches
    const RecoveryReport report = recover(image, {logs.log1.build(), logs.log2.build()});

    EXPECT_FALSE(report.base_block_valid);
    EXPECT_TRUE(report.base_block_from_log);
    EXPECT_EQ(outcomes(report), (std::vector{LogOutcome::not_chosen, LogOutcome::walk_ended}));
    EXPECT_EQ(report.first_sequence, 7u);
    EXPECT_EQ(report.last_sequence, 8u);
    EXPECT_EQ(fills(image), (std::vector{0x80, 0x11, 0x70}));

    // LOG2's copy, made a primary again, with the recovered fields.
    const ByteVector log2 = logs.log2.build();
    ByteVector expected(log2.begin(), log2.begin() + 512);
    expected.resize(4096, 0);
    put_u32(expected, 4, 8);
    put_u32(expected, 8, 8);
    put_u32(expected, 28, 0);
    put_u32(expected, 40, 0x3000);
    put_u32(expected, 144, 0x3);
    hive::store_base_block_checksum(expected);
    EXPECT_EQ(ByteVector(image.begin(), image.begin() + 4096), expected);
}

TEST(WindowsRecovery, BrokenBaseBlockWithNothingToApplyIsLeftAsRead) {
    ByteVector image = dirty_hive();
    Logs logs = make_logs(image);
    image[300] ^= 0xFF;
    flip(logs.log2, 512 + 8);  // the latest log's first entry fails
    const ByteVector before = image;
    const RecoveryReport report = recover(image, {logs.log1.build(), logs.log2.build()});
    EXPECT_FALSE(report.recovered);
    EXPECT_FALSE(report.base_block_from_log);
    EXPECT_EQ(image, before);
}

// Makes the XOR of the base block's first 508 bytes `target` by adjusting an
// unused word, and stores `stored` as its checksum.
void force_checksum(ByteVector& block, std::uint32_t target, std::uint32_t stored) {
    put_u32(block, 112, 0);
    put_u32(block, 112, hive::base_block_checksum(block) ^ target);
    put_u32(block, 508, stored);
}

TEST(WindowsRecovery, WindowsAdjustedChecksumsAreAccepted) {
    for (const auto& [computed, stored] : {std::pair{0u, 1u}, {0xFFFFFFFFu, 0xFFFFFFFEu}, {0u, 0u}}) {
        SCOPED_TRACE(stored);
        ByteVector image = dirty_hive();
        force_checksum(image, computed, stored);
        Logs logs = make_logs(image);
        force_checksum(logs.log1.raw(), computed, stored);
        const RecoveryReport report = recover(image, {logs.log1.build(), logs.log2.build()});
        EXPECT_TRUE(report.base_block_valid);
        EXPECT_EQ(report.logs[0].outcome, LogOutcome::walk_ended);
        EXPECT_EQ(report.last_sequence, 8u);
        // Written the way Windows writes it.
        EXPECT_EQ(u32(image, 508), hive::stored_checksum_form(hive::base_block_checksum(image)));
    }
}

// A log's file name field must be the hive's own: Windows writes the same one
// into both, so a log with another was written for another hive.
TEST(WindowsRecovery, LogsOfAnotherHiveAreLeftOut) {
    for (const bool hive_valid : {true, false}) {
        SCOPED_TRACE(hive_valid);
        ByteVector image = dirty_hive();
        Logs logs = make_logs(image);
        ByteVector other = logs.log2.build();
        other[48] ^= 0x20;  // "SYSTEM" -> "sYSTEM"
        testing::fix_log_checksum(other);
        if (!hive_valid) image[509] ^= 1;
        const ByteVector before = image;
        const RecoveryReport report = recover(image, {logs.log1.build(), other});
        if (hive_valid) {
            // Only the hive's own log is replayed, as far as it goes.
            EXPECT_EQ(report.logs[1].outcome, LogOutcome::unusable);
            EXPECT_EQ(report.logs[1].problem, LogProblem::other_hive);
            EXPECT_EQ(report.applied_order, std::vector<std::size_t>{0});
            EXPECT_EQ(report.last_sequence, 6u);
        } else {
            // Without a valid base block of its own, nothing says whose logs they are.
            EXPECT_EQ(report.logs[1].problem, LogProblem::none);
            EXPECT_NE(image, before);
        }
    }
}

TEST(WindowsRecovery, OtherStoredChecksumMakesTheBaseBlockInvalid) {
    ByteVector image = dirty_hive();
    force_checksum(image, 0, 2);
    EXPECT_FALSE(recover(image, {}).base_block_valid);
}

TEST(WindowsRecovery, OneLogStartingAboveTheHiveMayBeIncomplete) {
    // Hive at 5/4: entries from 7 on, with 5 and 6 nowhere to be found.
    ByteVector alone = dirty_hive();
    EXPECT_TRUE(recover(alone, {make_logs(alone).log2.build()}).may_be_incomplete);
    // Carrying straight on from the hive's last whole state is fine.
    ByteVector next = dirty_hive(7, 6);
    EXPECT_FALSE(recover(next, {make_logs(next).log2.build()}).may_be_incomplete);
}

TEST(WindowsRecovery, DamagedBinAfterReplayIsReported) {
    ByteVector image = dirty_hive();
    WindowsLogBuilder log = WindowsLogBuilder::new_format(image, 5);
    log.entry({5, 0x2000, {{0x1000, ByteVector(4096, 0x33)}}});
    const RecoveryReport report = recover(image, {log.build()});
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(report.damaged_bin, 0x1000u);
}

// --- Which logs are usable ------------------------------------------------------

struct UsableCase {
    const char* name;
    std::function<void(ByteVector& log)> mutate;
    LogProblem problem;
};

class WindowsLogUsable : public ::testing::TestWithParam<UsableCase> {};

TEST_P(WindowsLogUsable, JudgesTheBaseBlockCopy) {
    const ByteVector hive = dirty_hive();
    ByteVector log = make_logs(hive).log1.build();
    GetParam().mutate(log);
    EXPECT_EQ(read_windows_log(log).problem, GetParam().problem);
}

std::string usable_name(const ::testing::TestParamInfo<UsableCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsLogUsable,
    ::testing::Values(
        UsableCase{"valid", [](ByteVector&) {}, LogProblem::none},
        UsableCase{"empty", [](ByteVector& log) { log.clear(); }, LogProblem::too_short},
        UsableCase{"one_byte_short", [](ByteVector& log) { log.resize(511); }, LogProblem::too_short},
        UsableCase{"copy_only", [](ByteVector& log) { log.resize(512); }, LogProblem::missing_entry_signature},
        UsableCase{"signature",
                   [](ByteVector& log) {
                       log[0] = 'R';
                       testing::fix_log_checksum(log);
                   },
                   LogProblem::bad_signature},
        UsableCase{"checksum", [](ByteVector& log) { log[508] ^= 1; }, LogProblem::bad_checksum},
        UsableCase{"sequences_differ",
                   [](ByteVector& log) {
                       put_u32(log, 8, 4);
                       testing::fix_log_checksum(log);
                   },
                   LogProblem::sequence_mismatch},
        UsableCase{"primary_file_type",
                   [](ByteVector& log) {
                       put_u32(log, 28, 0);
                       testing::fix_log_checksum(log);
                   },
                   LogProblem::unknown_file_type},
        UsableCase{"no_hvle",
                   [](ByteVector& log) { log[512] = 'X'; },
                   LogProblem::missing_entry_signature}),
    usable_name);

}  // namespace
}  // namespace orvane::transaction_log
