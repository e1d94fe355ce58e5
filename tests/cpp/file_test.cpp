// Whole-file reading.

#include <gtest/gtest.h>

#include <fstream>

#include "utils/file.hpp"

namespace orvane::utils {
namespace {

std::string outcome(const std::string& path, std::uint64_t limit) {
    const auto content = read_whole_file(path, limit);
    return content.has_value() ? "read " + std::to_string(content->size()) : content.error().message();
}

TEST(ReadWholeFile, StopsAtTheLimit) {
    const std::string path = ::testing::TempDir() + "/orvane-file-test";
    std::ofstream(path, std::ios::binary) << std::string(5000, 'x');
    struct Case {
        std::string path;
        std::uint64_t limit;
        std::string expected;
    };
    for (const auto& c : std::vector<Case>{
             {path, 5000, "read 5000"},
             {path, 4999, "File too large (os error 27)"},
             {"/dev/zero", 1 << 20, "File too large (os error 27)"},  // endless, and reports no length
             {"/dev/null", 1 << 20, "read 0"},
             {path + "-missing", 1, "No such file or directory (os error 2)"}}) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.limit));
        EXPECT_EQ(outcome(c.path, c.limit), c.expected);
    }
    std::remove(path.c_str());
}

}  // namespace
}  // namespace orvane::utils
