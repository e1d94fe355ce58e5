#pragma once
// Argument parsing for METH_FASTCALL | METH_KEYWORDS methods, with CPython's
// usual messages naming the method ("Hive.open()") and the parameter.

#include <optional>
#include <span>
#include <string>

#include "python/py_ref.hpp"

namespace orvane::python {

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

// Like text_argument, but None (or an argument not given) is no text.
bool optional_text_argument(const char* function, const char* parameter, PyObject* value,
                            std::optional<std::string>& out);

}  // namespace orvane::python
