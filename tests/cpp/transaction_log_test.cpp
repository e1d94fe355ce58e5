// Parsing "HvLE" logs: the two header checks, the block scan and its 512-byte
// rule, record counts and sizes, records running on, and the page-count stop.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "log_builder.hpp"
#include "transaction_log/transaction_log.hpp"

namespace orvane::transaction_log {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::LogBuilder;

TransactionLog parse_ok(const ByteVector& bytes) {
    auto log = TransactionLog::parse(bytes);
    EXPECT_TRUE(log.has_value()) << log.error().message();
    return log ? std::move(*log) : TransactionLog{};
}

std::string parse_error(const ByteVector& bytes) {
    auto log = TransactionLog::parse(bytes);
    if (log) return "parsed";
    return log.error().message();
}

DirtyPage page(std::uint32_t offset, std::size_t size, std::uint8_t fill) {
    return DirtyPage{offset, static_cast<std::uint32_t>(size), ByteVector(size, fill)};
}

struct HeaderCase {
    const char* name;
    ByteVector bytes;
    std::string expected;
};

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, RefusesExactly) { EXPECT_EQ(parse_error(GetParam().bytes), GetParam().expected); }

ByteVector sized(std::size_t size, const char* start) {
    ByteVector bytes(size, 0);
    for (std::size_t i = 0; i < size && start[i] != '\0'; ++i) bytes[i] = static_cast<std::uint8_t>(start[i]);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Header, HeaderTest,
    ::testing::Values(
        HeaderCase{"empty", {}, "Invalid format: Transaction log too small"},
        HeaderCase{"signature_only", ascii("HvLE"), "Invalid format: Transaction log too small"},
        HeaderCase{"one_below_minimum", sized(4095, "HvLE"), "Invalid format: Transaction log too small"},
        HeaderCase{"short_and_wrong_signature", sized(100, "regf"), "Invalid format: Transaction log too small"},
        HeaderCase{"regf", sized(4096, "regf"), "Invalid signature: expected \"HvLE\", found \"regf\""},
        HeaderCase{"lowercase", sized(8192, "hvle"), "Invalid signature: expected \"HvLE\", found \"hvle\""},
        HeaderCase{"zeros", sized(4096, ""), "Invalid signature: expected \"HvLE\", found \"\\0\\0\\0\\0\""}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(TransactionLogParse, HeaderOnlyGivesSequenceAndNoPages) {
    const TransactionLog log = parse_ok(LogBuilder(0xDEADBEEF).build());
    EXPECT_EQ(log.sequence, 0xDEADBEEFu);
    EXPECT_TRUE(log.dirty_pages.empty());
}

// A block position is examined only while 512 bytes remain from it.
TEST(TransactionLogParse, BlockNeedsFiveHundredTwelveBytes) {
    struct Case {
        std::size_t length;
        std::size_t pages;
    };
    for (const Case c : {Case{4096, 0}, Case{4100, 0}, Case{4607, 0}, Case{4608, 1}, Case{8192, 1}}) {
        SCOPED_TRACE(c.length);
        LogBuilder builder;
        builder.block();
        builder.page(0x1000, 8, 0xAB);
        ByteVector bytes = builder.build(false);
        bytes.resize(c.length, 0);
        EXPECT_EQ(parse_ok(bytes).dirty_pages.size(), c.pages);
    }
}

TEST(TransactionLogParse, ShortLastBlockIsIgnoredEvenWhenItsRecordsFit) {
    LogBuilder builder;
    builder.block();
    builder.page(0x1000, 4, 0x11);
    builder.block();  // at 8192
    builder.page(0x2000, 4, 0x22);
    ByteVector bytes = builder.build(false);
    bytes.resize(8192 + 511, 0);
    EXPECT_EQ(parse_ok(bytes).dirty_pages, std::vector{page(0x1000, 4, 0x11)});
}

TEST(TransactionLogParse, RecordCountBounds) {
    struct Case {
        std::uint32_t declared;
        std::size_t written;
        std::size_t expected;
    };
    for (const Case c : {Case{0, 3, 0}, Case{1, 3, 1}, Case{1000, 1000, 1000}, Case{1000, 1001, 1000},
                         Case{1001, 1001, 0}, Case{0xFFFFFFFF, 2, 0}}) {
        SCOPED_TRACE(c.declared);
        LogBuilder builder;
        builder.block(c.declared);
        for (std::size_t i = 0; i < c.written; ++i) builder.page(static_cast<std::uint32_t>(i), 1, 0x5A);
        EXPECT_EQ(parse_ok(builder.build()).dirty_pages.size(), c.expected);
    }
}

TEST(TransactionLogParse, PageSizeBounds) {
    struct Case {
        std::uint32_t size;
        bool taken;
    };
    for (const Case c : {Case{0, false}, Case{1, true}, Case{65536, true}, Case{65537, false},
                         Case{0xFFFFFFFF, false}}) {
        SCOPED_TRACE(c.size);
        // The odd record carries no bytes when refused, so the next record is
        // read 8 bytes after it.
        LogBuilder builder;
        builder.block();
        builder.record(0x1000, c.size, c.taken ? ByteVector(c.size, 0x77) : ByteVector{});
        builder.page(0x2000, 4, 0x99);
        const TransactionLog log = parse_ok(builder.build());
        std::vector<DirtyPage> expected;
        if (c.taken) expected.push_back(page(0x1000, c.size, 0x77));
        expected.push_back(page(0x2000, 4, 0x99));
        EXPECT_EQ(log.dirty_pages, expected);
    }
}

TEST(TransactionLogParse, SkippedRecordCountsAgainstTheCount) {
    LogBuilder builder;
    builder.block(3);
    builder.page(0x1000, 4, 0x01).record(0x2000, 0).page(0x3000, 4, 0x03).page(0x4000, 4, 0x04);
    EXPECT_EQ(parse_ok(builder.build()).dirty_pages, (std::vector{page(0x1000, 4, 0x01), page(0x3000, 4, 0x03)}));
}

TEST(TransactionLogParse, RecordPastTheEndEndsOnlyItsBlock) {
    // Block one: a good page, then a record claiming more bytes than the file
    // holds from there. The scan goes on at the next block position, which the
    // claimed bytes would have covered.
    LogBuilder builder;
    builder.block(3);
    builder.page(0x1000, 4, 0x01).record(0x2000, 65536).pad_to_block();
    builder.block();
    builder.page(0x3000, 4, 0x03);
    EXPECT_EQ(parse_ok(builder.build()).dirty_pages, (std::vector{page(0x1000, 4, 0x01), page(0x3000, 4, 0x03)}));
}

TEST(TransactionLogParse, RecordEndingExactlyAtTheEndOfTheFileIsTaken) {
    LogBuilder builder;
    builder.block();
    builder.page(0x1000, 4096 - 16 - 8, 0x42);
    const ByteVector bytes = builder.build(false);
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(parse_ok(bytes).dirty_pages, std::vector{page(0x1000, 4096 - 24, 0x42)});
}

TEST(TransactionLogParse, RecordHeaderCutOffByTheEndOfTheFile) {
    LogBuilder builder;
    builder.block(2);
    builder.page(0x1000, 4096 - 16 - 8 - 4, 0x42);  // leaves 4 bytes: half a record header
    builder.append(ascii("\x01\x02\x03\x04"));
    const ByteVector bytes = builder.build(false);
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(parse_ok(bytes).dirty_pages.size(), 1u);
}

TEST(TransactionLogParse, RecordsRunOnAcrossBlockPositions) {
    // A 6000-byte page spans the position at 8192, whose first bytes happen to
    // read "DIRT": that position is parsed as a block of its own as well.
    ByteVector data(6000, 0xCC);
    const std::size_t inner = 8192 - (4096 + 16 + 8);
    for (std::size_t i = 0; i < 4; ++i) data[inner + i] = static_cast<std::uint8_t>("DIRT"[i]);
    testing::put_u32(data, inner + 8, 1);                  // count
    testing::put_u32(data, inner + 16, 0x7000);            // record: offset
    testing::put_u32(data, inner + 20, 2);                 // record: size
    testing::put_bytes(data, inner + 24, {0xEE, 0xFF});    // record: bytes
    LogBuilder builder;
    builder.block();
    builder.page(0x1000, data).page(0x9000, 4, 0x11);
    EXPECT_EQ(parse_ok(builder.build()).dirty_pages,
              (std::vector{DirtyPage{0x1000, 6000, data}, page(0x9000, 4, 0x11),
                           DirtyPage{0x7000, 2, {0xEE, 0xFF}}}));
}

TEST(TransactionLogParse, OtherBlocksAreSkippedAndOrderIsKept) {
    LogBuilder builder;
    builder.append(ascii("HBIN")).pad_to_block();
    builder.block();
    builder.page(0x2000, 4, 0x02).page(0x2000, 4, 0x03);  // duplicates stay, in file order
    builder.pad_to_block().append(ascii("dirt")).pad_to_block();
    builder.block();
    builder.page(0x1000, 4, 0x01);
    const TransactionLog log = parse_ok(builder.build());
    EXPECT_EQ(log.dirty_pages, (std::vector{page(0x2000, 4, 0x02), page(0x2000, 4, 0x03), page(0x1000, 4, 0x01)}));
}

TEST(TransactionLogParse, TargetOffsetIsTakenAsStored) {
    LogBuilder builder;
    builder.block();
    builder.page(0xFFFFFFFF, 2, 0x01);
    EXPECT_EQ(parse_ok(builder.build()).dirty_pages, std::vector{page(0xFFFFFFFF, 2, 0x01)});
}

// Once more than 10000 pages are collected no further block is read, but the
// block that crossed the line keeps all its pages.
TEST(TransactionLogParse, StopsAfterTenThousandPages) {
    struct Case {
        const char* name;
        std::size_t first_block;
        std::size_t total;
    };
    for (const Case c : {Case{"reaches_10000_exactly", 0, 11000}, Case{"crosses_to_10001", 1, 10001}}) {
        SCOPED_TRACE(c.name);
        LogBuilder builder;
        if (c.first_block != 0) {
            builder.block();
            for (std::size_t i = 0; i < c.first_block; ++i) builder.page(0, 1, 0);
        }
        for (int block = 0; block < 12; ++block) {
            builder.block();
            for (int i = 0; i < 1000; ++i) builder.page(static_cast<std::uint32_t>(block), 1, 0);
        }
        const TransactionLog log = parse_ok(builder.build());
        EXPECT_EQ(log.dirty_pages.size(), c.total);
        EXPECT_EQ(log.dirty_pages.back().offset, c.first_block != 0 ? 9u : 10u);
    }
}

class TransactionLogOpen : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("orvane_log_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const ByteVector& bytes) {
        const auto path = dir_ / "log";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    std::filesystem::path dir_;
};

TEST_F(TransactionLogOpen, ReadsTheFile) {
    LogBuilder builder(7);
    builder.block();
    builder.page(0x1000, 3, 0x33);
    auto log = TransactionLog::open(write(builder.build()));
    ASSERT_TRUE(log.has_value()) << log.error().message();
    EXPECT_EQ(log->sequence, 7u);
    EXPECT_EQ(log->dirty_pages, std::vector{page(0x1000, 3, 0x33)});
}

TEST_F(TransactionLogOpen, ReportsEachFailure) {
    struct Case {
        const char* name;
        std::string path;
        std::string expected;
    };
    const std::string small = write(ByteVector(10, 0));
    for (const Case& c : {Case{"missing", (dir_ / "missing").string(), "No such file or directory (os error 2)"},
                          Case{"directory", dir_.string(), "Is a directory (os error 21)"},
                          Case{"nul", std::string("log\0x", 5), "file name contained an unexpected NUL byte"},
                          Case{"too_small", small, "Invalid format: Transaction log too small"}}) {
        SCOPED_TRACE(c.name);
        auto log = TransactionLog::open(c.path);
        ASSERT_FALSE(log.has_value());
        EXPECT_EQ(log.error().message(), c.expected);
    }
}

}  // namespace
}  // namespace orvane::transaction_log
