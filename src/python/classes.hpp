#pragma once
// The seven classes of the module: their payloads, their specs and the class
// objects, which are created once per process when the module is first built;
// and the walk iterator's class, which the module does not export.

#include <memory>

#include "value/value_data.hpp"
#include "value/value_type.hpp"
#include "carve/carved_item.hpp"
#include "hive/base_block.hpp"
#include "hive/hbin.hpp"
#include "hive/hive.hpp"
#include "python/key_payloads.hpp"
#include "python/py_box.hpp"

namespace orvane::python {

using PyHive = PyBox<HiveHandle>;
using PyRegistryKey = PyBox<KeyHandle>;
using PyRegistryValue = PyBox<OwnedValue>;
using PyValueData = PyBox<value::ValueData>;
using PyValueType = PyBox<value::ValueType>;
using PyBaseBlock = PyBox<hive::BaseBlock>;
using PyHbinHeader = PyBox<hive::HbinHeader>;
using PyCarvedItem = PyBox<carve::CarvedItem>;

struct Classes {
    PyTypeObject* hive = nullptr;
    PyTypeObject* registry_key = nullptr;
    PyTypeObject* registry_value = nullptr;
    PyTypeObject* value_data = nullptr;
    PyTypeObject* value_type = nullptr;
    PyTypeObject* base_block = nullptr;
    PyTypeObject* hbin_header = nullptr;
    PyTypeObject* key_walk = nullptr;
    PyObject* dirty_hive_warning = nullptr;  // orvane.DirtyHiveWarning, a UserWarning
    PyTypeObject* carved_item = nullptr;
    PyTypeObject* hive_table = nullptr;
};

// Filled by module initialisation, with the interpreter lock held.
Classes& classes() noexcept;

// A Hive object for a loaded hive.
inline PyObject* new_hive(std::shared_ptr<const hive::Hive> hive) {
    return PyHive::create(classes().hive, std::move(hive));
}

PyType_Spec& hive_spec();
PyType_Spec& registry_key_spec();
PyType_Spec& registry_value_spec();
PyType_Spec& value_data_spec();
PyType_Spec& value_type_spec();
PyType_Spec& base_block_spec();
PyType_Spec& hbin_header_spec();
PyType_Spec& key_walk_spec();
PyType_Spec& carved_item_spec();
// orvane.carve() and its doc string.
PyObject* carve_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
extern const char carve_doc[];
PyType_Spec& hive_table_spec();

}  // namespace orvane::python
