#include "recovery/orphan_keys.hpp"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "hive/layout.hpp"
#include "key/key_node.hpp"
#include "key/registry_key.hpp"
#include "recovery/live_set.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::recovery {

namespace {

namespace layout = hive::layout;

constexpr std::uint64_t cell_alignment = 8;

bool bin_header_at(utils::ByteView area, std::uint64_t at, std::uint64_t& size) {
    const auto header = area.fixed_at<layout::hbin_header_size>(at);
    if (!header || !header->view().has_signature(0, layout::hbin_signature_bytes)) return false;
    size = header->u32<layout::hbin_size>();
    return header->u32<layout::hbin_offset>() == at && size != 0 && size % hive::hbin_alignment == 0;
}

// Appends the allocated cells of the bin [begin, end) that hold a plausible
// key node outside the live tree.
void scan_bin(const hive::Hive& hive, utils::ByteView area, std::uint64_t begin, std::uint64_t end,
              const hive::OffsetSet& live, std::vector<std::uint32_t>& out) {
    std::uint64_t at = begin + layout::hbin_header_size;
    while (at + layout::cell_size_word <= end) {
        const auto stored = area.u32(at);
        if (!stored) return;
        const auto word = static_cast<std::int32_t>(*stored);
        const std::uint64_t size = static_cast<std::uint64_t>(std::llabs(std::int64_t{word}));
        if (size < cell_alignment || size % cell_alignment != 0) return;  // no cell can be told apart from here on
        const auto offset = static_cast<std::uint32_t>(at);
        if (word < 0 && !live.contains(offset) && area.has_signature(at + layout::cell_size_word, "nk")) {
            // Through get_cell: bytes a tolerant hive skipped are not read.
            if (const auto cell = hive.get_cell(offset)) {
                const auto node = plausible_key_node(utils::ByteView(cell->bytes(), offset), area.size());
                if (node && !(node->flags & root_key_flag)) out.push_back(offset);
            }
        }
        at += size;
    }
}

}  // namespace

std::vector<std::uint32_t> find_orphan_keys(const hive::Hive& hive) {
    const utils::ByteView area = utils::ByteView(hive.data()).rest(layout::base_block_size);
    const LiveSet live = LiveSet::find(hive);
    std::vector<std::uint32_t> orphans;
    const std::uint64_t length = area.size();
    std::uint64_t at = 0;
    while (at < length) {
        std::uint64_t size = 0;
        if (bin_header_at(area, at, size)) {
            // A bin cut short by the end of the file keeps the cells that are there.
            const std::uint64_t end = std::min(length, at + size);
            scan_bin(hive, area, at, end, live.keys, orphans);
            at += size;
        } else {
            at += hive::hbin_alignment;
        }
    }
    return orphans;
}

std::vector<std::uint32_t> orphan_tops(const hive::Hive& hive, const std::vector<std::uint32_t>& orphans) {
    // Orphans are in file order, so membership is a binary search.
    const auto is_orphan = [&](std::uint32_t offset) {
        return std::binary_search(orphans.begin(), orphans.end(), offset);
    };
    // Each parent's list is read once, sorted, however many orphans name it:
    // reading it per child would be quadratic in a parent's subkey count.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> listed_by;
    std::vector<std::uint32_t> tops;
    for (const std::uint32_t offset : orphans) {
        const auto node = key_node_at(hive, offset);
        if (!node || !is_orphan(node->parent_offset)) {
            tops.push_back(offset);
            continue;
        }
        // Below another orphan only when that one's list still names it.
        auto [entry, fresh] = listed_by.try_emplace(node->parent_offset);
        std::vector<std::uint32_t>& children = entry->second;
        if (fresh) {
            if (auto parent = hive.get_key(node->parent_offset);
                parent && parent->node().subkey_count != 0 &&
                !parent->collect_subkey_offsets(parent->node().subkey_list_offset, children)) {
                children.clear();  // a list that cannot be read names no one
            }
            std::sort(children.begin(), children.end());
        }
        if (!std::binary_search(children.begin(), children.end(), offset)) tops.push_back(offset);
    }
    return tops;
}

}  // namespace orvane::recovery
