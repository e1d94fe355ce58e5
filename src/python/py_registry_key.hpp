#pragma once
// Making RegistryKey objects (Hive.root_key and RegistryKey.subkeys).

#include <memory>

#include "python/key_payloads.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// A new RegistryKey object holding its own clone of the hive handle.
PyObject* new_registry_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key);

// RegistryKey.subkey and Hive.key: the key at the path `argument` (a str, else
// TypeError naming `function`) below the key at `offset`.
PyObject* key_at_path(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, const char* function,
                      PyObject* argument);

// RegistryKey.walk and Hive.walk: the walk iterator from the key at `offset`.
PyObject* walk_from(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, PyObject* on_error);

}  // namespace orvane::python
