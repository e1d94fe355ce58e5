#pragma once
// Hive.find(), listed in py_hive.cpp's method table.

#include "python/py_ref.hpp"

namespace orvane::python {

// Hive.find($self, pattern, *, case_sensitive=False, keys=True, values=True, data=True, deleted=False,
// include_orphans=None, on_error=None).
PyObject* hive_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

extern const char hive_find_doc[];

}  // namespace orvane::python
