#include "transaction_log/open_with_logs.hpp"

#include <algorithm>
#include <vector>

#include "transaction_log/layout.hpp"
#include "transaction_log/replay.hpp"
#include "utils/file.hpp"

namespace orvane::transaction_log {

namespace {

enum class LogFormat {
    Incremental,   // "HvLE" header followed by "DIRT" blocks
    Unrecognised,  // anything else: ignored
};

// The one place that decides, from a log file's first bytes, how it is read.
LogFormat detect_format(utils::Bytes content) {
    const auto is = [&](const char (&signature)[4]) {
        return content.size() >= 4 && std::equal(signature, signature + 4, content.begin());
    };
    if (is(layout::hvle_signature)) return LogFormat::Incremental;
    return LogFormat::Unrecognised;
}

// Reads the log at `path` once and adds what it holds to `logs`. Every failure
// only means the log is not used.
void collect_log(const std::string& path, std::vector<TransactionLog>& logs) {
    const auto content = utils::read_whole_file(path);
    if (!content) return;
    switch (detect_format(*content)) {
        case LogFormat::Incremental:
            if (auto log = TransactionLog::parse(*content)) logs.push_back(std::move(*log));
            return;
        case LogFormat::Unrecognised:
            return;
    }
}

}  // namespace

Result<std::shared_ptr<const hive::Hive>> open_with_logs(const std::string& hive_path,
                                                        const std::optional<std::string>& log1,
                                                        const std::optional<std::string>& log2) {
    ORVANE_ASSIGN_OR_RETURN(std::vector<std::uint8_t> image, utils::read_whole_file(hive_path));

    std::vector<TransactionLog> logs;  // log1's first, so equal sequences keep it first
    if (log1) collect_log(*log1, logs);
    if (log2) collect_log(*log2, logs);
    if (!logs.empty()) ORVANE_TRY(apply_logs(image, logs));

    return hive::Hive::from_data(hive::HiveData::from_bytes(std::move(image)));
}

}  // namespace orvane::transaction_log
