#include "hive/hive.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "utils/strings.hpp"

namespace orvane::hive {

namespace {

using utils::load_u32;
using utils::load_u64;

std::string_view as_chars(utils::Bytes bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

BaseBlock read_base_block(utils::Bytes image) {
    const std::uint8_t* p = image.data();
    BaseBlock block;
    std::copy_n(p + layout::signature, 4, block.signature.begin());
    block.primary_sequence = load_u32(p + layout::primary_sequence);
    block.secondary_sequence = load_u32(p + layout::secondary_sequence);
    block.timestamp = load_u64(p + layout::timestamp);
    block.major_version = load_u32(p + layout::major_version);
    block.minor_version = load_u32(p + layout::minor_version);
    block.file_type = load_u32(p + layout::file_type);
    block.file_format = load_u32(p + layout::file_format);
    block.root_cell_offset = load_u32(p + layout::root_cell_offset);
    block.hive_bins_data_size = load_u32(p + layout::hive_bins_data_size);
    block.clustering_factor = load_u32(p + layout::clustering_factor);
    block.file_name = utils::read_fixed_ascii(image.subspan<layout::file_name, layout::file_name_size>());
    block.checksum = load_u32(p + layout::checksum);
    return block;
}

bool supported_version(std::uint32_t major, std::uint32_t minor) {
    return major == 1 && minor >= 3 && minor <= 6;
}

}  // namespace

Result<std::shared_ptr<const Hive>> Hive::open(const std::string& path) {
    ORVANE_ASSIGN_OR_RETURN(utils::FileDescriptor fd, utils::open_read_only(path));
    ORVANE_ASSIGN_OR_RETURN(const std::uint64_t length, utils::file_length(fd));
    if (length < layout::base_block_size) {
        return error::unexpected(RegistryError(error::HiveTooSmall{length, layout::base_block_size}));
    }
    ORVANE_ASSIGN_OR_RETURN(FileMapping mapping, FileMapping::map(fd, length));
    return from_data(HiveData(std::move(mapping)));
    // `fd` closes here; the mapping stays valid without it.
}

Result<std::shared_ptr<const Hive>> Hive::from_data(HiveData data) {
    const utils::Bytes image = data.bytes();
    if (image.size() < layout::base_block_size) {
        return error::unexpected(RegistryError(error::HiveTooSmall{image.size(), layout::base_block_size}));
    }
    const std::string_view signature = as_chars(image.first(4));
    if (signature != std::string_view(layout::regf_signature, 4)) {
        return error::unexpected(
            error::invalid_signature(std::string_view(layout::regf_signature, 4), signature));
    }
    BaseBlock block = read_base_block(image);
    const std::uint32_t calculated = base_block_checksum(image);
    if (calculated != block.checksum) {
        return error::unexpected(RegistryError(error::ChecksumMismatch{block.checksum, calculated}));
    }
    if (!supported_version(block.major_version, block.minor_version)) {
        return error::unexpected(
            RegistryError(error::UnsupportedVersion{block.major_version, block.minor_version}));
    }
    return std::shared_ptr<const Hive>(new Hive(std::move(data), std::move(block)));
}

Result<std::vector<HbinHeader>> Hive::hbins() const {
    const utils::Bytes area = data().subspan(layout::base_block_size);
    const std::uint64_t length = area.size();
    std::vector<HbinHeader> headers;
    std::uint64_t position = 0;
    while (position < length) {
        if (length - position < layout::hbin_header_size) {
            return error::unexpected(RegistryError(error::TruncatedData{
                static_cast<std::uint32_t>(position), layout::hbin_header_size, length - position}));
        }
        const std::uint8_t* p = area.data() + position;
        if (as_chars({p, 4}) != std::string_view(layout::hbin_signature_bytes, 4)) break;

        const std::uint32_t stored_offset = load_u32(p + layout::hbin_offset);
        if (stored_offset != static_cast<std::uint32_t>(position)) {
            // Windows leaves bins of an earlier, larger hive behind the recorded
            // end of the hive bins data; such a leftover ends the list.
            const std::uint32_t recorded_end = base_block_.hive_bins_data_size;
            if (recorded_end != 0 && position >= recorded_end) break;
            return error::unexpected(error::invalid_format("Hbin offset mismatch: expected " + error::hex(position) +
                                                           ", found " + error::hex(stored_offset)));
        }
        HbinHeader header;
        std::copy_n(p, 4, header.signature.begin());
        header.offset = static_cast<std::uint32_t>(position);
        header.size = load_u32(p + layout::hbin_size);
        header.reserved = load_u64(p + layout::hbin_reserved);
        header.timestamp = load_u64(p + layout::hbin_timestamp);
        header.spare = load_u32(p + layout::hbin_spare);
        headers.push_back(header);

        // A bin of size 0 would leave the walk where it is; the list ends with it.
        if (header.size == 0) break;
        position += header.size;
    }
    return headers;
}

Result<utils::Bytes> Hive::get_cell(std::uint32_t offset) const {
    const utils::Bytes image = data();
    const std::uint64_t n = image.size();
    if (offset > layout::largest_cell_offset) {
        return error::unexpected(RegistryError(error::InvalidOffset{offset, 0}));
    }
    const std::uint64_t position = std::uint64_t{offset} + layout::base_block_size;
    if (position >= n) return error::unexpected(RegistryError(error::InvalidOffset{offset, n}));
    if (position + layout::cell_size_word > n) {
        return error::unexpected(RegistryError(error::TruncatedData{offset, layout::cell_size_word, n - position}));
    }
    const std::int32_t size_word = utils::load_i32(image.data() + position);
    // The magnitude of INT32_MIN is 2^31, which only fits unsigned.
    const std::uint32_t size = size_word < 0 ? 0u - static_cast<std::uint32_t>(size_word)
                                             : static_cast<std::uint32_t>(size_word);
    if (size < layout::cell_size_word) {
        return error::unexpected(RegistryError(error::InvalidCellSize{size_word, offset}));
    }
    if (!utils::fits(n, position, size)) {
        return error::unexpected(RegistryError(error::TruncatedData{offset, size, n - position}));
    }
    return image.subspan(static_cast<std::size_t>(position) + layout::cell_size_word, size - layout::cell_size_word);
}

}  // namespace orvane::hive
