// Value types, decoding value data by type, and the printable form.

#include <gtest/gtest.h>

#include "value/value_data.hpp"
#include "record_builders.hpp"

namespace orvane::value {
namespace {

using testing::ByteVector;
using testing::utf16le;

TEST(ValueTypeTest, NamesEveryCode) {
    const std::vector<std::pair<std::uint32_t, std::string>> cases = {
        {0, "REG_NONE"},
        {1, "REG_SZ"},
        {2, "REG_EXPAND_SZ"},
        {3, "REG_BINARY"},
        {4, "REG_DWORD"},
        {5, "REG_DWORD_BIG_ENDIAN"},
        {6, "REG_LINK"},
        {7, "REG_MULTI_SZ"},
        {8, "REG_RESOURCE_LIST"},
        {9, "REG_FULL_RESOURCE_DESCRIPTOR"},
        {10, "REG_RESOURCE_REQUIREMENTS_LIST"},
        {11, "REG_QWORD"},
        {12, "REG_UNKNOWN_0x0000000c"},
        {0x20, "REG_UNKNOWN_0x00000020"},
        {0x1234, "REG_UNKNOWN_0x00001234"},
        {0xFFFFFFFF, "REG_UNKNOWN_0xffffffff"},
    };
    for (const auto& [code, name] : cases) {
        SCOPED_TRACE(code);
        const ValueType type = ValueType::from_code(code);
        EXPECT_EQ(type.name(), name);
        EXPECT_EQ(type.code(), code);
        EXPECT_EQ(type.kind(), code < 12 ? static_cast<ValueType::Kind>(code) : ValueType::Kind::Unknown);
    }
}

// "kind: display" on success, else the error message.
std::string decoded(std::uint32_t type, const ByteVector& bytes) {
    const auto data = ValueData::decode(ValueType::from_code(type), bytes);
    if (!data.has_value()) return data.error().message();
    static const char* const kinds[] = {"None",   "String",         "ExpandString", "Binary", "Dword",
                                        "DwordBE", "MultiString", "Qword",        "Other"};
    return std::string(kinds[data->kind().index()]) + ": " + data->to_display_string();
}

struct DecodeCase {
    const char* name;
    std::uint32_t type;
    ByteVector bytes;
    std::string expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Decodes) { EXPECT_EQ(decoded(GetParam().type, GetParam().bytes), GetParam().expected); }

ByteVector u16s(std::u16string_view text) { return utf16le(text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTest,
    ::testing::Values(
        DecodeCase{"none_ignores_bytes", 0, {1, 2, 3}, "None: (none)"},
        DecodeCase{"sz", 1, u16s(std::u16string_view(u"abc\0", 4)), "String: abc"},
        DecodeCase{"sz_keeps_inner_nul", 1, u16s(std::u16string_view(u"ab\0cd", 5)),
                   std::string("String: ab\0cd", 13)},
        DecodeCase{"sz_all_trailing_nuls_dropped", 1, u16s(std::u16string_view(u"x\0\0\0", 4)), "String: x"},
        DecodeCase{"sz_odd_length", 1, {0x61, 0x00, 0x62}, "Invalid UTF-16 string at offset 0x0"},
        DecodeCase{"sz_lone_surrogate", 1, {0x00, 0xDC}, "Invalid UTF-16 string at offset 0x0"},
        DecodeCase{"sz_byte_order_mark", 1, {0xFF, 0xFE, 0x61, 0x00}, "String: a"},
        DecodeCase{"expand_sz_not_expanded", 2, u16s(u"%SystemRoot%"), "ExpandString: %SystemRoot%"},
        DecodeCase{"binary", 3, {0x0A, 0xFF, 0x00}, "Binary: [0A, FF, 00]"},
        DecodeCase{"dword_one", 4, {1, 0, 0, 0}, "Dword: 1 (0x00000001)"},
        DecodeCase{"dword_max", 4, {0xFF, 0xFF, 0xFF, 0xFF}, "Dword: 4294967295 (0xFFFFFFFF)"},
        DecodeCase{"dword_little_endian", 4, {0x12, 0x34, 0x56, 0x78}, "Dword: 2018915346 (0x78563412)"},
        DecodeCase{"dword_uses_first_four", 4, {1, 0, 0, 0, 9, 9, 9, 9}, "Dword: 1 (0x00000001)"},
        DecodeCase{"dword_three_bytes", 4, {1, 2, 3}, "Truncated data at offset 0x0: expected 4 bytes, got 3 bytes"},
        DecodeCase{"dword_one_byte", 4, {1}, "Truncated data at offset 0x0: expected 4 bytes, got 1 bytes"},
        DecodeCase{"dword_big_endian", 5, {0x12, 0x34, 0x56, 0x78}, "DwordBE: 305419896 (0x12345678)"},
        DecodeCase{"dword_big_endian_258", 5, {0, 0, 1, 2}, "DwordBE: 258 (0x00000102)"},
        DecodeCase{"dword_big_endian_short", 5, {0, 0}, "Truncated data at offset 0x0: expected 4 bytes, got 2 bytes"},
        DecodeCase{"link_is_other", 6, {0x41, 0x00}, "Other: [41, 00]"},
        DecodeCase{"multi_sz", 7, u16s(std::u16string_view(u"a\0\0b\0\0", 6)), "MultiString: a, b"},
        DecodeCase{"multi_sz_only_nuls", 7, u16s(std::u16string_view(u"\0\0", 2)), "MultiString: "},
        DecodeCase{"multi_sz_leading_and_inner_empties", 7, u16s(std::u16string_view(u"\0one\0\0two\0three", 15)),
                   "MultiString: one, two, three"},
        DecodeCase{"multi_sz_odd", 7, {0x61}, "Invalid UTF-16 string at offset 0x0"},
        DecodeCase{"resource_list", 8, {1}, "Other: [01]"},
        DecodeCase{"full_resource_descriptor", 9, {2}, "Other: [02]"},
        DecodeCase{"resource_requirements", 10, {3}, "Other: [03]"},
        DecodeCase{"qword", 11, {0xFF, 0, 0, 0, 0, 0, 0, 0}, "Qword: 255 (0x00000000000000FF)"},
        DecodeCase{"qword_max", 11, ByteVector(8, 0xFF),
                   "Qword: 18446744073709551615 (0xFFFFFFFFFFFFFFFF)"},
        DecodeCase{"qword_seven_bytes", 11, ByteVector(7, 1),
                   "Truncated data at offset 0x0: expected 8 bytes, got 7 bytes"},
        DecodeCase{"unknown_12", 12, {0xAB}, "Other: [AB]"},
        DecodeCase{"unknown_max", 0xFFFFFFFF, {0xAB, 0xCD}, "Other: [AB, CD]"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(DecodeValueData, EmptyBytesAreNoneUnderEveryType) {
    for (const std::uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(decoded(type, {}), "None: (none)");
    }
}

TEST(DecodeValueData, HoldsTypedPayloads) {
    const auto multi = ValueData::decode(ValueType::from_code(7), u16s(std::u16string_view(u"a\0b\0\0", 5)));
    ASSERT_TRUE(multi.has_value());
    EXPECT_EQ(*multi, ValueData(MultiStringData{{"a", "b"}}));
    const auto dword = ValueData::decode(ValueType::from_code(5), ByteVector{0, 0, 1, 2});
    ASSERT_TRUE(dword.has_value());
    ASSERT_NE(dword->get_if<DwordBigEndianData>(), nullptr);
    EXPECT_EQ(dword->get_if<DwordBigEndianData>()->value, 258u);
    const auto binary = ValueData::decode(ValueType::from_code(3), ByteVector{1, 2});
    ASSERT_TRUE(binary.has_value());
    EXPECT_EQ(*binary, ValueData(BinaryData{{1, 2}}));
}

TEST(ValueDataDisplay, PrintsEveryVariant) {
    const std::vector<std::pair<ValueData, std::string>> cases = {
        {ValueData(NoData{}), "(none)"},
        {ValueData(StringData{"text, with comma"}), "text, with comma"},
        {ValueData(ExpandStringData{"%PATH%"}), "%PATH%"},
        {ValueData(BinaryData{{}}), "[]"},
        {ValueData(BinaryData{{0x0A, 0xFF, 0x00}}), "[0A, FF, 00]"},
        {ValueData(OtherData{{0xBE, 0xEF}}), "[BE, EF]"},
        {ValueData(DwordData{0}), "0 (0x00000000)"},
        {ValueData(DwordBigEndianData{0xABCDEF}), "11259375 (0x00ABCDEF)"},
        {ValueData(QwordData{0x0123456789ABCDEF}), "81985529216486895 (0x0123456789ABCDEF)"},
        {ValueData(MultiStringData{{}}), ""},
        {ValueData(MultiStringData{{"a"}}), "a"},
        {ValueData(MultiStringData{{"a", "b, c", ""}}), "a, b, c, "},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cases[i].first.to_display_string(), cases[i].second);
    }
}

}  // namespace
}  // namespace orvane::value
