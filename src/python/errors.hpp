#pragma once
// Turning core failures into Python exceptions. Every function here sets the
// Python error indicator and returns nullptr, so call sites can
// `return raise_...(...)`.

#include <exception>
#include <string>

#include "error/failure.hpp"
#include "error/registry_error.hpp"
#include "python/py_ref.hpp"

namespace orvane::python {

// Io -> OSError, every other kind -> ValueError, with the error's message.
OwnedRef registry_error_to_py(const RegistryError& error);
PyObject* raise_registry_error(const RegistryError& error);

// An unexpected internal failure outside the guarded key methods:
// PanicException (derived from BaseException) with the failure's text.
PyObject* raise_panic(const std::string& text);

// An unexpected internal failure inside RegistryKey.value/values/subkeys:
// RuntimeError "Rust panic: <text>" (or "Rust panic: unknown error").
PyObject* raise_guarded_panic(const std::string* text);

// Where an internal failure surfaces decides how it is raised.
enum class PanicStyle { Panic, Guarded };

PyObject* raise_failure(const error::Failure& failure, PanicStyle style);
// A RegistryError is raised alike in either style.
inline PyObject* raise_failure(const RegistryError& error, PanicStyle) { return raise_registry_error(error); }

// For a C++ exception that escaped core work: MemoryError for running out of
// memory (std::bad_alloc), otherwise an internal failure in the given style.
PyObject* raise_exception(const std::exception_ptr& exception, PanicStyle style);

}  // namespace orvane::python
