#include "transaction_log/dirty_bitmap.hpp"

#include <bit>

#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log {

std::optional<DirtyBitmap> read_dirty_bitmap(utils::Bytes log, std::uint64_t dirt_at, std::uint64_t copy_size,
                                             std::uint32_t hive_bins_data_size) noexcept {
    namespace wl = windows_layout;
    DirtyBitmap bitmap;
    bitmap.sector_count = hive_bins_data_size / wl::sector_size;
    const std::uint64_t bits_at = dirt_at + wl::dirt_signature.size();
    const std::uint64_t bits_length = (bitmap.sector_count + 7) / 8;
    if (!utils::fits(log.size(), bits_at, bits_length)) return std::nullopt;
    bitmap.bits = log.subspan(static_cast<std::size_t>(bits_at), static_cast<std::size_t>(bits_length));

    const std::uint64_t whole_bytes = bitmap.sector_count / 8;
    for (std::uint64_t i = 0; i < whole_bytes; ++i) bitmap.dirty_count += std::popcount(bitmap.bits[i]);
    if (const std::uint64_t tail_bits = bitmap.sector_count % 8; tail_bits != 0) {
        const auto mask = static_cast<std::uint8_t>((1u << tail_bits) - 1);
        bitmap.dirty_count += std::popcount(static_cast<std::uint8_t>(bitmap.bits[whole_bytes] & mask));
    }

    // Both operands are bounded by the log's length, so none of this overflows.
    const std::uint64_t sectors_at = (bits_at + bits_length + copy_size - 1) / copy_size * copy_size;
    const std::uint64_t sectors_length = bitmap.dirty_count * wl::sector_size;
    if (!utils::fits(log.size(), sectors_at, sectors_length)) return std::nullopt;
    bitmap.sectors = log.subspan(static_cast<std::size_t>(sectors_at), static_cast<std::size_t>(sectors_length));
    return bitmap;
}

}  // namespace orvane::transaction_log
