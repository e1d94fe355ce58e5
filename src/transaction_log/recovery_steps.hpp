#pragma once
// The pieces Windows-log recovery is made of, shared by its two procedures.
// Internal to src/transaction_log (and its tests).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "transaction_log/image_limit.hpp"
#include "transaction_log/windows_log.hpp"
#include "transaction_log/windows_log_layout.hpp"
#include "transaction_log/windows_recovery.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::transaction_log::recovery {

// The hive and its logs, as the front end found them.
struct State {
    utils::ImageBytes& image;  // at least 4096 bytes
    std::span<const WindowsLog> logs;  // in the order given
    bool base_block_valid;
    std::uint32_t primary_sequence;    // as read; meaningful when base_block_valid
    std::uint32_t secondary_sequence;
    RecoveryReport& report;
};

void recover_new_format(State& state);
void recover_old_format(State& state);

// Lengthens the image with zeros to `length` bytes (never shortens it),
// reserving no more than the largest recovered image.
inline void grow_image(utils::ImageBytes& image, std::uint64_t length) {
    utils::grow_image(image, length, largest_image);
}

// Replaces the image's base block with the log's base block copy: its first
// 512 bytes, zeros up to 4096, file type 0 (a primary).
void adopt_log_base_block(std::span<std::uint8_t> image, const WindowsLog& log);

// The fields recovery rewrites; the checksum is stored last, as the plain XOR.
struct BaseBlockUpdate {
    std::uint32_t primary_sequence = 0;
    std::uint32_t secondary_sequence = 0;
    std::uint32_t hive_bins_data_size = 0;
    std::optional<bool> locked;                // new format: Flags bit 0x1 from the last entry
    bool primary_file_type = false;            // new format: file type set to 0
};
void update_base_block(std::span<std::uint8_t> image, const BaseBlockUpdate& update);

// Whether `header` (32 bytes or more) is a sound header for a bin at relative
// offset `position` that ends at or before `limit`: "hbin", its own offset, a
// size that is a nonzero multiple of 4096. Sets `size` when it is.
bool sound_bin_header(utils::Bytes header, std::uint64_t position, std::uint64_t limit, std::uint32_t& size) noexcept;

// The first bin (relative offset) that breaks the chain of bins from 0 to
// `hive_bins_data_size`, or nothing when the chain ends exactly there.
std::optional<std::uint32_t> first_damaged_bin(utils::Bytes image, std::uint32_t hive_bins_data_size) noexcept;

// Which old-format log to apply: one whose timestamp equals `reference` (the
// hive's, or its first bin's when its base block is invalid); failing that,
// of two usable logs the one with the strictly newer timestamp; failing that,
// the only usable one when the other given log is unusable (the dual-log
// scheme) or the hive's base block is invalid. Never depends on the order the
// logs were given in, except between two equally good logs (the first wins).
struct OldLogChoice {
    std::optional<std::size_t> index;
    bool timestamp_mismatch = false;
};
OldLogChoice choose_old_format_log(std::span<const WindowsLog> logs, std::optional<std::uint64_t> reference,
                                   bool base_block_valid);

}  // namespace orvane::transaction_log::recovery
