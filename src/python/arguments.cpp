#include "python/arguments.hpp"

#include <cstring>

namespace orvane::python {

bool parse_arguments(const char* function, std::span<const Parameter> parameters, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) {
    const auto count = static_cast<Py_ssize_t>(parameters.size());
    for (auto& slot : out) slot = nullptr;
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", function, count,
                     count == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = args[i];

    const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        std::size_t index = parameters.size();
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            if (PyUnicode_CompareWithASCIIString(key, parameters[i].name) == 0) {
                index = i;
                break;
            }
        }
        if (index == parameters.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
            return false;
        }
        if (out[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                         parameters[index].name);
            return false;
        }
        out[index] = args[nargs + k];
    }

    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i].required && out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'", function,
                         parameters[i].name);
            return false;
        }
    }
    return true;
}

namespace {

bool require_str(const char* function, const char* parameter, PyObject* value) {
    if (PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str, not %s", function, parameter,
                 Py_TYPE(value)->tp_name);
    return false;
}

}  // namespace

std::optional<std::string> text_argument(const char* function, const char* parameter, PyObject* value) {
    if (!require_str(function, parameter, value)) return std::nullopt;
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(value, &size);
    if (text == nullptr) return std::nullopt;  // e.g. lone surrogates: UnicodeEncodeError
    return std::string(text, static_cast<std::size_t>(size));
}

std::optional<std::string> path_argument(const char* function, const char* parameter, PyObject* value) {
    if (!require_str(function, parameter, value)) return std::nullopt;
    const OwnedRef encoded = OwnedRef::steal(PyUnicode_EncodeFSDefault(value));
    if (!encoded) return std::nullopt;
    return std::string(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
}

bool optional_path_argument(const char* function, const char* parameter, PyObject* value,
                            std::optional<std::string>& out) {
    out.reset();
    if (value == nullptr || value == Py_None) return true;
    out = path_argument(function, parameter, value);
    return out.has_value();
}

}  // namespace orvane::python
