#pragma once
// Making RegistryKey objects (Hive.root_key and RegistryKey.subkeys).

#include <memory>
#include <vector>

#include "python/key_payloads.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// A new RegistryKey object holding its own clone of the hive handle.
PyObject* new_registry_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key);

// The same for a deleted key, which also holds the scan result it was found by.
PyObject* new_deleted_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key,
                          std::shared_ptr<const recovery::Recovery> recovery);

// New lists of RegistryKey and RegistryValue objects, filled with the lock held.
PyObject* key_list(const std::shared_ptr<const hive::Hive>& hive, std::vector<KeySnapshot> keys,
                   const std::shared_ptr<const recovery::Recovery>& recovery = nullptr);
PyObject* value_list(std::vector<OwnedValue> values);

// The hive work shared by deleted keys and Hive.deleted_values(): the values
// as RegistryValue payloads, each with its data while its cells are still
// free (else no bytes). Like RegistryKey.values(), it stops copying data once
// the image's length has been copied, so records naming one cell over and
// over cannot cost memory in the square of the file's size.
std::vector<OwnedValue> owned_deleted_values(const recovery::Recovery& recovery,
                                             std::vector<recovery::DeletedValue> values, std::uint64_t limit);

// RegistryKey.subkey and Hive.key: the key at the path `argument` (a str, else
// TypeError naming `function`) below the key at `offset`.
PyObject* key_at_path(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, const char* function,
                      PyObject* argument);

// RegistryKey.walk and Hive.walk: the walk iterator from the key at `offset`.
PyObject* walk_from(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, PyObject* on_error,
                    bool include_orphans = false);

}  // namespace orvane::python
