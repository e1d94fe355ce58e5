#include "python/py_box.hpp"

namespace orvane::python {

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

PyTypeObject* make_class(PyType_Spec& spec) {
    OwnedRef type = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    // The type's name stays bare; __module__ lets help() and repr() place it.
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    OwnedRef module_name = OwnedRef::steal(PyUnicode_FromString("orvane"));
    if (!module_name || PyDict_SetItemString(tp->tp_dict, "__module__", module_name.get()) < 0) return nullptr;
    PyType_Modified(tp);
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace orvane::python
