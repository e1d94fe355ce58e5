// The table objects: a hive's keys or values as Arrow record batches through
// the PyCapsule interface, and as whole columns of Python objects.
//
// Each stream is built afresh by the core from the hive it holds, batch by
// batch as the consumer asks, so the object can be consumed any number of
// times, from any thread, and the stream outlives the object and its Hive.
// column() and num_rows build every batch once (with the lock released) and
// keep them for the object's later calls.

#include "python/py_hive_table.hpp"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/datetime.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "table/hive_tables.hpp"

namespace orvane::python {

namespace {

struct TableHandle {
    std::shared_ptr<const hive::Hive> hive;
    std::shared_ptr<recovery::ScanCache> scans;
    std::shared_ptr<table::WalkPlans> plans;
    table::TableKind kind;
    table::TableOptions options;
    std::unique_ptr<std::mutex> mutex = std::make_unique<std::mutex>();  // guards built
    std::shared_ptr<const std::vector<table::Batch>> built;

    Checked<std::unique_ptr<table::BatchSource>> open() const { return table::open_table(hive, kind, options, scans, plans); }
};

using PyHiveTable = PyBox<TableHandle>;

TableHandle& handle_of(PyObject* self) { return PyHiveTable::of(self); }

// Every batch, built on the first call; runs without the interpreter lock.
// The mutex is only ever taken with the lock released, so no thread waits
// for it while holding the lock another needs.
Checked<std::shared_ptr<const std::vector<table::Batch>>> all_batches(TableHandle& handle) {
    std::lock_guard lock(*handle.mutex);
    if (handle.built) return handle.built;
    ORVANE_ASSIGN_OR_RETURN(std::unique_ptr<table::BatchSource> source, handle.open());
    auto batches = std::make_shared<std::vector<table::Batch>>();
    while (true) {
        table::Batch batch;
        ORVANE_ASSIGN_OR_RETURN(const bool more, source->next(batch));
        if (!more) break;
        batches->push_back(std::move(batch));
    }
    handle.built = batches;
    return handle.built;
}

template <class Build>
PyObject* with_batches(PyObject* self, Build&& build) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        return run_unlocked(PanicStyle::Panic, [&] { return all_batches(handle_of(self)); }, build);
    });
}

PyObject* timestamp_to_py(std::int64_t micros) {
    // Back to stored intervals: the datetime conversion and its range check are the key's own.
    constexpr std::int64_t micros_1601_to_1970 = 11'644'473'600'000'000;
    return filetime_to_datetime(static_cast<std::uint64_t>(micros + micros_1601_to_1970) * 10);
}

PyObject* text_to_py(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// One cell as a Python object (a new reference), or nullptr with an exception set.
PyObject* cell_to_py(const table::Column& column, std::int64_t row, std::vector<OwnedRef>& dictionary) {
    if (column.is_null(row)) return Py_NewRef(Py_None);
    switch (column.type()) {
        case table::ColumnType::Bool: return PyBool_FromLong(column.bool_at(row));
        case table::ColumnType::UInt16:
        case table::ColumnType::UInt32:
        case table::ColumnType::UInt64: return PyLong_FromUnsignedLongLong(column.unsigned_at(row));
        case table::ColumnType::Timestamp: return timestamp_to_py(column.timestamp_at(row));
        case table::ColumnType::Utf8: return text_to_py(column.text_at(row));
        case table::ColumnType::Binary: return to_bytes(column.bytes_at(row));
        case table::ColumnType::Utf8List: {
            const auto [begin, end] = column.list_at(row);
            OwnedRef list = OwnedRef::steal(PyList_New(end - begin));
            if (!list) return nullptr;
            for (std::int32_t item = begin; item < end; ++item) {
                PyObject* text = text_to_py(column.child()->text_at(item));
                if (text == nullptr) return nullptr;
                PyList_SET_ITEM(list.get(), item - begin, text);
            }
            return list.release();
        }
        case table::ColumnType::Utf8Dictionary: {
            const auto index = static_cast<std::size_t>(column.index_at(row));
            if (dictionary.size() <= index) dictionary.resize(index + 1);
            if (!dictionary[index]) {
                dictionary[index] = OwnedRef::steal(text_to_py(column.child()->text_at(column.index_at(row))));
                if (!dictionary[index]) return nullptr;
            }
            return Py_NewRef(dictionary[index].get());
        }
    }
    return Py_NewRef(Py_None);
}

PyObject* table_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"name", true}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments("HiveTable.column", parameters, args, nargs, kwnames, values)) return nullptr;
    const auto name = text_argument("HiveTable.column", "name", values[0]);
    if (!name) return nullptr;
    const auto fields = table::fields_of(handle_of(self).kind);
    std::size_t index = 0;
    while (index < fields.size() && *name != fields[index].name) ++index;
    if (index == fields.size()) {
        PyErr_Format(PyExc_KeyError, "No column named '%s'", name->c_str());
        return nullptr;
    }
    return with_batches(self, [&](const std::shared_ptr<const std::vector<table::Batch>>& batches) -> PyObject* {
        std::int64_t rows = 0;
        for (const table::Batch& batch : *batches) rows += batch.rows;
        OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(rows)));
        if (!list) return nullptr;
        Py_ssize_t at = 0;
        for (const table::Batch& batch : *batches) {
            std::vector<OwnedRef> dictionary;  // each batch has its own
            const table::Column& column = batch.columns[index];
            for (std::int64_t row = 0; row < batch.rows; ++row) {
                PyObject* cell = cell_to_py(column, row, dictionary);
                if (cell == nullptr) return nullptr;
                PyList_SET_ITEM(list.get(), at++, cell);
            }
        }
        return list.release();
    });
}

