#include "python/errors.hpp"

#include <new>

#include "python/shared_state_lock.hpp"

namespace orvane::python {

namespace {

// Created on first need and kept for the life of the process. A failed
// creation is not kept: its exception is raised now and a later need tries again.
PyObject* panic_exception_type() {
    static PyObject* type = nullptr;  // read and written under SharedStateLock
    SharedStateLock lock;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc(
            "orvane.PanicException",
            "An unexpected internal failure of orvane. Derives from BaseException so that\n"
            "handlers for Exception do not catch it.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

}  // namespace

OwnedRef registry_error_to_py(const RegistryError& error) {
    PyObject* type = error.is<error::Io>() ? PyExc_OSError : PyExc_ValueError;
    const std::string text = error.message();
    OwnedRef message = OwnedRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!message) return {};
    return OwnedRef::steal(PyObject_CallOneArg(type, message.get()));
}

PyObject* raise_registry_error(const RegistryError& error) {
    OwnedRef exception = registry_error_to_py(error);
    if (exception) PyErr_SetRaisedException(exception.release());
    return nullptr;
}

PyObject* raise_panic(const std::string& text) {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return nullptr;
    PyErr_SetString(type, text.c_str());
    return nullptr;
}

PyObject* raise_guarded_panic(const std::string* text) {
    const std::string message = "Rust panic: " + (text != nullptr ? *text : std::string("unknown error"));
    PyErr_SetString(PyExc_RuntimeError, message.c_str());
    return nullptr;
}

PyObject* raise_failure(const error::Failure& failure, PanicStyle style) {
    if (const auto* registry_error = failure.registry_error()) return raise_registry_error(*registry_error);
    const std::string& text = failure.internal_failure()->text;
    return style == PanicStyle::Guarded ? raise_guarded_panic(&text) : raise_panic(text);
}

PyObject* raise_exception(const std::exception_ptr& exception, PanicStyle style) {
    try {
        std::rethrow_exception(exception);
    } catch (const std::bad_alloc&) {
        // Running out of memory is no internal fault; Python's signal for it
        // is MemoryError, whatever the method.
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        const std::string text = e.what();
        return style == PanicStyle::Guarded ? raise_guarded_panic(&text) : raise_panic(text);
    } catch (...) {
        return style == PanicStyle::Guarded ? raise_guarded_panic(nullptr) : raise_panic("unknown error");
    }
}

}  // namespace orvane::python
