#pragma once
// A transaction log written by Windows, judged by its base block copy: which
// kind it is, whether it can be trusted, and the fields recovery needs.

#include <cstdint>

#include "transaction_log/dirty_bitmap.hpp"
#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

enum class WindowsLogFormat : std::uint8_t {
    new_format,  // file type 6: hashed "HvLE" entries from offset 512
    old_format,  // file type 1 or 2: a "DIRT" sector bitmap and the dirty sectors
};

// Why a log cannot be used, in the order the checks run.
enum class LogProblem : std::uint8_t {
    none,
    too_short,                // under 512 bytes (an empty file included)
    bad_signature,            // not "regf"
    bad_checksum,             // neither the plain XOR nor the Windows-adjusted one
    sequence_mismatch,        // the copy's two sequence numbers differ
    unknown_file_type,        // not 1, 2 or 6
    missing_entry_signature,  // type 6 without "HvLE" at offset 512
    bad_clustering_factor,    // type 1/2 whose copy (512 x factor) leaves no room for "DIRT"
    missing_dirt_signature,   // type 1/2 without "DIRT" after the copy
    bad_hive_bins_data_size,  // type 1/2 whose size is 0, not whole pages or too large
    sectors_outside_file,     // type 1/2 whose bitmap or dirty sectors run past the end
    other_hive,               // its file name field differs from the hive's: another hive's log
};

struct WindowsLog {
    LogProblem problem = LogProblem::none;
    utils::Bytes bytes;  // the whole file; the log is a view, not a copy
    WindowsLogFormat format = WindowsLogFormat::new_format;
    std::uint32_t sequence = 0;  // both sequence numbers of the copy (equal once valid)
    std::uint64_t timestamp = 0;
    std::uint32_t hive_bins_data_size = 0;
    DirtyBitmap bitmap;  // old format only

    bool usable() const noexcept { return problem == LogProblem::none; }
};

// Judges the log in `bytes` (a whole file, which must outlive the result). A
// log is usable when it starts with a valid base block copy of a known type
// whose body confirms it: "HvLE" at 512 for the new format; "DIRT", a bitmap and
// all its dirty sectors inside the file for the old one. The new format's
// entries are checked one by one later, while they are read (EntryReader).
WindowsLog read_windows_log(utils::Bytes bytes) noexcept;

}  // namespace orvane::transaction_log
