// Loading hives from bytes and from files.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>

#include "image_builder.hpp"

namespace orvane::hive {
namespace {

using testing::ByteVector;
using testing::ImageBuilder;
using testing::load;

std::string load_error(const ByteVector& image) {
    const auto result = load(image);
    return result.has_value() ? std::string("loaded") : result.error().message();
}

struct LoadCase {
    const char* name;
    std::function<ByteVector()> image;
    std::string outcome;
};

class FromDataTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(FromDataTest, ChecksInOrder) { EXPECT_EQ(load_error(GetParam().image()), GetParam().outcome); }

ByteVector with_checksum_word(std::uint32_t xor_target, std::uint32_t stored) {
    // Make the XOR of words 0..126 equal xor_target by adjusting word 100.
    ImageBuilder b;
    ByteVector image = b.build(false);
    utils::store_u32(image.data() + 400, 0);
    const std::uint32_t current = base_block_checksum(image);
    utils::store_u32(image.data() + 400, current ^ xor_target);
    utils::store_u32(image.data() + 508, stored);
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromDataTest,
    ::testing::Values(
        LoadCase{"valid_4096", [] { return ImageBuilder().build(); }, "loaded"},
        LoadCase{"too_small", [] { return ByteVector(512, 0); }, "Hive too small: 512 bytes (minimum: 4096 bytes)"},
        LoadCase{"empty", [] { return ByteVector(); }, "Hive too small: 0 bytes (minimum: 4096 bytes)"},
        LoadCase{"one_short", [] { auto i = ImageBuilder().build(); i.pop_back(); return i; },
                 "Hive too small: 4095 bytes (minimum: 4096 bytes)"},
        LoadCase{"signature_before_checksum",
                 [] { return ImageBuilder().bytes_at(0, testing::ascii("abcd")).build(false); },
                 "Invalid signature: expected \"regf\", found \"abcd\""},
        LoadCase{"checksum_before_version",
                 [] { return ImageBuilder().version(1, 2).u32_at(508, 0x1234).build(false); },
                 "Checksum mismatch: expected 0x1234, calculated " +
                     error::hex(base_block_checksum(ImageBuilder().version(1, 2).build(false)))},
        LoadCase{"version_1_2", [] { return ImageBuilder().version(1, 2).build(); }, "Unsupported hive version: 1.2"},
        LoadCase{"version_1_7", [] { return ImageBuilder().version(1, 7).build(); }, "Unsupported hive version: 1.7"},
        LoadCase{"version_2_5", [] { return ImageBuilder().version(2, 5).build(); }, "Unsupported hive version: 2.5"},
        LoadCase{"version_1_3", [] { return ImageBuilder().version(1, 3).build(); }, "loaded"},
        LoadCase{"version_1_6", [] { return ImageBuilder().version(1, 6).build(); }, "loaded"},
        LoadCase{"xor_zero_stored_zero", [] { return with_checksum_word(0, 0); }, "loaded"},
        // Windows never stores 0 or 0xFFFFFFFF: it writes 1 and 0xFFFFFFFE instead.
        LoadCase{"xor_zero_stored_one", [] { return with_checksum_word(0, 1); }, "loaded"},
        LoadCase{"xor_zero_stored_two", [] { return with_checksum_word(0, 2); },
                 "Checksum mismatch: expected 0x2, calculated 0x0"},
        LoadCase{"xor_one_stored_zero", [] { return with_checksum_word(1, 0); },
                 "Checksum mismatch: expected 0x0, calculated 0x1"},
        LoadCase{"xor_all_ones_stored_same", [] { return with_checksum_word(0xFFFFFFFF, 0xFFFFFFFF); }, "loaded"},
        LoadCase{"xor_all_ones_stored_adjusted", [] { return with_checksum_word(0xFFFFFFFF, 0xFFFFFFFE); }, "loaded"},
        LoadCase{"xor_fffffffe_stored_all_ones", [] { return with_checksum_word(0xFFFFFFFE, 0xFFFFFFFF); },
                 "Checksum mismatch: expected 0xffffffff, calculated 0xfffffffe"},
        LoadCase{"sequence_mismatch_accepted", [] { return ImageBuilder().u32_at(4, 7).u32_at(8, 3).build(); },
                 "loaded"},
        LoadCase{"sizes_and_root_not_validated",
                 [] { return ImageBuilder().u32_at(40, 0xFFFFFFFF).root(0xFFFFFFFF).build(); }, "loaded"},
        LoadCase{"bytes_past_512_not_read",
                 [] { auto i = ImageBuilder().build(); std::fill(i.begin() + 512, i.end(), 0xAB); return i; },
                 "loaded"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FromData, CopiesTheBaseBlockFields) {
    ImageBuilder b;
    b.u32_at(4, 0x11).u32_at(8, 0x22).u64_at(12, 0x0123456789ABCDEFull).u32_at(28, 3).u32_at(32, 4);
    b.root(0x30).u32_at(40, 0x80001000).u32_at(44, 9);
    const auto hive = load(b.build());
    ASSERT_TRUE(hive.has_value());
    const BaseBlock& block = (*hive)->base_block();
    EXPECT_EQ(std::string(block.signature.begin(), block.signature.end()), "regf");
    EXPECT_EQ(block.primary_sequence, 0x11u);
    EXPECT_EQ(block.secondary_sequence, 0x22u);
    EXPECT_EQ(block.timestamp, 0x0123456789ABCDEFull);
    EXPECT_EQ(block.major_version, 1u);
    EXPECT_EQ(block.minor_version, 5u);
    EXPECT_EQ(block.file_type, 3u);
    EXPECT_EQ(block.file_format, 4u);
    EXPECT_EQ(block.root_cell_offset, 0x30u);
    EXPECT_EQ(block.hive_bins_data_size, 0x80001000u);
    EXPECT_EQ(block.clustering_factor, 9u);
    EXPECT_EQ(block.file_name, "SYSTEM");
    EXPECT_EQ(block.checksum, base_block_checksum((*hive)->data()));
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/orvane-test-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name, const ByteVector& bytes) const {
        const std::string path = path_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::size_t open_descriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

struct OpenCase {
    const char* name;
    std::function<ByteVector()> content;
    std::string outcome;
};

class OpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, ClosesTheFileOnEveryPath) {
    TempDir dir;
    const std::string path = dir.file("hive", GetParam().content());
    const std::size_t before = open_descriptors();
    {
        const auto result = Hive::open(path);
        EXPECT_EQ(result.has_value() ? std::string("loaded") : result.error().message(), GetParam().outcome);
        EXPECT_EQ(open_descriptors(), before);
    }
    EXPECT_EQ(open_descriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenTest,
    ::testing::Values(
        OpenCase{"valid", [] { return ImageBuilder().build(); }, "loaded"},
        OpenCase{"empty", [] { return ByteVector(); }, "Hive too small: 0 bytes (minimum: 4096 bytes)"},
        OpenCase{"short", [] { return ByteVector(4095, 0); }, "Hive too small: 4095 bytes (minimum: 4096 bytes)"},
        OpenCase{"bad_signature", [] { return ImageBuilder().bytes_at(0, ByteVector(4, 0)).build(); },
                 "Invalid signature: expected \"regf\", found \"\\0\\0\\0\\0\""}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Open, ReportsOperatingSystemErrors) {
    TempDir dir;
    const auto missing = Hive::open(dir.path() + "/missing");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)");

    const auto directory = Hive::open(dir.path());
    ASSERT_FALSE(directory.has_value());
    EXPECT_TRUE(directory.error().is<error::Io>());

    const auto nul = Hive::open(dir.file("hive", ImageBuilder().build()) + std::string("\0x", 2));
    ASSERT_FALSE(nul.has_value());
    EXPECT_EQ(nul.error().message(), "file name contained an unexpected NUL byte");
}

TEST(Open, MapsTheWholeFileReadOnly) {
    TempDir dir;
    ImageBuilder b;
    b.add_hbin(8192);
    const ByteVector bytes = b.build();
    const auto hive = Hive::open(dir.file("hive", bytes));
    ASSERT_TRUE(hive.has_value());
    const utils::Bytes data = (*hive)->data();
    ASSERT_EQ(data.size(), bytes.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin()));
    // A write through a read-only mapping faults; mprotect tells us the
    // protection without crashing: asking for PROT_READ keeps it as it is.
    EXPECT_EQ(::mprotect(const_cast<std::uint8_t*>(data.data()), data.size(), PROT_READ), 0);
}

TEST(Open, KeepsTheMappingAfterTheFileIsRemoved) {
    TempDir dir;
    const std::string path = dir.file("hive", ImageBuilder().build());
    const auto hive = Hive::open(path);
    ASSERT_TRUE(hive.has_value());
    std::filesystem::remove(path);
    EXPECT_EQ(std::string((*hive)->data().begin(), (*hive)->data().begin() + 4), "regf");
}

}  // namespace
}  // namespace orvane::hive
