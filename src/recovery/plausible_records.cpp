#include "recovery/plausible_records.hpp"

#include <unordered_set>
#include <vector>

#include "hive/layout.hpp"
#include "recovery/remnant_bins.hpp"

namespace orvane::recovery {

namespace {

namespace nk = key::nk_layout;
namespace vk = value::vk_layout;

// Key node flags up to 0x0200 (virtual store) are defined; the rest are unused.
constexpr std::uint16_t known_key_flags = 0x03FF;
// Value record flags: 0x0001 (8-bit name) and 0x0002 (tombstone).
constexpr std::uint16_t known_value_flags = 0x0003;
// Windows limits key names to 255 characters and value names to 16383; in
// bytes that is at most twice as many.
constexpr std::uint16_t longest_key_name = 2 * 255;
constexpr std::uint32_t longest_value_name = 2 * 16383;
constexpr unsigned longest_parent_chain = 512;

// A list offset the node names: "none" (0xFFFFFFFF) is allowed where `optional`.
bool sane_reference(std::uint32_t offset, bool optional, std::uint64_t area_size) noexcept {
    return (optional && offset == no_cell) || sane_cell_offset(offset, area_size);
}

}  // namespace

bool sane_cell_offset(std::uint32_t offset, std::uint64_t area_size) noexcept {
    return offset != 0 && offset % 8 == 0 && std::uint64_t{offset} + hive::layout::cell_size_word <= area_size;
}

std::optional<key::KeyNode> plausible_key_node(utils::ByteView record, std::uint64_t area_size) {
    const auto fixed = record.fixed<nk::fixed_size>();
    if (!fixed || !record.has_signature(0, nk::signature)) return std::nullopt;
    const std::uint16_t flags = fixed->u16<nk::flags>();
    const std::uint16_t name_length = fixed->u16<nk::name_length>();
    if ((flags & ~known_key_flags) != 0 || name_length == 0 || name_length > longest_key_name) return std::nullopt;
    auto decoded = key::decode_key_node(record.bytes(), record.origin());  // the name must fit and decode
    if (!decoded) return std::nullopt;
    key::KeyNode& node = *decoded;
    if (node.name.find('\\') != std::string::npos) return std::nullopt;  // the path separator
    // Windows leaves a stale list offset behind a count of 0 (0, or even 2), so
    // offsets are tested only where a count says they are used.
    const bool is_root = (node.flags & root_key_flag) != 0;
    const bool sane = (is_root || sane_cell_offset(node.parent_offset, area_size)) &&
                      (node.subkey_count == 0 || sane_cell_offset(node.subkey_list_offset, area_size)) &&
                      (node.value_count == 0 || (sane_cell_offset(node.value_list_offset, area_size) &&
                                                 std::uint64_t{node.value_count} * 4 <= area_size)) &&
                      sane_reference(node.security_offset, true, area_size) &&
                      sane_reference(node.class_name_offset, node.class_name_length == 0, area_size);
    if (!sane) return std::nullopt;
    return std::move(node);
}

std::optional<value::RegistryValue> plausible_value(utils::ByteView record, std::uint64_t area_size,
                                                   const hive::Hive& hive) {
    const auto fixed = record.fixed<vk::minimum_size>();
    if (!fixed || !record.has_signature(0, vk::signature)) return std::nullopt;
    const std::uint16_t flags = fixed->u16<vk::flags>();
    const std::uint16_t name_length = fixed->u16<vk::name_length>();
    const std::uint32_t stored_size = fixed->u32<vk::data_size>();
    const std::uint32_t size = stored_size & vk::data_size_mask;
    if ((flags & ~known_value_flags) != 0 || name_length > longest_value_name) return std::nullopt;
    // Windows marks data of up to 4 bytes (none included) as held in the
    // offset field. Data without the mark must name its cell, or no cell at
    // all when it is empty; only other writers leave 1 to 4 bytes unmarked.
    const bool marked_inline = (stored_size & vk::inline_data_flag) != 0;
    const std::uint32_t data_offset = fixed->u32<vk::data_offset>();
    if (size > area_size || (marked_inline && size > vk::inline_data_limit)) return std::nullopt;
    if (!marked_inline && size > vk::inline_data_limit && !sane_cell_offset(data_offset, area_size)) return std::nullopt;
    if (!marked_inline && size == 0 && data_offset != no_cell) return std::nullopt;
    auto value = value::decode_value_record(record, hive);
    if (!value) return std::nullopt;
    return std::move(*value);
}

std::optional<key::KeyNode> key_node_at(const hive::Hive& hive, std::uint32_t offset,
                                        std::optional<std::uint64_t> reach) {
    const utils::ByteView image(hive.data());
    const std::uint64_t area_size = image.size() - hive::layout::base_block_size;
    if (!sane_cell_offset(offset, area_size)) return std::nullopt;
    const std::uint64_t record = hive::layout::base_block_size + std::uint64_t{offset} + hive::layout::cell_size_word;
    return plausible_key_node(utils::ByteView(image.rest(record).bytes(), offset), reach.value_or(area_size));
}

std::string partial_path(const hive::Hive& hive, std::uint32_t offset, const key::KeyNode& node,
                         const RemnantBins* remnants) {
    const std::uint32_t root = hive.base_block().root_cell_offset;
    if ((node.flags & root_key_flag) || offset == root) return "";
    const std::uint64_t area_size = hive.data().size() - hive::layout::base_block_size;
    const auto resolve = [&](std::uint32_t holder, std::uint32_t reference) {
        return remnants ? remnants->resolve(holder, reference) : reference;
    };
    std::vector<std::string> names{node.name};
    std::unordered_set<std::uint32_t> met{offset};
    std::uint32_t parent = resolve(offset, node.parent_offset);
    for (unsigned step = 0; step < longest_parent_chain && parent != root && met.insert(parent).second; ++step) {
        auto above = key_node_at(hive, parent, remnants ? remnants->reach(parent, area_size) : area_size);
        if (!above || (above->flags & root_key_flag)) break;
        names.push_back(std::move(above->name));
        parent = resolve(parent, above->parent_offset);
    }
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty()) path += '\\';
        path += *name;
    }
    return path;
}

}  // namespace orvane::recovery
