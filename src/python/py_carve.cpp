// orvane.carve() and the CarvedItem class: what a scan of a raw image found.

#include <array>
#include <memory>
#include <string>

#include "carve/carve.hpp"
#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/gil.hpp"
#include "python/guarded.hpp"
#include "transaction_log/save.hpp"

namespace orvane::python {

namespace {

const carve::CarvedItem& item_of(PyObject* self) { return PyCarvedItem::of(self); }

const char* kind_name(carve::Kind kind) {
    switch (kind) {
        case carve::Kind::Hive: return "hive";
        case carve::Kind::Fragment: return "fragment";
        case carve::Kind::Record: return "record";
    }
    return "hive";
}

bool flag_argument(const char* parameter, PyObject* value, bool& out) {
    if (value == nullptr) return true;
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) return false;
    (void)parameter;
    out = truth != 0;
    return true;
}

}  // namespace

PyObject* carve_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 4> parameters{
        {{"path", true}, {"records", false}, {"memory", false}, {"progress", false}}};
    std::array<PyObject*, 4> values{};
    if (nargs > 1) {
        PyErr_SetString(PyExc_TypeError, "carve() takes 1 positional argument");
        return nullptr;
    }
    if (!parse_arguments("carve", parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const auto path = path_argument("carve", "path", values[0]);
        if (!path) return nullptr;
        carve::CarveOptions options;
        if (!flag_argument("records", values[1], options.records) || !flag_argument("memory", values[2], options.memory)) {
            return nullptr;
        }
        PyObject* progress = values[3] == Py_None ? nullptr : values[3];
        if (progress != nullptr && !PyCallable_Check(progress)) {
            PyErr_SetString(PyExc_TypeError, "carve() argument 'progress' must be callable or None");
            return nullptr;
        }
        // The callback takes the lock back for each call; an exception it
        // raises stops the scan and is raised again here.
        OwnedRef raised;
        if (progress != nullptr) {
            options.progress = [&](std::uint64_t done, std::uint64_t total) {
                const PyGILState_STATE state = PyGILState_Ensure();
                OwnedRef result = OwnedRef::steal(PyObject_CallFunction(progress, "KK",
                                                                        static_cast<unsigned long long>(done),
                                                                        static_cast<unsigned long long>(total)));
                const bool go_on = static_cast<bool>(result);
                if (!go_on) raised = OwnedRef::steal(PyErr_GetRaisedException());
                PyGILState_Release(state);
                return go_on;
            };
        }
        Result<carve::CarveResult> found = [&] {
            ReleasedGil unlocked;
            return carve::carve_file(*path, options);
        }();
        if (raised) {
            PyErr_SetRaisedException(raised.release());
            return nullptr;
        }
        if (!found) return raise_registry_error(found.error());
        return to_list(found->items, [](carve::CarvedItem& item) {
            return PyCarvedItem::create(classes().carved_item, std::move(item));
        });
    });
}

namespace {

PyObject* get_kind(PyObject* self, void*) { return PyUnicode_FromString(kind_name(item_of(self).kind)); }
PyObject* get_image_offset(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(item_of(self).image_offset); }
PyObject* get_size(PyObject* self, void*) { return PyLong_FromUnsignedLongLong(item_of(self).size); }
PyObject* get_truncated(PyObject* self, void*) { return PyBool_FromLong(item_of(self).truncated); }
PyObject* get_compressed(PyObject* self, void*) { return PyBool_FromLong(item_of(self).compressed); }
PyObject* get_hive_offset(PyObject* self, void*) {
    const carve::CarvedItem& item = item_of(self);
    if (item.kind != carve::Kind::Fragment) Py_RETURN_NONE;
    return PyLong_FromUnsignedLong(item.hive_offset);
}
PyObject* get_last_written(PyObject* self, void*) {
    const carve::CarvedItem& item = item_of(self);
    if (item.kind != carve::Kind::Hive) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(item.last_written);
}
PyObject* get_file_name(PyObject* self, void*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const carve::CarvedItem& item = item_of(self);
        if (item.kind != carve::Kind::Hive) Py_RETURN_NONE;
        return to_str(item.file_name);
    });
}
PyObject* get_reconstructed_from(PyObject* self, void*) {
    return catching(PanicStyle::Panic, [&] {
        return to_list(item_of(self).reconstructed_from(),
                       [](std::uint64_t offset) { return PyLong_FromUnsignedLongLong(offset); });
    });
}

