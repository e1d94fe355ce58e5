#pragma once
// The Hive methods that recover deleted records, kept beside the class in
// py_hive.cpp, which lists them in its method table.

#include "python/py_ref.hpp"

namespace orvane::python {

// Hive.deleted_keys($self).
PyObject* hive_deleted_keys(PyObject* self, PyObject*);

// Hive.deleted_values($self).
PyObject* hive_deleted_values(PyObject* self, PyObject*);

// Hive.remnant_bins($self).
PyObject* hive_remnant_bins(PyObject* self, PyObject*);

}  // namespace orvane::python
