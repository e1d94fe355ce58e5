#pragma once
// The walk a search makes: every key from the root, each with its values and
// their data, then, when asked, the deleted keys and values, each handed to a
// visitor as names and bytes.
//
// Live keys come depth first in KeyWalk order, then with `orphans` the orphan
// keys below "<orphans>" (OrphanWalk). A subkey list, value list or value
// data that cannot be read is told as a SearchProblem and the walk goes on
// past it, as the walks of the command line do; only an internal failure
// ends it. Data is read through RegistryValue::raw_data() (inline, one cell
// or big-data segments) and is bounded per key by a DataBudget, so a value
// list that names one record over and over cannot make the walk read the
// image many times; the deleted records share one such budget. Deleted keys come in file order with their
// partial paths and the values their lists still name; then each deleted
// value that no deleted key lists, without a key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error/failure.hpp"
#include "hive/hive.hpp"
#include "recovery/recovery.hpp"
#include "utils/byte_view.hpp"
#include "value/value_type.hpp"

namespace orvane::search {

struct SearchOptions {
    bool keys = true;    // key names
    bool values = true;  // value names
    bool data = true;    // value data
    bool deleted = false;
    bool orphans = false;  // after the tree, the orphan keys
};

// Something the walk could not read, or met and went on past.
struct SearchProblem {
    std::string path;  // the key's
    std::string what;  // "subkeys", "values" or "value 'NAME'"
    error::Failure failure;
    // A key listed by a second list (KeyWalk's WalkNotice): read once, and
    // nothing was lost.
    bool notice = false;
};

// Where a name or data comes from.
struct Origin {
    std::optional<std::string_view> path;  // nullopt for a deleted value no deleted key lists
    std::uint32_t key_offset = 0;
    bool deleted = false;
    std::string_view value_name;  // empty while visiting a key's name
    std::uint32_t value_offset = 0;
};

class RecordVisitor {
public:
    virtual ~RecordVisitor() = default;
    virtual void key_name(const Origin& origin, std::string_view name) = 0;
    virtual void value_name(const Origin& origin, std::string_view name) = 0;
    virtual void value_data(const Origin& origin, value::ValueType type, utils::ByteView data) = 0;
};

// Visits what `options` asks for, appending to `problems` what it went on
// past. `deleted` is the hive's scan for deleted records, needed only with
// options.deleted (nullptr: it is made here). Fails only when the root key
// cannot be read or on an internal failure.
[[nodiscard]] Checked<void> visit_records(const hive::Hive& hive, const SearchOptions& options,
                                          const recovery::Recovery* deleted, RecordVisitor& visitor,
                                          std::vector<SearchProblem>& problems);

}  // namespace orvane::search
