// A value list naming the same long-named record over and over: values() stops
// once the names it decoded outgrow what the image can hold (three times its
// length, the most decoding can grow distinct names), instead of spending
// memory in the square of the file's size. Sound lists are never cut.

#include <gtest/gtest.h>

#include "hive/hive.hpp"
#include "key/registry_key.hpp"
#include "image_builder.hpp"
#include "record_builders.hpp"

namespace orvane::value {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::ImageBuilder;
using testing::Vk;

// A root key whose value list names `entries`, then loads the image and reads its values.
// `list` receives the value list's offset.
Result<std::vector<RegistryValue>> values_of(ImageBuilder& b, const std::vector<std::uint32_t>& entries,
                                             std::shared_ptr<const hive::Hive>& keep, std::uint32_t& list) {
    list = b.add_cell(testing::u32_array(entries));
    b.root(testing::add_key(b, "ROOT", 0, testing::kNoCell, static_cast<std::uint32_t>(entries.size()), list));
    auto hive = testing::load(b.build());
    EXPECT_TRUE(hive.has_value());
    keep = *hive;
    auto root = keep->get_key(keep->base_block().root_cell_offset);
    EXPECT_TRUE(root.has_value());
    return root->values();
}

Vk vk_named(ByteVector name, std::uint16_t flags) {
    Vk vk;
    vk.name = std::move(name);
    vk.flags = flags;
    return vk;
}

TEST(ValueListBound, RepeatedLongNameIsRefused) {
    ImageBuilder b;
    const std::uint32_t vk = b.add_cell(vk_named(ByteVector(2000, 'N'), 1).payload());
    std::shared_ptr<const hive::Hive> hive;
    std::uint32_t list = 0;
    const auto values = values_of(b, std::vector<std::uint32_t>(2000, vk), hive, list);  // 4 MB of names from 16 KiB
    ASSERT_FALSE(values.has_value());
    EXPECT_EQ(list, 0x1020u);  // the first cell of the second bin: the list did not fit the first
    EXPECT_EQ(values.error().message(), "Invalid format: Value list at offset 0x1020 names more than the hive holds");
}

TEST(ValueListBound, SoundListsAreReadWhole) {
    struct Case {
        const char* name;
        ByteVector vk_name;
        std::uint16_t flags;
        std::size_t records;
        std::size_t repeats;
    };
    // UTF-16 CJK names grow by half when decoded, invalid 8-bit names three
    // times; repeating a short name many times stays within bounds too.
    const ByteVector cjk = [] {
        ByteVector name;
        for (int i = 0; i < 1000; ++i) name.insert(name.end(), {0x2D, 0x4E});
        return name;
    }();
    for (const Case& c : {Case{"utf16_cjk", cjk, 0, 8, 1}, Case{"invalid_utf8", ByteVector(1000, 0xFF), 1, 8, 1},
                          Case{"repeated_default", {}, 1, 1, 1000}}) {
        SCOPED_TRACE(c.name);
        ImageBuilder b;
        std::vector<std::uint32_t> entries;
        for (std::size_t i = 0; i < c.records; ++i) {
            const std::uint32_t vk = b.add_cell(vk_named(c.vk_name, c.flags).payload());
            entries.insert(entries.end(), c.repeats, vk);
        }
        std::shared_ptr<const hive::Hive> hive;
        std::uint32_t list = 0;
        const auto values = values_of(b, entries, hive, list);
        ASSERT_TRUE(values.has_value()) << values.error().message();
        EXPECT_EQ(values->size(), entries.size());
    }
}

}  // namespace
}  // namespace orvane::value
