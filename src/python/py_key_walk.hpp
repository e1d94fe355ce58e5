#pragma once
// The iterator of RegistryKey.walk() and Hive.walk().

#include <memory>

#include "key/registry_key.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// A new iterator of (path, RegistryKey) pairs over `start` and every key
// below it. `on_error` is None or a callable (borrowed; the iterator takes its
// own reference). Returns nullptr with TypeError set when it is neither.
// False with TypeError set unless `on_error` is callable, None or not given (nullptr).
bool on_error_is_usable(PyObject* on_error);

// With `include_orphans`, the orphan keys follow the tree below "<orphans>"
// (recovery/orphan_walk.hpp).
PyObject* new_key_walk(std::shared_ptr<const hive::Hive> hive, key::RegistryKey start, PyObject* on_error,
                       bool include_orphans = false);


}  // namespace orvane::python
