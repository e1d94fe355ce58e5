// The Hive class: opening hives, the base block, the hive bins.

#include <array>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "python/py_hive_deleted.hpp"
#include "python/py_hive_find.hpp"
#include "python/py_hive_logs.hpp"
#include "python/py_hive_table.hpp"
#include "python/py_registry_key.hpp"
#include "recovery/orphan_keys.hpp"

namespace orvane::python {

namespace {

const std::shared_ptr<const hive::Hive>& hive_of(PyObject* self) { return PyHive::of(self).hive; }

// Hive.open and Hive.open_tolerant: the path is converted with the lock
// held, the file is opened and loaded without it.
template <class Open>
PyObject* open_hive(const char* method, Open&& open, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"path", true}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments(method, parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const auto path = path_argument(method, "path", values[0]);
        if (!path) return nullptr;
        return run_unlocked(PanicStyle::Panic, [&] { return open(*path); }, new_hive);
    });
}

PyObject* hive_open(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return open_hive("Hive.open", hive::Hive::open, args, nargs, kwnames);
}

PyObject* hive_open_tolerant(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return open_hive("Hive.open_tolerant", hive::Hive::open_tolerant, args, nargs, kwnames);
}

PyObject* hive_problems(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // The log's own lock is held only while the lines are copied.
        return to_list(hive_of(self)->problems(), [](const std::string& line) { return to_str(line); });
    });
}

PyObject* hive_base_block(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&] {
        return PyBaseBlock::create(classes().base_block, hive_of(self)->base_block());
    });
}

PyObject* hive_root_key(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const std::shared_ptr<const hive::Hive> hive = hive_of(self);
        return run_unlocked(
            PanicStyle::Panic, [&] { return hive->get_key(hive->base_block().root_cell_offset); },
            [&](const key::RegistryKey& key) { return new_registry_key(hive, KeySnapshot::of(key)); });
    });
}

PyObject* hive_hbins(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const std::shared_ptr<const hive::Hive> hive = hive_of(self);
        return run_unlocked(
            PanicStyle::Panic, [&] { return hive->hbins(); },
            [](const std::vector<hive::HbinHeader>& headers) {
                return to_list(headers, [](const hive::HbinHeader& header) {
                    return PyHbinHeader::create(classes().hbin_header, header);
                });
            });
    });
}

PyObject* hive_applied_logs(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // The paths were encoded with the file-system encoding; decoding them
        // the same way gives back the str the caller passed.
        return to_list(hive_of(self)->applied_logs(), [](const std::string& path) {
            return PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
        });
    });
}

PyObject* hive_key(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"path", true}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments("Hive.key", parameters, args, nargs, kwnames, values)) return nullptr;
    const std::shared_ptr<const hive::Hive>& hive = hive_of(self);
    return key_at_path(hive, hive->base_block().root_cell_offset, "Hive.key", values[0]);
}

PyObject* hive_walk(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 2> parameters{{{"on_error", false}, {"include_orphans", false}}};
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "Hive.walk() takes 1 positional argument but %zd were given", nargs);
        return nullptr;
    }
    std::array<PyObject*, 2> values{};
    if (!parse_arguments("Hive.walk", parameters, args, nargs, kwnames, values)) return nullptr;
    const std::shared_ptr<const hive::Hive>& hive = hive_of(self);
    // Orphans are walked by default where damage is expected: on a tolerant hive.
    bool include_orphans = hive->problem_log() != nullptr;
    if (values[1] != nullptr && values[1] != Py_None) {
        const int wanted = PyObject_IsTrue(values[1]);
        if (wanted < 0) return nullptr;
        include_orphans = wanted != 0;
    }
    return walk_from(hive, hive->base_block().root_cell_offset, values[0], include_orphans);
}

PyObject* hive_orphan_keys(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const std::shared_ptr<const hive::Hive> hive = hive_of(self);
        return run_unlocked(
            PanicStyle::Panic,
            [&]() -> Checked<std::vector<KeySnapshot>> {
                std::vector<KeySnapshot> keys;
                for (const std::uint32_t offset : recovery::find_orphan_keys(*hive)) {
                    auto key = hive->get_key(offset);
                    if (key) {
                        keys.push_back(KeySnapshot::of(*key));
                    } else if (key.error().internal_failure()) {
                        return error::unexpected(std::move(key).error());
                    }
                }
                return keys;
            },
            [&](std::vector<KeySnapshot> keys) {
                return to_list(keys, [&](KeySnapshot& key) { return new_registry_key(hive, std::move(key)); });
            });
    });
}

PyObject* hive_repr(PyObject* self) {
    const hive::BaseBlock& block = hive_of(self)->base_block();
    return PyUnicode_FromFormat("Hive(root_offset=0x%x, hive_length=0x%x)", block.root_cell_offset,
                                block.hive_bins_data_size);
}

