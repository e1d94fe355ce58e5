#pragma once
// Decoded value data as plain Python objects (ValueData.as_py and RegistryValue.as_py).

#include "value/value_data.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// None, str, int, list of str or bytes, by the data's variant; a new reference,
// or nullptr with an exception set.
PyObject* value_data_to_py(const value::ValueData& data);

}  // namespace orvane::python
