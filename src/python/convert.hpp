#pragma once
// Native values to new Python objects. Each returns a new reference, or
// nullptr with an exception set (only when memory runs out).

#include <cstdint>
#include <iterator>
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

// A new list holding `convert(item)` for each item in order; nullptr (with
// the exception set) as soon as one conversion fails.
template <class Items, class Convert>
PyObject* to_list(Items&& items, Convert&& convert) {
    OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (auto&& item : items) {
        PyObject* element = convert(std::forward<decltype(item)>(item));
        if (element == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), i++, element);
    }
    return list.release();
}

}  // namespace orvane::python
