// Recovery from an old-format log: one log's dirty sectors, applied bin by bin
// as long as each bin's header holds up.

#include <algorithm>

#include "hive/layout.hpp"
#include "transaction_log/recovery_steps.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log::recovery {

namespace {

namespace hl = hive::layout;
namespace wl = windows_layout;

bool usable_old(const WindowsLog& log) { return log.usable() && log.format == WindowsLogFormat::old_format; }

// Where the bin walk over the log's hive bins data size stops, and how many
// dirty sectors lie before that point. Each bin's header comes from the log
// when its first sector is dirty, else from the image; the walk stops at the
// first header that is not sound, since nothing after it can be placed.
struct BinWalk {
    std::uint64_t end = 0;
    std::uint64_t dirty_sectors = 0;
};

BinWalk walk_bins(utils::Bytes image, const WindowsLog& log) {
    const DirtyBitmap& bitmap = log.bitmap;
    const utils::Bytes bins = image.subspan(hl::base_block_size);
    const std::uint64_t limit = log.hive_bins_data_size;
    BinWalk walk;
    while (walk.end < limit) {
        const std::uint64_t first_sector = walk.end / wl::sector_size;
        utils::Bytes header;
        if (bitmap.dirty(first_sector)) {
            header = bitmap.sectors.subspan(static_cast<std::size_t>(walk.dirty_sectors * wl::sector_size),
                                            wl::sector_size);
        } else if (walk.end < bins.size()) {
            header = bins.subspan(static_cast<std::size_t>(walk.end));
        }
        std::uint32_t size = 0;
        if (!sound_bin_header(header, walk.end, limit, size)) break;
        for (std::uint64_t s = first_sector; s < first_sector + size / wl::sector_size; ++s) {
            walk.dirty_sectors += bitmap.dirty(s);
        }
        walk.end += size;
    }
    return walk;
}

}  // namespace

OldLogChoice choose_old_format_log(std::span<const WindowsLog> logs, std::optional<std::uint64_t> reference,
                                   bool base_block_valid) {
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < logs.size(); ++i) {
        if (usable_old(logs[i])) usable.push_back(i);
    }
    // A log written for this very state of the hive; of two, the later one.
    std::optional<std::size_t> best;
    for (const std::size_t i : usable) {
        if (reference && logs[i].timestamp == *reference && (!best || logs[i].sequence > logs[*best].sequence)) best = i;
    }
    if (best) return {best, false};

    if (usable.size() == 2) {
        // The log kept after a failed write of the hive is the newer one.
        const WindowsLog& a = logs[usable[0]];
        const WindowsLog& b = logs[usable[1]];
        if (a.timestamp == b.timestamp) return {};
        return {a.timestamp > b.timestamp ? usable[0] : usable[1], true};
    }
    // One usable log and another given log that is not: the dual-log scheme
    // uses it. A lone log must match the hive unless the hive's base block is
    // too damaged to say (then its first bin's timestamp is often older still).
    if (usable.size() == 1 && (logs.size() > 1 || !base_block_valid)) return {usable[0], true};
    return {};
}

void recover_old_format(State& state) {
    RecoveryReport& report = state.report;
    report.format = WindowsLogFormat::old_format;

    const utils::ByteView image(state.image);
    std::optional<std::uint64_t> reference;
    if (state.base_block_valid) {
        reference = *image.u64(hl::timestamp);  // the image holds at least a base block
    } else if (const auto bin_timestamp = image.u64(hl::base_block_size + hl::hbin_timestamp)) {
        reference = *bin_timestamp;
    }
    const OldLogChoice choice = choose_old_format_log(state.logs, reference, state.base_block_valid);
    for (std::size_t i = 0; i < state.logs.size(); ++i) {
        if (usable_old(state.logs[i]) && i != choice.index) report.logs[i].outcome = LogOutcome::not_chosen;
    }
    if (!choice.index) return;

    const WindowsLog& log = state.logs[*choice.index];
    LogReport& log_report = report.logs[*choice.index];
    report.timestamp_mismatch = choice.timestamp_mismatch;
    const BinWalk walk = walk_bins(state.image, log);
    const bool complete = walk.end == log.hive_bins_data_size;
    log_report.outcome = complete ? LogOutcome::applied : LogOutcome::bad_bin;
    if (!complete) report.stopped_at_bin = static_cast<std::uint32_t>(walk.end);
    // A log that cannot place a single sector leaves the hive as it was.
    if (!complete && walk.dirty_sectors == 0) return;

    grow_image(state.image, hl::base_block_size + walk.end);
    std::uint64_t taken = 0;
    for (std::uint64_t s = 0; s < walk.end / wl::sector_size; ++s) {
        if (!log.bitmap.dirty(s)) continue;
        const utils::Bytes sector =
            log.bitmap.sectors.subspan(static_cast<std::size_t>(taken * wl::sector_size), wl::sector_size);
        std::copy(sector.begin(), sector.end(),
                  state.image.begin() + static_cast<std::ptrdiff_t>(hl::base_block_size + s * wl::sector_size));
        ++taken;
    }
    log_report.applied = report.sectors_applied = static_cast<std::size_t>(taken);
    if (taken > 0) report.applied_order.push_back(*choice.index);

    // Only a whole log makes the hive clean. After a partial one the sequence
    // numbers stay apart, so the hive still shows as dirty, and the hive bins
    // data size is the hive's own (or, rebuilt, the extent of sound bins).
    BaseBlockUpdate update{.primary_sequence = state.primary_sequence,
                           .secondary_sequence = state.secondary_sequence,
                           .hive_bins_data_size = utils::ByteView(state.image).u32(hl::hive_bins_data_size).value_or(0),
                           .locked = std::nullopt,
                           .primary_file_type = false};
    if (!state.base_block_valid) {
        adopt_log_base_block(state.image, log);
        report.base_block_from_log = true;
        update.primary_sequence = log.sequence;
        update.secondary_sequence = log.sequence - 1;
        update.hive_bins_data_size = static_cast<std::uint32_t>(walk.end);
    }
    if (complete) {
        // Vista-and-later logs carry the number the hive's write was to reach,
        // older ones the number before it; the hive's primary number is right
        // for both.
        update.secondary_sequence = update.primary_sequence;
        update.hive_bins_data_size = log.hive_bins_data_size;
    }
    update_base_block(state.image, update);
    report.recovered = complete;
}

}  // namespace orvane::transaction_log::recovery
