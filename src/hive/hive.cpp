#include "hive/hive.hpp"

#include <algorithm>
#include <optional>

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

// Why the bin header at the start of `at` ends the walk, or nothing for a
// sound header. The strict walk accepts any size but 0 (`check_size` false).
std::optional<RegistryError> bad_hbin(const utils::ByteView& at, const utils::FixedView<layout::hbin_header_size>& record,
                                      std::uint64_t position, bool check_size) {
    if (auto signature = at.expect_signature(layout::hbin_signature, layout::hbin_signature_bytes); !signature) {
        return std::move(signature).error();
    }
    const std::uint32_t stored_offset = record.u32<layout::hbin_offset>();
    if (stored_offset != static_cast<std::uint32_t>(position)) {
        return error::invalid_format("Hbin offset mismatch: expected " + error::hex(position) + ", found " +
                                     error::hex(stored_offset));
    }
    if (check_size && record.u32<layout::hbin_size>() < layout::hbin_header_size) {
        return error::invalid_format("Hbin size " + std::to_string(record.u32<layout::hbin_size>()) +
                                     " at offset " + error::hex(position));
    }
    return std::nullopt;
}

// The checks both ways of loading make before anything else is read.
Result<BaseBlock> read_checked_base_block(const utils::ByteView& image) {
    const auto base = image.fixed<layout::base_block_size>();
    if (!base) return error::fail(error::HiveTooSmall{image.size(), layout::base_block_size});
    ORVANE_TRY(image.expect_signature(layout::signature, layout::regf_signature));
    return read_base_block(*base);
}

}  // namespace

// The strict walk lists every bin until a header that is not "hbin", fails on
// a wrong offset field (unless it lies in the slack past the recorded data,
// where Windows leaves bins of an earlier, larger hive) and on a header cut
// short, and ends the list after a bin of size 0 (which would otherwise be
// visited forever).
//
// The tolerant walk (`problems` given) lists the same bins but never fails.
// At a bad header (wrong signature, wrong offset, cut short, smaller than a
// header) inside the recorded data it looks for the next sound header at a
// following 4 KiB boundary: the range up to it is skipped (noted) and the walk
// goes on there, so the cells of later bins stay readable. When there is
// none, or the bad header lies in the slack, `good_end` is that header's
// position and no cell behind it is read; the reason is noted unless the
// header lies in the slack.
HbinWalk walk_hbins(utils::Bytes image, std::uint32_t recorded_size, error::ProblemLog* problems) {
    const utils::ByteView area = utils::ByteView(image).rest(layout::base_block_size);
    const std::uint64_t length = area.size();
    HbinWalk walk;
    walk.good_end = length;
    const auto view_at = [&](std::uint64_t position) {
        return utils::ByteView(area.bytes().subspan(static_cast<std::size_t>(position)),
                               static_cast<std::uint32_t>(position));
    };
    // The next position after `from`, on a 4 KiB boundary, that holds a sound
    // header, or `length`.
    const auto next_sound_header = [&](std::uint64_t from) {
        for (std::uint64_t at = (from / hbin_alignment + 1) * hbin_alignment; at < length; at += hbin_alignment) {
            const utils::ByteView candidate = view_at(at);
            const auto record = candidate.fixed<layout::hbin_header_size>();
            if (record && !bad_hbin(candidate, *record, at, true)) return at;
        }
        return length;
    };
    std::uint64_t position = 0;
    while (position < length) {
        const bool slack = recorded_size != 0 && position >= recorded_size;
        // Skips to the next sound header when there is one (true), else ends
        // the readable bins here.
        const auto stop = [&](RegistryError error) {
            const std::uint64_t next = slack ? length : next_sound_header(position);
            if (next < length) {
                problems->note("Skipped hive bins from offset " + error::hex(position) + " to " + error::hex(next),
                               error);
                walk.skipped.push_back({position, next});
                position = next;
                return true;
            }
            if (!slack) problems->note("Hive bins end at offset " + error::hex(position), error);
            walk.good_end = position;
            return false;
        };
        const utils::ByteView at = view_at(position);
        auto record = at.fixed<layout::hbin_header_size>();
        if (!record) {
            if (problems) {
                if (stop(std::move(record).error())) continue;
            } else {
                walk.fault = std::move(record).error();
            }
            break;
        }
        if (auto bad = bad_hbin(at, *record, position, problems != nullptr)) {
            if (problems) {
                if (stop(std::move(*bad))) continue;
            } else if (bad->is<error::InvalidFormat>() && !slack) {
                walk.fault = std::move(*bad);  // a header that is not "hbin" just ends the list
            }
            break;
        }
        HbinHeader header;
        header.signature = record->copy<layout::hbin_signature, 4>();
        header.offset = static_cast<std::uint32_t>(position);
        header.size = record->u32<layout::hbin_size>();
        header.reserved = record->u64<layout::hbin_reserved>();
        header.timestamp = record->u64<layout::hbin_timestamp>();
        header.spare = record->u32<layout::hbin_spare>();
        walk.headers.push_back(header);

        if (problems && header.size > length - position) {
            // Cut short by the end of the file: the cells that are there stay readable.
            problems->note("Hive bins cut short at offset " + error::hex(position),
                           RegistryError(error::TruncatedData{header.offset, header.size, length - position}));
        }
        // A bin of size 0 would leave the walk where it is; the list ends with it.
        if (header.size == 0) break;
        position += header.size;
    }
    return walk;
}

Result<std::shared_ptr<const Hive>> Hive::open(const std::string& path) {
    return open_as(path, Reading::Strict);
}

Result<std::shared_ptr<const Hive>> Hive::open_tolerant(const std::string& path) {
    return open_as(path, Reading::Tolerant);
}

