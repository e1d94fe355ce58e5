#pragma once
// A decoded key node ("nk" cell).

#include <cstdint>
#include <string>
#include <string_view>

#include "error/problem_log.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::key {

namespace nk_layout {
inline constexpr std::size_t fixed_size = 76;  // the payload minimum; the name follows
inline constexpr std::size_t flags = 2;
inline constexpr std::size_t last_written = 4;
inline constexpr std::size_t access_bits = 12;
inline constexpr std::size_t parent_offset = 16;
inline constexpr std::size_t subkey_count = 20;
inline constexpr std::size_t volatile_subkey_count = 24;
inline constexpr std::size_t subkey_list_offset = 28;
inline constexpr std::size_t volatile_subkey_list_offset = 32;
inline constexpr std::size_t value_count = 36;
inline constexpr std::size_t value_list_offset = 40;
inline constexpr std::size_t security_offset = 44;
inline constexpr std::size_t class_name_offset = 48;
inline constexpr std::size_t largest_subkey_name_length = 52;
inline constexpr std::size_t largest_subkey_class_length = 56;
inline constexpr std::size_t largest_value_name_length = 60;
inline constexpr std::size_t largest_value_data_size = 64;
inline constexpr std::size_t work_var = 68;
inline constexpr std::size_t name_length = 72;
inline constexpr std::size_t class_name_length = 74;
inline constexpr std::size_t name = 76;
inline constexpr std::uint16_t ascii_name_flag = 0x0020;
inline constexpr std::string_view signature = "nk";
static_assert(name == fixed_size, "the name follows the fixed part");
static_assert(class_name_length + 2 == fixed_size, "the class name length is the last fixed field");
}  // namespace nk_layout

struct KeyNode {
    std::string name;
    std::uint16_t flags = 0;
    std::uint64_t last_written = 0;
    std::uint32_t access_bits = 0;
    std::uint32_t parent_offset = 0;
    std::uint32_t subkey_count = 0;
    std::uint32_t volatile_subkey_count = 0;
    std::uint32_t subkey_list_offset = 0;
    std::uint32_t volatile_subkey_list_offset = 0;
    std::uint32_t value_count = 0;
    std::uint32_t value_list_offset = 0;
    std::uint32_t security_offset = 0;
    std::uint32_t class_name_offset = 0;
    std::uint32_t largest_subkey_name_length = 0;
    std::uint32_t largest_subkey_class_length = 0;
    std::uint32_t largest_value_name_length = 0;
    std::uint32_t largest_value_data_size = 0;
    std::uint32_t work_var = 0;
    std::uint16_t name_length = 0;
    std::uint16_t class_name_length = 0;

    bool operator==(const KeyNode&) const = default;
};

// Decodes the payload of the cell at `offset` (the offset only goes into errors):
// TruncatedData below 76 bytes, then InvalidFormat "Expected 'nk' signature at
// offset 0x..", then the name (ASCII flag 0x0020, else UTF-16). Given a
// problem log (a tolerant hive), a malformed UTF-16 name is read with U+FFFD
// in place of each bad unit, and noted, instead of failing.
[[nodiscard]] Result<KeyNode> decode_key_node(utils::Bytes payload, std::uint32_t offset,
                                              error::ProblemLog* problems = nullptr);

}  // namespace orvane::key
