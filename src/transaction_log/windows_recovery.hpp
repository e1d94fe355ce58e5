#pragma once
// Recovering a dirty hive from the transaction logs Windows wrote beside it,
// the way Windows does on loading: the new format (hashed entries replayed in
// sequence order across both logs) or, when no new-format log is usable, the
// old one (a dirty-sector bitmap, applied bin by bin).

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "transaction_log/log_entry.hpp"
#include "transaction_log/windows_log.hpp"
#include "utils/byte_view.hpp"
#include "utils/image_bytes.hpp"

namespace orvane::transaction_log {

// What became of one log.
enum class LogOutcome : std::uint8_t {
    not_read,         // the hive needed no recovery (or was too small to tell)
    unusable,         // its base block copy failed a check: see LogReport::problem
    other_format,     // an old-format log, while a new-format log was usable
    older_than_hive,  // new format: begins below the hive's secondary sequence number
    not_chosen,       // another log of its format was used instead
    not_reached,      // recovery had ended in an earlier log
    sequence_break,   // new format: an entry carried another number than the next expected
    walk_ended,       // new format: its entries ran out or one was invalid: see LogReport::walk_end
    applied,          // old format: every dirty sector was applied
    bad_bin,          // old format: stopped at a bin whose header failed (RecoveryReport::stopped_at_bin)
};

struct LogReport {
    LogOutcome outcome = LogOutcome::not_read;
    LogProblem problem = LogProblem::none;
    WalkEnd walk_end = WalkEnd::end_of_log;
    std::size_t applied = 0;  // entries (new format) or sectors (old format) taken from it
};

struct RecoveryReport {
    bool hive_too_small = false;    // under 4096 bytes: nothing can be done
    bool base_block_valid = false;  // the hive's own, as read
    bool dirty = false;             // invalid base block, or unequal sequence numbers
    bool recovered = false;         // the base block now says clean (equal sequence numbers)
    bool base_block_from_log = false;
    std::optional<WindowsLogFormat> format;  // the procedure that ran, if any

    // New format.
    std::size_t entries_applied = 0;
    std::uint32_t first_sequence = 0;  // meaningful when entries_applied > 0
    std::uint32_t last_sequence = 0;
    // Entries began above the hive's secondary sequence number + 1 and came
    // from one log only: pages of an absent earlier log may be missing.
    bool may_be_incomplete = false;

    // Old format.
    std::size_t sectors_applied = 0;
    bool timestamp_mismatch = false;               // the log applied does not carry the hive's timestamp
    std::optional<std::uint32_t> stopped_at_bin;  // the bin whose header failed the check

    // After recovery: the first bin (relative offset) that breaks the chain of
    // bins from 0 to the hive bins data size. The image is left as recovered.
    std::optional<std::uint32_t> damaged_bin;

    std::vector<LogReport> logs;  // in the order the logs were given
    // The logs (indices into `logs`) from which something was applied, in the
    // order they were applied.
    std::vector<std::size_t> applied_order;
};

// Recovers `image` (a whole hive file, which may grow) from Windows logs, each
// a whole log file, in any order. Never fails: a hive that is not dirty, or
// for which no log is usable, is left exactly as it was; otherwise the logs'
// data are copied in and the base block is rewritten (sequence numbers, hive
// bins data size, flags, file type), its checksum stored the way Windows
// stores it. A log whose base block copy names another file than the hive's
// own valid base block (the raw 64-byte file name fields differ) belongs to
// another hive and is left out. No log can make the image longer than 0x20000000
// bytes (or longer than it was).
RecoveryReport recover_from_windows_logs(utils::ImageBytes& image, std::span<const utils::Bytes> logs);

}  // namespace orvane::transaction_log
