// The ValueData class: one decoded value, owning its texts and bytes, with
// type tests, typed getters and a printable form.

#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "python/py_value_data.hpp"
#include "base/overloaded.hpp"

namespace orvane::python {

namespace {

using namespace value;

const ValueData& data_of(PyObject* self) { return PyValueData::of(self); }

template <class... Kinds>
bool holds(PyObject* self) {
    return (data_of(self).get_if<Kinds>() || ...);
}

template <class... Kinds>
PyObject* is_kind(PyObject* self) {
    return PyBool_FromLong(holds<Kinds...>(self));
}

PyObject* not_a(const char* text) {
    PyErr_SetString(PyExc_ValueError, text);
    return nullptr;
}

PyObject* data_is_none(PyObject* self, PyObject*) { return is_kind<NoData>(self); }
PyObject* data_is_string(PyObject* self, PyObject*) { return is_kind<StringData, ExpandStringData>(self); }
PyObject* data_is_binary(PyObject* self, PyObject*) { return is_kind<BinaryData>(self); }
PyObject* data_is_dword(PyObject* self, PyObject*) { return is_kind<DwordData, DwordBigEndianData>(self); }
PyObject* data_is_qword(PyObject* self, PyObject*) { return is_kind<QwordData>(self); }
PyObject* data_is_multi_string(PyObject* self, PyObject*) { return is_kind<MultiStringData>(self); }

PyObject* data_as_string(PyObject* self, PyObject*) {
    if (const auto* s = data_of(self).get_if<StringData>()) return to_str(s->text);
    if (const auto* s = data_of(self).get_if<ExpandStringData>()) return to_str(s->text);
    return not_a("Not a string value");
}

PyObject* data_as_binary(PyObject* self, PyObject*) {
    if (const auto* b = data_of(self).get_if<BinaryData>()) return to_bytes(b->bytes);
    return not_a("Not a binary value");
}

PyObject* data_as_dword(PyObject* self, PyObject*) {
    if (const auto* d = data_of(self).get_if<DwordData>()) return PyLong_FromUnsignedLong(d->value);
    if (const auto* d = data_of(self).get_if<DwordBigEndianData>()) return PyLong_FromUnsignedLong(d->value);
    return not_a("Not a DWORD value");
}

PyObject* data_as_qword(PyObject* self, PyObject*) {
    if (const auto* q = data_of(self).get_if<QwordData>()) return PyLong_FromUnsignedLongLong(q->value);
    return not_a("Not a QWORD value");
}

PyObject* str_list(const std::vector<std::string>& texts) {
    return to_list(texts, [](const std::string& text) { return to_str(text); });
}

PyObject* data_as_multi_string(PyObject* self, PyObject*) {
    const auto* m = data_of(self).get_if<MultiStringData>();
    if (m == nullptr) return not_a("Not a multi-string value");
    return str_list(m->texts);
}

PyObject* data_as_py(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&] { return value_data_to_py(data_of(self)); });
}

PyObject* data_repr(PyObject* self) {
    return catching(PanicStyle::Panic, [&] { return to_str(data_of(self).to_display_string()); });
}

PyMethodDef data_methods[] = {
    {.ml_name = "is_none",
     .ml_meth = data_is_none,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_none($self)\n--\n\nCheck if this is a None value"},
    {.ml_name = "is_string",
     .ml_meth = data_is_string,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_string($self)\n--\n\nCheck if this is a String value"},
    {.ml_name = "is_binary",
     .ml_meth = data_is_binary,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_binary($self)\n--\n\nCheck if this is a Binary value"},
    {.ml_name = "is_dword",
     .ml_meth = data_is_dword,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_dword($self)\n--\n\nCheck if this is a DWORD value"},
    {.ml_name = "is_qword",
     .ml_meth = data_is_qword,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_qword($self)\n--\n\nCheck if this is a QWORD value"},
    {.ml_name = "is_multi_string",
     .ml_meth = data_is_multi_string,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_multi_string($self)\n--\n\nCheck if this is a MultiString value"},
    {.ml_name = "as_string",
     .ml_meth = data_as_string,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_string($self)\n--\n\nGet as string (if applicable)"},
    {.ml_name = "as_binary",
     .ml_meth = data_as_binary,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_binary($self)\n--\n\nGet as binary data (if applicable)"},
    {.ml_name = "as_dword",
     .ml_meth = data_as_dword,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_dword($self)\n--\n\nGet as DWORD (if applicable)"},
    {.ml_name = "as_qword",
     .ml_meth = data_as_qword,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_qword($self)\n--\n\nGet as QWORD (if applicable)"},
    {.ml_name = "as_multi_string",
     .ml_meth = data_as_multi_string,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_multi_string($self)\n--\n\nGet as multi-string (if applicable)"},
    {.ml_name = "as_py",
     .ml_meth = data_as_py,
     .ml_flags = METH_NOARGS,
     .ml_doc = "as_py($self)\n--\n\nGet the data as a plain Python object: None, str, int, list of str or bytes"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot data_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for ValueData")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyValueData::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(data_repr)},
    {Py_tp_str, reinterpret_cast<void*>(data_repr)},
    {Py_tp_methods, data_methods},
    {0, nullptr},
};

PyType_Spec data_type_spec = {
    .name = "orvane.ValueData",
    .basicsize = sizeof(PyValueData),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = data_slots,
};

}  // namespace

PyObject* value_data_to_py(const value::ValueData& data) {
    return std::visit(base::Overloaded{
                          [](const NoData&) -> PyObject* { Py_RETURN_NONE; },
                          [](const StringData& s) { return to_str(s.text); },
                          [](const ExpandStringData& s) { return to_str(s.text); },
                          [](const BinaryData& b) { return to_bytes(b.bytes); },
                          [](const DwordData& d) { return PyLong_FromUnsignedLong(d.value); },
                          [](const DwordBigEndianData& d) { return PyLong_FromUnsignedLong(d.value); },
                          [](const MultiStringData& m) { return str_list(m.texts); },
                          [](const QwordData& q) { return PyLong_FromUnsignedLongLong(q.value); },
                          [](const OtherData& o) { return to_bytes(o.bytes); },
                      },
                      data.kind());
}

PyType_Spec& value_data_spec() { return data_type_spec; }

}  // namespace orvane::python
