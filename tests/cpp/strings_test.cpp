// The string readers' exact decoding rules.

#include <gtest/gtest.h>

#include <array>

#include "utils/strings.hpp"
#include "base/unicode.hpp"

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

class FixedUtf16Test : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedUtf16Test, Decodes) { EXPECT_EQ(read_fixed_utf16(field(GetParam().bytes)), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedUtf16Test,
    ::testing::Values(FixedCase{"all_zero", {}, ""},
                      FixedCase{"ascii", {'S', 0, 'Y', 0, 'S', 0, 'T', 0, 'E', 0, 'M', 0}, "SYSTEM"},
                      FixedCase{"non_ascii", {0xE9, 0x00, 0xAC, 0x20, 'x', 0}, "\xC3\xA9\xE2\x82\xAC" "x"},
                      FixedCase{"stops_at_first_nul_unit", {'a', 0, 0, 0, 'b', 0}, "a"},
                      FixedCase{"nul_byte_inside_a_unit_is_not_the_end", {0x00, 0x4E, 'b', 0}, "\xE4\xB8\x80" "b"},
                      FixedCase{"surrogate_pair", {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
                      FixedCase{"lone_high_surrogate", {0x3D, 0xD8, 'a', 0}, "\xEF\xBF\xBD" "a"},
                      FixedCase{"lone_low_surrogate", {0x00, 0xDE, 'a', 0}, "\xEF\xBF\xBD" "a"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(FixedUtf16, WithoutNulUsesAllSixtyFourBytes) {
    std::array<std::uint8_t, 64> bytes;
    for (std::size_t i = 0; i < bytes.size(); i += 2) bytes[i] = 'z', bytes[i + 1] = 0;
    EXPECT_EQ(read_fixed_utf16(bytes), std::string(32, 'z'));
    bytes[62] = 0x3D, bytes[63] = 0xD8;  // a high surrogate in the last unit has no partner
    EXPECT_EQ(read_fixed_utf16(bytes), std::string(31, 'z') + "\xEF\xBF\xBD");
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
                      LossyCase{"latin1_byte", {'a', 0xE9, 'b'}, "a\xC3\xA9" "b"},
                      LossyCase{"utf8_looking_bytes_are_two_characters", {0xC3, 0xA9}, "\xC3\x83\xC2\xA9"},
                      LossyCase{"high_bytes", {0x80, 0xA0, 0xDF, 0xFF}, "\xC2\x80\xC2\xA0\xC3\x9F\xC3\xBF"},
                      LossyCase{"interior_nul_kept", {'a', 0, 0xFF, 0}, std::string("a\0\xC3\xBF", 4)},
                      LossyCase{"only_nuls", {0, 0}, ""},
                      LossyCase{"empty", {}, ""}),
    [](const auto& test) { return std::string(test.param.name); });

// Signatures and error texts still decode as UTF-8 with replacement.
class Utf8LossyTest : public ::testing::TestWithParam<LossyCase> {};

TEST_P(Utf8LossyTest, Decodes) { EXPECT_EQ(base::utf8_lossy(GetParam().bytes), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8LossyTest,
    ::testing::Values(LossyCase{"lone_latin1_byte", {'a', 0xE9, 'b'}, "a\xEF\xBF\xBD" "b"},
                      LossyCase{"valid_multibyte", {0xC3, 0xA9}, "\xC3\xA9"},
                      LossyCase{"truncated_sequence_is_one_replacement", {0xE2, 0x82}, "\xEF\xBF\xBD"},
                      LossyCase{"maximal_subparts", {0xF0, 0x80, 0x80}, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      LossyCase{"surrogate_encoding_rejected", {0xED, 0xA0, 0x80},
                                "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}),
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

// Decoding into a reused string gives the same text, whatever it held before.
TEST_P(Utf16StringTest, IntoAReusedStringAgrees) {
    std::string text = "left over";
    EXPECT_EQ(read_utf16_string_into(GetParam().bytes, text), GetParam().expected.has_value());
    if (GetParam().expected) {
        EXPECT_EQ(text, *GetParam().expected);
    }
}

// The tolerant reader agrees with the strict one wherever that one succeeds,
// and only then reports the text clean.
TEST_P(Utf16StringTest, LossyAgreesWhereStrictSucceeds) {
    const LossyText lossy = read_utf16_string_lossy(GetParam().bytes);
    EXPECT_EQ(lossy.clean, GetParam().expected.has_value());
    if (GetParam().expected) {
        EXPECT_EQ(lossy.text, *GetParam().expected);
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
        Utf16Case{"non_ascii", {0xE9, 0x00, 0xAC, 0x20}, "\xC3\xA9\xE2\x82\xAC"},
        // ASCII runs around other units, and a unit whose low byte alone is ASCII.
        Utf16Case{"ascii_runs_around_others", {'a', 0, 'b', 0, 0xE9, 0, 'c', 0, 0x41, 0x01, 'd', 0},
                  "ab\xC3\xA9" "c\xC5\x81" "d"},
        Utf16Case{"be_ascii_runs", {0xFE, 0xFF, 0, 'a', 0, 'b', 0x20, 0xAC, 0, 'c'}, "ab\xE2\x82\xAC" "c"},
        Utf16Case{"ascii_then_lone_surrogate", {'a', 0, 'b', 0, 0x00, 0xDC}, std::nullopt}),
    [](const auto& test) { return std::string(test.param.name); });

// Text is decoded eight units at a time where it can be: every length up to
// three blocks and a bit, with one unit that is not ASCII at every place
// (or none), in both byte orders, must decode as it would one unit at a time.
struct Utf16BlockCase {
    const char* name;
    bool big_endian;
    std::uint16_t other;   // the unit that is not ASCII
    const char* other_utf8;
};

class Utf16BlockTest : public ::testing::TestWithParam<Utf16BlockCase> {};

TEST_P(Utf16BlockTest, EveryLengthAndPlace) {
    const Utf16BlockCase& c = GetParam();
    for (std::size_t length = 0; length <= 35; ++length) {
        for (std::size_t place = 0; place <= length; ++place) {  // place == length: all ASCII
            ByteVector bytes;
            if (c.big_endian) bytes = {0xFE, 0xFF};
            std::string expected;
            for (std::size_t k = 0; k < length; ++k) {
                const bool other = k == place;
                const std::uint16_t unit = other ? c.other : static_cast<std::uint16_t>('A' + k % 26);
                const auto low = static_cast<std::uint8_t>(unit & 0xFF), high = static_cast<std::uint8_t>(unit >> 8);
                if (c.big_endian) {
                    bytes.insert(bytes.end(), {high, low});
                } else {
                    bytes.insert(bytes.end(), {low, high});
                }
                expected += other ? std::string(c.other_utf8) : std::string(1, static_cast<char>(unit));
            }
            const auto strict = read_utf16_string(bytes, 0);
            ASSERT_TRUE(strict.has_value()) << length << " units, other at " << place;
            EXPECT_EQ(*strict, expected) << length << " units, other at " << place;
            EXPECT_EQ(read_utf16_string_lossy(bytes).text, expected) << length << " units, other at " << place;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Units, Utf16BlockTest,
    ::testing::Values(
        // A unit whose high byte alone makes it not ASCII, and one whose low byte alone does.
        Utf16BlockCase{"le_high_byte_set", false, 0x0141, "\xC5\x81"},
        Utf16BlockCase{"le_low_byte_high_bit", false, 0x00E9, "\xC3\xA9"},
        Utf16BlockCase{"be_high_byte_set", true, 0x0141, "\xC5\x81"},
        Utf16BlockCase{"be_low_byte_high_bit", true, 0x00E9, "\xC3\xA9"},
        Utf16BlockCase{"le_euro", false, 0x20AC, "\xE2\x82\xAC"}),
    [](const auto& test) { return std::string(test.param.name); });

struct Utf16LossyCase {
    const char* name;
    ByteVector bytes;
    std::string expected;
};

class Utf16LossyTest : public ::testing::TestWithParam<Utf16LossyCase> {};

TEST_P(Utf16LossyTest, ReplacesEachBadUnit) {
    const LossyText lossy = read_utf16_string_lossy(GetParam().bytes);
    EXPECT_FALSE(lossy.clean);
    EXPECT_EQ(lossy.text, GetParam().expected);
}

#define FFFD "\xEF\xBF\xBD"
INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16LossyTest,
    ::testing::Values(
        Utf16LossyCase{"lone_high_surrogate", {'a', 0, 0x00, 0xD8, 'b', 0}, "a" FFFD "b"},
        Utf16LossyCase{"two_high_surrogates_then_pair", {0x00, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}, FFFD "\xF0\x9F\x98\x80"},
        Utf16LossyCase{"lone_low_surrogate", {0x00, 0xDC, 'b', 0}, FFFD "b"},
        Utf16LossyCase{"high_surrogate_at_end", {'a', 0, 0x00, 0xD8}, "a" FFFD},
        Utf16LossyCase{"odd_trailing_byte", {'a', 0, 'b'}, "a" FFFD},
        Utf16LossyCase{"odd_length_with_be_mark", {0xFE, 0xFF, 0, 'a', 0}, "a" FFFD},
        Utf16LossyCase{"utf8_mark_then_invalid", {0xEF, 0xBB, 0xBF, 'a', 0xFF, 'b'}, "a" FFFD "b"},
        Utf16LossyCase{"odd_length_after_utf8_mark", {0xEF, 0xBB, 0xBF, 'a', 'b'}, "ab"},
        Utf16LossyCase{"trailing_nul_after_bad_unit_removed", {0x00, 0xDC, 0, 0}, FFFD}),
    [](const auto& test) { return std::string(test.param.name); });
#undef FFFD

TEST(ReadUtf16Name, StrictWithoutALogLossyAndNotedWithOne) {
    const ByteVector bad{'a', 0, 0x00, 0xDC};
    EXPECT_EQ(read_utf16_name(bad, 0x40, nullptr).error().message(), "Invalid UTF-16 string at offset 0x40");
    error::ProblemLog log;
    EXPECT_EQ(*read_utf16_name(bad, 0x40, &log), "a\xEF\xBF\xBD");
    EXPECT_EQ(*read_utf16_name(ByteVector{'b', 0}, 0x80, &log), "b");
    EXPECT_EQ(log.lines(), std::vector<std::string>{
                               "Invalid UTF-16 string at offset 0x40, read with U+FFFD in place of each bad unit"});
}

}  // namespace
}  // namespace orvane::utils
