#pragma once
// The body of an old-format Windows log: after "DIRT", one bit per 512-byte
// sector of the hive bins data (least significant bit first), then the dirty
// sectors themselves, in bit order, from the next multiple of the base block
// copy's length.

#include <cstdint>
#include <optional>

#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

struct DirtyBitmap {
    utils::Bytes bits;                // ceil(sector_count / 8) bytes
    std::uint64_t sector_count = 0;   // hive bins data size / 512
    std::uint64_t dirty_count = 0;    // set bits among the first sector_count
    utils::Bytes sectors;             // dirty_count x 512 bytes

    // Whether sector `index` (< sector_count) is dirty.
    bool dirty(std::uint64_t index) const noexcept {
        return (bits[static_cast<std::size_t>(index >> 3)] >> (index & 7)) & 1u;
    }
};

// Reads the bitmap that follows "DIRT" at `dirt_at` in `log`, for a hive bins
// data size of `hive_bins_data_size` bytes (a multiple of 512); the sector data
// start at the first multiple of `copy_size` after the bitmap. Nothing when the
// bitmap or the sectors its set bits call for run past the end of the log.
// Bits past sector_count in the last byte are ignored.
std::optional<DirtyBitmap> read_dirty_bitmap(utils::Bytes log, std::uint64_t dirt_at, std::uint64_t copy_size,
                                             std::uint32_t hive_bins_data_size) noexcept;

}  // namespace orvane::transaction_log
