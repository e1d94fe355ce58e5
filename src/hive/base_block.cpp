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

bool base_block_checksum_matches(utils::Bytes image) noexcept {
    const std::uint32_t computed = base_block_checksum(image);
    const std::uint32_t stored = utils::ByteView(image).u32(layout::checksum).value_or(0);
    return stored == computed || stored == stored_checksum_form(computed);
}

void store_base_block_checksum(std::span<std::uint8_t> image) noexcept {
    utils::store_u32(image.data() + layout::checksum, stored_checksum_form(base_block_checksum(image)));
}

}  // namespace orvane::hive
