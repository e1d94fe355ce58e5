#include "hive/hive.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "utils/strings.hpp"

namespace orvane::hive {

namespace {

BaseBlock read_base_block(const utils::FixedView<layout::base_block_size>& block) {
    BaseBlock out;
    out.signature = block.copy<layout::signature, 4>();
    out.primary_sequence = block.u32<layout::primary_sequence>();
    out.secondary_sequence = block.u32<layout::secondary_sequence>();
    out.timestamp = block.u64<layout::timestamp>();
    out.major_version = block.u32<layout::major_version>();
    out.minor_version = block.u32<layout::minor_version>();
    out.file_type = block.u32<layout::file_type>();
    out.file_format = block.u32<layout::file_format>();
    out.root_cell_offset = block.u32<layout::root_cell_offset>();
    out.hive_bins_data_size = block.u32<layout::hive_bins_data_size>();
    out.clustering_factor = block.u32<layout::clustering_factor>();
    out.file_name = utils::read_fixed_utf16(block.field<layout::file_name, layout::file_name_size>());
    out.checksum = block.u32<layout::checksum>();
    return out;
}

bool supported_version(std::uint32_t major, std::uint32_t minor) {
    return major == 1 && minor >= 3 && minor <= 6;
}

}  // namespace

Result<std::shared_ptr<const Hive>> Hive::open(const std::string& path) {
    ORVANE_ASSIGN_OR_RETURN(utils::FileDescriptor fd, utils::open_read_only(path));
    ORVANE_ASSIGN_OR_RETURN(const std::uint64_t length, utils::file_length(fd));
    if (length < layout::base_block_size) {
        return error::fail(error::HiveTooSmall{length, layout::base_block_size});
    }
    ORVANE_ASSIGN_OR_RETURN(FileMapping mapping, FileMapping::map(fd, length));
    return from_data(HiveData(std::move(mapping)));
    // `fd` closes here; the mapping stays valid without it.
}

Result<std::shared_ptr<const Hive>> Hive::from_data(HiveData data, std::vector<std::string> applied_logs) {
    const utils::ByteView image(data.bytes());
    const auto base = image.fixed<layout::base_block_size>();
    if (!base) return error::fail(error::HiveTooSmall{image.size(), layout::base_block_size});
    ORVANE_TRY(image.expect_signature(layout::signature, layout::regf_signature));
    BaseBlock block = read_base_block(*base);
    if (!base_block_checksum_matches(image.bytes())) {
        return error::fail(error::ChecksumMismatch{block.checksum, base_block_checksum(image.bytes())});
    }
    if (!supported_version(block.major_version, block.minor_version)) {
        return error::fail(error::UnsupportedVersion{block.major_version, block.minor_version});
    }
    return std::shared_ptr<const Hive>(new Hive(std::move(data), std::move(block), std::move(applied_logs)));
}

Result<std::vector<HbinHeader>> Hive::hbins() const {
    const utils::ByteView area = utils::ByteView(data()).rest(layout::base_block_size);
    const std::uint64_t length = area.size();
    std::vector<HbinHeader> headers;
    std::uint64_t position = 0;
    while (position < length) {
        const utils::ByteView at(area.bytes().subspan(static_cast<std::size_t>(position)),
                                 static_cast<std::uint32_t>(position));
        ORVANE_ASSIGN_OR_RETURN(const auto record, at.fixed<layout::hbin_header_size>());
        if (!at.has_signature(layout::hbin_signature, layout::hbin_signature_bytes)) break;

        const std::uint32_t stored_offset = record.u32<layout::hbin_offset>();
        if (stored_offset != static_cast<std::uint32_t>(position)) {
            // Windows leaves bins of an earlier, larger hive behind the recorded
            // end of the hive bins data; such a leftover ends the list.
            const std::uint32_t recorded_end = base_block_.hive_bins_data_size;
            if (recorded_end != 0 && position >= recorded_end) break;
            return error::fail(error::invalid_format("Hbin offset mismatch: expected " + error::hex(position) +
                                                     ", found " + error::hex(stored_offset)));
        }
        HbinHeader header;
        header.signature = record.copy<layout::hbin_signature, 4>();
        header.offset = static_cast<std::uint32_t>(position);
        header.size = record.u32<layout::hbin_size>();
        header.reserved = record.u64<layout::hbin_reserved>();
        header.timestamp = record.u64<layout::hbin_timestamp>();
        header.spare = record.u32<layout::hbin_spare>();
        headers.push_back(header);

        // A bin of size 0 would leave the walk where it is; the list ends with it.
        if (header.size == 0) break;
        position += header.size;
    }
    return headers;
}

Result<utils::ByteView> Hive::get_cell(std::uint32_t offset) const {
    const std::uint64_t n = data().size();
    if (offset > layout::largest_cell_offset) return error::fail(error::InvalidOffset{offset, 0});
    const std::uint64_t position = std::uint64_t{offset} + layout::base_block_size;
    if (position >= n) return error::fail(error::InvalidOffset{offset, n});
    // Errors name the cell offset; the view runs from the size word to the end of the image.
    const utils::ByteView cell(data().subspan(static_cast<std::size_t>(position)), offset);
    ORVANE_ASSIGN_OR_RETURN(const auto size_word, cell.fixed<layout::cell_size_word>());
    const auto signed_size = static_cast<std::int32_t>(size_word.u32<0>());
    // The magnitude of INT32_MIN is 2^31, which only fits unsigned.
    const std::uint32_t size = signed_size < 0 ? 0u - static_cast<std::uint32_t>(signed_size)
                                               : static_cast<std::uint32_t>(signed_size);
    if (size < layout::cell_size_word) return error::fail(error::InvalidCellSize{signed_size, offset});
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView whole, cell.slice(0, size));
    return whole.rest(layout::cell_size_word);
}

}  // namespace orvane::hive
