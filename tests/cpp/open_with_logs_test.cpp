// Loading a hive with logs: which logs are used, and which errors come back.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "log_builder.hpp"
#include "transaction_log/open_with_logs.hpp"

namespace orvane::transaction_log {
namespace {

namespace fs = std::filesystem;
using testing::ByteVector;
using testing::LogBuilder;

class OpenWithLogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orvane_owl_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        testing::ImageBuilder builder;
        builder.add_hbin();
        hive_ = write("hive", builder.build());
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const char* name, const ByteVector& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    // A log whose one page sets the primary sequence number.
    std::string sequence_log(const char* name, std::uint32_t log_sequence, std::uint32_t value) {
        LogBuilder builder(log_sequence);
        builder.block();
        ByteVector bytes;
        testing::put_u32(bytes, 0, value);
        builder.page(4, bytes);
        return write(name, builder.build());
    }
    // The primary sequence of the loaded hive, or the error text.
    std::string load(const std::optional<std::string>& log1, const std::optional<std::string>& log2,
                     const std::string& hive = {}) {
        auto result = open_with_logs(hive.empty() ? hive_ : hive, log1, log2);
        if (!result) return result.error().message();
        EXPECT_FALSE((*result)->data().empty());
        return std::to_string((*result)->base_block().primary_sequence);
    }

    fs::path dir_;
    std::string hive_;
};

TEST_F(OpenWithLogsTest, WithoutLogsTheHiveLoadsAsRead) { EXPECT_EQ(load(std::nullopt, std::nullopt), "1"); }

TEST_F(OpenWithLogsTest, LogsAreAppliedBySequence) {
    const std::string a = sequence_log("a", 5, 100);
    const std::string b = sequence_log("b", 5, 200);
    const std::string c = sequence_log("c", 4, 300);
    EXPECT_EQ(load(a, std::nullopt), "100");
    EXPECT_EQ(load(std::nullopt, a), "100");
    EXPECT_EQ(load(a, b), "200");  // equal sequences: log2 last
    EXPECT_EQ(load(b, a), "100");
    EXPECT_EQ(load(a, c), "100");  // log2 smaller: applied first
}

TEST_F(OpenWithLogsTest, UnusableLogsAreIgnored) {
    const std::string good = sequence_log("good", 1, 77);
    ByteVector foreign = LogBuilder().build();
    foreign[0] = 'X';
    struct Case {
        const char* name;
        std::string path;
    };
    for (const Case& c : {Case{"missing", (dir_ / "missing").string()}, Case{"empty_path", ""},
                          Case{"directory", dir_.string()}, Case{"nul", std::string("a\0b", 3)},
                          Case{"empty_file", write("empty", {})}, Case{"short", write("short", testing::ascii("HvLE"))},
                          Case{"foreign", write("foreign", foreign)}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(load(c.path, std::nullopt), "1");
        EXPECT_EQ(load(c.path, good), "77");
        EXPECT_EQ(load(good, c.path), "77");
    }
}

TEST_F(OpenWithLogsTest, ErrorsComeBackUnchanged) {
    LogBuilder beyond;
    beyond.block();
    beyond.page(0x1FFFFFFF, 2, 0);
    LogBuilder signature;
    signature.block();
    signature.page(0, testing::ascii("abcd"));
    const std::string short_hive = write("short_hive", ByteVector(1000, 0));
    LogBuilder small;
    small.block();
    small.page(0, 8, 0);
    EXPECT_EQ(load(write("beyond", beyond.build()), std::nullopt),
              "Invalid format: Dirty page 0 would extend hive beyond maximum size: 0x20000001 > 0x20000000");
    EXPECT_EQ(load(write("signature", signature.build()), std::nullopt),
              "Invalid signature: expected \"regf\", found \"abcd\"");
    EXPECT_EQ(load(write("small", small.build()), std::nullopt, short_hive),
              "Hive too small: 1000 bytes (minimum: 4096 bytes)");
    EXPECT_EQ(load(std::nullopt, std::nullopt, short_hive), "Hive too small: 1000 bytes (minimum: 4096 bytes)");
    EXPECT_EQ(load(std::nullopt, std::nullopt, (dir_ / "missing").string()), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace orvane::transaction_log
