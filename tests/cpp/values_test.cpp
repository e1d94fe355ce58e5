// Value lists, value records and raw value data (inline, one cell, big data).

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "key/registry_key.hpp"
#include "record_builders.hpp"

namespace orvane::value {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::kNoCell;
using testing::pattern;
using testing::u32_array;
using testing::Vk;

struct KeyTree {
    ByteVector image;
    std::uint32_t value_count = 0;
    std::uint32_t value_list = kNoCell;
};

std::string describe(const RegistryValue& v) {
    std::ostringstream out;
    out << v.name << "|" << v.value_type.name() << "|" << v.data_size << "|" << error::hex(v.data_offset) << "|"
        << v.name_length << "|" << error::hex(v.flags);
    return out.str();
}

std::string read_values(const KeyTree& tree) {
    const auto hive = testing::load(tree.image);
    if (!hive.has_value()) return "load: " + hive.error().message();
    key::KeyNode node;
    node.value_count = tree.value_count;
    node.value_list_offset = tree.value_list;
    const auto values = key::RegistryKey(node, 0, **hive).values();
    // Filling a vector that still holds another key's values reads the same.
    std::vector<RegistryValue> reused(3);
    reused[0].name = "stale";
    const auto into = key::read_values_into(**hive, tree.value_list, tree.value_count, reused);
    EXPECT_EQ(into.has_value(), values.has_value());
    if (!values.has_value()) return values.error().message();
    std::string out;
    for (const auto& v : *values) {
        EXPECT_EQ(v.hive, hive->get());
        out += (out.empty() ? "" : "; ") + describe(v);
    }
    if (into.has_value()) {
        std::string refilled;
        for (const auto& v : reused) refilled += (refilled.empty() ? "" : "; ") + describe(v);
        EXPECT_EQ(refilled, out);
    }
    return "[" + out + "]";
}

// One value list naming the given vk payloads (each with an optional size word).
KeyTree with_values(const std::vector<std::pair<ByteVector, std::optional<std::int32_t>>>& records) {
    ImageBuilder b;
    std::vector<std::uint32_t> offsets;
    for (const auto& [payload, size_word] : records) offsets.push_back(b.add_cell(payload, size_word));
    const auto list = b.add_cell(u32_array(offsets));
    return {b.build(), static_cast<std::uint32_t>(offsets.size()), list};
}
KeyTree with_value(const Vk& vk) { return with_values({{vk.payload(), std::nullopt}}); }
Vk named(ByteVector name, std::uint16_t flags) {
    Vk vk;
    vk.name = std::move(name);
    vk.flags = flags;
    return vk;
}

struct ValuesCase {
    const char* name;
    std::function<KeyTree()> tree;
    std::string expected;
};

class ValuesTest : public ::testing::TestWithParam<ValuesCase> {};

TEST_P(ValuesTest, Reads) { EXPECT_EQ(read_values(GetParam().tree()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ValuesTest,
    ::testing::Values(
        ValuesCase{"count_zero_reads_nothing", [] { return KeyTree{ImageBuilder().build(), 0, 0x12345}; }, "[]"},
        ValuesCase{"list_all_ones", [] { return KeyTree{ImageBuilder().build(), 3, kNoCell}; }, "[]"},
        ValuesCase{"list_zero", [] { return KeyTree{ImageBuilder().build(), 3, 0}; }, "[]"},
        ValuesCase{"list_missing", [] { return KeyTree{ImageBuilder().build(), 1, 0x20}; },
                   "Invalid offset 0x20 (hive size: 0x1000)"},
        ValuesCase{"list_short",
                   [] {
                       ImageBuilder b;
                       const auto list = b.add_cell(u32_array({1, 2}), -12);
                       return KeyTree{b.build(), 3, list};
                   },
                   "Truncated data at offset 0x20: expected 12 bytes, got 8 bytes"},
        ValuesCase{"list_longer_than_count",
                   [] {
                       KeyTree tree = with_values({{Vk().payload(), std::nullopt}, {Vk().payload(), std::nullopt}});
                       tree.value_count = 1;
                       return tree;
                   },
                   "[value|REG_BINARY|0|0xffffffff|5|0x1]"},
        ValuesCase{"entry_all_ones",
                   [] {
                       ImageBuilder b;
                       const auto list = b.add_cell(u32_array({0xFFFFFFFF}));
                       return KeyTree{b.build(), 1, list};
                   },
                   "Invalid offset 0xffffffff (hive size: 0x0)"},
        ValuesCase{"entry_zero_reads_the_bin_header",
                   [] {
                       ImageBuilder b;
                       const auto list = b.add_cell(u32_array({0}));
                       return KeyTree{b.build(), 1, list};
                   },
                   "Truncated data at offset 0x0: expected 1852400232 bytes, got 4096 bytes"},
        ValuesCase{"vk_18_bytes", [] { return with_values({{Vk().payload(), -22}}); },
                   "Truncated data at offset 0x20: expected 20 bytes, got 18 bytes"},
        ValuesCase{"nk_signature",
                   [] {
                       Vk vk = named(ascii("abcd"), 1);
                       vk.signature = ascii("nk");
                       return with_value(vk);
                   },
                   "Invalid format: Expected 'vk' signature at offset 0x20"},
        ValuesCase{"default_name", [] { return with_value(named({}, 0)); }, "[(default)|REG_BINARY|0|0xffffffff|0|0x0]"},
        ValuesCase{"default_name_ignores_bytes",
                   [] {
                       Vk vk = named(ascii("abc"), 0);  // odd UTF-16 if it were read
                       vk.name_length = 0;
                       return with_value(vk);
                   },
                   "[(default)|REG_BINARY|0|0xffffffff|0|0x0]"},
        ValuesCase{"utf16_name", [] { return with_value(named({0x41, 0, 0x42, 0, 0x43, 0}, 0)); },
                   "[ABC|REG_BINARY|0|0xffffffff|6|0x0]"},
        ValuesCase{"utf16_odd_length", [] { return with_value(named(ascii("ABCDE"), 0)); },
                   "Invalid UTF-16 string at offset 0x20"},
        ValuesCase{"ascii_name_is_latin1", [] { return with_value(named({'a', 0xC3, 0, 0}, 0x0001)); },
                   "[a\xC3\x83|REG_BINARY|0|0xffffffff|4|0x1]"},
        ValuesCase{"name_past_payload",
                   [] {
                       Vk vk = named(ascii("abcd"), 1);
                       vk.name_length = 10;
                       return with_values({{vk.payload(), -28}});  // a 24-byte payload
                   },
                   "Truncated data at offset 0x20: expected 30 bytes, got 24 bytes"},
        ValuesCase{"fields",
                   [] {
                       Vk vk = named(ascii("Data"), 0xF001);
                       vk.data_size = 0x80000010;
                       vk.data_offset = 0x1234;
                       vk.data_type = 0x20;
                       return with_value(vk);
                   },
                   "[Data|REG_UNKNOWN_0x00000020|16|0x1234|4|0xf001]"},
        ValuesCase{"list_order_kept",
                   [] {
                       Vk a = named(ascii("b"), 1), c = named(ascii("a"), 1);
                       a.data_type = 1;
                       c.data_type = 4;
                       return with_values({{a.payload(), std::nullopt}, {c.payload(), std::nullopt}});
                   },
                   "[b|REG_SZ|0|0xffffffff|1|0x1; a|REG_DWORD|0|0xffffffff|1|0x1]"},
        ValuesCase{"first_error_ends_the_list",
                   [] {
                       return with_values({{Vk().payload(), std::nullopt},
                                           {Vk().payload(), -22},
                                           {named(ascii("abc"), 0).payload(), std::nullopt}});
                   },
                   "Truncated data at offset 0x40: expected 20 bytes, got 18 bytes"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// Raw data. A case builds an image and the value to read from it.
struct DataTree {
    ByteVector image;
    std::uint32_t size = 0;
    std::uint32_t offset = kNoCell;
};

std::string hex_bytes(const std::vector<std::uint8_t>& bytes) {
    std::ostringstream out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x", bytes[i]);
        out << (i ? " " : "") << digits;
    }
    return "<" + out.str() + ">";
}

Result<std::vector<std::uint8_t>> read_data(const DataTree& tree, std::shared_ptr<const hive::Hive>* keep = nullptr) {
    auto hive = testing::load(tree.image);
    if (!hive.has_value()) return error::unexpected(hive.error());
    RegistryValue value;
    value.data_size = tree.size;
    value.data_offset = tree.offset;
    value.hive = hive->get();
    auto data = value.raw_data();
    if (keep != nullptr) *keep = *hive;
    return data;
}

std::string data_outcome(const DataTree& tree) {
    const auto data = read_data(tree);
    return data.has_value() ? hex_bytes(*data) : data.error().message();
}

struct DataCase {
    const char* name;
    std::function<DataTree()> tree;
    std::string expected;
};

class RawDataTest : public ::testing::TestWithParam<DataCase> {};

TEST_P(RawDataTest, Reads) { EXPECT_EQ(data_outcome(GetParam().tree()), GetParam().expected); }

DataTree inline_data(std::uint32_t size, std::uint32_t offset) { return {ImageBuilder().build(), size, offset}; }
DataTree in_cell(std::uint32_t size, const ByteVector& payload, std::optional<std::int32_t> size_word = std::nullopt) {
    ImageBuilder b;
    const auto at = b.add_cell(payload, size_word);
    return {b.build(), size, at};
}

// A db record at 0x20 naming a segment list at 0x30, then the segments.
// add_cell pads a payload so that payload + 4 is a multiple of 8; segment
// sizes below are chosen so that no padding shows in the result.
// `edit_list` may change the list entries before they are written.
DataTree big(std::uint32_t size, const std::vector<ByteVector>& segments,
             std::function<void(std::vector<std::uint32_t>&)> edit_list = {}) {
    ImageBuilder b;
    EXPECT_EQ(b.add_cell(testing::db(static_cast<std::uint16_t>(segments.size()), 0x30)), 0x20u);
    ByteVector placeholder(4 * segments.size() + 8, 0);  // room for one extra entry
    EXPECT_EQ(b.add_cell(placeholder), 0x30u);
    std::vector<std::uint32_t> offsets;
    for (const auto& segment : segments) offsets.push_back(b.add_cell(segment));
    if (edit_list) edit_list(offsets);
    EXPECT_LE(offsets.size(), segments.size() + 2);
    testing::put_bytes(b.raw(), testing::payload_position(0x30), u32_array(offsets));
    testing::put_u16(b.raw(), testing::payload_position(0x20, 2), static_cast<std::uint16_t>(offsets.size()));
    return {b.build(), size, 0x20};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawDataTest,
    ::testing::Values(
        DataCase{"inline_1", [] { return inline_data(1, 0x11223344); }, "<44>"},
        DataCase{"inline_2", [] { return inline_data(2, 0x11223344); }, "<44 33>"},
        DataCase{"inline_3", [] { return inline_data(3, 0x11223344); }, "<44 33 22>"},
        DataCase{"inline_4", [] { return inline_data(4, 0x00000001); }, "<01 00 00 00>"},
        DataCase{"inline_all_ones", [] { return inline_data(4, 0xFFFFFFFF); }, "<ff ff ff ff>"},
        DataCase{"inline_size_bit_31", [] { return inline_data(0x80000002, 0x11223344); }, "<44 33>"},
        DataCase{"size_zero", [] { return inline_data(0, 0x20); }, "<>"},
        DataCase{"offset_zero", [] { return inline_data(8, 0); }, "<>"},
        DataCase{"offset_all_ones", [] { return inline_data(8, 0xFFFFFFFF); }, "<>"},
        DataCase{"cell_longer_than_size", [] { return in_cell(6, pattern(12)); }, "<00 01 02 03 04 05>"},
        DataCase{"cell_shorter_than_size", [] { return in_cell(20, pattern(12)); },
                 "<00 01 02 03 04 05 06 07 08 09 0a 0b>"},
        DataCase{"free_data_cell", [] { return in_cell(5, pattern(12), 16); }, "<00 01 02 03 04>"},
        DataCase{"data_cell_missing", [] { return DataTree{ImageBuilder().build(), 8, 0x10000}; },
                 "Invalid offset 0x10000 (hive size: 0x1000)"},
        DataCase{"data_cell_bad_size", [] { return in_cell(8, pattern(12), -3); },
                 "Invalid cell size -3 at offset 0x20"},
        DataCase{"db_segment_count_zero", [] { return big(20000, {}); }, "<>"},
        DataCase{"db_segment_list_fetched_for_count_zero",
                 [] {
                     ImageBuilder b;
                     const auto at = b.add_cell(testing::db(0, 0x7000));
                     return DataTree{b.build(), 20000, at};
                 },
                 "Invalid offset 0x7000 (hive size: 0x2000)"},
        DataCase{"db_short",
                 [] {
                     ImageBuilder b;
                     const auto at = b.add_cell(testing::db(1, 0x30), -8);
                     return DataTree{b.build(), 16345, at};
                 },
                 "Truncated data at offset 0x20: expected 8 bytes, got 4 bytes"},
        DataCase{"db_wrong_signature",
                 [] {
                     ImageBuilder b;
                     b.add_hbin();
                     b.add_hbin();
                     const auto at = b.add_cell(ByteVector(8, 0));
                     return DataTree{b.build(), 16345, at};
                 },
                 "Invalid format: Expected 'db' signature at offset 0x1020, found [0, 0]"},
        DataCase{"db_wrong_signature_short_cell_is_truncated",
                 [] {
                     ImageBuilder b;
                     const auto at = b.add_cell(ascii("zz"), -6);
                     return DataTree{b.build(), 16345, at};
                 },
                 "Truncated data at offset 0x20: expected 8 bytes, got 2 bytes"},
        DataCase{"segment_list_short",
                 [] {
                     ImageBuilder b;
                     const auto at = b.add_cell(testing::db(3, 0x30));
                     b.add_cell(u32_array({0x40, 0x40}), -12);
                     return DataTree{b.build(), 16345, at};
                 },
                 "Truncated data at offset 0x30: expected 12 bytes, got 8 bytes"},
        DataCase{"segment_cell_missing",
                 [] { return big(16345, {pattern(16), pattern(8)}, [](auto& list) { list[1] = 0x9000; }); },
                 "Invalid offset 0x9000 (hive size: 0x2000)"},
        DataCase{"segment_list_entry_all_ones_is_0x7fffffff",
                 [] { return big(16345, {pattern(16)}, [](auto& list) { list[0] = 0xFFFFFFFF; }); },
                 "Invalid offset 0x7fffffff (hive size: 0x2000)"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// Cases whose results are too long to spell out.
TEST(RawData, SingleCellUpTo16344) {
    const ByteVector payload = pattern(16344, 7);
    const auto data = read_data(in_cell(16344, payload));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    EXPECT_EQ(*data, payload);
}

TEST(RawData, BigDataFromTwoSegments) {
    const ByteVector first = pattern(16348, 1), second = pattern(3660, 2);
    const auto data = read_data(big(20000, {first, second}));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    ByteVector expected(first.begin(), first.begin() + 16344);
    expected.insert(expected.end(), second.begin(), second.begin() + 3656);
    EXPECT_EQ(*data, expected);
}

TEST(RawData, Size16345GoesThroughBigData) {
    const ByteVector first = pattern(16344, 3), second = pattern(8, 0xF0);
    const auto data = read_data(big(16345, {first, second}));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    ByteVector expected = first;
    expected.push_back(0xF0);
    EXPECT_EQ(*data, expected);
}

TEST(RawData, ShortSegmentsGiveAShorterResult) {
    const ByteVector first = pattern(100, 1), second = pattern(196, 2);
    const auto data = read_data(big(20000, {first, second}));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    ByteVector expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(*data, expected);
}

TEST(RawData, SegmentOffsetsLoseBit31AndSlackIsSkipped) {
    const ByteVector segment = pattern(16400, 9);
    const auto data = read_data(big(16345, {segment}, [](auto& list) { list[0] |= 0x80000000; }));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    EXPECT_EQ(*data, ByteVector(segment.begin(), segment.begin() + 16344));
}

TEST(RawData, SegmentsAfterEnoughAreNotFetched) {
    const ByteVector first = pattern(20, 1), second = pattern(16344, 2);
    // The third entry names no cell; it is never looked at.
    const auto data = read_data(big(16344 + 20, {first, second}, [](auto& list) { list.push_back(0x9000); }));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    ByteVector expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(*data, expected);
}

TEST(RawData, HugeClaimedSizeAllocatesOnlyWhatTheCellsHold) {
    const auto data = read_data(big(0x7FFFFFFF, {pattern(16344), pattern(52)}));
    ASSERT_TRUE(data.has_value()) << data.error().message();
    EXPECT_EQ(data->size(), 16344u + 52u);
    EXPECT_EQ(data->capacity(), data->size());
}

TEST(RawData, OutlivesTheHive) {
    std::shared_ptr<const hive::Hive> hive;
    auto data = read_data(in_cell(8, pattern(12)), &hive);
    hive.reset();
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(*data, pattern(8));
}

}  // namespace
}  // namespace orvane::value

namespace orvane::value {
namespace {

// Version 1.3 hives have no big-data records: a large value lies in one cell.
struct LegacyCase {
    const char* name;
    std::uint32_t minor_version;
    bool db_record;
    std::string expected;  // "whole", "gathered" or the error text
};

class LegacyBigDataTest : public ::testing::TestWithParam<LegacyCase> {};

TEST_P(LegacyBigDataTest, Reads) {
    const ByteVector payload = pattern(20000, 5);
    DataTree tree = GetParam().db_record ? big(20000, {pattern(16344, 1), pattern(3656, 2)}) : in_cell(20000, payload);
    testing::put_u32(tree.image, 24, GetParam().minor_version);
    hive::store_base_block_checksum(tree.image);
    const auto data = read_data(tree);
    std::string outcome = data.has_value() ? "" : data.error().message();
    if (data.has_value() && *data == payload) outcome = "whole";
    ByteVector gathered = pattern(16344, 1);
    const ByteVector tail = pattern(3656, 2);
    gathered.insert(gathered.end(), tail.begin(), tail.end());
    if (data.has_value() && *data == gathered) outcome = "gathered";
    EXPECT_EQ(outcome, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LegacyBigDataTest,
    ::testing::Values(LegacyCase{"v1_3_plain_cell", 3, false, "whole"},
                      LegacyCase{"v1_3_db_record", 3, true, "gathered"},
                      LegacyCase{"v1_4_plain_cell", 4, false,
                                 "Invalid format: Expected 'db' signature at offset 0x20, found [5, 6]"},
                      LegacyCase{"v1_5_db_record", 5, true, "gathered"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace orvane::value
