#include "transaction_log/windows_recovery.hpp"

#include <algorithm>

#include "hive/base_block.hpp"
#include "hive/layout.hpp"
#include "transaction_log/recovery_steps.hpp"

namespace orvane::transaction_log {

namespace {

namespace hl = hive::layout;

// Windows writes the same file name field into a hive and into its logs; a
// log with another one was written for another hive.
bool same_file_name(const utils::FixedView<hl::base_block_size>& hive_block, utils::Bytes log) {
    const auto ours = hive_block.field<hl::file_name, hl::file_name_size>();
    const auto theirs = utils::ByteView(log).slice(hl::file_name, hl::file_name_size);
    return theirs && std::ranges::equal(ours, theirs->bytes());
}

bool has_format(std::span<const WindowsLog> logs, WindowsLogFormat format) {
    return std::any_of(logs.begin(), logs.end(),
                       [&](const WindowsLog& log) { return log.usable() && log.format == format; });
}

}  // namespace

RecoveryReport recover_from_windows_logs(utils::ImageBytes& image, std::span<const utils::Bytes> logs) {
    RecoveryReport report;
    report.logs.resize(logs.size());
    if (image.size() < hl::base_block_size) {
        report.hive_too_small = true;
        return report;
    }

    const utils::ByteView view(image);
    const auto base_block = *view.fixed<hl::base_block_size>();  // tested just above
    report.base_block_valid =
        view.has_signature(hl::signature, hl::regf_signature) && hive::base_block_checksum_matches(view.bytes());
    const std::uint32_t primary = base_block.u32<hl::primary_sequence>();
    const std::uint32_t secondary = base_block.u32<hl::secondary_sequence>();
    report.dirty = !report.base_block_valid || primary != secondary;
    // A clean hive is used as it is, even when its logs hold newer entries.
    if (!report.dirty) return report;

    std::vector<WindowsLog> windows_logs;
    windows_logs.reserve(logs.size());
    for (std::size_t i = 0; i < logs.size(); ++i) {
        windows_logs.push_back(read_windows_log(logs[i]));
        if (windows_logs.back().usable() && report.base_block_valid && !same_file_name(base_block, logs[i])) {
            windows_logs.back().problem = LogProblem::other_hive;
        }
        if (!windows_logs.back().usable()) {
            report.logs[i] = {.outcome = LogOutcome::unusable, .problem = windows_logs.back().problem};
        }
    }

    recovery::State state{image, windows_logs, report.base_block_valid, primary, secondary, report};
    if (has_format(windows_logs, WindowsLogFormat::new_format)) {
        for (std::size_t i = 0; i < windows_logs.size(); ++i) {
            if (windows_logs[i].usable() && windows_logs[i].format == WindowsLogFormat::old_format) {
                report.logs[i].outcome = LogOutcome::other_format;
            }
        }
        recovery::recover_new_format(state);
    } else if (has_format(windows_logs, WindowsLogFormat::old_format)) {
        recovery::recover_old_format(state);
    }

    if (report.entries_applied + report.sectors_applied > 0 || report.recovered) {
        report.damaged_bin =
            recovery::first_damaged_bin(image, utils::ByteView(image).u32(hl::hive_bins_data_size).value_or(0));
    }
    return report;
}

}  // namespace orvane::transaction_log
