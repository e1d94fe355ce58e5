#include "search/record_visit.hpp"

#include <unordered_set>
#include <vector>

#include "key/key_reads.hpp"
#include "key/key_walk.hpp"

namespace orvane::search {

namespace {

Checked<void> visit_live(const hive::Hive& hive, const SearchOptions& options, RecordVisitor& visitor) {
    ORVANE_ASSIGN_OR_RETURN(key::RegistryKey root, hive.get_key(hive.base_block().root_cell_offset));
    key::KeyWalk walk(std::move(root));
    for (;;) {
        auto step = walk.next();
        (void)walk.take_notices();  // a tolerant hive notes them in its problems
        if (!step) return error::unexpected(std::move(step).error().failure);
        if (!*step) return {};
        const key::RegistryKey& key = walk.key();
        Origin origin{walk.path(), key.offset(), false, {}, 0};
        if (options.keys) visitor.key_name(origin, key.node().name);
        if (!options.values && !options.data) continue;
        if (key.node().value_count == 0) continue;
        if (!options.data) {
            ORVANE_ASSIGN_OR_RETURN(const std::vector<value::RegistryValue> values, key.values());
            for (const value::RegistryValue& value : values) {
                origin.value_name = value.name;
                origin.value_offset = value.offset;
                visitor.value_name(origin, value.name);
            }
            continue;
        }
        ORVANE_ASSIGN_OR_RETURN(const std::vector<key::ValueWithData> values, key::values_with_data(key));
        for (const key::ValueWithData& value : values) {
            origin.value_name = value.value.name;
            origin.value_offset = value.value.offset;
            if (options.values) visitor.value_name(origin, value.value.name);
            visitor.value_data(origin, value.value.value_type, utils::ByteView(value.data));
        }
    }
}

void visit_deleted(const hive::Hive& hive, const SearchOptions& options, const recovery::Recovery& found,
                   RecordVisitor& visitor) {
    key::DataBudget budget(hive.data().size());
    const auto visit_value = [&](Origin origin, const recovery::DeletedValue& value) {
        origin.value_name = value.value.name;
        origin.value_offset = value.offset;
        if (options.values) visitor.value_name(origin, value.value.name);
        if (!options.data) return;
        const std::vector<std::uint8_t> data = budget.take([&] { return found.data_of(value); });
        visitor.value_data(origin, value.value.value_type, utils::ByteView(data));
    };
    std::unordered_set<std::uint32_t> listed;
    for (const recovery::DeletedKey& key : found.keys()) {
        const std::string path = found.partial_path_of(key);
        const Origin origin{path, key.offset, true, {}, 0};
        if (options.keys) visitor.key_name(origin, key.node.name);
        for (const recovery::DeletedValue& value : found.values_of(key)) {
            listed.insert(value.offset);
            if (options.values || options.data) visit_value(origin, value);
        }
    }
    if (!options.values && !options.data) return;
    for (const recovery::DeletedValue& value : found.values()) {
        if (!listed.contains(value.offset)) visit_value(Origin{std::nullopt, 0, true, {}, 0}, value);
    }
}

}  // namespace

Checked<void> visit_records(const hive::Hive& hive, const SearchOptions& options, const recovery::Recovery* deleted,
                            RecordVisitor& visitor) {
    ORVANE_TRY(visit_live(hive, options, visitor));
    if (!options.deleted) return {};
    if (deleted) {
        visit_deleted(hive, options, *deleted, visitor);
    } else {
        visit_deleted(hive, options, recovery::Recovery::scan(hive), visitor);
    }
    return {};
}

}  // namespace orvane::search
