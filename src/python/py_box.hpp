#pragma once
// A Python object that owns one C++ payload. Instances are made only by the
// module (the classes have no constructor); the payload is destroyed with the
// object. None of the payloads refer to Python objects, so the types need no
// garbage-collector support.

#include <new>
#include <utility>

#include "python/py_ref.hpp"

namespace orvane::python {

template <class Payload>
struct PyBox {
    PyObject_HEAD
    Payload payload;

    // A new instance of `type` holding `payload`, or nullptr with an exception set.
    static PyObject* create(PyTypeObject* type, Payload payload) {
        PyObject* self = type->tp_alloc(type, 0);
        if (self == nullptr) return nullptr;
        new (&reinterpret_cast<PyBox*>(self)->payload) Payload(std::move(payload));
        return self;
    }

    static Payload& of(PyObject* self) noexcept { return reinterpret_cast<PyBox*>(self)->payload; }

    static void dealloc(PyObject* self) {
        PyTypeObject* type = Py_TYPE(self);
        reinterpret_cast<PyBox*>(self)->payload.~Payload();
        type->tp_free(self);
        Py_DECREF(type);  // instances of heap types own a reference to their type
    }
};

// The tp_new of every class: instances come only from the module.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// Builds a class from its type slots (declared as "orvane.<Name>"); the type's name is the
// bare class name and its __module__ "orvane". The class is kept for the life
// of the process. Returns nullptr with an exception set on failure.
PyTypeObject* make_class(PyType_Spec& spec);

}  // namespace orvane::python
