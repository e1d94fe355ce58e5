// A key's values with their data, a value by name and the nodes of its
// subkeys, read whole: what each gives on sound keys, and the bounds that keep
// lists naming the same records over and over from costing more than the hive.

#include <gtest/gtest.h>

#include "hive/hive.hpp"
#include "key/key_reads.hpp"
#include "image_builder.hpp"
#include "record_builders.hpp"

namespace orvane::key {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::Vk;

struct Loaded {
    std::shared_ptr<const hive::Hive> hive;
    RegistryKey root;
};

Loaded load_root(ImageBuilder& b, std::uint32_t root, bool tolerant = false) {
    b.root(root);
    const ByteVector image = b.build();
    auto hive = tolerant ? hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(utils::ImageBytes(image.begin(), image.end())))
                         : testing::load(image);
    EXPECT_TRUE(hive.has_value());
    auto key = (*hive)->get_key((*hive)->base_block().root_cell_offset);
    EXPECT_TRUE(key.has_value());
    return {*hive, std::move(*key)};
}

std::uint32_t add_value(ImageBuilder& b, std::string_view name, const ByteVector& data) {
    Vk vk;
    vk.name = ascii(name);
    vk.data_size = static_cast<std::uint32_t>(data.size());
    vk.data_offset = b.add_cell(data);
    return b.add_cell(vk.payload());
}

// A root key whose value list names `entries`.
Loaded key_with_values(ImageBuilder& b, const std::vector<std::uint32_t>& entries) {
    const std::uint32_t list = b.add_cell(testing::u32_array(entries));
    return load_root(b, testing::add_key(b, "ROOT", 0, testing::kNoCell, static_cast<std::uint32_t>(entries.size()), list));
}

TEST(ValuesWithData, EachValueWithItsBytes) {
    ImageBuilder b;
    const std::uint32_t one = add_value(b, "one", testing::pattern(100, 1));
    const std::uint32_t two = add_value(b, "two", testing::pattern(7, 50));
    Vk unreadable;  // its data cell lies past the image
    unreadable.name = ascii("gone");
    unreadable.data_size = 64;
    unreadable.data_offset = 0x70000;
    const Loaded key = key_with_values(b, {one, b.add_cell(unreadable.payload()), two});
    const auto values = values_with_data(key.root);
    ASSERT_TRUE(values.has_value()) << values.error().message();
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ((*values)[0].value.name, "one");
    EXPECT_EQ((*values)[0].data, testing::pattern(100, 1));
    EXPECT_EQ((*values)[1].value.name, "gone");
    EXPECT_TRUE((*values)[1].data.empty());
    EXPECT_EQ((*values)[2].data, testing::pattern(7, 50));
}

TEST(ValuesWithData, ARecordNamedOverAndOverStopsGettingBytesPastTheImage) {
    ImageBuilder b;
    const std::uint32_t big = add_value(b, "big", testing::pattern(16000));
    const Loaded key = key_with_values(b, std::vector<std::uint32_t>(40, big));  // 640 KB of data from ~40 KiB
    const auto values = values_with_data(key.root);
    ASSERT_TRUE(values.has_value()) << values.error().message();
    ASSERT_EQ(values->size(), 40u);
    std::uint64_t total = 0;
    std::size_t with_bytes = 0;
    for (const ValueWithData& value : *values) {
        total += value.data.size();
        with_bytes += !value.data.empty();
    }
    EXPECT_LE(total, key.hive->data().size());
    EXPECT_EQ(with_bytes, key.hive->data().size() / 16000);
    EXPECT_TRUE(values->back().data.empty());
}

struct FindCase {
    const char* label;
    std::string_view name;
    std::string expected;  // the value found, or the error
};

class FindValueTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindValueTest, Finds) {
    ImageBuilder b;
    Vk cut;  // its data cell lies past the image
    cut.name = ascii("Cut");
    cut.data_size = 64;
    cut.data_offset = 0x70000;
    Vk latin1;  // "Äb" as one byte per character
    latin1.name = {0xC4, 'b'};
    const Loaded key = key_with_values(
        b, {add_value(b, "Path", ascii("first")), add_value(b, "path", ascii("second")), b.add_cell(cut.payload()),
            b.add_cell(latin1.payload())});
    const auto found = find_value(key.root, GetParam().name);
    const std::string outcome = found ? found->value.name + "=" + std::string(found->data.begin(), found->data.end())
                                      : found.error().message();
    EXPECT_EQ(outcome, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    KeyReads, FindValueTest,
    ::testing::Values(FindCase{"exact", "Path", "Path=first"},
                      FindCase{"first_in_list_order_wins_over_case", "path", "Path=first"},
                      FindCase{"ascii_case_folded", "PATH", "Path=first"},
                      FindCase{"non_ascii_matches_exactly", "\xC3\x84" "B", "\xC3\x84" "b="},
                      FindCase{"non_ascii_is_not_folded", "\xC3\xA4" "b", "Not found: Value '\xC3\xA4" "b'"},
                      FindCase{"unreadable_data_fails", "cut", "Invalid offset 0x70000 (hive size: 0x2000)"},
                      FindCase{"missing", "Nope", "Not found: Value 'Nope'"}),
    [](const auto& param_info) { return std::string(param_info.param.label); });

// A root key whose subkey list names `entries`.
Loaded key_with_subkeys(ImageBuilder& b, const std::vector<std::uint32_t>& entries, bool tolerant = false) {
    const std::uint32_t list = b.add_cell(testing::li(entries));
    return load_root(b, testing::add_key(b, "ROOT", static_cast<std::uint32_t>(entries.size()), list), tolerant);
}

std::vector<std::string> names(const std::vector<RegistryKey>& keys) {
    std::vector<std::string> out;
    for (const RegistryKey& key : keys) out.push_back(key.node().name);
    return out;
}

TEST(SubkeyNodes, InListOrder) {
    ImageBuilder b;
    const Loaded key = key_with_subkeys(b, {testing::add_key(b, "B"), testing::add_key(b, "A")});
    const auto subkeys = subkey_nodes(key.root);
    ASSERT_TRUE(subkeys.has_value());
    EXPECT_EQ(names(*subkeys), (std::vector<std::string>{"B", "A"}));
}

TEST(SubkeyNodes, AnUnreadableSubkeyFailsStrictlyAndIsSkippedTolerantly) {
    for (const bool tolerant : {false, true}) {
        SCOPED_TRACE(tolerant ? "tolerant" : "strict");
        ImageBuilder b;
        const std::uint32_t a = testing::add_key(b, "A");
        const std::uint32_t empty = b.add_cell(ByteVector(8, 0), 0);
        const Loaded key = key_with_subkeys(b, {a, empty, testing::add_key(b, "C")}, tolerant);
        const auto subkeys = subkey_nodes(key.root);
        const std::string cell_size_zero = "Invalid cell size 0 at offset " + error::hex(empty);
        if (!tolerant) {
            ASSERT_FALSE(subkeys.has_value());
            EXPECT_EQ(subkeys.error().registry_error()->message(), cell_size_zero);
            continue;
        }
        ASSERT_TRUE(subkeys.has_value());
        EXPECT_EQ(names(*subkeys), (std::vector<std::string>{"A", "C"}));
        EXPECT_EQ(key.hive->problems(), (std::vector<std::string>{"Skipped subkey at offset " + error::hex(empty) + ": " +
                                                                  cell_size_zero}));
    }
}

TEST(SubkeyNodes, AListNamingOneLongNameOverAndOverIsRefused) {
    ImageBuilder b;
    const std::uint32_t long_named = testing::add_key(b, std::string(2000, 'N'));
    const Loaded key = key_with_subkeys(b, std::vector<std::uint32_t>(2000, long_named));  // 4 MB of names
    const auto subkeys = subkey_nodes(key.root);
    ASSERT_FALSE(subkeys.has_value());
    EXPECT_EQ(subkeys.error().registry_error()->message(),
              "Invalid format: Subkey list at offset " + error::hex(key.root.node().subkey_list_offset) +
                  " names more than the hive holds");
}

}  // namespace
}  // namespace orvane::key