PyMethodDef hive_methods[] = {
    {.ml_name = "open",
     .ml_meth = fast_method(hive_open),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     .ml_doc = "open(path)\n--\n\nOpen a registry hive file"},
    {.ml_name = "open_with_logs",
     .ml_meth = fast_method(hive_open_with_logs),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     .ml_doc = "open_with_logs(hive_path, log1_path=None, log2_path=None)\n--\n\n"
               "Open a registry hive with transaction logs applied"},
    {.ml_name = "base_block",
     .ml_meth = hive_base_block,
     .ml_flags = METH_NOARGS,
     .ml_doc = "base_block($self)\n--\n\nGet the base block (header) information"},
    {.ml_name = "root_key",
     .ml_meth = hive_root_key,
     .ml_flags = METH_NOARGS,
     .ml_doc = "root_key($self)\n--\n\nGet the root key of the hive"},
    {.ml_name = "hbins",
     .ml_meth = hive_hbins,
     .ml_flags = METH_NOARGS,
     .ml_doc = "hbins($self)\n--\n\nGet all hbin headers"},
    {.ml_name = "save",
     .ml_meth = fast_method(hive_save),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "save($self, path)\n--\n\nSave the hive to a file"},
    {.ml_name = "applied_logs",
     .ml_meth = hive_applied_logs,
     .ml_flags = METH_NOARGS,
     .ml_doc = "applied_logs($self)\n--\n\nGet the paths of the transaction logs that changed the hive when it was "
               "opened, in the order applied"},
    {.ml_name = "key",
     .ml_meth = fast_method(hive_key),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "key($self, path)\n--\n\nGet the key at a backslash-separated path below the root key "
               "(root_key().subkey(path))"},
    {.ml_name = "walk",
     .ml_meth = fast_method(hive_walk),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "walk($self, on_error=None, *, include_orphans=None)\n--\n\nIterate over (path, key) pairs of "
               "the whole hive, depth first (root_key().walk(on_error)); with include_orphans (by default on a "
               "hive from open_tolerant only), the orphan keys follow below the path \"<orphans>\""},
    {.ml_name = "orphan_keys",
     .ml_meth = hive_orphan_keys,
     .ml_flags = METH_NOARGS,
     .ml_doc = "orphan_keys($self)\n--\n\nFind the key nodes still allocated in the hive bins that no subkey list "
               "from the root reaches, in file order (see partial_path)"},
    {.ml_name = "deleted_keys",
     .ml_meth = hive_deleted_keys,
     .ml_flags = METH_NOARGS,
     .ml_doc = "deleted_keys($self)\n--\n\nFind the deleted keys still held in free cells, cell slack and the bytes "
               "past the hive bins data, in file order"},
    {.ml_name = "deleted_values",
     .ml_meth = hive_deleted_values,
     .ml_flags = METH_NOARGS,
     .ml_doc = "deleted_values($self)\n--\n\nFind the deleted values still held in free cells, cell slack and the "
               "bytes past the hive bins data, in file order, with their data while it has not been reused"},
    {.ml_name = "remnant_bins",
     .ml_meth = hive_remnant_bins,
     .ml_flags = METH_NOARGS,
     .ml_doc = "remnant_bins($self)\n--\n\nGet the hive bins left past the hive bins data, in file order, as "
               "(offset, offset_field, size) tuples: where each lies (from the start of the hive bins data), the "
               "offset its header records, and its size; deleted_keys() and deleted_values() read them too"},
    {.ml_name = "open_tolerant",
     .ml_meth = fast_method(hive_open_tolerant),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     .ml_doc = "open_tolerant(path)\n--\n\n"
               "Open a damaged registry hive file, reading whatever can still be read; see problems()"},
    {.ml_name = "problems",
     .ml_meth = hive_problems,
     .ml_flags = METH_NOARGS,
     .ml_doc = "problems($self)\n--\n\n"
               "Get what a hive opened with open_tolerant skipped or repaired so far, one line each "
               "(always empty for other hives)"},
    {.ml_name = "keys_table",
     .ml_meth = fast_method(hive_keys_table),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "keys_table($self, key_path='', *, deleted=False)\n--\n\n"
               "Get the keys at and below key_path as a table (Arrow PyCapsule stream, or columns as lists), "
               "depth first as walk(); deleted=True appends the deleted keys"},
    {.ml_name = "values_table",
     .ml_meth = fast_method(hive_values_table),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "values_table($self, key_path='', *, deleted=False)\n--\n\n"
               "Get the values of the keys at and below key_path as a table (Arrow PyCapsule stream, or columns "
               "as lists), depth first as walk(); deleted=True appends the deleted values"},
    {.ml_name = "find",
     .ml_meth = fast_method(hive_find),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = hive_find_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot hive_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for Hive")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyHive::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(hive_repr)},
    {Py_tp_methods, hive_methods},
    {0, nullptr},
};

PyType_Spec hive_type_spec = {
    .name = "orvane.Hive",
    .basicsize = sizeof(PyHive),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = hive_slots,
};

}  // namespace

PyType_Spec& hive_spec() { return hive_type_spec; }

}  // namespace orvane::python