PyObject* table_num_rows(PyObject* self, void*) {
    return with_batches(self, [](const std::shared_ptr<const std::vector<table::Batch>>& batches) {
        std::int64_t rows = 0;
        for (const table::Batch& batch : *batches) rows += batch.rows;
        return PyLong_FromLongLong(rows);
    });
}

PyObject* table_column_names(PyObject* self, void*) {
    const auto fields = table::fields_of(handle_of(self).kind);
    return to_list(std::vector<table::Field>(fields.begin(), fields.end()),
                   [](const table::Field& field) { return PyUnicode_FromString(field.name); });
}

void free_schema_capsule(PyObject* capsule) {
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
    if (schema == nullptr) return;
    if (schema->release != nullptr) schema->release(schema);
    delete schema;
}

void free_stream_capsule(PyObject* capsule) {
    auto* stream = static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (stream == nullptr) return;
    if (stream->release != nullptr) stream->release(stream);
    delete stream;
}

PyObject* table_arrow_schema(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        auto schema = std::make_unique<ArrowSchema>();
        table::export_schema(table::fields_of(handle_of(self).kind), schema.get());
        PyObject* capsule = PyCapsule_New(schema.get(), "arrow_schema", free_schema_capsule);
        if (capsule == nullptr) {
            schema->release(schema.get());
            return nullptr;
        }
        schema.release();
        return capsule;
    });
}

PyObject* table_arrow_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    // The schema is fixed; a requested one is not honoured, which the
    // interface allows (the consumer casts if it must).
    static constexpr std::array<Parameter, 1> parameters{{{"requested_schema", false}}};
    std::array<PyObject*, 1> values{};
    if (!parse_arguments("HiveTable.__arrow_c_stream__", parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const TableHandle& handle = handle_of(self);
        return run_unlocked(
            PanicStyle::Panic, [&] { return handle.open(); },
            [](std::unique_ptr<table::BatchSource> source) -> PyObject* {
                auto stream = std::make_unique<ArrowArrayStream>();
                table::export_stream(std::move(source), stream.get());
                PyObject* capsule = PyCapsule_New(stream.get(), "arrow_array_stream", free_stream_capsule);
                if (capsule == nullptr) {
                    stream->release(stream.get());
                    return nullptr;
                }
                stream.release();
                return capsule;
            });
    });
}

PyObject* table_repr(PyObject* self) {
    const TableHandle& handle = handle_of(self);
    return PyUnicode_FromFormat("HiveTable(%s, key_path=%R, deleted=%s)",
                                handle.kind == table::TableKind::Keys ? "keys" : "values",
                                OwnedRef::steal(to_str(handle.options.key_path)).get(),
                                handle.options.deleted ? "True" : "False");
}

PyMethodDef table_methods[] = {
    {.ml_name = "column",
     .ml_meth = fast_method(table_column),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "column($self, name)\n--\n\nGet a whole column as a list, built in one call"},
    {.ml_name = "__arrow_c_schema__",
     .ml_meth = table_arrow_schema,
     .ml_flags = METH_NOARGS,
     .ml_doc = "__arrow_c_schema__($self)\n--\n\nExport the table's schema as an Arrow C schema capsule"},
    {.ml_name = "__arrow_c_stream__",
     .ml_meth = fast_method(table_arrow_stream),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"
               "Export the table as an Arrow C stream capsule of record batches, built as they are read"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef table_getset[] = {
    {"num_rows", table_num_rows, nullptr, "The number of rows", nullptr},
    {"column_names", table_column_names, nullptr, "The names of the columns, in order", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot table_slots[] = {
    {Py_tp_doc, const_cast<char*>("A hive's keys or values as a table: Arrow record batches through the PyCapsule "
                                  "interface, or whole columns as lists")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyHiveTable::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(table_repr)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_getset},
    {0, nullptr},
};

PyType_Spec table_type_spec = {
    .name = "orvane.HiveTable",
    .basicsize = sizeof(PyHiveTable),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = table_slots,
};

// Hive.keys_table and Hive.values_table: the key path is opened now, so a
// path that names no key raises here rather than from the stream.
PyObject* new_table(PyObject* self, table::TableKind kind, const char* method, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 2> parameters{{{"key_path", false}, {"deleted", false}}};
    std::array<PyObject*, 2> values{};
    // deleted is keyword-only.
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most 1 positional argument (%zd given)", method, nargs);
        return nullptr;
    }
    if (!parse_arguments(method, parameters, args, nargs, kwnames, values)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // The options are whole before the handle is made: GCC 12 at -O3 warns, falsely, of a
        // key path in a half-made handle read uninitialized on the way out.
        table::TableOptions options;
        if (values[0] != nullptr) {
            auto path = text_argument(method, "key_path", values[0]);
            if (!path) return nullptr;
            options.key_path = std::move(*path);
        }
        if (values[1] != nullptr) {
            const int deleted = PyObject_IsTrue(values[1]);
            if (deleted < 0) return nullptr;
            options.deleted = deleted != 0;
        }
        const HiveHandle& hive = PyHive::of(self);
        TableHandle handle{hive.hive, hive.deleted, hive.walks, kind, std::move(options)};
        return run_unlocked(
            PanicStyle::Panic, [&] { return handle.open(); },
            [&](std::unique_ptr<table::BatchSource>) {
                return PyHiveTable::create(classes().hive_table, std::move(handle));
            });
    });
}

}  // namespace

PyObject* hive_keys_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return new_table(self, table::TableKind::Keys, "Hive.keys_table", args, nargs, kwnames);
}

PyObject* hive_values_table(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return new_table(self, table::TableKind::Values, "Hive.values_table", args, nargs, kwnames);
}

PyType_Spec& hive_table_spec() { return table_type_spec; }

}  // namespace orvane::python
