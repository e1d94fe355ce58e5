#pragma once
// Ownership of PyObject references, carried in the type.
//
// OwnedRef holds one strong reference and drops it when destroyed; steal()
// adopts a new reference (as returned by most C-API calls, possibly null),
// new_ref() takes an extra one on a borrowed pointer, release() hands the
// reference to the caller (to return it to CPython). A wrapper holding a single
// pointer costs nothing over a bare PyObject*. No bare Py_DECREF elsewhere.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace orvane::python {

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    static OwnedRef new_ref(PyObject* object) noexcept { return OwnedRef(Py_XNewRef(object)); }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace orvane::python
