#pragma once
// Loading a hive with up to two transaction logs replayed into it.

#include <memory>
#include <optional>
#include <string>

#include "error/registry_error.hpp"
#include "hive/hive.hpp"

namespace orvane::transaction_log {

// Reads the hive file at `hive_path` into memory (it is never mapped and never
// written), replays the logs at `log1` and `log2` into that image, and loads
// the result with Hive::from_data. A log that cannot be read or is not a log
// this reader understands is ignored, as if its path had not been given. With
// no usable log the image is loaded exactly as read.
//
// A log starting with "regf" was written by Windows: when the hive is dirty,
// recover_from_windows_logs() brings it up to date from such logs before any
// "HvLE" log is replayed. Windows logs never cause an error.
//
// The hive's applied_logs() are the paths (as given) of the logs from which
// at least one entry, sector or page was applied, in the order applied.
//
// Io when the hive file cannot be read; the errors of apply_logs and of
// from_data otherwise. A failed replay yields no hive at all.
[[nodiscard]] Result<std::shared_ptr<const hive::Hive>> open_with_logs(const std::string& hive_path,
                                                                      const std::optional<std::string>& log1,
                                                                      const std::optional<std::string>& log2);

}  // namespace orvane::transaction_log