Result<std::shared_ptr<const Hive>> Hive::open_as(const std::string& path, Reading reading) {
    ORVANE_ASSIGN_OR_RETURN(utils::FileDescriptor fd, utils::open_read_only(path));
    ORVANE_ASSIGN_OR_RETURN(const std::uint64_t length, utils::file_length(fd));
    if (length < layout::base_block_size) {
        return error::fail(error::HiveTooSmall{length, layout::base_block_size});
    }
    ORVANE_ASSIGN_OR_RETURN(FileMapping mapping, FileMapping::map(fd, length));
    if (reading == Reading::Tolerant) return from_data_tolerant(HiveData(std::move(mapping)));
    return from_data(HiveData(std::move(mapping)));
    // `fd` closes here; the mapping stays valid without it.
}

Result<std::shared_ptr<const Hive>> Hive::from_data(HiveData data, std::vector<std::string> applied_logs) {
    const utils::ByteView image(data.bytes());
    ORVANE_ASSIGN_OR_RETURN(BaseBlock block, read_checked_base_block(image));
    if (!base_block_checksum_matches(image.bytes())) {
        return error::fail(error::ChecksumMismatch{block.checksum, base_block_checksum(image.bytes())});
    }
    if (!supported_version(block.major_version, block.minor_version)) {
        return error::fail(error::UnsupportedVersion{block.major_version, block.minor_version});
    }
    const std::uint64_t readable = image.size();
    return std::shared_ptr<const Hive>(
        new Hive(std::move(data), std::move(block), std::move(applied_logs), readable, {}, nullptr));
}

Result<std::shared_ptr<const Hive>> Hive::from_data_tolerant(HiveData data, std::uint64_t missing_bins_end) {
    const utils::ByteView image(data.bytes());
    ORVANE_ASSIGN_OR_RETURN(BaseBlock block, read_checked_base_block(image));
    // A major version other than 1 is another format altogether; any minor
    // version of 1 reads the same way.
    if (block.major_version != 1) {
        return error::fail(error::UnsupportedVersion{block.major_version, block.minor_version});
    }
    auto problems = std::make_unique<error::ProblemLog>();
    if (!base_block_checksum_matches(image.bytes())) {
        const RegistryError mismatch(error::ChecksumMismatch{block.checksum, base_block_checksum(image.bytes())});
        problems->note(mismatch.message());
    }
    if (!supported_version(block.major_version, block.minor_version)) {
        problems->note(RegistryError(error::UnsupportedVersion{block.major_version, block.minor_version}).message());
    }
    const std::uint64_t present = image.size() - layout::base_block_size;
    if (block.hive_bins_data_size > present) {
        problems->note("Hive bins data size " + error::hex(block.hive_bins_data_size) +
                       " runs past the end of the file (" + error::hex(present) + " bytes present)");
    }
    // Cells are read past bins that are missing or invalid, but not from them.
    HbinWalk walk = walk_hbins(image.bytes(), block.hive_bins_data_size, problems.get());
    if (missing_bins_end != 0) {
        // The ranges stay in order and apart: one the walk skipped that starts
        // inside the missing bins folds into them.
        std::vector<SkippedRange> skipped{{0, missing_bins_end}};
        for (const SkippedRange& range : walk.skipped) {
            if (range.begin <= skipped.front().end) {
                skipped.front().end = std::max(skipped.front().end, range.end);
            } else {
                skipped.push_back(range);
            }
        }
        walk.skipped = std::move(skipped);
    }
    const std::uint64_t readable = layout::base_block_size + walk.good_end;
    return std::shared_ptr<const Hive>(new Hive(std::move(data), std::move(block), {}, readable,
                                                std::move(walk.skipped), std::move(problems)));
}

std::vector<std::string> Hive::problems() const {
    if (!problems_) return {};
    return problems_->lines();
}

bool Hive::skip_subkey(std::uint32_t offset, const error::Failure& failure) const {
    const RegistryError* error = failure.registry_error();
    if (!problems_ || !error) return false;
    problems_->note("Skipped subkey at offset " + error::hex(offset), *error);
    return true;
}

Result<std::vector<HbinHeader>> Hive::hbins() const {
    HbinWalk walk = walk_hbins(data(), base_block_.hive_bins_data_size, problems_.get());
    if (walk.fault) return error::fail(std::move(*walk.fault));
    return std::move(walk.headers);
}

std::uint64_t Hive::readable_end(std::uint32_t offset) const noexcept {
    // The first skipped range that ends after `offset`. The ranges are in
    // order and apart, and a hive damaged all through has one every other
    // bin: searched, not gone through, or every cell read would cost as many
    // steps as the file has bad bins.
    const auto range = std::partition_point(skipped_.begin(), skipped_.end(),
                                            [&](const SkippedRange& skipped) { return skipped.end <= offset; });
    if (range == skipped_.end()) return readable_size_;
    return range->begin <= offset ? 0 : layout::base_block_size + range->begin;
}

Result<utils::ByteView> Hive::get_cell(std::uint32_t offset) const {
    if (offset > layout::largest_cell_offset) return error::fail(error::InvalidOffset{offset, 0});
    // A cell may not start in a skipped range nor run into one: it ends the
    // readable bytes as the end of the file does.
    const std::uint64_t end = skipped_.empty() ? readable_size_ : readable_end(offset);
    const std::uint64_t n = readable_size_;
    const utils::Bytes image = data().first(static_cast<std::size_t>(end));
    const std::uint64_t position = std::uint64_t{offset} + layout::base_block_size;
    if (position >= image.size()) return error::fail(error::InvalidOffset{offset, n});
    // Errors name the cell offset; the view runs from the size word to the end of the image.
    const utils::ByteView cell(image.subspan(static_cast<std::size_t>(position)), offset);
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
