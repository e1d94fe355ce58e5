#pragma once
// On-disk layout of the transaction logs Windows writes beside a hive
// (.LOG1/.LOG2/.LOG). Both kinds start with a copy of the hive's base block;
// the "new" kind (Windows 8.1 on) follows it with hashed "HvLE" entries, the
// "old" kind with a "DIRT" bitmap of dirty sectors. Offsets are from the start
// of the structure named.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transaction_log/image_limit.hpp"
#include "transaction_log/signatures.hpp"

namespace orvane::transaction_log::windows_layout {

// The log's base block copy (file offset 0). Its fields sit where they sit in
// the hive's base block (hive/layout.hpp); only these matter for logs.
inline constexpr std::size_t base_block_copy_size = 512;  // a sector; checksummed like the hive's
inline constexpr std::size_t flags = 144;
inline constexpr std::uint32_t locked_flag = 0x1;  // the one Flags bit an entry carries
inline constexpr std::uint32_t old_file_type = 1;
inline constexpr std::uint32_t oldest_file_type = 2;  // NT 3.x to 2000
inline constexpr std::uint32_t new_file_type = 6;
inline constexpr std::uint32_t primary_file_type = 0;

// New format: entries back to back from file offset 512.
inline constexpr std::size_t first_entry = 512;
inline constexpr std::string_view entry_signature = hvle_signature;
inline constexpr std::size_t entry_header_size = 40;
inline constexpr std::size_t entry_size = 4;
inline constexpr std::size_t entry_flags = 8;
inline constexpr std::size_t entry_sequence = 12;
inline constexpr std::size_t entry_hive_bins_data_size = 16;
inline constexpr std::size_t entry_page_count = 20;
inline constexpr std::size_t entry_data_hash = 24;    // over bytes [40, size)
inline constexpr std::size_t entry_header_hash = 32;  // over bytes [0, 32)
static_assert(entry_header_hash + 8 == entry_header_size, "the header hash ends the header");
inline constexpr std::size_t entry_size_unit = 512;
inline constexpr std::size_t page_reference_size = 8;  // offset, size
inline constexpr std::size_t page_reference_offset = 0;
inline constexpr std::size_t page_reference_length = 4;

// Old format: "DIRT" at one base block copy's length S = 512 x clustering
// factor, then a bitmap with one bit per 512-byte sector of the hive bins
// data, then (from the next multiple of S) the dirty sectors in bit order.
using transaction_log::dirt_signature;
inline constexpr std::size_t bitmap_after_signature = 4;
inline constexpr std::size_t sector_size = 512;

// Hive bins data sizes and bins are whole 4 KiB pages.
inline constexpr std::uint32_t page_size = 4096;

// No log may make a recovered image longer than this.
using transaction_log::largest_image;

}  // namespace orvane::transaction_log::windows_layout
