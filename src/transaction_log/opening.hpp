#pragma once
// How a hive is opened the way an analyst's tools open it: with the
// transaction logs found beside it, telling what was applied and whether the
// result is still dirty. The command line and orvane.open share these rules.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "error/registry_error.hpp"
#include "hive/hive.hpp"

namespace orvane::transaction_log {

// The logs beside `hive_path`: NAME.LOG1, NAME.LOG2, NAME.LOG in that order,
// the name matched in any letter case (the last such entry in byte order when
// several match), at most two. Empty when the folder cannot be listed.
std::vector<std::string> logs_beside(const std::string& hive_path);

enum class LogChoice {
    Found,  // the logs beside the hive
    None,   // the file as it is
    Named,  // the paths given
};

struct OpeningRequest {
    std::string path;
    LogChoice logs = LogChoice::Found;
    std::vector<std::string> named;  // at most two, for LogChoice::Named
    bool tolerant = false;
};

struct Opening {
    std::shared_ptr<const hive::Hive> hive;
    // One line about logs and dirty state, without the hive's path, when
    // there is something to tell: "logs applied: A, B; clean (sequence
    // numbers 5/5)", "dirty (sequence numbers 5/4), no logs found beside it",
    // "logs left out (A): <reason>; clean (...)", ...
    std::optional<std::string> note;
    bool dirty = false;
    // The note only names the logs that brought the hive up to date: it is
    // for a caller that says what it read, not a warning.
    bool routine = false;
};

// Opens the hive as `request` says. Found logs whose replay fails are left
// out (the note gives the reason) and the file is read as it is; named logs
// are not: their failure is the hive's. A tolerant reading applies no logs
// (their replay has no tolerant form) and names those found.
[[nodiscard]] Result<Opening> open_hive(const OpeningRequest& request);

}  // namespace orvane::transaction_log
