#include "carve/scan_rules.hpp"

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "utils/strings.hpp"

namespace orvane::carve {

namespace layout = hive::layout;

std::optional<BaseBlockFields> plausible_base_block(utils::ByteView image, std::uint64_t at) {
    if (!image.has_signature(at, layout::regf_signature)) return std::nullopt;
    const auto block = image.fixed_at<sector_size>(at);
    if (!block) return std::nullopt;
    const std::uint32_t major = block->u32<layout::major_version>();
    const std::uint32_t minor = block->u32<layout::minor_version>();
    const std::uint32_t size = block->u32<layout::hive_bins_data_size>();
    const std::uint32_t root = block->u32<layout::root_cell_offset>();
    if (major != 1 || minor < 3 || minor > 6) return std::nullopt;
    if (size == 0 || size % page_size != 0 || size > layout::largest_cell_offset) return std::nullopt;
    if (root < layout::hbin_header_size || root >= size) return std::nullopt;
    BaseBlockFields fields;
    fields.root_cell_offset = root;
    fields.hive_bins_data_size = size;
    fields.timestamp = block->u64<layout::timestamp>();
    fields.file_name = utils::read_fixed_utf16(block->field<layout::file_name, layout::file_name_size>());
    fields.checksum_matches = hive::base_block_checksum_matches(block->view().first(sector_size).bytes());
    return fields;
}

std::optional<BinFields> plausible_bin(utils::ByteView image, std::uint64_t at) {
    if (!image.has_signature(at, layout::hbin_signature_bytes)) return std::nullopt;
    const auto header = image.fixed_at<layout::hbin_header_size>(at);
    if (!header) return std::nullopt;
    const BinFields bin{header->u32<layout::hbin_offset>(), header->u32<layout::hbin_size>()};
    if (bin.offset % page_size != 0 || bin.size == 0 || bin.size % page_size != 0 || bin.size > largest_bin) {
        return std::nullopt;
    }
    if (std::uint64_t{bin.offset} + bin.size > std::uint64_t{layout::largest_cell_offset} + 1) return std::nullopt;
    if (!image.has(at, bin.size)) return std::nullopt;
    return bin;
}

std::uint64_t bin_run_length(utils::ByteView image, std::uint64_t at, std::uint32_t first_offset,
                             std::uint64_t end_offset) {
    std::uint64_t length = 0;
    std::uint64_t expected = first_offset;
    while (expected < end_offset) {
        const auto bin = plausible_bin(image, at + length);
        if (!bin || bin->offset != expected || expected + bin->size > end_offset) break;
        length += bin->size;
        expected += bin->size;
    }
    return length;
}

bool cells_fill_bin(utils::ByteView image, std::uint64_t at) {
    const auto bin = plausible_bin(image, at);
    if (!bin) return false;
    std::uint64_t cell = layout::hbin_header_size;
    while (cell < bin->size) {
        const auto word = image.u32(at + cell);
        if (!word) return false;
        const std::int64_t signed_size = static_cast<std::int32_t>(*word);
        const auto size = static_cast<std::uint64_t>(signed_size < 0 ? -signed_size : signed_size);
        if (size < 8 || size % 8 != 0) return false;
        cell += size;
    }
    return cell == bin->size;
}

}  // namespace orvane::carve
