// The BaseBlock class: a read-only snapshot of a hive's base block.

#include "python/classes.hpp"
#include "python/datetime.hpp"
#include "python/guarded.hpp"
#include "base/unicode.hpp"

namespace orvane::python {

namespace {

const hive::BaseBlock& block_of(PyObject* self) { return PyBaseBlock::of(self); }

PyObject* signature_text(PyObject* self) {
    return catching(PanicStyle::Panic, [&] {
        const std::string text = base::utf8_lossy(block_of(self).signature);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* get_signature(PyObject* self, void*) { return signature_text(self); }
PyObject* get_primary_sequence(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(block_of(self).primary_sequence);
}
PyObject* get_secondary_sequence(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(block_of(self).secondary_sequence);
}
PyObject* get_root_cell_offset(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(block_of(self).root_cell_offset);
}
PyObject* get_hive_bins_data_size(PyObject* self, void*) {
    return PyLong_FromUnsignedLong(block_of(self).hive_bins_data_size);
}
PyObject* get_file_name(PyObject* self, void*) {
    const std::string& name = block_of(self).file_name;
    return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

PyObject* get_timestamp(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(block_of(self).timestamp); }
PyObject* get_last_written(PyObject* self, void*) {
    return catching(PanicStyle::Panic, [&] { return optional_filetime_to_datetime(block_of(self).timestamp); });
}
PyObject* get_major_version(PyObject* self, void*) { return PyLong_FromUnsignedLong(block_of(self).major_version); }
PyObject* get_minor_version(PyObject* self, void*) { return PyLong_FromUnsignedLong(block_of(self).minor_version); }
PyObject* get_file_type(PyObject* self, void*) { return PyLong_FromUnsignedLong(block_of(self).file_type); }
PyObject* get_file_format(PyObject* self, void*) { return PyLong_FromUnsignedLong(block_of(self).file_format); }
PyObject* get_checksum(PyObject* self, void*) { return PyLong_FromUnsignedLong(block_of(self).checksum); }
PyObject* get_is_dirty(PyObject* self, void*) {
    const hive::BaseBlock& block = block_of(self);
    return PyBool_FromLong(block.primary_sequence != block.secondary_sequence);
}

PyObject* base_block_repr(PyObject* self) {
    OwnedRef signature = OwnedRef::steal(signature_text(self));
    if (!signature) return nullptr;
    const hive::BaseBlock& block = block_of(self);
    return PyUnicode_FromFormat("BaseBlock(signature=%U, root_offset=0x%x, hive_length=0x%x)", signature.get(),
                                block.root_cell_offset, block.hive_bins_data_size);
}

PyGetSetDef base_block_properties[] = {
    {"signature", get_signature, nullptr, "Get the signature (should be \"regf\")", nullptr},
    {"primary_sequence", get_primary_sequence, nullptr, "Get the primary sequence number", nullptr},
    {"secondary_sequence", get_secondary_sequence, nullptr, "Get the secondary sequence number", nullptr},
    {"root_cell_offset", get_root_cell_offset, nullptr, "Get the root cell offset", nullptr},
    {"hive_length", get_hive_bins_data_size, nullptr, "Get the hive length (size of hive data in bytes)",
     nullptr},
    {"file_name", get_file_name, nullptr, "Get the file name", nullptr},
    {"hive_bins_data_size", get_hive_bins_data_size, nullptr, "Get the hive bins data size (same as hive_length)",
     nullptr},
    {"timestamp", get_timestamp, nullptr,
     "Get the last-written time as stored (100-nanosecond intervals since 1601-01-01 UTC)", nullptr},
    {"last_written", get_last_written, nullptr, "Get the last-written time as a UTC datetime (None when 0)",
     nullptr},
    {"major_version", get_major_version, nullptr, "Get the major format version", nullptr},
    {"minor_version", get_minor_version, nullptr, "Get the minor format version", nullptr},
    {"file_type", get_file_type, nullptr, "Get the file type (0 for a primary hive file)", nullptr},
    {"file_format", get_file_format, nullptr, "Get the file format (1 for direct memory load)", nullptr},
    {"checksum", get_checksum, nullptr, "Get the base block checksum as stored", nullptr},
    {"is_dirty", get_is_dirty, nullptr,
     "Whether the two sequence numbers differ (the hive was not closed cleanly)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot base_block_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for BaseBlock")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyBaseBlock::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(base_block_repr)},
    {Py_tp_getset, base_block_properties},
    {0, nullptr},
};

PyType_Spec base_block_type_spec = {
    .name = "orvane.BaseBlock",
    .basicsize = sizeof(PyBaseBlock),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = base_block_slots,
};

}  // namespace

PyType_Spec& base_block_spec() { return base_block_type_spec; }

}  // namespace orvane::python
