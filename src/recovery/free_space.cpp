#include "recovery/free_space.hpp"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "hive/layout.hpp"
#include "value/registry_value.hpp"
#include "key/key_node.hpp"

namespace orvane::recovery {

namespace {

namespace layout = hive::layout;

constexpr std::uint64_t bin_granularity = 4096;
constexpr std::uint64_t cell_alignment = 8;
// Slack too short to hold the smallest record (a value record with its size
// word) is not worth a span.
constexpr std::uint64_t smallest_record = layout::cell_size_word + value::vk_layout::minimum_size;

// The bytes of an allocated cell's payload that its record uses, when known.
std::optional<std::uint64_t> used_length(utils::ByteView payload, const std::uint32_t* known) {
    if (known) return *known;
    const auto u16_at = [&](std::size_t at) -> std::optional<std::uint64_t> {
        if (auto value = payload.u16(at)) return *value;
        return std::nullopt;
    };
    const auto plus = [](std::uint64_t fixed, std::uint64_t each, std::optional<std::uint64_t> count) {
        return count ? std::optional<std::uint64_t>(fixed + each * *count) : std::nullopt;
    };
    if (payload.has_signature(0, key::nk_layout::signature) && payload.size() >= key::nk_layout::fixed_size) {
        return plus(key::nk_layout::name, 1, u16_at(key::nk_layout::name_length));
    }
    if (payload.has_signature(0, value::vk_layout::signature) && payload.size() >= value::vk_layout::minimum_size) {
        return plus(value::vk_layout::name, 1, u16_at(value::vk_layout::name_length));
    }
    if (payload.has_signature(0, "lf") || payload.has_signature(0, "lh")) return plus(4, 8, u16_at(2));
    if (payload.has_signature(0, "li") || payload.has_signature(0, "ri")) return plus(4, 4, u16_at(2));
    // A security record: 20 bytes of header, then the descriptor of the size given at 16.
    if (payload.has_signature(0, "sk")) {
        if (auto size = payload.u32(16)) return 20 + std::uint64_t{*size};
        return std::nullopt;
    }
    if (payload.has_signature(0, value::db_layout::signature)) return value::db_layout::minimum_size;
    return std::nullopt;
}

class Mapper {
public:
    Mapper(utils::ByteView area, const OffsetTable& used_lengths) : area_(area), used_(used_lengths) {}

    void add(std::uint64_t begin, std::uint64_t end, Place place) {
        if (end > begin) spans_.push_back({begin, end, place});
    }

    // The cells of the bin [begin, end), after its header.
    void walk_bin(std::uint64_t begin, std::uint64_t end) {
        std::uint64_t at = begin + layout::hbin_header_size;
        while (at + layout::cell_size_word <= end) {
            const auto stored = area_.u32(at);
            if (!stored) return add(at, end, Place::Unallocated);
            const auto word = static_cast<std::int32_t>(*stored);
            const std::uint64_t size = static_cast<std::uint64_t>(std::llabs(std::int64_t{word}));
            if (size < cell_alignment || size % cell_alignment != 0 || size > end - at) {
                // No cell can be told apart from here on.
                return add(at, end, Place::Unallocated);
            }
            if (word > 0) {
                add(at, at + size, Place::FreeCell);
            } else {
                const utils::ByteView payload = area_.rest(at + layout::cell_size_word).first(size - layout::cell_size_word);
                const auto used = used_length(payload, known_length(static_cast<std::uint32_t>(at)));
                if (used && *used <= payload.size() && payload.size() - *used >= smallest_record) {
                    add(at + layout::cell_size_word + *used, at + size, Place::Slack);
                }
            }
            at += size;
        }
    }

    std::vector<Span> take() { return std::move(spans_); }

private:
    // Cells are visited in file order, so the table is read with a cursor.
    const std::uint32_t* known_length(std::uint32_t offset) {
        while (next_ < used_.size() && used_[next_].first < offset) ++next_;
        return next_ < used_.size() && used_[next_].first == offset ? &used_[next_].second : nullptr;
    }

    utils::ByteView area_;
    const OffsetTable& used_;
    std::size_t next_ = 0;
    std::vector<Span> spans_;
};

bool is_bin_header(utils::ByteView area, std::uint64_t at, std::uint64_t& size) {
    const auto header = area.fixed_at<layout::hbin_header_size>(at);
    if (!header || !header->view().has_signature(0, layout::hbin_signature_bytes)) return false;
    size = header->u32<layout::hbin_size>();
    return header->u32<layout::hbin_offset>() == at && size != 0 && size % bin_granularity == 0 &&
           size <= area.size() - at;
}

}  // namespace

FreeSpace FreeSpace::map(utils::ByteView area, std::uint64_t recorded_size, const OffsetTable& used_lengths) {
    const std::uint64_t length = area.size();
    // A recorded size of 0 or past the image leaves the bins to be found as far as the image goes.
    const std::uint64_t bins_end = recorded_size != 0 && recorded_size <= length ? recorded_size : length;
    Mapper mapper(area, used_lengths);
    std::uint64_t at = 0;
    while (at < bins_end) {
        std::uint64_t size = 0;
        if (is_bin_header(area, at, size)) {
            mapper.walk_bin(at, at + size);
            at += size;
        } else {
            const std::uint64_t end = std::min(at + bin_granularity, bins_end);
            mapper.add(at, end, Place::Unallocated);
            at = end;
        }
    }
    // Whatever follows the hive bins data: bins of a once larger hive, or nothing.
    mapper.add(at, length, Place::Unallocated);
    FreeSpace space;
    space.spans_ = mapper.take();
    return space;
}

const Span* FreeSpace::holding(std::uint64_t offset, std::uint64_t length) const noexcept {
    auto after = std::upper_bound(spans_.begin(), spans_.end(), offset,
                                  [](std::uint64_t at, const Span& span) { return at < span.begin; });
    if (after == spans_.begin()) return nullptr;
    const Span& span = *(after - 1);
    return offset < span.end && length <= span.end - offset ? &span : nullptr;
}

}  // namespace orvane::recovery
