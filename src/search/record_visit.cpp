#include "search/record_visit.hpp"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "key/key_reads.hpp"
#include "key/key_walk.hpp"
#include "recovery/orphan_walk.hpp"

namespace orvane::search {

namespace {

// A failure the walk goes on past, or an internal one that ends it.
Checked<void> note(std::vector<SearchProblem>& problems, std::string_view path, std::string what,
                   error::Failure failure) {
    if (failure.internal_failure()) return error::unexpected(std::move(failure));
    problems.push_back({std::string(path), std::move(what), std::move(failure), false});
    return {};
}

Checked<void> visit_live(const hive::Hive& hive, const SearchOptions& options, RecordVisitor& visitor,
                         std::vector<SearchProblem>& problems) {
    ORVANE_ASSIGN_OR_RETURN(key::RegistryKey root, hive.get_key(hive.base_block().root_cell_offset));
    recovery::OrphanWalk walk(std::move(root), options.orphans);
    for (;;) {
        auto step = walk.next();
        for (key::WalkNotice& told : walk.take_notices()) {
            problems.push_back({std::move(told.path), "subkeys", error::invalid_format(std::move(told.text)), true});
        }
        if (!step) {
            key::WalkError failed = std::move(step).error();
            ORVANE_TRY(note(problems, failed.path, "subkeys", std::move(failed.failure)));
            continue;
        }
        if (!*step) return {};
        const key::RegistryKey& key = walk.key();
        Origin origin{walk.path(), key.offset(), false, {}, 0};
        if (options.keys) visitor.key_name(origin, key.node().name);
        if ((!options.values && !options.data) || key.node().value_count == 0) continue;
        auto values = key.values();
        if (!values) {
            ORVANE_TRY(note(problems, walk.path(), "values", std::move(values).error()));
            continue;
        }
        key::DataBudget budget(hive.data().size());
        for (const value::RegistryValue& value : *values) {
            origin.value_name = value.name;
            origin.value_offset = value.offset;
            // An unnamed value is shown as "(default)", a name it does not have.
            if (options.values && value.name_length != 0) visitor.value_name(origin, value.name);
            if (!options.data) continue;
            std::optional<RegistryError> unreadable;
            const std::vector<std::uint8_t> data = budget.take([&] {
                auto read = value.raw_data();
                if (!read) unreadable = read.error();
                return read;
            });
            if (unreadable) ORVANE_TRY(note(problems, walk.path(), "value '" + value.name + "'", *unreadable));
            visitor.value_data(origin, value.value_type, utils::ByteView(data));
        }
    }
}

void visit_deleted(const hive::Hive& hive, const SearchOptions& options, const recovery::Recovery& found,
                   RecordVisitor& visitor) {
    key::DataBudget budget(hive.data().size());
    const auto visit_value = [&](Origin origin, const recovery::DeletedValue& value) {
        origin.value_name = value.value.name;
        origin.value_offset = value.offset;
        if (options.values && value.value.name_length != 0) visitor.value_name(origin, value.value.name);
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
                            RecordVisitor& visitor, std::vector<SearchProblem>& problems) {
    ORVANE_TRY(visit_live(hive, options, visitor, problems));
    if (!options.deleted) return {};
    if (deleted) {
        visit_deleted(hive, options, *deleted, visitor);
    } else {
        visit_deleted(hive, options, recovery::Recovery::scan(hive), visitor);
    }
    return {};
}

}  // namespace orvane::search
