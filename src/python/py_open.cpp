// orvane.open: a hive opened as the command line opens it, with the
// transaction logs found beside it, and a DirtyHiveWarning when the result is
// still dirty.

#include "python/py_open.hpp"

#include <array>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "transaction_log/opening.hpp"

namespace orvane::python {

namespace {

constexpr const char* function = "orvane.open";

// `logs`: "auto" (or not given), "none" or None, or a list or tuple of at
// most two paths.
bool logs_argument(PyObject* logs, transaction_log::OpeningRequest& request) {
    if (logs == nullptr || logs == Py_None) {
        request.logs = logs == nullptr ? transaction_log::LogChoice::Found : transaction_log::LogChoice::None;
        return true;
    }
    if (PyUnicode_Check(logs)) {
        if (PyUnicode_CompareWithASCIIString(logs, "auto") == 0) return true;
        if (PyUnicode_CompareWithASCIIString(logs, "none") == 0) {
            request.logs = transaction_log::LogChoice::None;
            return true;
        }
        PyErr_Format(PyExc_ValueError, "%s() argument 'logs' must be \"auto\", \"none\" or a list of paths, not %R",
                     function, logs);
        return false;
    }
    if (!PyList_Check(logs) && !PyTuple_Check(logs)) {
        PyErr_Format(PyExc_TypeError, "%s() argument 'logs' must be str, list or tuple, not %s", function,
                     Py_TYPE(logs)->tp_name);
        return false;
    }
    OwnedRef items = OwnedRef::steal(PySequence_Tuple(logs));
    if (!items) return false;
    if (PyTuple_GET_SIZE(items.get()) > 2) {
        PyErr_Format(PyExc_ValueError, "%s() takes at most two log paths", function);
        return false;
    }
    request.logs = transaction_log::LogChoice::Named;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items.get()); ++i) {
        const auto path = path_argument(function, "logs", PyTuple_GET_ITEM(items.get(), i));
        if (!path) return false;
        request.named.push_back(*path);
    }
    return true;
}

// The note as "PATH: note", decoded as paths are (surrogate escapes for
// bytes that are not in the file-system encoding).
bool warn(PyObject* path, const transaction_log::Opening& opened) {
    if (!opened.note || opened.routine) return true;  // the hive is as its logs left it: nothing to warn of
    OwnedRef note = OwnedRef::steal(
        PyUnicode_DecodeFSDefaultAndSize(opened.note->data(), static_cast<Py_ssize_t>(opened.note->size())));
    if (!note) return false;
    OwnedRef message = OwnedRef::steal(PyUnicode_FromFormat("%U: %U", path, note.get()));
    if (!message) return false;
    PyObject* category = opened.dirty ? classes().dirty_hive_warning : PyExc_UserWarning;
    // Through warnings.warn, which takes the message as a str (a path may
    // hold surrogate escapes); stacklevel 1 is the caller of orvane.open.
    OwnedRef warnings = OwnedRef::steal(PyImport_ImportModule("warnings"));
    if (!warnings) return false;
    OwnedRef done = OwnedRef::steal(PyObject_CallMethod(warnings.get(), "warn", "OO", message.get(), category));
    return static_cast<bool>(done);
}

}  // namespace

PyObject* module_open(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 3> parameters{{{"path", true}, {"logs", false}, {"tolerant", false}}};
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zd were given", function, nargs);
        return nullptr;
    }
    std::array<PyObject*, 3> values{};
    if (!parse_arguments(function, parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        transaction_log::OpeningRequest request;
        const auto path = path_argument(function, "path", values[0]);
        if (!path) return nullptr;
        request.path = *path;
        if (!logs_argument(values[1], request)) return nullptr;
        if (values[2] != nullptr) {
            const int tolerant = PyObject_IsTrue(values[2]);
            if (tolerant < 0) return nullptr;
            request.tolerant = tolerant != 0;
        }
        if (request.tolerant && request.logs == transaction_log::LogChoice::Named) {
            PyErr_Format(PyExc_ValueError,
                         "%s() reads the hive file alone when tolerant=True and takes no log paths", function);
            return nullptr;
        }
        return run_unlocked(
            PanicStyle::Panic, [&] { return transaction_log::open_hive(request); },
            [&](transaction_log::Opening opened) -> PyObject* {
                OwnedRef hive = OwnedRef::steal(new_hive(opened.hive));
                if (!hive || !warn(values[0], opened)) return nullptr;
                return hive.release();
            });
    });
}

}  // namespace orvane::python
