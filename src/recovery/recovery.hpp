#pragma once
// Recovery of deleted keys and values.
//
// When a key or value is deleted its cells are marked free and keep their
// bytes until the space is used again. A scan looks for key nodes and value
// records in every free cell (at each 8-byte-aligned position, since free
// cells merge and one may hold several old records), in the slack behind the
// record of each allocated cell, and in the bytes past the hive bins data.
// What it finds is reported only when it passes the checks of
// plausible_records.hpp and is not a live record (reachable from the root),
// nor a copy of one: a key node equal in name, last-written time and parent
// to a live subkey of that parent, or a value record equal to the live record
// that names the same data cell. A value whose data is held inline is never
// taken for a copy, since equal small values are common.
//
// Reading through a recovered record trusts only bytes that are still free:
// a list, value record or data cell that now lies (even partly) in an
// allocated cell has been reused, and is read as absent rather than as
// someone else's record.

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "hive/hive.hpp"
#include "hive/registry_value.hpp"
#include "key/key_node.hpp"
#include "recovery/free_space.hpp"

namespace orvane::recovery {

struct DeletedKey {
    std::uint32_t offset = 0;  // cell offset: the record starts 4 bytes later
    Place place = Place::FreeCell;
    key::KeyNode node;
};

struct DeletedValue {
    std::uint32_t offset = 0;
    Place place = Place::FreeCell;
    hive::RegistryValue value;
};

class Recovery {
public:
    // Scans the whole hive; it cannot fail: what cannot be read is not reported.
    // The result refers to `hive` and must not outlive it.
    static Recovery scan(const hive::Hive& hive);

    // In file order.
    const std::vector<DeletedKey>& keys() const noexcept { return keys_; }
    const std::vector<DeletedValue>& values() const noexcept { return values_; }
    const FreeSpace& free_space() const noexcept { return space_; }

    // The key node recovered at `offset`, read again.
    std::optional<DeletedKey> key_at(std::uint32_t offset) const;

    // A recovered key's values and subkeys, in list order, as far as its
    // lists and the records they name still lie in free space; a list that
    // has been reused gives none.
    std::vector<DeletedValue> values_of(const key::KeyNode& node) const;
    // Subkeys whose parent field does not name the key (`offset`) are someone else's and left out.
    std::vector<DeletedKey> subkeys_of(std::uint32_t offset, const key::KeyNode& node) const;

    // A recovered value's data, or nullopt when its data cell (or a cell of
    // its big data) has been reused or does not have the size it needs.
    std::optional<std::vector<std::uint8_t>> data_of(const hive::RegistryValue& value) const;

private:
    explicit Recovery(const hive::Hive& hive) : hive_(&hive) {}

    // The payload bytes of the record at `offset` that lie in free space
    // (up to the end of its span), when at least `minimum` of them do.
    std::optional<std::pair<utils::ByteView, Place>> free_record(std::uint32_t offset, std::uint64_t minimum) const;
    // The payload of the cell at `offset` when the cell, as its size word
    // gives it, lies in free space and holds at least `minimum` bytes.
    std::optional<utils::ByteView> free_cell(std::uint32_t offset, std::uint64_t minimum) const;
    // The bytes from the record of the cell at `offset` up to `end`, their errors naming `offset`.
    utils::ByteView record_at(std::uint32_t offset, std::uint64_t end) const;
    void collect_subkeys(std::uint32_t parent, std::uint32_t list_offset, unsigned depth,
                         std::unordered_set<std::uint32_t>& lists_read, std::vector<DeletedKey>& keys) const;

    const hive::Hive* hive_;  // not owned
    utils::ByteView area_;
    FreeSpace space_;
    std::vector<DeletedKey> keys_;
    std::vector<DeletedValue> values_;
};

}  // namespace orvane::recovery
