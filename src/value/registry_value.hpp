#pragma once
// One value record ("vk" cell) of a key, and reading its data.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "value/value_type.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::hive {
class Hive;
}

namespace orvane::value {

namespace vk_layout {
inline constexpr std::size_t minimum_size = 20;
inline constexpr std::size_t name_length = 2;
inline constexpr std::size_t data_size = 4;
inline constexpr std::size_t data_offset = 8;
inline constexpr std::size_t data_type = 12;
inline constexpr std::size_t flags = 16;
inline constexpr std::size_t name = 20;
inline constexpr std::uint16_t ascii_name_flag = 0x0001;
inline constexpr std::uint32_t data_size_mask = 0x7FFFFFFF;
inline constexpr std::uint32_t inline_data_flag = 0x80000000;  // set by Windows on data held in the offset field
inline constexpr std::uint32_t inline_data_limit = 4;           // sizes 1 to 4 live in the offset field
inline constexpr std::uint32_t largest_single_cell = 16344;  // larger data lives in a "db" record
inline constexpr std::string_view signature = "vk";
static_assert(name == minimum_size, "the name follows the fixed part");
static_assert(flags + 2 <= minimum_size, "the flags lie in the fixed part");
}  // namespace vk_layout

// A big-data record ("db"): the segments of a value above 16344 bytes.
namespace db_layout {
inline constexpr std::size_t minimum_size = 8;
inline constexpr std::size_t segment_count = 2;
inline constexpr std::size_t segment_list_offset = 4;
inline constexpr std::uint32_t segment_offset_mask = 0x7FFFFFFF;
inline constexpr std::string_view signature = "db";
static_assert(segment_list_offset + 4 == minimum_size, "the segment list offset ends the record");
}  // namespace db_layout

struct RegistryValue {
    std::string name;  // "(default)" for an unnamed value
    value::ValueType value_type;
    std::uint32_t data_size = 0;  // bit 31 cleared
    std::uint32_t data_offset = 0;
    std::uint16_t name_length = 0;
    std::uint16_t flags = 0;
    std::uint32_t offset = 0;  // the value record's own cell offset
    const hive::Hive* hive = nullptr;  // not owned; a RegistryValue never outlives its Hive

    // The value's bytes: inline (sizes 1 to 4), from one cell, or gathered from
    // big-data segments. Never more than data_size bytes; fewer when the hive
    // holds fewer. On a tolerant hive big data gives the bytes of the segments
    // up to the first one that cannot be read, and a failure is also noted.
    [[nodiscard]] Result<std::vector<std::uint8_t>> raw_data() const;
    // The same bytes without a copy where they lie whole in one cell: a view
    // into the image, or into `gathered` (which then holds inline and big
    // data), valid while both live and `gathered` is not touched.
    [[nodiscard]] Result<utils::Bytes> data_view(std::vector<std::uint8_t>& gathered) const;

private:
    [[nodiscard]] Result<utils::Bytes> read_data(std::vector<std::uint8_t>& gathered) const;
};

// Decodes the value record whose payload `view` holds (errors name the view's
// origin, the cell offset): TruncatedData below 20 bytes, InvalidFormat
// "Expected 'vk' signature at offset 0x..", then the name ("(default)" when it
// is empty; ASCII flag 0x0001, else UTF-16). No data is read.
[[nodiscard]] Result<RegistryValue> decode_value_record(utils::ByteView view, const hive::Hive& hive);

}  // namespace orvane::value
