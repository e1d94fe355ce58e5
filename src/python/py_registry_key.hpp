#pragma once
// Making RegistryKey objects (Hive.root_key and RegistryKey.subkeys).

#include <memory>

#include "python/key_payloads.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// A new RegistryKey object holding its own clone of the hive handle.
PyObject* new_registry_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key);

}  // namespace orvane::python
