#include "recovery/live_set.hpp"

#include <algorithm>

#include "hive/layout.hpp"
#include "key/registry_key.hpp"
#include "key/key_node.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::recovery {

namespace {

namespace nk = key::nk_layout;
namespace vk = value::vk_layout;


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

// Not the key walk of src/key: that one decodes every key's name and builds
// every path, which would make this walk cost about twice as much, and it
// drops the keys of a subkey list that fails halfway, which are still live.
LiveSet LiveSet::find(const hive::Hive& hive) {
    LiveSet live(hive.data().size());
    // Keys sharing a list share its entries: each list is read once, so a
    // hive whose keys all name one long list costs no more than one reading.
    hive::OffsetSet subkey_lists_read(hive.data().size());
    hive::OffsetSet value_lists_read(hive.data().size());
    const std::uint32_t root = hive.base_block().root_cell_offset;
    std::vector<std::uint32_t> pending{root};
    live.keys.insert(root);
    std::vector<std::uint32_t> subkeys;
    while (!pending.empty()) {
        const std::uint32_t offset = pending.back();
        pending.pop_back();
        // Only the counts and list offsets are needed: the name is not decoded.
        const auto cell = hive.get_cell(offset);
        if (!cell || !cell->has_signature(0, nk::signature)) continue;
        const auto record = cell->fixed<nk::fixed_size>();
        if (!record) continue;
        key::KeyNode node;
        node.subkey_count = record->u32<nk::subkey_count>();
        node.subkey_list_offset = record->u32<nk::subkey_list_offset>();
        add_values(hive, record->u32<nk::value_count>(), record->u32<nk::value_list_offset>(), live, value_lists_read);
        if (node.subkey_count == 0 || !subkey_lists_read.insert(node.subkey_list_offset)) continue;
        subkeys.clear();
        const key::RegistryKey key(std::move(node), offset, hive);
        // A list that fails halfway still names the keys read before the failure.
        (void)key.collect_subkey_offsets(key.node().subkey_list_offset, subkeys);
        for (const std::uint32_t child : subkeys) {
            if (live.keys.insert(child)) pending.push_back(child);
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