PyObject* item_hive(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const carve::CarvedItem& item = item_of(self);
        return run_unlocked(PanicStyle::Panic, [&] { return carve::open_item(item); }, new_hive);
    });
}

PyObject* item_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"path", true}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments("CarvedItem.save", parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const auto path = path_argument("CarvedItem.save", "path", values[0]);
        if (!path) return nullptr;
        const carve::CarvedItem& item = item_of(self);
        return run_unlocked(
            PanicStyle::Panic,
            [&] {
                const utils::ImageBytes bytes = carve::item_bytes(item);
                return transaction_log::save_image(utils::Bytes(bytes.data(), bytes.size()), *path);
            },
            []() -> PyObject* { Py_RETURN_NONE; });
    });
}

PyObject* item_repr(PyObject* self) {
    const carve::CarvedItem& item = item_of(self);
    return PyUnicode_FromFormat("CarvedItem(kind='%s', image_offset=0x%llx, size=0x%llx%s)", kind_name(item.kind),
                                static_cast<unsigned long long>(item.image_offset),
                                static_cast<unsigned long long>(item.size), item.truncated ? ", truncated" : "");
}

PyGetSetDef item_properties[] = {
    {"kind", get_kind, nullptr, "Get what was carved: 'hive', 'fragment' or 'record'", nullptr},
    {"image_offset", get_image_offset, nullptr, "Get where it starts in the image", nullptr},
    {"size", get_size, nullptr, "Get the number of bytes carved", nullptr},
    {"truncated", get_truncated, nullptr, "Get whether a hive's bins stop short of its hive bins data size", nullptr},
    {"compressed", get_compressed, nullptr, "Get whether it was decoded from NTFS compression units", nullptr},
    {"reconstructed_from", get_reconstructed_from, nullptr,
     "Get the image offsets of the parts a hive was rebuilt from (empty when it lay in one piece)", nullptr},
    {"hive_offset", get_hive_offset, nullptr, "Get a fragment's offset in its hive (None for other kinds)", nullptr},
    {"file_name", get_file_name, nullptr, "Get a hive's file name from its base block (None for other kinds)", nullptr},
    {"last_written", get_last_written, nullptr,
     "Get a hive's base block timestamp as a FILETIME (None for other kinds)", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef item_methods[] = {
    {.ml_name = "hive",
     .ml_meth = item_hive,
     .ml_flags = METH_NOARGS,
     .ml_doc = "hive($self)\n--\n\nOpen the carved bytes as a Hive, the tolerant way; see Hive.problems()"},
    {.ml_name = "save",
     .ml_meth = fast_method(item_save),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "save($self, path)\n--\n\nWrite the carved bytes to a file"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot item_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for CarvedItem: a hive, fragment or page of loose records found by carve()")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyCarvedItem::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(item_repr)},
    {Py_tp_getset, item_properties},
    {Py_tp_methods, item_methods},
    {0, nullptr},
};

PyType_Spec item_type_spec = {
    .name = "orvane.CarvedItem",
    .basicsize = sizeof(PyCarvedItem),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = item_slots,
};

}  // namespace

PyType_Spec& carved_item_spec() { return item_type_spec; }

const char carve_doc[] =
    "carve(path, *, records=False, memory=False, progress=None)\n--\n\n"
    "Scan a raw image (disk image, unallocated space, memory dump) for hives, hive fragments and, "
    "with records=True, loose key and value records; progress(done, total) is called now and then";

}  // namespace orvane::python
