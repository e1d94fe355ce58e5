// A real dirty hive and the two logs Windows left beside it: UsrClass.dat
// (sequence 256/255) with LOG1 (entries 287-290) and LOG2 (entries 291-300).

#include <gtest/gtest.h>

#include "corpus.hpp"
#include "image_builder.hpp"
#include "tree_walk.hpp"
#include "transaction_log/windows_recovery.hpp"

namespace orvane::transaction_log {
namespace {

using testing::ByteVector;
using testing::corpus_file;

struct Corpus {
    ByteVector hive = corpus_file("UsrClass.dat");
    ByteVector log1 = corpus_file("UsrClass.dat.LOG1");
    ByteVector log2 = corpus_file("UsrClass.dat.LOG2");
};

const Corpus& corpus() {
    static const Corpus files;
    return files;
}

RecoveryReport recover(ByteVector& image, const std::vector<const ByteVector*>& logs) {
    std::vector<utils::Bytes> views;
    for (const ByteVector* log : logs) views.emplace_back(*log);
    return testing::on_owned_image(image, [&](auto& owned) { return recover_from_windows_logs(owned, views); });
}

std::uint32_t u32(const ByteVector& bytes, std::size_t at) { return *utils::ByteView(bytes).u32(at); }

class UsrClassBothLogs : public ::testing::TestWithParam<bool> {};

TEST_P(UsrClassBothLogs, RecoversToTheReferenceFigures) {
    const bool log2_first = GetParam();
    ByteVector image = corpus().hive;
    const RecoveryReport report =
        log2_first ? recover(image, {&corpus().log2, &corpus().log1}) : recover(image, {&corpus().log1, &corpus().log2});

    EXPECT_TRUE(report.dirty);
    EXPECT_TRUE(report.recovered);
    EXPECT_EQ(report.entries_applied, 14u);
    EXPECT_EQ(report.first_sequence, 287u);
    EXPECT_EQ(report.last_sequence, 300u);
    EXPECT_FALSE(report.may_be_incomplete);
    EXPECT_FALSE(report.damaged_bin.has_value());
    const LogReport& log1 = report.logs[log2_first ? 1 : 0];
    const LogReport& log2 = report.logs[log2_first ? 0 : 1];
    EXPECT_EQ(log1.applied, 4u);
    EXPECT_EQ(log2.applied, 10u);

    EXPECT_EQ(u32(image, 4), 300u);
    EXPECT_EQ(u32(image, 8), 300u);
    EXPECT_EQ(u32(image, 40), 0x2b3000u);
    EXPECT_EQ(image.size(), 0x2c0000u);

    const auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value()) << hive.error().message();
    const testing::WalkCounts counts = testing::walk(**hive);
    EXPECT_EQ(counts.keys, 6238u);
    EXPECT_EQ(counts.values, 12531u);
    EXPECT_EQ(counts.failures, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(EitherOrder, UsrClassBothLogs, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("log2_first") : std::string("log1_first");
                         });

TEST(UsrClassRecovery, FirstLogAloneAppliesItsEntries) {
    ByteVector image = corpus().hive;
    const RecoveryReport report = recover(image, {&corpus().log1});
    EXPECT_EQ(report.entries_applied, 4u);
    EXPECT_EQ(report.last_sequence, 290u);
    // 287 is well above the hive's 255, and no second log carries it on.
    EXPECT_TRUE(report.may_be_incomplete);
    EXPECT_TRUE(testing::load(image).has_value());
}

TEST(UsrClassRecovery, SecondLogAloneAppliesItsEntries) {
    ByteVector image = corpus().hive;
    const RecoveryReport report = recover(image, {&corpus().log2});
    EXPECT_EQ(report.first_sequence, 291u);
    EXPECT_EQ(report.last_sequence, 300u);
    EXPECT_TRUE(report.may_be_incomplete);
    const auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value());
    testing::walk(**hive);  // whatever it finds, the walk ends
}

TEST(UsrClassRecovery, WithoutLogsTheHiveStaysAsRead) {
    ByteVector image = corpus().hive;
    const RecoveryReport report = recover(image, {});
    EXPECT_TRUE(report.dirty);
    EXPECT_FALSE(report.recovered);
    EXPECT_EQ(image, corpus().hive);
}

TEST(UsrClassRecovery, LogsAreIgnoredOnceTheHiveIsClean) {
    ByteVector image = corpus().hive;
    recover(image, {&corpus().log1, &corpus().log2});
    const ByteVector recovered = image;
    const RecoveryReport again = recover(image, {&corpus().log1, &corpus().log2});
    EXPECT_FALSE(again.dirty);
    EXPECT_EQ(image, recovered);
}

}  // namespace
}  // namespace orvane::transaction_log
