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
// hold at least 512 bytes. This is the plain XOR, before the adjustment below.
std::uint32_t base_block_checksum(utils::Bytes image) noexcept;

// The checksum as Windows stores it: never 0 or 0xFFFFFFFF, which it writes
// as 1 and 0xFFFFFFFE.
constexpr std::uint32_t stored_checksum_form(std::uint32_t xor_sum) noexcept {
    return xor_sum == 0 ? 1u : xor_sum == 0xFFFFFFFFu ? 0xFFFFFFFEu : xor_sum;
}

// True when the word at offset 508 of `image` (at least 512 bytes) matches
// its XOR, either exactly or in the form Windows stores.
bool base_block_checksum_matches(utils::Bytes image) noexcept;

// Writes the checksum at offset 508 of `image` (at least 512 bytes), in the
// form Windows stores.
void store_base_block_checksum(std::span<std::uint8_t> image) noexcept;

}  // namespace orvane::hive
