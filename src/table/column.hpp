#pragma once
// One column of a record batch, built row by row in the memory layout of
// Arrow's columnar format, so that handing it to an Arrow library copies
// nothing: a validity bitmap (made only once a null is appended), fixed-width
// values or bits, and for variable-length rows 32-bit offsets into their bytes.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "table/pod_buffer.hpp"

namespace orvane::table {

enum class ColumnType : std::uint8_t {
    Bool,
    UInt16,
    UInt32,
    UInt64,
    Timestamp,       // microseconds since 1970-01-01 UTC, signed 64-bit
    Utf8,
    Binary,
    Utf8List,        // list<utf8>: offsets into the child column's rows
    Utf8Dictionary,  // int32 indices into a utf8 dictionary (the child column)
};

// What the offsets of one column can address.
inline constexpr std::size_t largest_column_bytes = 0x7FFFFFFF;

// How long a column's buffers grew, to reserve the next batch's at once.
struct ColumnSizes {
    std::size_t validity = 0;
    std::size_t values = 0;
    std::size_t offsets = 0;
    std::size_t bytes = 0;
    std::size_t child_offsets = 0;
    std::size_t child_bytes = 0;
};

class Column {
public:
    explicit Column(ColumnType type);
    Column(Column&&) noexcept = default;
    Column& operator=(Column&&) noexcept = default;

    ColumnType type() const noexcept { return type_; }
    std::int64_t length() const noexcept { return length_; }
    std::int64_t null_count() const noexcept { return null_count_; }

    // Inlined though long: the tables append two or three nulls a value row.
    [[gnu::always_inline]] void append_null() {
        if (validity_.empty()) start_validity();
        push_validity(false);
        ++null_count_;
        switch (type_) {
            case ColumnType::Bool: push_bit(values_, length_, false); break;
            case ColumnType::UInt16: values_.append_value(std::uint16_t{0}); break;
            case ColumnType::UInt32:
            case ColumnType::Utf8Dictionary: values_.append_value(std::uint32_t{0}); break;
            case ColumnType::UInt64:
            case ColumnType::Timestamp: values_.append_value(std::uint64_t{0}); break;
            case ColumnType::Utf8:
            case ColumnType::Binary:
            case ColumnType::Utf8List: offsets_.push_back(offsets_.back()); break;
        }
        ++length_;
    }
    void append_bool(bool value) {
        push_bit(values_, length_, value);
        mark_valid();
    }
    void append_u16(std::uint16_t value) { append_fixed(value); }
    void append_u32(std::uint32_t value) { append_fixed(value); }
    void append_u64(std::uint64_t value) { append_fixed(value); }
    void append_timestamp(std::int64_t micros) { append_fixed(micros); }
    // Utf8 and Binary rows. The caller keeps a column's bytes within
    // largest_column_bytes (see fits()).
    void append_bytes(std::span<const std::uint8_t> bytes) {
        bytes_.append(bytes.data(), bytes.size());
        end_offsets(bytes_.size());
    }
    void append_text(std::string_view text) {
        append_bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    }
    // A Utf8List row.
    void append_texts(std::span<const std::string_view> texts);
    // A Utf8Dictionary row: `key` tells entries apart, `text` is what a new
    // key puts in the dictionary.
    void append_dictionary(std::uint32_t key, std::string_view text) {
        // The value types a hive uses are mostly the dozen small codes: those
        // are found in a table, others by hashing.
        std::int32_t index = key < small_keys ? small_entries_[key] : -1;
        if (index < 0) index = find_entry(key, text);
        append_fixed(index);
    }

    // Batches of a table are alike: each reserves what the one before it
    // filled, so its buffers do not grow (copying) row by row.
    ColumnSizes sizes() const noexcept;
    void reserve(const ColumnSizes& sizes);
    // Gives back what a reserve left unused (a batch shorter than the one
    // before it), so a kept batch holds at most about twice its bytes, as
    // growth by doubling leaves it.
    void trim();

    // Whether `extra` more bytes still fit the offsets (Utf8, Binary).
    bool fits(std::size_t extra) const noexcept { return bytes_.size() + extra <= largest_column_bytes; }

    // Reading back (rows below length()).
    bool is_null(std::int64_t row) const noexcept;
    bool bool_at(std::int64_t row) const noexcept;
    std::uint64_t unsigned_at(std::int64_t row) const noexcept;  // UInt16/32/64
    std::int64_t timestamp_at(std::int64_t row) const noexcept;
    std::span<const std::uint8_t> bytes_at(std::int64_t row) const noexcept;  // Utf8, Binary
    std::string_view text_at(std::int64_t row) const noexcept;
    // Utf8List: the child rows [first, second); Utf8Dictionary: the index.
    std::pair<std::int32_t, std::int32_t> list_at(std::int64_t row) const noexcept;
    std::int32_t index_at(std::int64_t row) const noexcept;

    // The buffers as Arrow lays them out.
    const PodBuffer<std::uint8_t>& validity() const noexcept { return validity_; }
    const PodBuffer<std::uint8_t>& values() const noexcept { return values_; }
    const PodBuffer<std::int32_t>& offsets() const noexcept { return offsets_; }
    const PodBuffer<std::uint8_t>& bytes() const noexcept { return bytes_; }
    // The list items or the dictionary; null for the other types.
    const Column* child() const noexcept { return child_.get(); }
    std::unique_ptr<Column> take_child() noexcept { return std::move(child_); }

private:
    template <class T>
    void append_fixed(T value) {
        values_.append_value(value);
        mark_valid();
    }
    // The index of `key`'s dictionary entry, added when new.
    std::int32_t find_entry(std::uint32_t key, std::string_view text);
    template <class T>
    T fixed_at(std::int64_t row) const noexcept;
    // Most columns have no nulls, and so no bitmap to keep.
    void mark_valid() {
        if (!validity_.empty()) push_validity(true);
        ++length_;
    }
    // The bitmap made on the first null: every row before it was valid.
    void start_validity();
    void push_validity(bool valid) { push_bit(validity_, length_, valid); }
    // The bit of the row after the last, appended: rows only ever come at the
    // end, so a new byte starts every eighth row and earlier bits never change.
    static void push_bit(PodBuffer<std::uint8_t>& bits, std::int64_t index, bool value) {
        if (index % 8 == 0) bits.push_back(0);
        if (value) bits.back() = static_cast<std::uint8_t>(bits.back() | (1u << (index % 8)));
    }
    // Rows are appended in the table's hot loop, so these stay inline.
    void end_offsets(std::size_t end) {
        offsets_.push_back(static_cast<std::int32_t>(end));
        mark_valid();
    }

    ColumnType type_;
    std::int64_t length_ = 0;
    std::int64_t null_count_ = 0;
    PodBuffer<std::uint8_t> validity_;  // one bit a row, made on the first null
    PodBuffer<std::uint8_t> values_;    // fixed widths, bits, dictionary indices
    PodBuffer<std::int32_t> offsets_;   // length() + 1 entries for offset types
    PodBuffer<std::uint8_t> bytes_;
    std::unique_ptr<Column> child_;
    static constexpr std::uint32_t small_keys = 16;
    std::array<std::int32_t, small_keys> small_entries_;  // -1: none yet
    std::unordered_map<std::uint32_t, std::int32_t> dictionary_keys_;  // the larger keys
};

// A record batch: equally long columns, in the order of the table's fields.
struct Batch {
    std::int64_t rows = 0;
    std::vector<Column> columns;
};

}  // namespace orvane::table
