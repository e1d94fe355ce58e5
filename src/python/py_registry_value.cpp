// The RegistryValue class: a self-contained copy of one value (name, type and
// raw bytes). It never goes back to the hive; data() decodes on each call.

#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "python/py_value_data.hpp"

namespace orvane::python {

namespace {

const OwnedValue& value_of(PyObject* self) { return PyRegistryValue::of(self); }

PyObject* value_name(PyObject* self, PyObject*) { return to_str(value_of(self).name); }

PyObject* value_value_type(PyObject* self, PyObject*) {
    return PyValueType::create(classes().value_type, value_of(self).value_type);
}

// Decodes the value's bytes and hands the result to `build`.
template <class Build>
PyObject* with_decoded(PyObject* self, Build&& build) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const OwnedValue& value = value_of(self);
        auto decoded = value::ValueData::decode(value.value_type, value.data);
        if (!decoded) return raise_registry_error(decoded.error());
        return build(std::move(*decoded));
    });
}

PyObject* value_data(PyObject* self, PyObject*) {
    return with_decoded(self, [](value::ValueData data) {
        return PyValueData::create(classes().value_data, std::move(data));
    });
}

// Read as Windows reads it: a string with stale bytes after its U+0000 gives
// the string (see trailing_data()).
template <class Build>
PyObject* with_windows_reading(PyObject* self, Build&& build) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const OwnedValue& value = value_of(self);
        auto decoded = value::ValueData::decode_as_windows_reads(value.value_type, value.data);
        if (!decoded) return raise_registry_error(decoded.error());
        return build(*decoded);
    });
}

PyObject* value_as_py(PyObject* self, PyObject*) {
    return with_windows_reading(self, [](const value::ValueData::WindowsReading& read) {
        return value_data_to_py(read.data);
    });
}

PyObject* value_trailing_data(PyObject* self, PyObject*) {
    return with_windows_reading(self, [](const value::ValueData::WindowsReading& read) {
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(read.trailing.data()),
                                         static_cast<Py_ssize_t>(read.trailing.size()));
    });
}

PyObject* value_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(value_of(self).offset); }

PyObject* value_raw_data(PyObject* self, PyObject*) { return to_bytes(value_of(self).data); }

PyObject* value_data_size(PyObject* self, PyObject*) { return PyLong_FromSize_t(value_of(self).data.size()); }

PyObject* value_is_deleted(PyObject* self, PyObject*) { return PyBool_FromLong(value_of(self).deleted); }

PyObject* value_repr(PyObject* self) {
    return catching(PanicStyle::Panic, [&] { return to_str("RegistryValue(name='" + value_of(self).name + "')"); });
}

PyMethodDef value_methods[] = {
    {.ml_name = "name",
     .ml_meth = value_name,
     .ml_flags = METH_NOARGS,
     .ml_doc = "name($self)\n--\n\nGet the value name"},
    {.ml_name = "value_type",
     .ml_meth = value_value_type,
     .ml_flags = METH_NOARGS,
     .ml_doc = "value_type($self)\n--\n\nGet the value type"},
    {.ml_name = "data",
     .ml_meth = value_data,
     .ml_flags = METH_NOARGS,
     .ml_doc = "data($self)\n--\n\nGet the parsed value data"},
    {.ml_name = "raw_data",
     .ml_meth = value_raw_data,
     .ml_flags = METH_NOARGS,
     .ml_doc = "raw_data($self)\n--\n\nGet the raw value data as bytes"},
    {.ml_name = "data_size",
     .ml_meth = value_data_size,
     .ml_flags = METH_NOARGS,
     .ml_doc = "data_size($self)\n--\n\nGet the data size in bytes"},
    {.ml_name = "offset",
     .ml_meth = value_offset,
     .ml_flags = METH_NOARGS,
     .ml_doc = "offset($self)\n--\n\nGet the cell offset of the value record"},
    {.ml_name = "as_py",
     .ml_meth = value_as_py,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_py($self)\n--\n\nGet the decoded data as a plain Python object (data().as_py() in one call, "
               "but a string with stale bytes after its U+0000 gives the string, as Windows reads it)"},
    {.ml_name = "trailing_data",
     .ml_meth = value_trailing_data,
     .ml_flags = METH_NOARGS,
     .ml_doc = "trailing_data($self)\n--\n\nGet the bytes after the U+0000 that ends a REG_SZ or REG_EXPAND_SZ "
               "string as Windows reads it, when the data does not decode as a whole (b'' otherwise)"},
    {.ml_name = "is_deleted",
     .ml_meth = value_is_deleted,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_deleted($self)\n--\n\nWhether the value was recovered from a free cell, cell slack or the bytes "
               "past the hive bins data"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot value_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for RegistryValue\n\n"
                                  "Stores owned copies of the value's name, type and raw data.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyRegistryValue::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(value_repr)},
    {Py_tp_str, reinterpret_cast<void*>(value_repr)},
    {Py_tp_methods, value_methods},
    {0, nullptr},
};

PyType_Spec registry_value_type_spec = {
    .name = "orvane.RegistryValue",
    .basicsize = sizeof(PyRegistryValue),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = value_slots,
};

}  // namespace

PyType_Spec& registry_value_spec() { return registry_value_type_spec; }

}  // namespace orvane::python
