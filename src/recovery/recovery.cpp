#include "recovery/recovery.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hive/layout.hpp"
#include "key/registry_key.hpp"
#include "recovery/live_set.hpp"
#include "recovery/plausible_records.hpp"
#include "subkey_list/subkey_list.hpp"

namespace orvane::recovery {

namespace {

namespace layout = hive::layout;
namespace nk = key::nk_layout;
namespace vk = value::vk_layout;
namespace db = value::db_layout;

constexpr std::uint64_t cell_alignment = 8;
constexpr std::uint32_t legacy_minor_version = 3;  // hives without big-data records
constexpr unsigned deepest_subkey_list = 2;  // a root index naming leaves

// A two-byte signature as the little-endian word it is stored as.
constexpr std::uint16_t signature_word(std::string_view signature) noexcept {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(signature[0]) |
                                      static_cast<std::uint8_t>(signature[1]) << 8);
}

constexpr std::uint64_t align_up(std::uint64_t value) noexcept {
    return (value + cell_alignment - 1) / cell_alignment * cell_alignment;
}

// Whether a record found in free space is a stale copy of a live one.
class CopyCheck {
public:
    CopyCheck(const hive::Hive& hive, const LiveSet& live) : hive_(hive), live_(live) {}

    // Equal in name and last-written time to a live subkey of its live parent
    // (at `parent`, the parent field as it resolves in this file).
    bool of_live_key(const key::KeyNode& node, std::uint32_t parent) {
        if (!live_.keys.contains(parent)) return false;
        auto found = children_.find(parent);
        if (found == children_.end()) found = children_.emplace(parent, live_children(parent)).first;
        return std::any_of(found->second.begin(), found->second.end(), [&](const key::KeyNode& child) {
            return child.last_written == node.last_written && child.name == node.name;
        });
    }

    // Equal to the live value record that names the same data cell (at
    // `data`, the data offset as it resolves in this file).
    bool of_live_value(const value::RegistryValue& value, std::uint32_t data) const {
        if (value.data_size <= vk::inline_data_limit) return false;
        const std::uint32_t* owner = find_in(live_.data_owners, data);
        if (!owner) return false;
        const auto cell = hive_.get_cell(*owner);
        if (!cell) return false;
        const auto live = value::decode_value_record(*cell, hive_);
        return live && live->name == value.name && live->value_type.code() == value.value_type.code() &&
               live->data_size == value.data_size && live->flags == value.flags;
    }

private:
    std::vector<key::KeyNode> live_children(std::uint32_t parent) const {
        std::vector<key::KeyNode> children;
        const auto key = hive_.get_key(parent);
        if (!key || key->node().subkey_count == 0) return children;
        std::vector<std::uint32_t> offsets;
        (void)key->collect_subkey_offsets(key->node().subkey_list_offset, offsets);
        for (const std::uint32_t offset : offsets) {
            if (auto child = hive_.get_key(offset)) children.push_back(child->node());
        }
        return children;
    }

    const hive::Hive& hive_;
    const LiveSet& live_;
    std::unordered_map<std::uint32_t, std::vector<key::KeyNode>> children_;
};

}  // namespace

