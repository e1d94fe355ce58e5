#include "key/key_reads.hpp"

#include "hive/hive.hpp"

namespace orvane::key {

bool equal_ascii_case_folded(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

Result<std::vector<ValueWithData>> values_with_data(const RegistryKey& key) {
    ORVANE_ASSIGN_OR_RETURN(std::vector<value::RegistryValue> values, key.values());
    DataBudget budget(key.hive().data().size());
    std::vector<ValueWithData> result;
    result.reserve(values.size());  // the records are already in memory
    for (value::RegistryValue& value : values) {
        std::vector<std::uint8_t> bytes = budget.take([&] { return value.raw_data(); });
        result.push_back({std::move(value), std::move(bytes)});
    }
    return result;
}

Result<ValueWithData> find_value(const RegistryKey& key, std::string_view name) {
    ORVANE_ASSIGN_OR_RETURN(std::vector<value::RegistryValue> values, key.values());
    for (value::RegistryValue& value : values) {
        if (!equal_ascii_case_folded(value.name, name)) continue;
        ORVANE_ASSIGN_OR_RETURN(std::vector<std::uint8_t> data, value.raw_data());
        return ValueWithData{std::move(value), std::move(data)};
    }
    return error::fail(error::NotFound{"Value '" + std::string(name) + "'"});
}

Checked<std::vector<RegistryKey>> subkey_nodes(const RegistryKey& key) {
    std::vector<RegistryKey> result;
    const key::KeyNode& node = key.node();
    if (node.subkey_count == 0) return result;
    std::vector<std::uint32_t> offsets;
    ORVANE_TRY(key.collect_subkey_offsets(node.subkey_list_offset, offsets));
    const hive::Hive& hive = key.hive();
    const std::uint64_t name_budget = std::uint64_t{3} * hive.data().size();
    std::uint64_t name_bytes = 0;
    result.reserve(offsets.size());  // bounded by the list cells actually read
    for (const std::uint32_t offset : offsets) {
        auto subkey = hive.get_key(offset);
        if (!subkey) {
            if (hive.skip_subkey(offset, subkey.error())) continue;
            return error::unexpected(std::move(subkey).error());
        }
        name_bytes += subkey->node().name.size();
        if (name_bytes > name_budget) {
            return error::fail(error::invalid_format("Subkey list at offset " + error::hex(node.subkey_list_offset) +
                                                     " names more than the hive holds"));
        }
        result.push_back(std::move(*subkey));
    }
    return result;
}

}  // namespace orvane::key
