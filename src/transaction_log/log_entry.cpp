#include "transaction_log/log_entry.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "transaction_log/marvin32.hpp"
#include "transaction_log/windows_log_layout.hpp"

namespace orvane::transaction_log {

namespace wl = windows_layout;

std::optional<LogEntry> EntryReader::stop(WalkEnd why) noexcept {
    ended_ = true;
    end_ = why;
    return std::nullopt;
}

std::optional<LogEntry> EntryReader::next() noexcept {
    if (ended_) return std::nullopt;
    const std::uint64_t e = position_;
    const utils::ByteView log(log_);
    const auto header = log.fixed_at<wl::entry_header_size>(e);
    if (!header) return stop(WalkEnd::end_of_log);
    if (!log.has_signature(e, wl::entry_signature)) return stop(WalkEnd::no_more_entries);
    if (marvin32(header->field<0, wl::entry_header_hash>()) != header->u64<wl::entry_header_hash>()) {
        return stop(WalkEnd::header_hash_mismatch);
    }

    LogEntry entry;
    entry.position = e;
    entry.size = header->u32<wl::entry_size>();
    entry.flags = header->u32<wl::entry_flags>();
    entry.sequence = header->u32<wl::entry_sequence>();
    entry.hive_bins_data_size = header->u32<wl::entry_hive_bins_data_size>();
    entry.page_count = header->u32<wl::entry_page_count>();

    if (entry.size < wl::entry_header_size || entry.size % wl::entry_size_unit != 0 ||
        !log.has(e, entry.size)) {
        return stop(WalkEnd::bad_entry_size);
    }
    if (entry.hive_bins_data_size == 0 || entry.hive_bins_data_size % wl::page_size != 0) {
        return stop(WalkEnd::bad_hive_bins_data_size);
    }
    if (hive::layout::base_block_size + std::uint64_t{entry.hive_bins_data_size} > wl::largest_image) {
        return stop(WalkEnd::image_too_large);
    }

    const utils::Bytes body = log_.subspan(static_cast<std::size_t>(e), entry.size);
    const std::uint64_t references_end = wl::entry_header_size + std::uint64_t{entry.page_count} * wl::page_reference_size;
    if (references_end > entry.size) return stop(WalkEnd::bad_page_references);
    entry.references = body.subspan(wl::entry_header_size, static_cast<std::size_t>(references_end) - wl::entry_header_size);

    // At most (size - 40) / 8 references, each adding at most 2^32 - 1: the sum
    // stays far below 2^64.
    std::uint64_t page_bytes = 0;
    bool outside_hive = false;
    entry.for_each_reference([&](std::uint64_t offset, std::uint64_t size) {
        page_bytes += size;
        outside_hive = outside_hive || offset + size > entry.hive_bins_data_size;
    });
    if (references_end + page_bytes > entry.size) return stop(WalkEnd::bad_page_references);
    if (outside_hive) return stop(WalkEnd::page_outside_hive);
    entry.pages = body.subspan(static_cast<std::size_t>(references_end), static_cast<std::size_t>(page_bytes));

    if (marvin32(body.subspan(wl::entry_header_size)) != header->u64<wl::entry_data_hash>()) {
        return stop(WalkEnd::data_hash_mismatch);
    }
    position_ = e + entry.size;
    return entry;
}

}  // namespace orvane::transaction_log
