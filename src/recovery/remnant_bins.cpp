#include "recovery/remnant_bins.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::recovery {

namespace {

namespace layout = hive::layout;

constexpr std::uint64_t bin_granularity = 4096;

// The bin whose range [key, key + size) holds `at`, in `bins` sorted by `key`.
template <class Key>
const RemnantBin* covering(const std::vector<RemnantBin>& bins, std::uint64_t at, Key key) noexcept {
    auto after = std::upper_bound(bins.begin(), bins.end(), at,
                                  [&](std::uint64_t value, const RemnantBin& bin) { return value < key(bin); });
    if (after == bins.begin()) return nullptr;
    const RemnantBin& bin = *(after - 1);
    return at - key(bin) < bin.size ? &bin : nullptr;
}

}  // namespace

RemnantBins RemnantBins::find(utils::ByteView area, std::uint64_t bins_end) {
    RemnantBins found;
    const std::uint64_t length = area.size();
    std::uint64_t at = (bins_end + bin_granularity - 1) / bin_granularity * bin_granularity;
    while (at < length && length - at >= layout::hbin_header_size) {
        const auto header = area.fixed_at<layout::hbin_header_size>(at);
        std::uint64_t step = bin_granularity;
        if (header && header->view().has_signature(0, layout::hbin_signature_bytes)) {
            const std::uint32_t field = header->u32<layout::hbin_offset>();
            const std::uint32_t size = header->u32<layout::hbin_size>();
            if (field % bin_granularity == 0 && size != 0 && size % bin_granularity == 0 && size <= length - at &&
                std::uint64_t{field} + size <= std::uint64_t{layout::largest_cell_offset} + 1) {
                found.bins_.push_back({at, field, size});
                step = size;
            }
        }
        at += step;
    }
    for (const RemnantBin& bin : found.bins_) {
        if (bin.offset_field == bin.position) continue;
        found.by_field_.push_back(bin);
    }
    // Two bins claiming one offset: the first in the file wins, and overlaps are dropped.
    std::stable_sort(found.by_field_.begin(), found.by_field_.end(),
                     [](const RemnantBin& a, const RemnantBin& b) { return a.offset_field < b.offset_field; });
    std::vector<RemnantBin> disjoint;
    for (const RemnantBin& bin : found.by_field_) {
        if (disjoint.empty() ||
            std::uint64_t{disjoint.back().offset_field} + disjoint.back().size <= bin.offset_field) {
            disjoint.push_back(bin);
        }
    }
    found.by_field_ = std::move(disjoint);
    return found;
}

RemnantBins RemnantBins::of(const hive::Hive& hive) {
    const utils::ByteView area = utils::ByteView(hive.data()).rest(layout::base_block_size);
    const std::uint64_t recorded = hive.base_block().hive_bins_data_size;
    return find(area, recorded != 0 && recorded <= area.size() ? recorded : area.size());
}

std::uint64_t RemnantBins::total_size() const noexcept {
    std::uint64_t total = 0;
    for (const RemnantBin& bin : bins_) total += bin.size;
    return total;
}

const RemnantBin* RemnantBins::moved_bin_at(std::uint64_t position) const noexcept {
    if (by_field_.empty()) return nullptr;
    const RemnantBin* bin = covering(bins_, position, [](const RemnantBin& b) { return b.position; });
    return bin && bin->offset_field != bin->position ? bin : nullptr;
}

std::uint32_t RemnantBins::resolve(std::uint32_t holder, std::uint32_t reference) const noexcept {
    if (reference == no_cell || !moved_bin_at(holder)) return reference;
    const RemnantBin* target = covering(by_field_, reference, [](const RemnantBin& b) { return b.offset_field; });
    if (!target) return 0;
    return static_cast<std::uint32_t>(target->position + (reference - target->offset_field));
}

std::uint64_t RemnantBins::reach(std::uint32_t holder, std::uint64_t area_size) const noexcept {
    // Nothing tells how large the hive a moved bin came from was.
    return moved_bin_at(holder) ? std::max<std::uint64_t>(area_size, std::uint64_t{layout::largest_cell_offset} + 1)
                                : area_size;
}

}  // namespace orvane::recovery