Recovery Recovery::scan(const hive::Hive& hive) {
    Recovery found(hive);
    found.area_ = utils::ByteView(hive.data()).rest(layout::base_block_size);
    const utils::ByteView area = found.area_;
    const LiveSet live = LiveSet::find(hive);
    const std::uint64_t recorded = hive.base_block().hive_bins_data_size;
    found.space_ = FreeSpace::map(area, recorded, live.used_lengths);
    found.remnants_ = RemnantBins::of(hive);
    CopyCheck copies(hive, live);

    for (const Span& span : found.space_.spans()) {
        // A record starts 4 bytes into its 8-byte-aligned cell.
        std::uint64_t at = align_up(std::max<std::uint64_t>(span.begin, layout::cell_size_word) - layout::cell_size_word);
        while (at <= layout::largest_cell_offset &&
               at + layout::cell_size_word + vk::minimum_size <= span.end) {
            const auto offset = static_cast<std::uint32_t>(at);
            const std::uint64_t start = at + layout::cell_size_word;
            // Most places hold neither record: one word read passes them over.
            const auto word = area.u16(start);
            const bool key = word && *word == signature_word(nk::signature);
            if (!key && !(word && *word == signature_word(vk::signature))) {
                at += cell_alignment;
                continue;
            }
            const utils::ByteView record = found.record_at(offset, span.end);
            std::uint64_t used = 0;
            if (key) {
                if (auto node = plausible_key_node(record, found.reach(offset))) {
                    used = used_length(*node);
                    if (!live.keys.contains(offset) &&
                        !copies.of_live_key(*node, found.resolve(offset, node->parent_offset))) {
                        found.keys_.push_back({offset, span.place, std::move(*node)});
                    }
                }
            } else {
                if (auto value = plausible_value(record, found.reach(offset), hive)) {
                    used = used_length(*value);
                    if (!live.values.contains(offset) &&
                        !copies.of_live_value(*value, found.resolve(offset, value->data_offset))) {
                        found.values_.push_back({offset, span.place, std::move(*value)});
                    }
                }
            }
            // Records do not overlap: the next one starts behind this one.
            at = used == 0 ? at + cell_alignment : align_up(start + used);
        }
    }
    return found;
}

std::uint64_t Recovery::memory_size() const noexcept {
    std::uint64_t size = sizeof(Recovery) + keys_.capacity() * sizeof(DeletedKey) +
                         values_.capacity() * sizeof(DeletedValue) + space_.spans().size() * sizeof(Span);
    // Names beyond what a string holds in place.
    for (const DeletedKey& key : keys_) size += key.node.name.capacity();
    for (const DeletedValue& value : values_) size += value.value.name.capacity();
    return size;
}

utils::ByteView Recovery::record_at(std::uint32_t offset, std::uint64_t end) const {
    const std::uint64_t start = std::uint64_t{offset} + layout::cell_size_word;
    return utils::ByteView(area_.rest(start).first(end - start).bytes(), offset);
}

std::optional<std::pair<utils::ByteView, Place>> Recovery::free_record(std::uint32_t offset,
                                                                       std::uint64_t minimum) const {
    if (!sane_cell_offset(offset, area_.size())) return std::nullopt;
    const Span* span = space_.holding(std::uint64_t{offset} + layout::cell_size_word, minimum);
    if (!span) return std::nullopt;
    return std::make_pair(record_at(offset, span->end), span->place);
}

std::optional<utils::ByteView> Recovery::free_cell(std::uint32_t offset, std::uint64_t minimum) const {
    if (!sane_cell_offset(offset, area_.size())) return std::nullopt;
    const auto word = area_.u32(offset);
    if (!word) return std::nullopt;
    const std::uint64_t size = static_cast<std::uint64_t>(std::llabs(std::int64_t{static_cast<std::int32_t>(*word)}));
    if (size < layout::cell_size_word + minimum || !space_.holding(offset, size)) return std::nullopt;
    return record_at(offset, std::uint64_t{offset} + size);
}

std::optional<DeletedKey> Recovery::key_at(std::uint32_t offset) const {
    const auto record = free_record(offset, nk::fixed_size);
    if (!record) return std::nullopt;
    auto node = plausible_key_node(record->first, reach(offset));
    if (!node) return std::nullopt;
    return DeletedKey{offset, record->second, std::move(*node)};
}

std::vector<DeletedValue> Recovery::values_of(const DeletedKey& key) const {
    std::vector<DeletedValue> values;
    const key::KeyNode& node = key.node;
    if (node.value_count == 0) return values;
    const std::uint32_t list_offset = resolve(key.offset, node.value_list_offset);
    const auto list = free_cell(list_offset, std::uint64_t{node.value_count} * 4);
    if (!list) return values;
    for (std::uint32_t i = 0; i < node.value_count; ++i) {
        // The cell holds `value_count` entries.
        const std::uint32_t offset = resolve(list_offset, *list->u32(4 * std::uint64_t{i}));
        const auto record = free_record(offset, vk::minimum_size);
        if (!record) continue;
        if (auto value = plausible_value(record->first, reach(offset), *hive_)) {
            values.push_back({offset, record->second, std::move(*value)});
        }
    }
    return values;
}

