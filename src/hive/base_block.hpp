#pragma once
// The base block record copied out of a loaded hive, and its checksum.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "utils/byte_view.hpp"

namespace orvane::hive {

struct BaseBlock {
    std::array<std::uint8_t, 4> signature{};
    std::uint32_t primary_sequence = 0;
    std::uint32_t secondary_sequence = 0;
    std::uint32_t major_version = 0;
    std::uint32_t minor_version = 0;
    std::uint32_t file_type = 0;
    std::uint32_t file_format = 0;
    std::uint32_t root_cell_offset = 0;
    std::uint32_t hive_bins_data_size = 0;
    std::uint32_t clustering_factor = 0;
    std::uint32_t checksum = 0;
    std::uint64_t timestamp = 0;
    std::string file_name;

    bool operator==(const BaseBlock&) const = default;
};

// XOR of the 127 little-endian u32 words at offsets 0 to 504. `image` must
// hold at least 512 bytes. No result is adjusted: 0 and 0xFFFFFFFF are kept.
std::uint32_t base_block_checksum(utils::Bytes image) noexcept;

// Writes base_block_checksum() at offset 508 of `image` (at least 512 bytes).
void store_base_block_checksum(std::span<std::uint8_t> image) noexcept;

}  // namespace orvane::hive
