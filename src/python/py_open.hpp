#pragma once
// The module's own function orvane.open (see py_open.cpp).

#include "python/py_ref.hpp"

namespace orvane::python {

PyObject* module_open(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace orvane::python
