#pragma once
// The entries of a new-format Windows log: from offset 512, back to back, each
// a 40-byte "HvLE" header protected by two Marvin32 hashes, page references
// (offset relative to the hive bins data, size) and the pages' bytes.

#include <cstdint>
#include <optional>

#include "transaction_log/windows_log_layout.hpp"
#include "utils/byte_view.hpp"

namespace orvane::transaction_log {

// A valid entry; its views point into the log.
struct LogEntry {
    std::uint64_t position = 0;  // in the log
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
    std::uint32_t sequence = 0;
    std::uint32_t hive_bins_data_size = 0;
    std::uint32_t page_count = 0;
    utils::Bytes references;  // page_count x (offset, size)
    utils::Bytes pages;       // the pages' bytes, back to back, in reference order

    // Calls fn(offset, bytes) for each page, in reference order. Every page
    // lies inside `pages` and ends at or below hive_bins_data_size.
    template <class Fn>
    void for_each_page(Fn&& fn) const {
        std::size_t at = 0;
        for_each_reference([&](std::uint32_t offset, std::uint32_t length) {
            fn(offset, pages.subspan(at, length));
            at += length;
        });
    }

    // Calls fn(offset, size) for each page reference that `references` holds.
    template <class Fn>
    void for_each_reference(Fn&& fn) const {
        namespace wl = windows_layout;
        const utils::ByteView view(references);
        for (std::size_t i = 0; i < page_count; ++i) {
            const auto reference = view.fixed_at<wl::page_reference_size>(wl::page_reference_size * i);
            if (!reference) return;
            fn(reference->template u32<wl::page_reference_offset>(), reference->template u32<wl::page_reference_length>());
        }
    }
};

// Why the walk over a log's entries ended, in the order the checks run.
enum class WalkEnd : std::uint8_t {
    end_of_log,               // fewer than 40 bytes left
    no_more_entries,          // no "HvLE" signature (zeros, remnants)
    header_hash_mismatch,     // Hash-2 over the first 32 bytes
    bad_entry_size,           // under 40, not a multiple of 512, or past the end of the log
    bad_hive_bins_data_size,  // 0 or not a multiple of 4096
    image_too_large,          // would make the image longer than 0x20000000 bytes
    bad_page_references,      // references or page bytes overrun the entry
    page_outside_hive,        // a page ends beyond the entry's hive bins data size
    data_hash_mismatch,       // Hash-1 over the references, pages and padding
};

// Walks the entries of one log in file order. The first invalid entry ends the
// walk for good: nothing after it is looked at, because stale entries with
// valid hashes may lie further on. Each step moves forward by at least 512
// bytes, so the walk always ends.
class EntryReader {
public:
    explicit EntryReader(utils::Bytes log) noexcept : log_(log) {}

    // The next valid entry, or nothing once the walk has ended (see end()).
    std::optional<LogEntry> next() noexcept;
    WalkEnd end() const noexcept { return end_; }

private:
    std::optional<LogEntry> stop(WalkEnd why) noexcept;

    utils::Bytes log_;
    std::uint64_t position_ = windows_layout::first_entry;
    bool ended_ = false;
    WalkEnd end_ = WalkEnd::end_of_log;
};

}  // namespace orvane::transaction_log
