#pragma once
// Stored times as Python datetime objects.

#include <cstdint>

#include "python/py_ref.hpp"

namespace orvane::python {

// A timezone-aware UTC datetime for a count of 100-nanosecond intervals since
// 1601-01-01, to the microsecond (truncated). A count past the year 9999,
// where datetime ends, raises ValueError. New reference, or nullptr with an
// exception set.
PyObject* filetime_to_datetime(std::uint64_t filetime);

// None for a stored time of 0 (never written), else filetime_to_datetime().
PyObject* optional_filetime_to_datetime(std::uint64_t filetime);

}  // namespace orvane::python
