#include "carve/synthetic_hive.hpp"

#include <algorithm>
#include <string_view>

#include "carve/scan_rules.hpp"
#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "key/key_node.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::carve {

namespace {

namespace layout = hive::layout;
namespace nk = key::nk_layout;

void put_u16(utils::ImageBytes& image, std::uint64_t at, std::uint16_t value) {
    image[at] = static_cast<std::uint8_t>(value);
    image[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void put_u32(utils::ImageBytes& image, std::uint64_t at, std::uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void put_text(utils::ImageBytes& image, std::uint64_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}
void put_bin_header(utils::ImageBytes& image, std::uint64_t at, std::uint32_t offset, std::uint32_t size) {
    put_text(image, at, layout::hbin_signature_bytes);
    put_u32(image, at + layout::hbin_offset, offset);
    put_u32(image, at + layout::hbin_size, size);
}
void copy_in(utils::ImageBytes& image, std::uint64_t at, utils::ByteView bytes) {
    std::copy(bytes.bytes().begin(), bytes.bytes().end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

}  // namespace

void write_base_block(utils::ImageBytes& image, std::uint32_t root, std::uint32_t hive_bins_data_size) {
    put_text(image, layout::signature, layout::regf_signature);
    put_u32(image, layout::primary_sequence, 1);
    put_u32(image, layout::secondary_sequence, 1);
    put_u32(image, layout::major_version, 1);
    put_u32(image, layout::minor_version, 5);
    put_u32(image, layout::file_format, 1);
    put_u32(image, layout::root_cell_offset, root);
    put_u32(image, layout::hive_bins_data_size, hive_bins_data_size);
    put_u32(image, layout::clustering_factor, 1);
    hive::store_base_block_checksum(std::span<std::uint8_t>(image.data(), layout::base_block_size));
}

std::uint32_t fragment_root(utils::ByteView bins, std::uint32_t hive_offset) {
    std::optional<std::uint32_t> first_key;
    std::uint64_t bin = 0;
    while (const auto header = plausible_bin(bins, bin)) {
        for (std::uint64_t cell = layout::hbin_header_size; cell + layout::cell_size_word < header->size;) {
            const auto word = bins.u32(bin + cell);
            if (!word) break;
            const std::int64_t signed_size = static_cast<std::int32_t>(*word);
            const auto size = static_cast<std::uint64_t>(signed_size < 0 ? -signed_size : signed_size);
            if (size < 8 || size % 8 != 0 || cell + size > header->size) break;
            const std::uint64_t record = bin + cell + layout::cell_size_word;
            if (signed_size < 0) {
                if (auto node = recovery::plausible_key_node(bins.slice(record, size - 4).value_or(utils::ByteView{}),
                                                             std::uint64_t{1} << 32)) {
                    const auto offset = static_cast<std::uint32_t>(hive_offset + bin + cell);
                    if ((node->flags & recovery::root_key_flag) != 0) return offset;
                    if (!first_key) first_key = offset;
                }
            }
            cell += size;
        }
        bin += header->size;
    }
    return first_key.value_or(hive_offset + static_cast<std::uint32_t>(layout::hbin_header_size));
}

utils::ImageBytes fragment_image(utils::ByteView bins, std::uint32_t hive_offset) {
    const std::uint64_t bins_size = hive_offset + bins.size();
    utils::ImageBytes image(layout::base_block_size + bins_size);
    if (hive_offset != 0) {
        put_bin_header(image, layout::base_block_size, 0, hive_offset);
        put_u32(image, layout::base_block_size + layout::hbin_header_size,
                static_cast<std::uint32_t>(-static_cast<std::int64_t>(hive_offset - layout::hbin_header_size)));
    }
    copy_in(image, layout::base_block_size + hive_offset, bins);
    write_base_block(image, fragment_root(bins, hive_offset), static_cast<std::uint32_t>(bins_size));
    return image;
}

utils::ImageBytes record_page_image(utils::ByteView window) {
    constexpr std::string_view root_name = "carved records";
    constexpr std::uint32_t root_cell_size = 0x68;  // the size word, the fixed part and the name, 8-aligned
    static_assert(record_page_root + root_cell_size == record_page_window - 8, "a free cell lies before the window");
    const std::uint64_t bin_size = round_up(record_page_window + window.size() + 8, page_size);
    utils::ImageBytes image(layout::base_block_size + bin_size);
    const std::uint64_t bin = layout::base_block_size;
    put_bin_header(image, bin, 0, static_cast<std::uint32_t>(bin_size));

    const std::uint64_t root = bin + record_page_root;
    put_u32(image, root, static_cast<std::uint32_t>(-static_cast<std::int32_t>(root_cell_size)));
    put_text(image, root + 4, nk::signature);
    put_u16(image, root + 4 + nk::flags, recovery::root_key_flag | nk::ascii_name_flag);
    for (const std::size_t field : {nk::parent_offset, nk::subkey_list_offset, nk::volatile_subkey_list_offset,
                                    nk::value_list_offset, nk::security_offset, nk::class_name_offset}) {
        put_u32(image, root + 4 + field, recovery::no_cell);
    }
    put_u16(image, root + 4 + nk::name_length, static_cast<std::uint16_t>(root_name.size()));
    put_text(image, root + 4 + nk::name, root_name);

    // One free cell from behind the root to the end of the bin, the window inside it.
    const std::uint64_t free_cell = root + root_cell_size;
    put_u32(image, free_cell, static_cast<std::uint32_t>(bin_size - record_page_root - root_cell_size));
    copy_in(image, bin + record_page_window, window);
    write_base_block(image, record_page_root, static_cast<std::uint32_t>(bin_size));
    return image;
}

}  // namespace orvane::carve
