// The ValueType class: a value's type, its name and its numeric code.

#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"

namespace orvane::python {

namespace {

value::ValueType type_of(PyObject* self) { return PyValueType::of(self); }

PyObject* type_type_name(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&] { return to_str(type_of(self).name()); });
}

PyObject* type_type_id(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(type_of(self).code()); }

PyObject* type_str(PyObject* self) { return type_type_name(self, nullptr); }

PyObject* type_repr(PyObject* self) {
    return catching(PanicStyle::Panic, [&] { return to_str("ValueType(" + type_of(self).name() + ")"); });
}

PyMethodDef type_methods[] = {
    {.ml_name = "type_name",
     .ml_meth = type_type_name,
     .ml_flags = METH_NOARGS,
     .ml_doc = "type_name($self)\n--\n\nGet the type name as string (e.g., \"REG_SZ\", \"REG_DWORD\")"},
    {.ml_name = "type_id",
     .ml_meth = type_type_id,
     .ml_flags = METH_NOARGS,
     .ml_doc = "type_id($self)\n--\n\nGet the numeric type ID"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot type_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for ValueType")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyValueType::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(type_repr)},
    {Py_tp_str, reinterpret_cast<void*>(type_str)},
    {Py_tp_methods, type_methods},
    {0, nullptr},
};

PyType_Spec type_type_spec = {
    .name = "orvane.ValueType",
    .basicsize = sizeof(PyValueType),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = type_slots,
};

}  // namespace

PyType_Spec& value_type_spec() { return type_type_spec; }

}  // namespace orvane::python