std::vector<DeletedKey> Recovery::subkeys_of(std::uint32_t offset, const key::KeyNode& node) const {
    std::vector<DeletedKey> keys;
    if (node.subkey_count == 0) return keys;
    std::unordered_set<std::uint32_t> lists_read;
    collect_subkeys(offset, resolve(offset, node.subkey_list_offset), 0, lists_read, keys);
    return keys;
}

void Recovery::collect_subkeys(std::uint32_t parent, std::uint32_t list_offset, unsigned depth,
                               std::unordered_set<std::uint32_t>& lists_read, std::vector<DeletedKey>& keys) const {
    if (depth >= deepest_subkey_list || !lists_read.insert(list_offset).second) return;
    const auto payload = free_cell(list_offset, 4);
    if (!payload) return;
    const auto list = subkey_list::decode_subkey_list(payload->bytes(), list_offset);
    if (!list) return;
    const auto add_key = [&](std::uint32_t key_offset) {
        // A subkey whose parent field names another key is someone else's.
        auto key = key_at(resolve(list_offset, key_offset));
        if (key && resolve(key->offset, key->node.parent_offset) == parent) keys.push_back(std::move(*key));
    };
    if (const auto* leaf = std::get_if<subkey_list::IndexLeaf>(&*list)) {
        for (const std::uint32_t key_offset : leaf->key_offsets) add_key(key_offset);
    } else if (const auto* hashed = std::get_if<subkey_list::HashLeaf>(&*list)) {
        for (const auto& entry : hashed->entries) add_key(entry.first);
    } else {
        for (const std::uint32_t child : std::get<subkey_list::RootIndex>(*list).list_offsets) {
            collect_subkeys(parent, resolve(list_offset, child), depth + 1, lists_read, keys);
        }
    }
}

std::optional<std::vector<std::uint8_t>> Recovery::data_of(const DeletedValue& found) const {
    const value::RegistryValue& value = found.value;
    const std::uint32_t size = value.data_size;
    if (size <= vk::inline_data_limit) {
        // Held in the offset field itself, low-order byte first.
        std::uint8_t field[4];
        utils::store_u32(field, value.data_offset);
        return std::vector<std::uint8_t>(field, field + size);
    }
    const std::uint32_t data_offset = resolve(found.offset, value.data_offset);
    const auto single = free_cell(data_offset, size);
    const bool big_data_record = single && single->has_signature(0, db::signature);
    const bool legacy = hive_->base_block().minor_version <= legacy_minor_version;
    if (size <= vk::largest_single_cell || (legacy && single && !big_data_record)) {
        if (!single) return std::nullopt;
        const utils::Bytes data = single->first(size).bytes();
        return std::vector<std::uint8_t>(data.begin(), data.end());
    }

    // Big data: the "db" record, its segment list and every segment must still be free.
    const auto cell = free_cell(data_offset, db::minimum_size);
    if (!cell || !cell->has_signature(0, db::signature)) return std::nullopt;
    const auto record = cell->fixed<db::minimum_size>();
    if (!record) return std::nullopt;
    const std::uint32_t count = record->u16<db::segment_count>();
    const std::uint32_t list_offset = resolve(data_offset, record->u32<db::segment_list_offset>());
    const auto segments = free_cell(list_offset, std::uint64_t{count} * 4);
    if (!segments) return std::nullopt;
    std::vector<std::uint8_t> data;
    for (std::uint32_t i = 0; i < count && data.size() < size; ++i) {
        const std::size_t wanted = std::min<std::size_t>(size - data.size(), vk::largest_single_cell);
        const std::uint32_t segment_offset = *segments->u32(4 * std::uint64_t{i}) & db::segment_offset_mask;
        const auto segment = free_cell(resolve(list_offset, segment_offset), wanted);
        if (!segment) return std::nullopt;
        const utils::Bytes bytes = segment->first(wanted).bytes();
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    if (data.size() < size) return std::nullopt;  // segments are missing
    return data;
}

}  // namespace orvane::recovery
