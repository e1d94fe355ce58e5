#pragma once
// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods, with CPython's
// usual messages naming the method ("Hive.open()") and the parameter.

#include <optional>
#include <span>
#include <string>

#include "python/py_ref.hpp"

namespace orvane::python {

// A METH_FASTCALL | METH_KEYWORDS method as the method table stores it.
inline PyCFunction fast_method(PyObject* (*method)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

struct Parameter {
    const char* name;
    bool required;
};

// Fills `out` (one slot per parameter, borrowed references, nullptr when an
// optional parameter was not given). Returns false with TypeError set on a
// missing, surplus, duplicated or unknown argument.
bool parse_arguments(const char* function, std::span<const Parameter> parameters, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out);

// A str argument as UTF-8 text; TypeError naming the parameter otherwise.
std::optional<std::string> text_argument(const char* function, const char* parameter, PyObject* value);

// A str path as the bytes the operating system knows it by: encoded with the
// file-system encoding and its error handler, as os.fsencode does, so a name
// that os.listdir gave with surrogate escapes names the same file again.
// TypeError naming the parameter when it is not a str.
std::optional<std::string> path_argument(const char* function, const char* parameter, PyObject* value);

// Like path_argument, but None (or an argument not given) is no path.
bool optional_path_argument(const char* function, const char* parameter, PyObject* value,
                            std::optional<std::string>& out);

}  // namespace orvane::python
