// Key nodes: decoding an "nk" payload and fetching keys through Hive::get_key.

#include <gtest/gtest.h>

#include <functional>

#include "key/registry_key.hpp"
#include "key/key_node.hpp"
#include "record_builders.hpp"

namespace orvane::key {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::Nk;

// "name=<name>" on success, else the error message.
std::string outcome(const Result<KeyNode>& node) {
    return node.has_value() ? "name=" + node->name : node.error().message();
}
std::string outcome(const Checked<key::RegistryKey>& key) {
    if (key.has_value()) return "name=" + key->node().name;
    if (const auto* e = key.error().registry_error()) return e->message();
    return "internal: " + key.error().internal_failure()->text;
}

struct DecodeCase {
    const char* name;
    std::function<ByteVector()> payload;
    std::string expected;
};

class DecodeKeyNodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeyNodeTest, Decodes) {
    const ByteVector payload = GetParam().payload();
    EXPECT_EQ(outcome(decode_key_node(payload, 0x20)), GetParam().expected);
}

Nk with_name(ByteVector name, std::uint16_t flags) {
    Nk nk;
    nk.name = std::move(name);
    nk.flags = flags;
    return nk;
}
ByteVector sized(ByteVector payload, std::size_t size) {
    payload.resize(size, 0);
    return payload;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeKeyNodeTest,
    ::testing::Values(
        DecodeCase{"ascii_name", [] { return with_name(ascii("Soft"), 0x0020).payload(); }, "name=Soft"},
        DecodeCase{"same_bytes_as_utf16", [] { return with_name(ascii("Soft"), 0).payload(); },
                   "name=\xE6\xBD\x93\xE7\x91\xA6"},  // U+6F53 U+7466
        DecodeCase{"utf16_name", [] { return with_name(testing::utf16le(u"Caf\u00e9"), 0).payload(); },
                   "name=Caf\xC3\xA9"},
        DecodeCase{"other_flag_bits_ignored", [] { return with_name(ascii("Soft"), 0xFFFF).payload(); },
                   "name=Soft"},
        DecodeCase{"ascii_flag_is_latin1", [] { return with_name({'A', 0xFF, 'B', 0xE9}, 0x20).payload(); },
                   "name=A\xC3\xBF" "B\xC3\xA9"},
        DecodeCase{"ascii_trailing_nuls_dropped", [] { return with_name({'a', 'b', 0, 0}, 0x20).payload(); },
                   "name=ab"},
        DecodeCase{"empty_name_ascii", [] { return with_name({}, 0x20).payload(); }, "name="},
        DecodeCase{"empty_name_utf16_skips_bytes",
                   [] {
                       Nk nk = with_name({'x'}, 0);  // one stray byte would be odd UTF-16
                       nk.name_length = 0;
                       return nk.payload();
                   },
                   "name="},
        DecodeCase{"odd_utf16_length", [] { return with_name(ascii("abcde"), 0).payload(); },
                   "Invalid UTF-16 string at offset 0x20"},
        DecodeCase{"unpaired_surrogate", [] { return with_name({0x00, 0xD8, 0x41, 0x00}, 0).payload(); },
                   "Invalid UTF-16 string at offset 0x20"},
        DecodeCase{"payload_75_with_nk", [] { return sized(Nk().payload(), 75); },
                   "Truncated data at offset 0x20: expected 76 bytes, got 75 bytes"},
        DecodeCase{"payload_75_wrong_signature", [] { return sized(ascii("zz"), 75); },
                   "Truncated data at offset 0x20: expected 76 bytes, got 75 bytes"},
        DecodeCase{"empty_payload", [] { return ByteVector(); },
                   "Truncated data at offset 0x20: expected 76 bytes, got 0 bytes"},
        DecodeCase{"wrong_signature", [] { return sized(ascii("vk"), 76); },
                   "Invalid format: Expected 'nk' signature at offset 0x20"},
        DecodeCase{"name_runs_past_payload",
                   [] {
                       Nk nk = with_name(ascii("abcd"), 0x20);
                       nk.name_length = 10;
                       return nk.payload();  // 80 bytes
                   },
                   "Truncated data at offset 0x20: expected 86 bytes, got 80 bytes"},
        DecodeCase{"largest_name_length",
                   [] {
                       Nk nk = with_name({}, 0x20);
                       nk.name_length = 0xFFFF;
                       return nk.payload();
                   },
                   "Truncated data at offset 0x20: expected 65611 bytes, got 76 bytes"},
        DecodeCase{"name_ends_at_payload_end", [] { return sized(with_name(ascii("abcd"), 0x20).payload(), 80); },
                   "name=abcd"},
        DecodeCase{"slack_after_name_ignored", [] { return sized(with_name(ascii("ab"), 0x20).payload(), 96); },
                   "name=ab"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(DecodeKeyNode, CopiesEveryFixedField) {
    Nk nk;
    nk.flags = 0x1020;
    nk.last_written = 0x01D9'0A0B'0C0D'0E0F;
    nk.access_bits = 2;
    nk.parent_offset = 3;
    nk.subkey_count = 4;
    nk.volatile_subkey_count = 5;
    nk.subkey_list_offset = 6;
    nk.volatile_subkey_list_offset = 7;
    nk.value_count = 8;
    nk.value_list_offset = 9;
    nk.security_offset = 10;
    nk.class_name_offset = 11;
    nk.largest_subkey_name_length = 0xAABB000C;  // kept whole
    nk.largest_subkey_class_length = 13;
    nk.largest_value_name_length = 14;
    nk.largest_value_data_size = 15;
    nk.work_var = 16;
    nk.class_name_length = 17;
    nk.name = ascii("Name");
    const auto node = decode_key_node(nk.payload(), 0x20);
    ASSERT_TRUE(node.has_value()) << node.error().message();

    KeyNode expected;
    expected.name = "Name";
    expected.flags = 0x1020;
    expected.last_written = 0x01D9'0A0B'0C0D'0E0F;
    expected.access_bits = 2;
    expected.parent_offset = 3;
    expected.subkey_count = 4;
    expected.volatile_subkey_count = 5;
    expected.subkey_list_offset = 6;
    expected.volatile_subkey_list_offset = 7;
    expected.value_count = 8;
    expected.value_list_offset = 9;
    expected.security_offset = 10;
    expected.class_name_offset = 11;
    expected.largest_subkey_name_length = 0xAABB000C;
    expected.largest_subkey_class_length = 13;
    expected.largest_value_name_length = 14;
    expected.largest_value_data_size = 15;
    expected.work_var = 16;
    expected.name_length = 4;
    expected.class_name_length = 17;
    EXPECT_EQ(*node, expected);
}

// get_key over whole images: cell access errors pass through unchanged.
struct GetKeyCase {
    const char* name;
    std::function<std::pair<ByteVector, std::uint32_t>()> image_and_offset;
    std::string expected;
};

class GetKeyTest : public ::testing::TestWithParam<GetKeyCase> {};

TEST_P(GetKeyTest, Fetches) {
    const auto [image, offset] = GetParam().image_and_offset();
    const auto hive = testing::load(image);
    ASSERT_TRUE(hive.has_value()) << hive.error().message();
    EXPECT_EQ(outcome((*hive)->get_key(offset)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetKeyTest,
    ::testing::Values(
        GetKeyCase{"allocated_cell",
                   [] {
                       ImageBuilder b;
                       const auto at = b.add_cell(with_name(ascii("Root"), 0x20).payload());
                       return std::pair(b.build(), at);
                   },
                   "name=Root"},
        GetKeyCase{"free_cell_reads_alike",
                   [] {
                       ImageBuilder b;
                       const auto at = b.add_cell(with_name(ascii("Gone"), 0x20).payload(), 88);
                       return std::pair(b.build(), at);
                   },
                   "name=Gone"},
        GetKeyCase{"offset_all_ones", [] { ImageBuilder b; b.add_hbin(); return std::pair(b.build(), 0xFFFFFFFFu); },
                   "Invalid offset 0xffffffff (hive size: 0x0)"},
        GetKeyCase{"offset_past_image", [] { ImageBuilder b; b.add_hbin(); return std::pair(b.build(), 0x1000u); },
                   "Invalid offset 0x1000 (hive size: 0x2000)"},
        GetKeyCase{"eight_byte_cell_with_nk",
                   [] {
                       ImageBuilder b;
                       const auto at = b.add_cell(ByteVector{'n', 'k', 0, 0});
                       return std::pair(b.build(), at);
                   },
                   "Truncated data at offset 0x20: expected 76 bytes, got 4 bytes"},
        GetKeyCase{"value_record_offset",
                   [] {
                       ImageBuilder b;
                       testing::Vk vk;
                       vk.name = ByteVector(60, 'v');
                       const auto at = b.add_cell(vk.payload());  // 80-byte payload
                       return std::pair(b.build(), at);
                   },
                   "Invalid format: Expected 'nk' signature at offset 0x20"},
        GetKeyCase{"second_cell",
                   [] {
                       ImageBuilder b;
                       b.add_cell(with_name(ascii("First"), 0x20).payload());
                       const auto at = b.add_cell(with_name(testing::utf16le(u"Second"), 0).payload());
                       return std::pair(b.build(), at);
                   },
                   "name=Second"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(GetKey, KeyCarriesOffsetHiveAndNode) {
    ImageBuilder b;
    b.add_cell(Nk().payload());
    Nk nk;
    nk.name = ascii("Child");
    nk.value_count = 3;
    const auto at = b.add_cell(nk.payload());
    const auto hive = testing::load(b.build());
    ASSERT_TRUE(hive.has_value());
    const auto key = (*hive)->get_key(at);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->offset(), at);
    EXPECT_EQ(&key->hive(), hive->get());
    EXPECT_EQ(key->node(), *decode_key_node(nk.payload(), at));
}

}  // namespace
}  // namespace orvane::key
