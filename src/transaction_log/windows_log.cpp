#include "transaction_log/windows_log.hpp"

#include <algorithm>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log {

namespace {

namespace hl = hive::layout;
namespace wl = windows_layout;

// The body checks of an old-format log; `log` already has a valid copy.
LogProblem check_old_format_body(WindowsLog& log) {
    const utils::ByteView view(log.bytes);
    const std::uint64_t copy_size = std::uint64_t{view.u32(hl::clustering_factor).value_or(0)} * wl::sector_size;
    if (copy_size == 0 || !view.has(copy_size, wl::dirt_signature.size())) return LogProblem::bad_clustering_factor;
    if (!view.has_signature(copy_size, wl::dirt_signature)) return LogProblem::missing_dirt_signature;
    const std::uint32_t size = log.hive_bins_data_size;
    if (size == 0 || size % wl::page_size != 0 || hl::base_block_size + std::uint64_t{size} > wl::largest_image) {
        return LogProblem::bad_hive_bins_data_size;
    }
    auto bitmap = read_dirty_bitmap(log.bytes, copy_size, copy_size, size);
    if (!bitmap) return LogProblem::sectors_outside_file;
    log.bitmap = *bitmap;
    return LogProblem::none;
}

}  // namespace

WindowsLog read_windows_log(utils::Bytes bytes) noexcept {
    WindowsLog log;
    log.bytes = bytes;
    const auto fail = [&](LogProblem problem) {
        log.problem = problem;
        return log;
    };
    const utils::ByteView view(bytes);
    const auto copy = view.fixed<wl::base_block_copy_size>();
    if (!copy) return fail(LogProblem::too_short);
    if (!view.has_signature(hl::signature, hl::regf_signature)) return fail(LogProblem::bad_signature);
    if (!hive::base_block_checksum_matches(bytes)) return fail(LogProblem::bad_checksum);

    log.sequence = copy->u32<hl::primary_sequence>();
    if (copy->u32<hl::secondary_sequence>() != log.sequence) return fail(LogProblem::sequence_mismatch);
    log.timestamp = copy->u64<hl::timestamp>();
    log.hive_bins_data_size = copy->u32<hl::hive_bins_data_size>();

    switch (copy->u32<hl::file_type>()) {
        case wl::new_file_type:
            log.format = WindowsLogFormat::new_format;
            if (!view.has_signature(wl::first_entry, wl::entry_signature)) {
                return fail(LogProblem::missing_entry_signature);
            }
            return log;
        case wl::old_file_type:
        case wl::oldest_file_type:
            log.format = WindowsLogFormat::old_format;
            return fail(check_old_format_body(log));
        default:
            return fail(LogProblem::unknown_file_type);
    }
}

}  // namespace orvane::transaction_log
