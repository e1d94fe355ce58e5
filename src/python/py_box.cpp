#include "python/py_box.hpp"

#include <cstring>

namespace orvane::python {

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

PyTypeObject* make_class(PyType_Spec& spec) {
    // Each class is declared as "orvane.<Name>" so that CPython sets __module__
    // (a name without a dot draws a DeprecationWarning, an import failure under
    // -W error); the type's own name is then pointed at the bare class name,
    // inside the same buffer, which lives as long as the type.
    OwnedRef type = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
    if (const char* dot = std::strrchr(tp->tp_name, '.')) tp->tp_name = dot + 1;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace orvane::python
