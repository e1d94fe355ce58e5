// The module entry point.
//
// The module object is created once per process, in the first interpreter that
// imports it; that interpreter becomes its owner and an import from any other
// (sub-)interpreter fails with ImportError. A repeated initialisation in the
// owner returns the same module object.
//
// The module needs no GIL: its only shared state (the owner record, the module
// object, the class objects and PanicException) is set once, by a
// compare-and-swap or under SharedStateLock; the hives' key caches carry their
// own locks and native payloads hold their hives through atomic reference counts.

#include <atomic>
#include <cstdint>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/py_open.hpp"
#include "python/shared_state_lock.hpp"

namespace orvane::python {

Classes& classes() noexcept {
    static Classes instance;
    return instance;
}

namespace {

PyMethodDef module_methods[] = {
    {.ml_name = "open",
     .ml_meth = fast_method(module_open),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "open(path, *, logs='auto', tolerant=False)\n--\n\n"
               "Open a hive as the command line does: with the transaction logs found beside it (logs='auto'), "
               "none (logs='none') or the paths given; tolerant=True reads a damaged file with open_tolerant and "
               "no logs. Warns with DirtyHiveWarning when the result is still dirty"},
    {.ml_name = "carve", .ml_meth = fast_method(carve_function), .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = carve_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "orvane",
    .m_doc = "Python module definition",
    .m_size = 0,
    .m_methods = module_methods,
};

std::atomic<std::int64_t> owner_interpreter{-1};
// Owned reference, kept for the life of the process; read and written under
// SharedStateLock. The class slots are filled under the same lock, before the
// module that publishes them is handed out.
PyObject* module_object = nullptr;

// Appends `name` to __all__ (creating the list when missing), then sets it.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = OwnedRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    OwnedRef text = OwnedRef::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
    return PyObject_SetAttrString(module, name, value) == 0;
}

bool add_class(PyObject* module, const char* name, PyType_Spec& spec, PyTypeObject*& slot) {
    if (slot == nullptr) {
        slot = make_class(spec);
        if (slot == nullptr) return false;
    }
    return add_attribute(module, name, reinterpret_cast<PyObject*>(slot));
}

bool add_dirty_hive_warning(PyObject* module, PyObject*& slot) {
    if (slot == nullptr) {
        slot = PyErr_NewExceptionWithDoc("orvane.DirtyHiveWarning",
                                         "A hive opened by orvane.open is still dirty: no usable transaction log "
                                         "brought it up to date, and its contents may be inconsistent",
                                         PyExc_UserWarning, nullptr);
        if (slot == nullptr) return false;
    }
    // Not in __all__, which names the classes and the version only.
    return PyModule_AddObjectRef(module, "DirtyHiveWarning", slot) == 0;
}

PyObject* create_module() {
    OwnedRef module = OwnedRef::steal(PyModule_Create(&module_definition));
    if (!module) return nullptr;
#ifdef Py_GIL_DISABLED
    // The single-phase form of the Py_mod_gil slot: importing orvane leaves
    // the GIL off on a free-threaded interpreter.
    if (PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED) < 0) return nullptr;
#endif
    Classes& c = classes();
    OwnedRef version = OwnedRef::steal(PyUnicode_FromString(ORVANE_VERSION));
    const bool ok = add_class(module.get(), "Hive", hive_spec(), c.hive) &&
                    add_class(module.get(), "RegistryKey", registry_key_spec(), c.registry_key) &&
                    add_class(module.get(), "RegistryValue", registry_value_spec(), c.registry_value) &&
                    add_class(module.get(), "ValueData", value_data_spec(), c.value_data) &&
                    add_class(module.get(), "ValueType", value_type_spec(), c.value_type) &&
                    add_class(module.get(), "BaseBlock", base_block_spec(), c.base_block) &&
                    add_class(module.get(), "HbinHeader", hbin_header_spec(), c.hbin_header) &&
                    add_dirty_hive_warning(module.get(), c.dirty_hive_warning) &&
                    add_class(module.get(), "CarvedItem", carved_item_spec(), c.carved_item) && version &&
                    add_attribute(module.get(), "__version__", version.get()) &&
                    (c.key_walk != nullptr || (c.key_walk = make_class(key_walk_spec())) != nullptr) &&
                    (c.hive_table != nullptr || (c.hive_table = make_class(hive_table_spec())) != nullptr);
    return ok ? module.release() : nullptr;
}

}  // namespace

}  // namespace orvane::python

PyMODINIT_FUNC PyInit_orvane() {
    using namespace orvane::python;
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) return nullptr;
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "orvane does not support sub-interpreters: it can only be imported by the main "
                        "interpreter of a process");
        return nullptr;
    }
    SharedStateLock lock;
    if (module_object == nullptr) module_object = create_module();
    return Py_XNewRef(module_object);
}
