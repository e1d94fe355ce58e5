// Saving: the written bytes, replacement by rename (links, modes, a mapped
// hive), and failures that leave the old file and nothing else behind.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hive/base_block.hpp"
#include "image_builder.hpp"
#include "transaction_log/save.hpp"

namespace orvane::transaction_log {
namespace {

namespace fs = std::filesystem;
using testing::ByteVector;

ByteVector read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const ByteVector& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A hive image with bins and a deliberately stale checksum; unless
// `trailing` is false, a stray byte follows the last bin.
ByteVector stale_image(std::size_t bins = 2, bool trailing = true) {
    testing::ImageBuilder builder;
    for (std::size_t i = 0; i < bins; ++i) builder.add_hbin();
    ByteVector image = builder.build();
    testing::put_u32(image, 508, 0x0BADF00D);
    if (trailing) image.push_back(0x5A);  // bytes after the last bin are saved too
    return image;
}

ByteVector with_checksum(ByteVector image) {
    hive::store_base_block_checksum(image);
    return image;
}

std::string save_error(const ByteVector& image, const std::string& path) {
    auto result = save_image(image, path);
    return result ? "saved" : result.error().message();
}

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orvane_save_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    // Names in the directory, so a leftover temporary file shows.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir_;
};

TEST_F(SaveTest, WritesTheImageWithTheChecksumRecomputed) {
    const ByteVector image = stale_image();
    const ByteVector before = image;
    ASSERT_EQ(save_error(image, (dir_ / "out").string()), "saved");
    EXPECT_EQ(read_file(dir_ / "out"), with_checksum(image));
    EXPECT_EQ(image, before);  // the source is not touched
    EXPECT_EQ(entries(), std::vector<std::string>{"out"});
}

TEST_F(SaveTest, SavingTwiceWritesIdenticalFiles) {
    const ByteVector image = stale_image();
    ASSERT_EQ(save_error(image, (dir_ / "a").string()), "saved");
    ASSERT_EQ(save_error(image, (dir_ / "b").string()), "saved");
    EXPECT_EQ(read_file(dir_ / "a"), read_file(dir_ / "b"));
}

TEST_F(SaveTest, SaveOverALongerFileLeavesExactlyTheImage) {
    write_file(dir_ / "out", ByteVector(100000, 0xEE));
    const ByteVector image = stale_image(1);
    ASSERT_EQ(save_error(image, (dir_ / "out").string()), "saved");
    EXPECT_EQ(read_file(dir_ / "out"), with_checksum(image));
}

TEST_F(SaveTest, SavesTheHivesOwnImage) {
    const ByteVector image = with_checksum(stale_image());
    auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value()) << hive.error().message();
    ASSERT_TRUE(save(**hive, (dir_ / "out").string()).has_value());
    EXPECT_EQ(read_file(dir_ / "out"), image);
}

TEST_F(SaveTest, ShortImageIsRefusedBeforeAnyFileIsTouched) {
    write_file(dir_ / "out", {1, 2, 3});
    for (const std::size_t size : {std::size_t{0}, std::size_t{511}, std::size_t{4095}}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(save_error(ByteVector(size, 0), (dir_ / "out").string()),
                  "Hive too small: " + std::to_string(size) + " bytes (minimum: 4096 bytes)");
        EXPECT_EQ(save_error(ByteVector(size, 0), (dir_ / "new").string()),
                  "Hive too small: " + std::to_string(size) + " bytes (minimum: 4096 bytes)");
    }
    EXPECT_EQ(read_file(dir_ / "out"), (ByteVector{1, 2, 3}));
    EXPECT_EQ(entries(), std::vector<std::string>{"out"});
}

TEST_F(SaveTest, FailuresLeaveTheOldFileAndNothingElse) {
    write_file(dir_ / "old", {1, 2, 3});
    fs::create_directory(dir_ / "sub");
    write_file(dir_ / "sub" / "inside", {4});
    struct Case {
        const char* name;
        std::string path;
        std::string expected;
    };
    for (const Case& c : {
             Case{"missing_directory", (dir_ / "nowhere" / "out").string(), "No such file or directory (os error 2)"},
             Case{"parent_is_a_file", (dir_ / "old" / "out").string(), "Not a directory (os error 20)"},
             Case{"target_is_a_directory", (dir_ / "sub").string(), "Is a directory (os error 21)"},
             Case{"trailing_slash", (dir_ / "old").string() + "/", "Not a directory (os error 20)"},
             Case{"nul_in_path", (dir_ / "old").string() + std::string("\0x", 2),
                  "file name contained an unexpected NUL byte"},
             Case{"empty_path", "", "No such file or directory (os error 2)"},
         }) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(save_error(stale_image(), c.path), c.expected);
    }
    EXPECT_EQ(read_file(dir_ / "old"), (ByteVector{1, 2, 3}));
    EXPECT_EQ(entries(), (std::vector<std::string>{"old", "sub"}));
    EXPECT_EQ(fs::directory_iterator(dir_ / "sub")->path().filename(), "inside");
}

