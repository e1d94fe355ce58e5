#pragma once
// Test-side writer of the transaction logs Windows keeps beside a hive.
//
// new_format_log() starts a log from a hive's first 512 bytes (file type 6,
// both sequence numbers set, checksum fixed); entry() appends an "HvLE" entry
// with real Marvin32 hashes, zero-padded to a multiple of 512 bytes.
// old_format_log() writes a "DIRT" log: base block copy, bitmap and sectors.
// Tests then break one thing (truncate, flip a byte, edit a field and rehash)
// to get each damaged case. Nothing written here has to be valid.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "hive/base_block.hpp"
#include "image_builder.hpp"
#include "transaction_log/marvin32.hpp"

namespace orvane::testing {

struct LogPage {
    std::uint32_t offset = 0;  // relative to the hive bins data
    ByteVector data;
};

struct LogEntryContents {
    LogEntryContents(std::uint32_t sequence_, std::uint32_t hive_bins_data_size_, std::vector<LogPage> pages_,
                 std::uint32_t flags_ = 0)
        : sequence(sequence_), hive_bins_data_size(hive_bins_data_size_), pages(std::move(pages_)), flags(flags_) {}

    std::uint32_t sequence;
    std::uint32_t hive_bins_data_size;
    std::vector<LogPage> pages;
    std::uint32_t flags;
    std::optional<std::uint32_t> page_count;         // written instead of pages.size()
    std::optional<std::uint32_t> size;               // written instead of the padded length
    std::optional<std::uint32_t> size_of_reference;  // written as every reference's size
};

// Rewrites both hashes of the entry at `at` in `log` from the bytes there now.
inline void rehash_entry(ByteVector& log, std::size_t at) {
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) size |= std::uint32_t{log[at + 4 + i]} << (8 * i);
    const std::size_t end = std::min<std::size_t>(log.size(), at + size);
    const std::span<const std::uint8_t> bytes(log);
    put_u64(log, at + 24, transaction_log::marvin32(bytes.subspan(at + 40, end > at + 40 ? end - at - 40 : 0)));
    put_u64(log, at + 32, transaction_log::marvin32(bytes.subspan(at, 32)));
}

// Fixes the checksum of the 512-byte base block copy at the start of a log.
inline void fix_log_checksum(ByteVector& log) { hive::store_base_block_checksum(std::span(log).first(512)); }

class WindowsLogBuilder {
public:
    // A log whose base block copy is the first 512 bytes of `hive`, with file
    // type 6 and both sequence numbers `sequence`.
    static WindowsLogBuilder new_format(const ByteVector& hive, std::uint32_t sequence) {
        WindowsLogBuilder builder;
        builder.bytes_.assign(hive.begin(), hive.begin() + 512);
        put_u32(builder.bytes_, 4, sequence);
        put_u32(builder.bytes_, 8, sequence);
        put_u32(builder.bytes_, 28, 6);
        fix_log_checksum(builder.bytes_);
        return builder;
    }

    // Appends an entry and returns its offset in the log.
    std::size_t entry(const LogEntryContents& contents) {
        const std::size_t at = bytes_.size();
        ByteVector body;
        for (const LogPage& page : contents.pages) {
            const std::size_t r = body.size();
            put_u32(body, r, page.offset);
            put_u32(body, r + 4, contents.size_of_reference.value_or(static_cast<std::uint32_t>(page.data.size())));
        }
        for (const LogPage& page : contents.pages) put_bytes(body, body.size(), page.data);
        const std::size_t padded = (40 + body.size() + 511) / 512 * 512;
        bytes_.resize(at + padded, 0);
        put_bytes(bytes_, at, ascii("HvLE"));
        put_u32(bytes_, at + 4, contents.size.value_or(static_cast<std::uint32_t>(padded)));
        put_u32(bytes_, at + 8, contents.flags);
        put_u32(bytes_, at + 12, contents.sequence);
        put_u32(bytes_, at + 16, contents.hive_bins_data_size);
        put_u32(bytes_, at + 20, contents.page_count.value_or(static_cast<std::uint32_t>(contents.pages.size())));
        put_bytes(bytes_, at + 40, body);
        rehash_entry(bytes_, at);
        return at;
    }

    // Raw bytes at the end (zeros, remnants).
    WindowsLogBuilder& append(const ByteVector& data) {
        put_bytes(bytes_, bytes_.size(), data);
        return *this;
    }

    ByteVector& raw() { return bytes_; }
    ByteVector build() const { return bytes_; }

private:
    ByteVector bytes_;
};

// An old-format log: the first 512 bytes of `hive` (file type 1, both
// sequence numbers `sequence`, the given timestamp and hive bins data size),
// "DIRT", the bitmap and the sectors, each `sectors` entry being a 512-byte
// sector of the hive bins data by index. The bitmap's padding is filled with
// 0xAA, as Windows leaves it unzeroed.
inline ByteVector old_format_log(const ByteVector& hive, std::uint32_t sequence, std::uint64_t timestamp,
                                 std::uint32_t hive_bins_data_size, const std::map<std::uint32_t, ByteVector>& sectors) {
    ByteVector log(hive.begin(), hive.begin() + 512);
    put_u32(log, 4, sequence);
    put_u32(log, 8, sequence);
    put_u64(log, 12, timestamp);
    put_u32(log, 28, 1);
    put_u32(log, 40, hive_bins_data_size);
    put_u32(log, 44, 1);
    fix_log_checksum(log);
    put_bytes(log, 512, ascii("DIRT"));
    const std::size_t bitmap_length = (hive_bins_data_size / 512 + 7) / 8;
    ByteVector bitmap(bitmap_length, 0);
    for (const auto& [index, data] : sectors) bitmap[index / 8] |= static_cast<std::uint8_t>(1u << (index % 8));
    put_bytes(log, 516, bitmap);
    const std::size_t data_at = (516 + bitmap_length + 511) / 512 * 512;
    log.resize(data_at, 0xAA);
    for (const auto& [index, data] : sectors) {
        ByteVector sector = data;
        sector.resize(512, 0);
        put_bytes(log, log.size(), sector);
    }
    return log;
}

}  // namespace orvane::testing
