#include "python/datetime.hpp"

#include <datetime.h>

#include <string>

#include "error/registry_error.hpp"
#include "python/errors.hpp"
#include "utils/filetime.hpp"

namespace orvane::python {

PyObject* filetime_to_datetime(std::uint64_t filetime) {
    // The capsule is imported once, with the interpreter lock held.
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) return nullptr;
    }
    const utils::CivilTime t = utils::civil_time_from_filetime(filetime);
    if (t.year > 9999) {
        return raise_registry_error(
            error::invalid_format("Time " + std::to_string(filetime) + " lies past the year 9999"));
    }
    return PyDateTimeAPI->DateTime_FromDateAndTime(static_cast<int>(t.year), static_cast<int>(t.month),
                                                   static_cast<int>(t.day), static_cast<int>(t.hour),
                                                   static_cast<int>(t.minute), static_cast<int>(t.second),
                                                   static_cast<int>(t.microsecond), PyDateTime_TimeZone_UTC,
                                                   PyDateTimeAPI->DateTimeType);
}

PyObject* optional_filetime_to_datetime(std::uint64_t filetime) {
    if (filetime == 0) Py_RETURN_NONE;
    return filetime_to_datetime(filetime);
}

}  // namespace orvane::python
