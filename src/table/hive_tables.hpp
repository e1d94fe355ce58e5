#pragma once
// A hive's keys or values as record batches.
//
// Rows come depth first in the order of KeyWalk from the key at `key_path`,
// whose rows carry paths relative to it ("" for that key), as walk() gives
// them. A subkey list that cannot be read ends the table with the walk's
// error (after a batch of the rows before it); on a tolerant hive the walk
// notes and skips it. With `deleted`, the records the scan for deleted
// records finds follow the live rows, in file order, with the partial paths
// their parent fields give (a deleted value: the path of the deleted key
// whose value list names it, null when none does); below a key path only
// those whose partial path lies under it are kept, relative to it. A batch
// holds at most `batch_rows` rows, and is cut once the bytes of its rows
// reach `batch_bytes`, so memory follows the batch size, not the hive.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "error/failure.hpp"
#include "hive/hive.hpp"
#include "recovery/scan_cache.hpp"
#include "table/arrow_export.hpp"
#include "table/walk_plan.hpp"

namespace orvane::table {

enum class TableKind : std::uint8_t { Keys, Values };

struct TableOptions {
    std::string key_path;
    bool deleted = false;
    // Batches this long cost Arrow consumers nothing per row, and a Parquet
    // writer fed one at a time keeps little beside it.
    std::size_t batch_rows = 16384;
    std::size_t batch_bytes = std::size_t{64} << 20;
};

// keys: path, name, depth, last_written, last_written_filetime, class_name,
// subkey_count, value_count, offset, parent_offset, is_deleted.
std::span<const Field> keys_fields() noexcept;
// values: path, name, type, type_name, size, data, string, integer, strings,
// offset, is_deleted.
std::span<const Field> values_fields() noexcept;
std::span<const Field> fields_of(TableKind kind) noexcept;

// The source of one table. The key path is opened now (NotFound "Key '<path>'"
// when it names no key); `scans`, when given, supplies the hive's one scan for
// deleted records, and `plans` its latest finished walk, which a table from
// the same key replays instead of walking again (and which a table's own
// finished walk replaces). The source holds the hive.
[[nodiscard]] Checked<std::unique_ptr<BatchSource>> open_table(std::shared_ptr<const hive::Hive> hive,
                                                               TableKind kind, TableOptions options,
                                                               std::shared_ptr<recovery::ScanCache> scans = {},
                                                               std::shared_ptr<WalkPlans> plans = {});

// 100-nanosecond intervals since 1601 as microseconds since 1970 (truncated).
std::int64_t filetime_to_unix_micros(std::uint64_t filetime) noexcept;

}  // namespace orvane::table