TEST_F(SaveTest, ReadOnlyDirectory) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    write_file(dir_ / "old", {1, 2, 3});
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(save_error(stale_image(), (dir_ / "old").string()), "Permission denied (os error 13)");
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(read_file(dir_ / "old"), (ByteVector{1, 2, 3}));
    EXPECT_EQ(entries(), std::vector<std::string>{"old"});
}

// A write that fails midway (the file size limit is reached after the base
// block) keeps the old file whole. Run in a child: the limit is process-wide.
TEST_F(SaveTest, WriteFailingMidwayKeepsTheOldFile) {
    write_file(dir_ / "old", {1, 2, 3});
    const std::string path = (dir_ / "old").string();
    const auto child = [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{6000, 6000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = save_error(stale_image(), path);
        std::_Exit(message == "File too large (os error 27)" ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(dir_ / "old"), (ByteVector{1, 2, 3}));
    EXPECT_EQ(entries(), std::vector<std::string>{"old"});
}

// A new file gets 0666 less the umask; a replaced one keeps its own bits.
TEST_F(SaveTest, NewFileModeIsFilteredByTheUmaskAndReplacedFilesKeepTheirs) {
    write_file(dir_ / "existing", {1});
    fs::permissions(dir_ / "existing", fs::perms::owner_read | fs::perms::owner_write);
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        fs::remove(dir_ / "fresh");
        const mode_t previous = ::umask(mask);
        for (const auto& [name, mode] : {std::pair{"fresh", 0666 & ~mask}, {"existing", mode_t{0600}}}) {
            ASSERT_EQ(save_error(stale_image(), (dir_ / name).string()), "saved");
            struct stat st {};
            ASSERT_EQ(::stat((dir_ / name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode) << name;
        }
        ::umask(previous);
    }
}

TEST_F(SaveTest, SymbolicLinksAreFollowedToTheFileTheyName) {
    fs::create_directory(dir_ / "real");
    write_file(dir_ / "real" / "hive", {1, 2, 3});
    fs::create_symlink("real/hive", dir_ / "link1");                 // relative to its directory
    fs::create_symlink((dir_ / "link1").string(), dir_ / "link2");  // absolute, to another link
    fs::create_symlink("absent", dir_ / "real" / "dangling");

    const ByteVector image = stale_image();
    ASSERT_EQ(save_error(image, (dir_ / "link2").string()), "saved");
    EXPECT_TRUE(fs::is_symlink(dir_ / "link1"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link2"));
    EXPECT_EQ(read_file(dir_ / "real" / "hive"), with_checksum(image));

    ASSERT_EQ(save_error(image, (dir_ / "real" / "dangling").string()), "saved");
    EXPECT_TRUE(fs::is_symlink(dir_ / "real" / "dangling"));
    EXPECT_EQ(read_file(dir_ / "real" / "absent"), with_checksum(image));
    EXPECT_EQ(entries(), (std::vector<std::string>{"link1", "link2", "real"}));
}

TEST_F(SaveTest, LinkLoopFails) {
    fs::create_symlink("b", dir_ / "a");
    fs::create_symlink("a", dir_ / "b");
    EXPECT_EQ(save_error(stale_image(), (dir_ / "a").string()), "Too many levels of symbolic links (os error 40)");
    EXPECT_EQ(entries(), (std::vector<std::string>{"a", "b"}));
}

// Devices are written in place, never replaced by a regular file.
TEST_F(SaveTest, DevicesAreWrittenInPlace) {
    struct Case {
        const char* path;
        std::string expected;
    };
    for (const Case& c : {Case{"/dev/null", "saved"}, Case{"/dev/full", "No space left on device (os error 28)"}}) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(save_error(stale_image(), c.path), c.expected);
        EXPECT_TRUE(fs::is_character_file(c.path));
    }
}

// The old file behind a mapped hive is replaced, not truncated: the hive keeps
// reading its old pages. Run in a child so that a SIGBUS fails this test only.
TEST_F(SaveTest, MappedHiveKeepsItsDataWhenItsFileIsReplaced) {
    const fs::path path = dir_ / "hive";
    write_file(path, with_checksum(stale_image(8, false)));
    const auto child = [&] {
        auto mapped = hive::Hive::open(path.string());
        if (!mapped || !(*mapped)->data().size()) std::_Exit(2);
        if (!save_image(with_checksum(stale_image(0, false)), path.string())) std::_Exit(3);
        auto bins = (*mapped)->hbins();
        std::_Exit(bins && bins->size() == 8 ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(read_file(path).size(), 4096u);
}

}  // namespace
}  // namespace orvane::transaction_log
