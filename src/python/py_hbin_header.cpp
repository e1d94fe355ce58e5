// The HbinHeader class: a read-only snapshot of one hive bin header.

#include "python/classes.hpp"
#include "python/guarded.hpp"
#include "base/unicode.hpp"

namespace orvane::python {

namespace {

const hive::HbinHeader& header_of(PyObject* self) { return PyHbinHeader::of(self); }

PyObject* get_signature(PyObject* self, void*) {
    return catching(PanicStyle::Panic, [&] {
        const std::string text = base::utf8_lossy(header_of(self).signature);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}
PyObject* get_offset(PyObject* self, void*) { return PyLong_FromUnsignedLong(header_of(self).offset); }
PyObject* get_size(PyObject* self, void*) { return PyLong_FromUnsignedLong(header_of(self).size); }

PyObject* hbin_header_repr(PyObject* self) {
    const hive::HbinHeader& header = header_of(self);
    return PyUnicode_FromFormat("HbinHeader(offset=0x%x, size=0x%x)", header.offset, header.size);
}

PyGetSetDef hbin_header_properties[] = {
    {"signature", get_signature, nullptr, "Get the signature (should be \"hbin\")", nullptr},
    {"offset", get_offset, nullptr, "Get the offset from the start of the hive bins data", nullptr},
    {"size", get_size, nullptr, "Get the size of this hbin", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot hbin_header_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for HbinHeader")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyHbinHeader::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(hbin_header_repr)},
    {Py_tp_getset, hbin_header_properties},
    {0, nullptr},
};

PyType_Spec hbin_header_type_spec = {
    .name = "orvane.HbinHeader",
    .basicsize = sizeof(PyHbinHeader),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = hbin_header_slots,
};

}  // namespace

PyType_Spec& hbin_header_spec() { return hbin_header_type_spec; }

}  // namespace orvane::python
