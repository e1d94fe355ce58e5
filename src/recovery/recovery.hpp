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
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "hive/hive.hpp"
#include "key/registry_key.hpp"
#include "value/registry_value.hpp"
#include "key/key_node.hpp"
#include "recovery/free_space.hpp"
#include "recovery/remnant_bins.hpp"

namespace orvane::recovery {

struct DeletedKey {
    std::uint32_t offset = 0;  // cell offset: the record starts 4 bytes later
    Place place = Place::FreeCell;
    key::KeyNode node;
};

struct DeletedValue {
    std::uint32_t offset = 0;
    Place place = Place::FreeCell;
    value::RegistryValue value;
};

// What a deleted key's parent field may lead to: a live key or another deleted one.
using EitherKey = std::variant<key::RegistryKey, DeletedKey>;

class Recovery {
public:
    // Scans the whole hive; it cannot fail: what cannot be read is not reported.
    // The result refers to `hive` and must not outlive it.
    static Recovery scan(const hive::Hive& hive);

    // In file order.
    const std::vector<DeletedKey>& keys() const noexcept { return keys_; }
    const std::vector<DeletedValue>& values() const noexcept { return values_; }
    const FreeSpace& free_space() const noexcept { return space_; }
    // The bins left past the hive bins data, which the scan also reads.
    const RemnantBins& remnant_bins() const noexcept { return remnants_; }

    // About how many bytes of memory the result holds.
    std::uint64_t memory_size() const noexcept;

    // The key node recovered at `offset`, read again.
    std::optional<DeletedKey> key_at(std::uint32_t offset) const;

    // A recovered key's values and subkeys, in list order, as far as its
    // lists and the records they name still lie in free space; a list that
    // has been reused gives none.
    std::vector<DeletedValue> values_of(const DeletedKey& key) const;
    // Subkeys whose parent field does not name the key (`offset`) are someone else's and left out.
    std::vector<DeletedKey> subkeys_of(std::uint32_t offset, const key::KeyNode& node) const;

    // The value named `name` (compared as value names are: ASCII letters in
    // any case) among the key's recovered values, or NotFound "Value '<name>'".
    Checked<DeletedValue> value_named(const DeletedKey& key, std::string_view name) const;

    // The key at `path` below a recovered key, through recovered subkeys only
    // (components as for live keys, names compared as key names are), or
    // NotFound "Key '<path>'".
    Checked<DeletedKey> open_path(const DeletedKey& key, std::string_view path) const;

    // The key and every recovered key below it, depth first in list order,
    // each with its path from `key` ("" for `key` itself), each key once.
    // InvalidFormat "Deleted keys below offset <o> name more than the hive
    // holds" when the paths together run past three times the image, which
    // only a hive crafted for it reaches.
    Result<std::vector<std::pair<std::string, DeletedKey>>> walk(const DeletedKey& key) const;

    // The key the parent field names: a recovered key when the parent's
    // record lies in free space and passes the checks, a live key when it
    // lies in an allocated cell and reads as a key node; nullopt for a key
    // flagged as the root or at the root cell, or a parent that is gone.
    // Free bytes are never read as a live key.
    Checked<std::optional<EitherKey>> parent_of(const DeletedKey& key) const;

    // The path from below the root: the parents' names as far as deleted
    // parents lead, then the live parent's own path. The chain ends at the
    // root cell the base block names, whatever that key's flags say. A chain that reaches no
    // readable parent fails with InvalidFormat "Key at offset <o> has a
    // parent chain that breaks at offset <p>", one that comes back on itself
    // or runs past 512 steps as the path of a live key does.
    Checked<std::string> path_of(const DeletedKey& key) const;

    // The names from below the root down to `key`, as far as its parents
    // lead (see partial_path in plausible_records.hpp); never fails.
    std::string partial_path_of(const DeletedKey& key) const;

    // The class name while its cell is still free and long enough; nullopt
    // when the key names none or the cell has been reused.
    Result<std::optional<std::string>> class_name_of(const DeletedKey& key) const;

    // The security descriptor of the "sk" record the key names, free or
    // still allocated (security records are shared, and outlive a deleted
    // key while other keys use them); nullopt when it names none or the cell
    // holds no readable security record any more.
    std::optional<utils::ByteView> security_descriptor_of(const DeletedKey& key) const;

    // A recovered value's data, or nullopt when its data cell (or a cell of
    // its big data) has been reused or does not have the size it needs.
    std::optional<std::vector<std::uint8_t>> data_of(const DeletedValue& value) const;

private:
    explicit Recovery(const hive::Hive& hive) : hive_(&hive) {}

    // Whether the record of a cell at `offset` would start in free space.
    bool in_free_space(std::uint32_t offset) const noexcept;
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

    // The cell offset in this file of an offset held by the record at `holder`.
    std::uint32_t resolve(std::uint32_t holder, std::uint32_t reference) const noexcept {
        return remnants_.resolve(holder, reference);
    }
    // How far the offsets held by the record at `holder` may reach.
    std::uint64_t reach(std::uint32_t holder) const noexcept { return remnants_.reach(holder, area_.size()); }

    const hive::Hive* hive_;  // not owned
    utils::ByteView area_;
    FreeSpace space_;
    RemnantBins remnants_;
    std::vector<DeletedKey> keys_;
    std::vector<DeletedValue> values_;
};

}  // namespace orvane::recovery
