#include "recovery/live_set.hpp"

#include <algorithm>

#include "hive/key_walk.hpp"
#include "hive/layout.hpp"
#include "key/key_node.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::recovery {

namespace {

namespace vk = hive::vk_layout;


void sort_table(OffsetTable& table) {
    std::sort(table.begin(), table.end());
    table.erase(std::unique(table.begin(), table.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                table.end());
}

// The value records of one key: their offsets, the value list's used length,
// and each single data cell's used length and owner.
void add_values(const hive::Hive& hive, std::uint32_t count, std::uint32_t list_offset, LiveSet& live,
                hive::OffsetSet& lists_read) {
    if (count == 0 || list_offset == 0 || list_offset == no_cell || !lists_read.insert(list_offset)) return;
    const auto list = hive.get_cell(list_offset);
    if (!list || list->size() / 4 < count) return;
    live.used_lengths.emplace_back(list_offset, count * 4);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t vk_offset = *list->u32(4 * std::uint64_t{i});  // the list holds `count` entries
        if (!live.values.insert(vk_offset)) continue;
        const auto cell = hive.get_cell(vk_offset);
        if (!cell || !cell->has_signature(0, vk::signature)) continue;
        const auto record = cell->fixed<vk::minimum_size>();
        if (!record) continue;
        const std::uint32_t size = record->u32<vk::data_size>() & vk::data_size_mask;
        const std::uint32_t data_offset = record->u32<vk::data_offset>();
        if (size <= vk::inline_data_limit || data_offset == 0 || data_offset == no_cell) continue;
        live.data_owners.emplace_back(data_offset, vk_offset);
        // Big data spreads over several cells; only a single cell's use is known here.
        if (size <= vk::largest_single_cell) live.used_lengths.emplace_back(data_offset, size);
    }
}

}  // namespace

LiveSet LiveSet::find(const hive::Hive& hive) {
    LiveSet live(hive.data().size());
    // Keys sharing a value list share its entries: each list is read once.
    hive::OffsetSet value_lists_read(hive.data().size());
    if (auto root = hive.get_key(hive.base_block().root_cell_offset)) {
        hive::KeyWalk walk(std::move(*root));
        for (;;) {
            const auto step = walk.next();
            if (!step) continue;  // a key whose subkeys cannot be read: the walk goes on with the next
            if (!*step) break;
            const key::KeyNode& node = walk.key().node();
            live.keys.insert(walk.key().offset());
            add_values(hive, node.value_count, node.value_list_offset, live, value_lists_read);
        }
    }
    sort_table(live.used_lengths);
    sort_table(live.data_owners);
    return live;
}

const std::uint32_t* find_in(const OffsetTable& table, std::uint32_t offset) noexcept {
    const auto it = std::lower_bound(table.begin(), table.end(), std::make_pair(offset, std::uint32_t{0}));
    return it != table.end() && it->first == offset ? &it->second : nullptr;
}

}  // namespace orvane::recovery
