#pragma once
// Keeping C++ exceptions out of CPython.
//
// Core work can throw only on an internal fault (running out of memory); the
// methods run it through these helpers so that such a fault becomes a Python
// exception instead of unwinding through the interpreter.

#include <exception>
#include <type_traits>
#include <utility>

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

// The shape of every method that does hive work: `work` runs with the lock
// released and returns a Result or Checked; a failure, or a C++ exception it
// threw, is raised in `style`; a success goes to `build` with the lock held.
// The caller keeps whatever `work` reads (the hive) alive until this returns.
template <class Work, class Build>
PyObject* run_unlocked(PanicStyle style, Work&& work, Build&& build) {
    auto outcome = without_gil_catching(std::forward<Work>(work));
    if (!outcome) return raise_exception(outcome.error(), style);
    if (!*outcome) return raise_failure(outcome->error(), style);
    if constexpr (std::is_void_v<typename std::remove_reference_t<decltype(*outcome)>::value_type>) {
        return build();
    } else {
        return build(std::move(**outcome));
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
