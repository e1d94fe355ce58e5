#include "transaction_log/recovery_steps.hpp"

#include <algorithm>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log::recovery {

namespace hl = hive::layout;
namespace wl = windows_layout;

void adopt_log_base_block(std::span<std::uint8_t> image, const WindowsLog& log) {
    std::copy_n(log.bytes.begin(), wl::base_block_copy_size, image.begin());
    std::fill(image.begin() + wl::base_block_copy_size, image.begin() + hl::base_block_size, std::uint8_t{0});
    utils::store_u32(image.data() + hl::file_type, wl::primary_file_type);
}

void update_base_block(std::span<std::uint8_t> image, const BaseBlockUpdate& update) {
    std::uint8_t* p = image.data();
    utils::store_u32(p + hl::primary_sequence, update.primary_sequence);
    utils::store_u32(p + hl::secondary_sequence, update.secondary_sequence);
    utils::store_u32(p + hl::hive_bins_data_size, update.hive_bins_data_size);
    if (update.locked) {
        const std::uint32_t flags = utils::ByteView(image).u32(wl::flags).value_or(0);
        utils::store_u32(p + wl::flags, *update.locked ? flags | wl::locked_flag : flags & ~wl::locked_flag);
    }
    if (update.primary_file_type) utils::store_u32(p + hl::file_type, wl::primary_file_type);
    hive::store_base_block_checksum(image);
}

bool sound_bin_header(utils::Bytes header, std::uint64_t position, std::uint64_t limit, std::uint32_t& size) noexcept {
    const utils::ByteView view(header);
    const auto record = view.fixed<hl::hbin_header_size>();
    if (!record || !view.has_signature(hl::hbin_signature, hl::hbin_signature_bytes) ||
        record->u32<hl::hbin_offset>() != position) {
        return false;
    }
    const std::uint32_t stored = record->u32<hl::hbin_size>();
    if (stored == 0 || stored % wl::page_size != 0 || !utils::fits(limit, position, stored)) return false;
    size = stored;
    return true;
}

std::optional<std::uint32_t> first_damaged_bin(utils::Bytes image, std::uint32_t hive_bins_data_size) noexcept {
    const utils::Bytes bins = image.subspan(hl::base_block_size);
    // Every sound bin moves the walk forward by at least 4096 bytes.
    for (std::uint64_t position = 0; position < hive_bins_data_size;) {
        std::uint32_t size = 0;
        const utils::Bytes header =
            position < bins.size() ? bins.subspan(static_cast<std::size_t>(position)) : utils::Bytes{};
        if (!sound_bin_header(header, position, hive_bins_data_size, size)) return static_cast<std::uint32_t>(position);
        position += size;
    }
    return std::nullopt;
}

}  // namespace orvane::transaction_log::recovery
