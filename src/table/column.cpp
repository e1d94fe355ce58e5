#include "table/column.hpp"

#include <algorithm>
#include <cstring>

namespace orvane::table {

namespace {

bool has_offsets(ColumnType type) noexcept {
    return type == ColumnType::Utf8 || type == ColumnType::Binary || type == ColumnType::Utf8List;
}

bool get_bit(const PodBuffer<std::uint8_t>& bits, std::int64_t index) noexcept {
    return (bits[static_cast<std::size_t>(index / 8)] >> (index % 8)) & 1u;
}

}  // namespace

Column::Column(ColumnType type) : type_(type) {
    small_entries_.fill(-1);
    if (has_offsets(type)) offsets_.push_back(0);
    if (type == ColumnType::Utf8List || type == ColumnType::Utf8Dictionary) {
        child_ = std::make_unique<Column>(ColumnType::Utf8);
    }
}

ColumnSizes Column::sizes() const noexcept {
    ColumnSizes sizes{validity_.size(), values_.size(), offsets_.size(), bytes_.size(), 0, 0};
    if (child_) {
        sizes.child_offsets = child_->offsets_.size();
        sizes.child_bytes = child_->bytes_.size();
    }
    return sizes;
}

void Column::reserve(const ColumnSizes& sizes) {
    // A batch cut short by one huge value says little of the next one's bytes.
    constexpr std::size_t most = std::size_t{16} << 20;
    validity_.reserve(std::min(sizes.validity, most));
    values_.reserve(std::min(sizes.values, most));
    offsets_.reserve(std::min(sizes.offsets, most / sizeof(std::int32_t)));
    bytes_.reserve(std::min(sizes.bytes, most));
    // A dictionary's few entries come again with each batch; a list's items grow with it.
    if (child_ && type_ == ColumnType::Utf8List) {
        child_->offsets_.reserve(std::min(sizes.child_offsets, most / sizeof(std::int32_t)));
        child_->bytes_.reserve(std::min(sizes.child_bytes, most));
    }
}

void Column::trim() {
    validity_.shrink();
    values_.shrink();
    offsets_.shrink();
    bytes_.shrink();
    if (child_) child_->trim();
}

void Column::start_validity() {
    validity_.assign(static_cast<std::size_t>((length_ + 7) / 8), 0xFF);
    if (length_ % 8 != 0) validity_.back() = static_cast<std::uint8_t>((1u << (length_ % 8)) - 1);
}

void Column::append_texts(std::span<const std::string_view> texts) {
    for (std::string_view text : texts) child_->append_text(text);
    end_offsets(static_cast<std::size_t>(child_->length()));
}

std::int32_t Column::find_entry(std::uint32_t key, std::string_view text) {
    const auto next = static_cast<std::int32_t>(child_->length());
    if (key < small_keys) {
        child_->append_text(text);
        return small_entries_[key] = next;
    }
    auto [entry, added] = dictionary_keys_.try_emplace(key, next);
    if (added) child_->append_text(text);
    return entry->second;
}

bool Column::is_null(std::int64_t row) const noexcept { return !validity_.empty() && !get_bit(validity_, row); }

bool Column::bool_at(std::int64_t row) const noexcept { return get_bit(values_, row); }

template <class T>
T Column::fixed_at(std::int64_t row) const noexcept {
    T value;
    std::memcpy(&value, values_.data() + static_cast<std::size_t>(row) * sizeof(T), sizeof(T));
    return value;
}

std::uint64_t Column::unsigned_at(std::int64_t row) const noexcept {
    switch (type_) {
        case ColumnType::UInt16: return fixed_at<std::uint16_t>(row);
        case ColumnType::UInt32: return fixed_at<std::uint32_t>(row);
        default: return fixed_at<std::uint64_t>(row);
    }
}

std::int64_t Column::timestamp_at(std::int64_t row) const noexcept { return fixed_at<std::int64_t>(row); }

std::span<const std::uint8_t> Column::bytes_at(std::int64_t row) const noexcept {
    const auto begin = static_cast<std::size_t>(offsets_[static_cast<std::size_t>(row)]);
    const auto end = static_cast<std::size_t>(offsets_[static_cast<std::size_t>(row) + 1]);
    return std::span<const std::uint8_t>(bytes_.data(), bytes_.size()).subspan(begin, end - begin);
}

std::string_view Column::text_at(std::int64_t row) const noexcept {
    const auto bytes = bytes_at(row);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::pair<std::int32_t, std::int32_t> Column::list_at(std::int64_t row) const noexcept {
    return {offsets_[static_cast<std::size_t>(row)], offsets_[static_cast<std::size_t>(row) + 1]};
}

std::int32_t Column::index_at(std::int64_t row) const noexcept { return fixed_at<std::int32_t>(row); }

}  // namespace orvane::table
