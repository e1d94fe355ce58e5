// Recovery from new-format logs: the entries of all usable logs, replayed as
// one run of consecutive sequence numbers.

#include <algorithm>

#include "hive/layout.hpp"
#include "transaction_log/log_entry.hpp"
#include "transaction_log/recovery_steps.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log::recovery {

namespace {

namespace hl = hive::layout;
namespace wl = windows_layout;

void apply_entry(utils::ImageBytes& image, const LogEntry& entry) {
    grow_image(image, hl::base_block_size + std::uint64_t{entry.hive_bins_data_size});
    // The reader has checked that every page ends within the entry's hive bins
    // data size, and the image is at least that long now.
    entry.for_each_page([&](std::uint32_t offset, utils::Bytes page) {
        std::copy(page.begin(), page.end(), image.begin() + static_cast<std::ptrdiff_t>(hl::base_block_size + offset));
    });
}

// The logs to replay, in replay order. With a valid base block: every usable
// log that does not begin below the hive's secondary sequence number, lowest
// first. Without one, nothing says how far the hive got, so only the latest
// log is used (its base block copy replaces the hive's).
std::vector<std::size_t> replay_order(State& state) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < state.logs.size(); ++i) {
        const WindowsLog& log = state.logs[i];
        if (!log.usable() || log.format != WindowsLogFormat::new_format) continue;
        if (state.base_block_valid && log.sequence < state.secondary_sequence) {
            state.report.logs[i].outcome = LogOutcome::older_than_hive;
            continue;
        }
        order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return state.logs[a].sequence < state.logs[b].sequence; });
    if (!state.base_block_valid && order.size() > 1) {
        // The first of the logs sharing the highest number.
        const std::uint32_t highest = state.logs[order.back()].sequence;
        const auto latest = std::find_if(order.begin(), order.end(),
                                         [&](std::size_t i) { return state.logs[i].sequence == highest; });
        for (const std::size_t i : order) {
            if (i != *latest) state.report.logs[i].outcome = LogOutcome::not_chosen;
        }
        order = {*latest};
    }
    return order;
}

}  // namespace

void recover_new_format(State& state) {
    RecoveryReport& report = state.report;
    report.format = WindowsLogFormat::new_format;
    const std::vector<std::size_t> order = replay_order(state);
    if (order.empty()) return;

    std::uint32_t expected = state.logs[order.front()].sequence;
    std::uint32_t hive_bins_data_size = 0;
    std::uint32_t flags = 0;
    std::size_t contributing_logs = 0;
    bool ended = false;
    for (const std::size_t i : order) {
        LogReport& log_report = report.logs[i];
        if (ended) {
            log_report.outcome = LogOutcome::not_reached;
            continue;
        }
        EntryReader reader(state.logs[i].bytes);
        while (true) {
            const std::optional<LogEntry> entry = reader.next();
            if (!entry) {
                log_report.outcome = LogOutcome::walk_ended;
                log_report.walk_end = reader.end();
                break;
            }
            if (entry->sequence != expected) {
                // A log must carry on exactly where the one before it stopped;
                // a log that does not cannot be placed, and neither can any after it.
                log_report.outcome = LogOutcome::sequence_break;
                ended = log_report.applied == 0;
                break;
            }
            if (report.entries_applied == 0) {
                report.first_sequence = expected;
                if (!state.base_block_valid) {
                    adopt_log_base_block(state.image, state.logs[i]);
                    report.base_block_from_log = true;
                }
            }
            if (log_report.applied == 0) {
                ++contributing_logs;
                report.applied_order.push_back(i);
            }
            apply_entry(state.image, *entry);
            ++log_report.applied;
            ++report.entries_applied;
            report.last_sequence = expected;
            hive_bins_data_size = entry->hive_bins_data_size;
            flags = entry->flags;
            ++expected;
        }
    }
    if (report.entries_applied == 0) return;

    update_base_block(state.image, {.primary_sequence = report.last_sequence,
                                    .secondary_sequence = report.last_sequence,
                                    .hive_bins_data_size = hive_bins_data_size,
                                    .locked = (flags & wl::locked_flag) != 0,
                                    .primary_file_type = true});
    report.recovered = true;
    // The hive's state secondary_sequence is whole, so entries from there or
    // the one after carry straight on from it. Starting later is normal when
    // two logs carry on from each other; from one log alone, an earlier log
    // may be missing.
    report.may_be_incomplete = state.base_block_valid && contributing_logs == 1 &&
                               report.first_sequence > std::uint64_t{state.secondary_sequence} + 1;
}

}  // namespace orvane::transaction_log::recovery
