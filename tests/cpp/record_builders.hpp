#pragma once
// Test-side writers of key-tree records (cell payloads), to place with
// ImageBuilder::add_cell. Defaults give a valid record; every field can be
// set to anything, valid or not, so each damaged case is one field away from
// a good one.

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "image_builder.hpp"

namespace orvane::testing {

inline constexpr std::uint32_t kNoCell = 0xFFFFFFFF;

// A key node ("nk") payload. The stored name length is the length of `name`
// unless `name_length` says otherwise; flag 0x0020 (one byte per character) is set.
struct Nk {
    ByteVector signature = ascii("nk");
    std::uint16_t flags = 0x0020;
    std::uint64_t last_written = 0;
    std::uint32_t access_bits = 0;
    std::uint32_t parent_offset = 0;
    std::uint32_t subkey_count = 0;
    std::uint32_t volatile_subkey_count = 0;
    std::uint32_t subkey_list_offset = kNoCell;
    std::uint32_t volatile_subkey_list_offset = kNoCell;
    std::uint32_t value_count = 0;
    std::uint32_t value_list_offset = kNoCell;
    std::uint32_t security_offset = kNoCell;
    std::uint32_t class_name_offset = kNoCell;
    std::uint32_t largest_subkey_name_length = 0;
    std::uint32_t largest_subkey_class_length = 0;
    std::uint32_t largest_value_name_length = 0;
    std::uint32_t largest_value_data_size = 0;
    std::uint32_t work_var = 0;
    std::optional<std::uint16_t> name_length;
    std::uint16_t class_name_length = 0;
    ByteVector name = ascii("key");

    ByteVector payload() const {
        ByteVector b(76, 0);
        put_bytes(b, 0, signature);
        put_u16(b, 2, flags);
        put_u64(b, 4, last_written);
        put_u32(b, 12, access_bits);
        put_u32(b, 16, parent_offset);
        put_u32(b, 20, subkey_count);
        put_u32(b, 24, volatile_subkey_count);
        put_u32(b, 28, subkey_list_offset);
        put_u32(b, 32, volatile_subkey_list_offset);
        put_u32(b, 36, value_count);
        put_u32(b, 40, value_list_offset);
        put_u32(b, 44, security_offset);
        put_u32(b, 48, class_name_offset);
        put_u32(b, 52, largest_subkey_name_length);
        put_u32(b, 56, largest_subkey_class_length);
        put_u32(b, 60, largest_value_name_length);
        put_u32(b, 64, largest_value_data_size);
        put_u32(b, 68, work_var);
        put_u16(b, 72, name_length.value_or(static_cast<std::uint16_t>(name.size())));
        put_u16(b, 74, class_name_length);
        put_bytes(b, 76, name);
        return b;
    }
};

// A subkey list payload: signature, u16 count (the number of elements unless
// given), then the elements. "lf"/"lh" elements carry `hash` after each offset.
inline ByteVector subkey_list(std::string_view signature, const std::vector<std::uint32_t>& offsets,
                              std::optional<std::uint16_t> count = std::nullopt, std::uint32_t hash = 0x12345678) {
    const bool hashed = signature == "lf" || signature == "lh";
    ByteVector b = ascii(signature);
    put_u16(b, 2, count.value_or(static_cast<std::uint16_t>(offsets.size())));
    std::size_t at = 4;
    for (const std::uint32_t offset : offsets) {
        put_u32(b, at, offset);
        at += 4;
        if (hashed) put_u32(b, at, hash), at += 4;
    }
    b.resize(std::max<std::size_t>(b.size(), 4));
    return b;
}
inline ByteVector li(const std::vector<std::uint32_t>& offsets) { return subkey_list("li", offsets); }
inline ByteVector lf(const std::vector<std::uint32_t>& offsets) { return subkey_list("lf", offsets); }
inline ByteVector lh(const std::vector<std::uint32_t>& offsets) { return subkey_list("lh", offsets); }
inline ByteVector ri(const std::vector<std::uint32_t>& offsets) { return subkey_list("ri", offsets); }

// A value list or a big-data segment list: u32 offsets, nothing else.
inline ByteVector u32_array(const std::vector<std::uint32_t>& values) {
    ByteVector b;
    for (std::size_t i = 0; i < values.size(); ++i) put_u32(b, 4 * i, values[i]);
    return b;
}

// A value record ("vk") payload; flag 0x0001 (8-bit name) is set by default.
struct Vk {
    ByteVector signature = ascii("vk");
    ByteVector name = ascii("value");
    std::optional<std::uint16_t> name_length;
    std::uint32_t data_size = 0;
    std::uint32_t data_offset = kNoCell;
    std::uint32_t data_type = 3;
    std::uint16_t flags = 0x0001;

    ByteVector payload() const {
        ByteVector b(20, 0);
        put_bytes(b, 0, signature);
        put_u16(b, 2, name_length.value_or(static_cast<std::uint16_t>(name.size())));
        put_u32(b, 4, data_size);
        put_u32(b, 8, data_offset);
        put_u32(b, 12, data_type);
        put_u16(b, 16, flags);
        put_bytes(b, 20, name);
        return b;
    }
};

// A big-data record ("db") payload.
inline ByteVector db(std::uint16_t segment_count, std::uint32_t segment_list_offset) {
    ByteVector b = ascii("db");
    put_u16(b, 2, segment_count);
    put_u32(b, 4, segment_list_offset);
    return b;
}

// `size` bytes counting up from `first` (mod 256), so gathered slices are
// easy to tell apart.
inline ByteVector pattern(std::size_t size, std::uint8_t first = 0) {
    ByteVector b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

// Writes a key with the given subkey list and value list in one go; returns
// the key's cell offset.
inline std::uint32_t add_key(ImageBuilder& image, std::string_view name, std::uint32_t subkey_count = 0,
                             std::uint32_t subkey_list_offset = kNoCell, std::uint32_t value_count = 0,
                             std::uint32_t value_list_offset = kNoCell) {
    Nk nk;
    nk.name = ascii(name);
    nk.subkey_count = subkey_count;
    nk.subkey_list_offset = subkey_list_offset;
    nk.value_count = value_count;
    nk.value_list_offset = value_list_offset;
    return image.add_cell(nk.payload());
}

// Image position of payload byte `at` of the cell at `cell_offset`.
inline std::size_t payload_position(std::uint32_t cell_offset, std::size_t at = 0) {
    return ImageBuilder::base + cell_offset + 4 + at;
}

}  // namespace orvane::testing
