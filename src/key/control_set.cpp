#include "key/control_set.hpp"

#include <cstdio>
#include <optional>

#include "key/key_name.hpp"
#include "key/key_path.hpp"
#include "utils/byte_view.hpp"

namespace orvane::key {

namespace {

constexpr std::string_view current_control_set = "CurrentControlSet";
constexpr std::string_view fallback_control_set = "ControlSet001";

// The DWORD Select\Current, when it is there and readable.
std::optional<std::uint32_t> selected_control_set(const RegistryKey& root) {
    auto select = find_subkey(root, "Select");
    if (!select || !*select) return std::nullopt;
    auto values = (*select)->values();
    if (!values) return std::nullopt;
    for (const value::RegistryValue& value : *values) {
        if (!key_names_equal(value.name, "Current")) continue;
        auto data = value.raw_data();
        if (!data) return std::nullopt;
        auto number = utils::ByteView(*data).u32(0);
        if (!number) return std::nullopt;
        return *number;
    }
    return std::nullopt;
}

std::string control_set_name(std::optional<std::uint32_t> selected) {
    if (!selected || *selected == 0 || *selected > 999) return std::string(fallback_control_set);
    char name[16];
    std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(*selected));
    return name;
}

}  // namespace

Checked<std::string> resolve_current_control_set(const RegistryKey& start, std::string_view path) {
    std::size_t first = 0;
    while (first < path.size() && path[first] == '\\') ++first;
    const std::size_t end = std::min(path.find('\\', first), path.size());
    const std::string_view component = path.substr(first, end - first);
    if (!key_names_equal(component, current_control_set) || !is_root_key(start)) return std::string(path);
    // A hive that does hold such a key is read as it is.
    ORVANE_ASSIGN_OR_RETURN(const std::optional<RegistryKey> real, find_subkey(start, component));
    if (real) return std::string(path);
    return control_set_name(selected_control_set(start)) + std::string(path.substr(end));
}

}  // namespace orvane::key
