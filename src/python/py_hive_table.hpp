#pragma once
// Hive.keys_table() and Hive.values_table(), listed in py_hive.cpp's method
// table, and the class of the table objects they return.

#include "python/py_ref.hpp"

namespace orvane::python {

PyObject* hive_keys_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* hive_values_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

PyType_Spec& hive_table_spec();

}  // namespace orvane::python
