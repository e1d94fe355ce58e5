#pragma once
// Native values to new Python objects. Each returns a new reference, or
// nullptr with an exception set (only when memory runs out).

#include <cstdint>
#include <span>
#include <string_view>

#include "python/py_ref.hpp"

namespace orvane::python {

// Texts from the core are UTF-8; "replace" keeps a stray ill-formed byte from
// turning a read into a failure.
inline PyObject* to_str(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

inline PyObject* to_bytes(std::span<const std::uint8_t> bytes) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace orvane::python
