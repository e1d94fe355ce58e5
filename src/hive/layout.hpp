#pragma once
// On-disk layout of the hive file: base block, hive bin headers and cells.
// Offsets are from the start of the structure named.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvane::hive::layout {

// Base block (file offset 0).
inline constexpr std::size_t base_block_size = 4096;  // also where the hive bins data begin
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t primary_sequence = 4;
inline constexpr std::size_t secondary_sequence = 8;
inline constexpr std::size_t timestamp = 12;
inline constexpr std::size_t major_version = 20;
inline constexpr std::size_t minor_version = 24;
inline constexpr std::size_t file_type = 28;
inline constexpr std::size_t file_format = 32;
inline constexpr std::size_t root_cell_offset = 36;
inline constexpr std::size_t hive_bins_data_size = 40;
inline constexpr std::size_t clustering_factor = 44;
inline constexpr std::size_t file_name = 48;
inline constexpr std::size_t file_name_size = 64;
inline constexpr std::size_t checksum = 508;
inline constexpr std::size_t checksummed_words = 127;  // u32 words at 0, 4, ..., 504
static_assert(checksummed_words * 4 == checksum, "the checksum follows the words it covers");
static_assert(file_name + file_name_size <= checksum, "the file name lies inside the checksummed words");
inline constexpr std::string_view regf_signature = "regf";

// Hive bin header (at hive bins data offset P, file offset 4096 + P).
inline constexpr std::size_t hbin_header_size = 32;
inline constexpr std::size_t hbin_signature = 0;
inline constexpr std::size_t hbin_offset = 4;
inline constexpr std::size_t hbin_size = 8;
inline constexpr std::size_t hbin_reserved = 12;
inline constexpr std::size_t hbin_timestamp = 20;
inline constexpr std::size_t hbin_spare = 28;
inline constexpr std::string_view hbin_signature_bytes = "hbin";
static_assert(hbin_spare + 4 == hbin_header_size, "the spare field ends the header");

// Cells: a signed size word, then the payload.
inline constexpr std::size_t cell_size_word = 4;
inline constexpr std::uint32_t largest_cell_offset = 0xFFFFEFFF;  // X + 4096 must fit in 32 bits

}  // namespace orvane::hive::layout
