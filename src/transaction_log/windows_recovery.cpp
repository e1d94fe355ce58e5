#include "transaction_log/windows_recovery.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "transaction_log/recovery_steps.hpp"

namespace orvane::transaction_log {

namespace {

namespace hl = hive::layout;

bool has_format(std::span<const WindowsLog> logs, WindowsLogFormat format) {
    return std::any_of(logs.begin(), logs.end(),
                       [&](const WindowsLog& log) { return log.usable() && log.format == format; });
}

}  // namespace

RecoveryReport recover_from_windows_logs(std::vector<std::uint8_t>& image, std::span<const utils::Bytes> logs) {
    RecoveryReport report;
    report.logs.resize(logs.size());
    if (image.size() < hl::base_block_size) {
        report.hive_too_small = true;
        return report;
    }

    const utils::Bytes base_block(image.data(), hl::base_block_size);
    report.base_block_valid = std::equal(hl::regf_signature, hl::regf_signature + 4, base_block.begin()) &&
                              base_block_checksum_matches(base_block);
    const std::uint32_t primary = utils::load_u32(base_block.data() + hl::primary_sequence);
    const std::uint32_t secondary = utils::load_u32(base_block.data() + hl::secondary_sequence);
    report.dirty = !report.base_block_valid || primary != secondary;
    // A clean hive is used as it is, even when its logs hold newer entries.
    if (!report.dirty) return report;

    std::vector<WindowsLog> windows_logs;
    windows_logs.reserve(logs.size());
    for (std::size_t i = 0; i < logs.size(); ++i) {
        windows_logs.push_back(read_windows_log(logs[i]));
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
            recovery::first_damaged_bin(image, utils::load_u32(image.data() + hl::hive_bins_data_size));
    }
    return report;
}

}  // namespace orvane::transaction_log
