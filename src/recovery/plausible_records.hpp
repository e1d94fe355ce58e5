#pragma once
// Whether bytes found outside the live tree still hold a key node or a value
// record. Free space is full of old bytes, and bytes that merely start with
// "nk" or "vk" must not come out as records, so a candidate passes only when
// every field the format constrains is sane: its length fits the bytes
// available, its name decodes with the readers used for live records (and,
// for a key, is not empty and holds no backslash), its flags are known, data
// marked as held in the record is at most 4 bytes long, empty data that is
// not so marked names no cell, and the cells it names lie 8-byte aligned
// inside the hive bins area. Timestamps, counts of volatile subkeys and value types are not constrained
// by the format and are not tested.

#include <cstdint>
#include <optional>
#include <string>

#include "hive/hive.hpp"
#include "value/registry_value.hpp"
#include "key/key_node.hpp"
#include "utils/byte_view.hpp"

namespace orvane::recovery {

class RemnantBins;

inline constexpr std::uint32_t no_cell = 0xFFFFFFFF;
inline constexpr std::uint16_t root_key_flag = 0x0004;

// A cell offset that may name a cell: 8-byte aligned, not 0 (the first bin's
// header) and inside an area of `area_size` bytes with room for a size word.
bool sane_cell_offset(std::uint32_t offset, std::uint64_t area_size) noexcept;

// The key node whose record (its payload, from the signature on) starts
// `record`; `record` ends where the space the record may occupy ends, and its
// origin is the record's cell offset.
std::optional<key::KeyNode> plausible_key_node(utils::ByteView record, std::uint64_t area_size);

// The same for a value record; its data is not read.
std::optional<value::RegistryValue> plausible_value(utils::ByteView record, std::uint64_t area_size,
                                                   const hive::Hive& hive);

// Bytes of a record that its fields account for (fixed part and name).
inline std::uint64_t used_length(const key::KeyNode& node) noexcept {
    return key::nk_layout::name + node.name_length;
}
inline std::uint64_t used_length(const value::RegistryValue& value) noexcept {
    return value::vk_layout::name + value.name_length;
}

// The key node at `offset` when it passes the checks above, read without
// trusting its size word (a record found in slack or merged free space has
// none of its own): the record may run to the end of the image. Its offsets
// may reach `reach` bytes (default: the hive bins area).
std::optional<key::KeyNode> key_node_at(const hive::Hive& hive, std::uint32_t offset,
                                        std::optional<std::uint64_t> reach = std::nullopt);

// The names from below the root down to `node` (at `offset`), following
// parent fields through key nodes that pass the checks above, live or
// deleted, resolved through `remnants` where given. It stops, without
// failing, at the root cell the base block names and at a key flagged as the
// root (0x0004), whose names are left out, at a parent that is no such key
// node, at a parent met before, and after 512 steps; "" for the root key
// itself. A key whose parent is gone is the first name of its path.
std::string partial_path(const hive::Hive& hive, std::uint32_t offset, const key::KeyNode& node,
                         const RemnantBins* remnants = nullptr);

}  // namespace orvane::recovery
