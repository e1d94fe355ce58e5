#pragma once
// Keeping C++ exceptions out of CPython.
//
// Core work can throw only on an internal fault (running out of memory); the
// methods run it through these helpers so that such a fault becomes a Python
// exception instead of unwinding through the interpreter.

#include <exception>

#include "error/expected.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"

namespace orvane::python {

// Runs `work` with the interpreter lock released. A C++ exception it throws is
// caught there and handed back; the lock is held again when this returns.
template <class Work>
auto without_gil_catching(Work&& work) -> error::Expected<decltype(work()), std::exception_ptr> {
    ReleasedGil released;
    try {
        return work();
    } catch (...) {
        return error::unexpected(std::current_exception());
    }
}

// Runs a method body (with the lock held); an exception that escapes it is
// raised in Python in the given style.
template <class Body>
PyObject* catching(PanicStyle style, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return raise_exception(std::current_exception(), style);
    }
}

}  // namespace orvane::python
