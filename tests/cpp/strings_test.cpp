// The string readers' exact decoding rules.

#include <gtest/gtest.h>

#include <array>

#include "utils/strings.hpp"

namespace orvane::utils {
namespace {

using ByteVector = std::vector<std::uint8_t>;

std::array<std::uint8_t, 64> field(const ByteVector& prefix) {
    std::array<std::uint8_t, 64> out{};
    std::copy(prefix.begin(), prefix.end(), out.begin());
    return out;
}

struct FixedCase {
    const char* name;
    ByteVector bytes;
    std::string expected;
};

class FixedAsciiTest : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedAsciiTest, Decodes) { EXPECT_EQ(read_fixed_ascii(field(GetParam().bytes)), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedAsciiTest,
    ::testing::Values(FixedCase{"all_zero", {}, ""},
                      FixedCase{"utf16_name", {'S', 0, 'Y', 0, 'S', 0, 'T', 0, 'E', 0, 'M', 0}, "S Y S T E M"},
                      FixedCase{"latin1_trimmed", {0x20, 0x41, 0xE9, 0xA0}, "A\xC3\xA9"},
                      FixedCase{"interior_nul_is_space", {'a', 0, 0, 'b'}, "a  b"},
                      FixedCase{"control_whitespace_trimmed", {0x09, 0x0D, 'x', 0x85, 0x0B}, "x"},
                      FixedCase{"high_bytes_kept", {0xFF, 0x80}, "\xC3\xBF\xC2\x80"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FixedAscii, UsesAllSixtyFourBytes) {
    std::array<std::uint8_t, 64> bytes;
    bytes.fill('z');
    EXPECT_EQ(read_fixed_ascii(bytes), std::string(64, 'z'));
}

struct LossyCase {
    const char* name;
    ByteVector bytes;
    std::string expected;
};

class AsciiStringTest : public ::testing::TestWithParam<LossyCase> {};

TEST_P(AsciiStringTest, Decodes) { EXPECT_EQ(read_ascii_string(GetParam().bytes), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiStringTest,
    ::testing::Values(LossyCase{"trailing_nuls", {'a', 'b', 'c', 0, 0}, "abc"},
                      LossyCase{"leading_nul_kept", {0, 'a'}, std::string("\0a", 2)},
                      LossyCase{"lone_latin1_byte", {'a', 0xE9, 'b'}, "a\xEF\xBF\xBD" "b"},
                      LossyCase{"valid_multibyte", {0xC3, 0xA9}, "\xC3\xA9"},
                      LossyCase{"truncated_sequence_is_one_replacement", {0xE2, 0x82}, "\xEF\xBF\xBD"},
                      LossyCase{"maximal_subparts", {0xF0, 0x80, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      LossyCase{"surrogate_encoding_rejected", {0xED, 0xA0, 0x80},
                                "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      LossyCase{"only_nuls", {0, 0}, ""},
                      LossyCase{"empty", {}, ""}),
    [](const auto& test) { return std::string(test.param.name); });

struct Utf16Case {
    const char* name;
    ByteVector bytes;
    std::optional<std::string> expected;  // nullopt: InvalidUtf16
};

class Utf16StringTest : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16StringTest, Decodes) {
    const auto result = read_utf16_string(GetParam().bytes, 0x1234);
    if (GetParam().expected) {
        ASSERT_TRUE(result.has_value()) << result.error().message();
        EXPECT_EQ(*result, *GetParam().expected);
    } else {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().message(), "Invalid UTF-16 string at offset 0x1234");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16StringTest,
    ::testing::Values(
        Utf16Case{"trailing_nul_removed", {'a', 0, 'b', 0, 0, 0}, "ab"},
        Utf16Case{"le_mark", {0xFF, 0xFE, 'a', 0}, "a"},
        Utf16Case{"be_mark", {0xFE, 0xFF, 0, 'a'}, "a"},
        Utf16Case{"utf8_mark", {0xEF, 0xBB, 0xBF, 'a'}, "a"},
        Utf16Case{"utf8_mark_then_invalid", {0xEF, 0xBB, 0xBF, 0xFF}, std::nullopt},
        Utf16Case{"lone_high_surrogate", {0x00, 0xD8, 'a', 0}, std::nullopt},
        Utf16Case{"lone_low_surrogate", {0x00, 0xDC}, std::nullopt},
        Utf16Case{"high_surrogate_at_end", {'a', 0, 0x00, 0xD8}, std::nullopt},
        Utf16Case{"surrogate_pair", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
        Utf16Case{"odd_length", {'a', 0, 'b'}, std::nullopt},
        Utf16Case{"odd_length_with_mark", {0xFF, 0xFE, 'a'}, std::nullopt},
        Utf16Case{"interior_nul_kept", {'a', 0, 0, 0, 'b', 0}, std::string("a\0b", 3)},
        Utf16Case{"leading_nul_kept", {0, 0, 'b', 0}, std::string("\0b", 2)},
        Utf16Case{"empty", {}, ""},
        Utf16Case{"mark_only", {0xFF, 0xFE}, ""},
        Utf16Case{"non_ascii", {0xE9, 0x00, 0xAC, 0x20}, "\xC3\xA9\xE2\x82\xAC"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace orvane::utils
