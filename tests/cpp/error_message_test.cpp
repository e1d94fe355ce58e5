// Every message template of RegistryError, byte for byte.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>

#include "error/registry_error.hpp"

namespace orvane::error {
namespace {

struct MessageCase {
    const char* name;
    RegistryError error;
    std::string expected;
};

class MessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTest, RendersExactly) { EXPECT_EQ(GetParam().error.message(), GetParam().expected); }

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

INSTANTIATE_TEST_SUITE_P(
    AllTemplates, MessageTest,
    ::testing::Values(
        MessageCase{"io_errno", io_error_from_errno(2), "No such file or directory (os error 2)"},
        MessageCase{"io_text", io_error_text("memory map length overflows isize"),
                    "memory map length overflows isize"},
        MessageCase{"signature_ascii", invalid_signature("regf", "abcd"),
                    "Invalid signature: expected \"regf\", found \"abcd\""},
        MessageCase{"signature_nuls", invalid_signature("regf", bytes({0, 0, 0, 0})),
                    "Invalid signature: expected \"regf\", found \"\\0\\0\\0\\0\""},
        MessageCase{"signature_invalid_utf8", invalid_signature("regf", bytes({0xFF, 0xFF, 0xFF, 0xFF})),
                    "Invalid signature: expected \"regf\", found \"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        MessageCase{"signature_escapes", invalid_signature("HvLE", bytes({'\\', '"', '\t', '\n'})),
                    "Invalid signature: expected \"HvLE\", found \"\\\\\\\"\\t\\n\""},
        MessageCase{"signature_cr_quote", invalid_signature("regf", bytes({'\r', '\'', 0x7F, 'a'})),
                    "Invalid signature: expected \"regf\", found \"\\r'\\u{7f}a\""},
        MessageCase{"signature_combining_mark", invalid_signature("regf", bytes({'a', 0xCC, 0x81, 'b'})),
                    "Invalid signature: expected \"regf\", found \"a\\u{301}b\""},
        MessageCase{"signature_latin1_and_nbsp", invalid_signature("regf", bytes({0xC3, 0xA9, 0xC2, 0xA0})),
                    "Invalid signature: expected \"regf\", found \"\xC3\xA9\\u{a0}\""},
        MessageCase{"format", invalid_format("Hbin offset mismatch: expected 0x0, found 0x10"),
                    "Invalid format: Hbin offset mismatch: expected 0x0, found 0x10"},
        MessageCase{"offset_zero", RegistryError(InvalidOffset{0, 0x1000}), "Invalid offset 0x0 (hive size: 0x1000)"},
        MessageCase{"offset_max", RegistryError(InvalidOffset{0xFFFFF000, 0}),
                    "Invalid offset 0xfffff000 (hive size: 0x0)"},
        MessageCase{"cell_size_negative", RegistryError(InvalidCellSize{-8, 0x20}), "Invalid cell size -8 at offset 0x20"},
        MessageCase{"cell_size_zero", RegistryError(InvalidCellSize{0, 0x20}), "Invalid cell size 0 at offset 0x20"},
        MessageCase{"cell_size_min", RegistryError(InvalidCellSize{INT32_MIN, 0}),
                    "Invalid cell size -2147483648 at offset 0x0"},
        MessageCase{"not_found", RegistryError(NotFound{"Value 'Foo'"}), "Not found: Value 'Foo'"},
        MessageCase{"utf16", RegistryError(InvalidUtf16{0xabc}), "Invalid UTF-16 string at offset 0xabc"},
        MessageCase{"too_small", RegistryError(HiveTooSmall{512, 4096}),
                    "Hive too small: 512 bytes (minimum: 4096 bytes)"},
        MessageCase{"checksum", RegistryError(ChecksumMismatch{0x1234, 0x5678}),
                    "Checksum mismatch: expected 0x1234, calculated 0x5678"},
        MessageCase{"checksum_extremes", RegistryError(ChecksumMismatch{0, 0xFFFFFFFF}),
                    "Checksum mismatch: expected 0x0, calculated 0xffffffff"},
        MessageCase{"version", RegistryError(UnsupportedVersion{1, 2}), "Unsupported hive version: 1.2"},
        MessageCase{"truncated", RegistryError(TruncatedData{0x1ffc, 8, 4}),
                    "Truncated data at offset 0x1ffc: expected 8 bytes, got 4 bytes"},
        MessageCase{"truncated_large", RegistryError(TruncatedData{0, 2147483648u, 4096}),
                    "Truncated data at offset 0x0: expected 2147483648 bytes, got 4096 bytes"},
        MessageCase{"subkey_list_type", RegistryError(InvalidSubkeyListType{{0x61, 0x62}}),
                    "Invalid subkey list type: [97, 98]"},
        MessageCase{"subkey_list_type_zz", RegistryError(InvalidSubkeyListType{{'z', 'z'}}),
                    "Invalid subkey list type: [122, 122]"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Hex, HasNoLeadingZerosAndAtLeastOneDigit) {
    EXPECT_EQ(hex(0), "0x0");
    EXPECT_EQ(hex(4096), "0x1000");
    EXPECT_EQ(hex(0xFFFFFFFFFFFFFFFFull), "0xffffffffffffffff");
}

TEST(Hex, AgreesWithPrintfAtEveryDigitCount) {
    // Each power of 16 and its neighbours: where a digit is added or carried.
    for (unsigned shift = 0; shift < 64; shift += 4) {
        for (const std::uint64_t value : {(std::uint64_t{1} << shift) - 1, std::uint64_t{1} << shift,
                                          (std::uint64_t{1} << shift) + 0xA, (std::uint64_t{0xBEEF} << shift)}) {
            char expected[24];
            std::snprintf(expected, sizeof expected, "0x%llx", static_cast<unsigned long long>(value));
            EXPECT_EQ(hex(value), expected);
        }
    }
}

TEST(RegistryError, IsAPlainValue) {
    RegistryError original = invalid_signature("regf", "abcd");
    RegistryError copy = original;
    RegistryError moved = std::move(original);
    EXPECT_EQ(copy.message(), moved.message());
    ASSERT_TRUE(moved.is<InvalidSignature>());
    EXPECT_EQ(moved.get_if<InvalidSignature>()->found, "abcd");
}

}  // namespace
}  // namespace orvane::error
