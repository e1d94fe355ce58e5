#include "transaction_log/windows_log.hpp"

#include <algorithm>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log {

namespace {

namespace hl = hive::layout;
namespace wl = windows_layout;
using utils::load_u32;

bool has_signature(utils::Bytes bytes, std::uint64_t at, const char (&signature)[4]) {
    return utils::fits(bytes.size(), at, 4) &&
           std::equal(signature, signature + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The body checks of an old-format log; `log` already has a valid copy.
LogProblem check_old_format_body(WindowsLog& log) {
    const std::uint64_t copy_size = std::uint64_t{load_u32(log.bytes.data() + hl::clustering_factor)} * wl::sector_size;
    if (copy_size == 0 || !utils::fits(log.bytes.size(), copy_size, sizeof wl::dirt_signature)) {
        return LogProblem::bad_clustering_factor;
    }
    if (!has_signature(log.bytes, copy_size, wl::dirt_signature)) return LogProblem::missing_dirt_signature;
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

bool base_block_checksum_matches(utils::Bytes block) noexcept {
    const std::uint32_t computed = hive::base_block_checksum(block);
    const std::uint32_t stored = load_u32(block.data() + hl::checksum);
    const std::uint32_t adjusted = computed == 0 ? 1u : computed == 0xFFFFFFFFu ? 0xFFFFFFFEu : computed;
    return stored == computed || stored == adjusted;
}

WindowsLog read_windows_log(utils::Bytes bytes) noexcept {
    WindowsLog log;
    log.bytes = bytes;
    const auto fail = [&](LogProblem problem) {
        log.problem = problem;
        return log;
    };
    if (bytes.size() < wl::base_block_copy_size) return fail(LogProblem::too_short);
    if (!has_signature(bytes, hl::signature, hl::regf_signature)) return fail(LogProblem::bad_signature);
    if (!base_block_checksum_matches(bytes)) return fail(LogProblem::bad_checksum);

    const std::uint8_t* p = bytes.data();
    log.sequence = load_u32(p + hl::primary_sequence);
    if (load_u32(p + hl::secondary_sequence) != log.sequence) return fail(LogProblem::sequence_mismatch);
    log.timestamp = utils::load_u64(p + hl::timestamp);
    log.hive_bins_data_size = load_u32(p + hl::hive_bins_data_size);

    switch (load_u32(p + hl::file_type)) {
        case wl::new_file_type:
            log.format = WindowsLogFormat::new_format;
            if (!has_signature(bytes, wl::first_entry, wl::entry_signature)) {
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
