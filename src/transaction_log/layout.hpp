#pragma once
// On-disk layout of an "HvLE" transaction log and the limits the reader puts on
// it. Offsets are from the start of the structure named.

#include <cstddef>
#include <cstdint>

#include "transaction_log/signatures.hpp"

namespace orvane::transaction_log::layout {

// Log header (file offset 0). Only the signature and the sequence are read.
inline constexpr std::size_t header_size = 4096;  // also the first block position
inline constexpr std::size_t signature = 0;
inline constexpr std::size_t sequence = 4;
using transaction_log::hvle_signature;

// Block positions: every multiple of block_size from header_size on. A position
// is looked at only while at least min_block_tail bytes remain from it.
inline constexpr std::size_t block_size = 4096;
inline constexpr std::size_t min_block_tail = 512;

// Dirty block (at a block position P).
inline constexpr std::size_t dirt_signature_offset = 0;
inline constexpr std::size_t record_count = 8;
inline constexpr std::size_t first_record = 16;
using transaction_log::dirt_signature;
static_assert(record_count + 4 <= first_record, "the record count precedes the records");

// Dirty-page record (at R from P): target offset, size, then `size` bytes.
inline constexpr std::size_t record_target = 0;
inline constexpr std::size_t record_size = 4;
inline constexpr std::size_t record_header_size = 8;

// Limits.
inline constexpr std::uint32_t max_records_per_block = 1000;
inline constexpr std::uint32_t max_page_size = 65536;
inline constexpr std::size_t page_count_stop = 10000;  // tested between blocks only

}  // namespace orvane::transaction_log::layout
