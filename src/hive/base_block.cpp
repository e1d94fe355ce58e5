#include "hive/base_block.hpp"

#include <cassert>

#include "hive/layout.hpp"

namespace orvane::hive {

std::uint32_t base_block_checksum(utils::Bytes image) noexcept {
    assert(image.size() >= layout::checksum + 4);
    const utils::ByteView view(image);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < layout::checksummed_words; ++i) {
        if (const auto word = view.u32(4 * i)) sum ^= *word;
    }
    return sum;
}

void store_base_block_checksum(std::span<std::uint8_t> image) noexcept {
    utils::store_u32(image.data() + layout::checksum, base_block_checksum(image));
}

}  // namespace orvane::hive
