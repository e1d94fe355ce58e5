#include "transaction_log/open_with_logs.hpp"

#include <algorithm>
#include <vector>

#include "hive/layout.hpp"
#include "transaction_log/layout.hpp"
#include "transaction_log/replay.hpp"
#include "transaction_log/windows_recovery.hpp"
#include "utils/file.hpp"

namespace orvane::transaction_log {

namespace {

enum class LogFormat {
    Incremental,   // "HvLE" header followed by "DIRT" blocks
    Windows,       // "regf": a log written by Windows, which starts with a base block copy
    Unrecognised,  // anything else: ignored
};

// The one place that decides, from a log file's first bytes, how it is read.
LogFormat detect_format(utils::Bytes content) {
    const auto is = [view = utils::ByteView(content)](std::string_view signature) {
        return view.has_signature(0, signature);
    };
    if (is(layout::hvle_signature)) return LogFormat::Incremental;
    if (is(hive::layout::regf_signature)) return LogFormat::Windows;
    return LogFormat::Unrecognised;
}

// No log of either format comes near this; a path naming an endless device is
// given up after it.
constexpr std::uint64_t largest_log_file = std::uint64_t{1} << 30;

// The logs read so far, each with the path it was read from.
struct Logs {
    std::vector<TransactionLog> incremental;  // log1's first, so equal sequences keep it first
    std::vector<std::string> incremental_paths;
    std::vector<utils::ImageBytes> windows;  // whole files
    std::vector<std::string> windows_paths;
};

// Reads the log at `path` once and adds what it holds to `logs`. Every
// failure only means the log is not used.
void collect_log(const std::string& path, Logs& logs) {
    auto content = utils::read_whole_file(path, largest_log_file);
    if (!content) return;
    switch (detect_format(*content)) {
        case LogFormat::Incremental:
            if (auto log = TransactionLog::parse(*content)) {
                logs.incremental.push_back(std::move(*log));
                logs.incremental_paths.push_back(path);
            }
            return;
        case LogFormat::Windows:
            logs.windows.push_back(std::move(*content));
            logs.windows_paths.push_back(path);
            return;
        case LogFormat::Unrecognised:
            return;
    }
}

}  // namespace

Result<std::shared_ptr<const hive::Hive>> open_with_logs(const std::string& hive_path,
                                                        const std::optional<std::string>& log1,
                                                        const std::optional<std::string>& log2) {
    ORVANE_ASSIGN_OR_RETURN(utils::ImageBytes image, utils::read_whole_file(hive_path));

    Logs logs;
    if (log1) collect_log(*log1, logs);
    if (log2) collect_log(*log2, logs);
    std::vector<std::string> applied;
    // Windows logs bring the hive up to date first (they never fail: a log
    // that cannot be used is left out); "HvLE" logs are replayed on the result.
    if (!logs.windows.empty()) {
        const std::vector<utils::Bytes> views(logs.windows.begin(), logs.windows.end());
        for (const std::size_t i : recover_from_windows_logs(image, views).applied_order) {
            applied.push_back(logs.windows_paths[i]);
        }
    }
    if (!logs.incremental.empty()) {
        ORVANE_ASSIGN_OR_RETURN(const std::vector<std::size_t> order, apply_logs(image, logs.incremental));
        for (const std::size_t i : order) applied.push_back(logs.incremental_paths[i]);
    }

    return hive::Hive::from_data(hive::HiveData::from_bytes(std::move(image)), std::move(applied));
}

}  // namespace orvane::transaction_log
