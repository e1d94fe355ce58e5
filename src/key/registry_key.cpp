#include "key/registry_key.hpp"

#include "hive/hive.hpp"

namespace orvane::key {

namespace {

constexpr std::uint32_t no_list = 0xFFFFFFFF;

[[gnu::always_inline]] inline Result<value::RegistryValue> read_value(const hive::Hive& hive,
                                                                       std::uint32_t vk_offset) {
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView view, hive.get_cell(vk_offset));
    return value::decode_value_record(view, hive);
}

// Appends the values of the list at `list_offset` said to hold `count`
// entries. Inlined into read_values() and read_values_into(), as read_value()
// is into it: called as functions they cost the walk's read_values() 0.6 %
// more instructions than when it filled a vector of its own.
[[gnu::always_inline]] inline Result<void> fill_values(const hive::Hive& hive, std::uint32_t list_offset,
                                                       std::uint32_t count, std::vector<value::RegistryValue>& values) {
    if (count == 0 || list_offset == 0 || list_offset == no_list) return {};

    error::ProblemLog* const problems = hive.problem_log();

    auto fetched = hive.get_cell(list_offset);
    if (!fetched) {
        if (!problems) return error::unexpected(std::move(fetched).error());
        problems->note("Skipped value list at offset " + error::hex(list_offset), fetched.error());
        return {};
    }
    const utils::ByteView list = *fetched;
    std::size_t present = count;
    if (auto whole = list.require(std::uint64_t{count} * 4); !whole) {
        if (!problems) return error::unexpected(std::move(whole).error());
        // A tolerant read takes the entries that are there.
        problems->note("Value list at offset " + error::hex(list_offset) + " cut short", whole.error());
        present = list.size() / 4;
    }
    // The names of distinct records fit in the image, even grown by decoding
    // (UTF-16 to UTF-8 at most 1.5 times, a replaced byte 3 times). Only a
    // list naming the same long-named records over and over goes past that,
    // and it would otherwise cost memory in the square of the file's size.
    const std::uint64_t name_budget = std::uint64_t{3} * hive.data().size();
    std::uint64_t name_bytes = 0;
    values.reserve(present);  // the list cell holds all `present` entries
    for (std::size_t i = 0; i < present; ++i) {
        // No entry is special: 0 and 0xFFFFFFFF go to get_cell like any other.
        ORVANE_ASSIGN_OR_RETURN(const std::uint32_t vk_offset, list.u32(4 * i));
        auto value = read_value(hive, vk_offset);
        if (!value) {
            if (!problems) return error::unexpected(std::move(value).error());
            problems->note("Skipped value at offset " + error::hex(vk_offset), value.error());
            continue;
        }
        name_bytes += value->name.size();
        if (name_bytes > name_budget) {
            RegistryError error = error::invalid_format("Value list at offset " + error::hex(list_offset) +
                                                        " names more than the hive holds");
            if (!problems) return error::unexpected(std::move(error));
            problems->note(error.message());
            break;
        }
        values.push_back(std::move(*value));
    }
    return {};
}

}  // namespace

Result<std::vector<value::RegistryValue>> RegistryKey::values() const {
    return read_values(*hive_, node_->value_list_offset, node_->value_count);
}

Result<std::vector<value::RegistryValue>> read_values(const hive::Hive& hive, std::uint32_t list_offset,
                                                      std::uint32_t count) {
    std::vector<value::RegistryValue> values;
    if (auto filled = fill_values(hive, list_offset, count, values); !filled) {
        return error::unexpected(std::move(filled).error());
    }
    return values;
}

Result<void> read_values_into(const hive::Hive& hive, std::uint32_t list_offset, std::uint32_t count,
                              std::vector<value::RegistryValue>& values) {
    values.clear();
    auto filled = fill_values(hive, list_offset, count, values);
    if (!filled) values.clear();  // what came before the error is not the list's values
    return filled;
}

}  // namespace orvane::key
