#include "python/py_hive_logs.hpp"

#include <array>
#include <optional>
#include <string>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "transaction_log/open_with_logs.hpp"
#include "transaction_log/save.hpp"

namespace orvane::python {

PyObject* hive_open_with_logs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr const char* function = "Hive.open_with_logs";
    static constexpr std::array<Parameter, 3> parameters{
        {{"hive_path", true}, {"log1_path", false}, {"log2_path", false}}};
    std::array<PyObject*, 3> values{};
    if (!parse_arguments(function, parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const auto hive_path = path_argument(function, "hive_path", values[0]);
        if (!hive_path) return nullptr;
        std::optional<std::string> log1;
        std::optional<std::string> log2;
        if (!optional_path_argument(function, "log1_path", values[1], log1)) return nullptr;
        if (!optional_path_argument(function, "log2_path", values[2], log2)) return nullptr;

        // Replay may allocate up to the limits of a damaged log; running out of
        // memory there becomes a Python exception, not an unwind through CPython.
        return run_unlocked(
            PanicStyle::Panic, [&] { return transaction_log::open_with_logs(*hive_path, log1, log2); },
            new_hive);
    });
}

PyObject* hive_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"path", true}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments("Hive.save", parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const auto path = path_argument("Hive.save", "path", values[0]);
        if (!path) return nullptr;

        // Our own reference keeps the hive alive while the lock is released.
        const std::shared_ptr<const hive::Hive> hive = PyHive::of(self).hive;
        return run_unlocked(PanicStyle::Panic, [&] { return transaction_log::save(*hive, *path); },
                            []() -> PyObject* { Py_RETURN_NONE; });
    });
}

}  // namespace orvane::python
