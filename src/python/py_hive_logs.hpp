#pragma once
// The Hive methods of log replay and saving, kept beside the class in
// py_hive.cpp, which lists them in its method table.

#include "python/py_ref.hpp"

namespace orvane::python {

// Hive.open_with_logs(hive_path, log1_path=None, log2_path=None), static.
PyObject* hive_open_with_logs(PyObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Hive.save($self, path).
PyObject* hive_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace orvane::python
