#pragma once
// One parsed "HvLE" transaction log: its sequence number and the dirty pages it
// carries, each a copy of its bytes and the absolute position in the hive file
// image where they belong.
//
// Only the first 4096 bytes are checked (length, then signature). Everything
// after them is read leniently: unknown blocks, absurd record counts or sizes
// and records running past the end of the file are skipped, never reported.

#include <cstdint>
#include <string>
#include <vector>

#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

struct DirtyPage {
    std::uint32_t offset = 0;        // from the first byte of the hive file; not a cell offset
    std::uint32_t size = 0;          // 1 to 65536 for pages read from a log
    std::vector<std::uint8_t> data;  // exactly `size` bytes for pages read from a log

    bool operator==(const DirtyPage&) const = default;
};

struct TransactionLog {
    std::uint32_t sequence = 0;
    std::vector<DirtyPage> dirty_pages;  // file order; duplicates kept

    // Reads the whole file at `path` and parses it. Io when it cannot be read.
    [[nodiscard]] static Result<TransactionLog> open(const std::string& path);

    // Parses a whole log file held in memory. InvalidFormat "Transaction log too
    // small" below 4096 bytes, InvalidSignature without "HvLE". The result owns
    // copies of the page bytes and keeps no reference into `content`.
    //
    // Work and memory are bounded by the format's limits: at most 1000 records
    // per block, at most 65536 bytes per page, and no block is examined once
    // more than 10000 pages have been collected (so at most 11000 pages).
    [[nodiscard]] static Result<TransactionLog> parse(utils::Bytes content);
};

}  // namespace orvane::transaction_log
