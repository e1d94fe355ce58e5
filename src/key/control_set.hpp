#pragma once
// "CurrentControlSet": the name every documentation uses for the control set
// Windows runs with. A SYSTEM hive holds no key of that name; Windows makes it
// a link to ControlSetNNN, where NNN is the DWORD Select\Current.

#include <string>
#include <string_view>

#include "error/failure.hpp"
#include "key/registry_key.hpp"

namespace orvane::key {

// `path` with a first component "CurrentControlSet" (any letter case)
// replaced by the control set it stands for, when `start` is the hive's root
// key and has no subkey of that name: ControlSet%03u of Select\Current, or
// ControlSet001 when Select or its Current value is missing or unreadable.
// Any other path comes back as it is.
[[nodiscard]] Checked<std::string> resolve_current_control_set(const RegistryKey& start, std::string_view path);

}  // namespace orvane::key
