// The RegistryKey class: one key node of a hive, its values and its subkeys.
//
// The object holds the shared hive handle, the key's cell offset and a
// snapshot of its name and counts. Every method that reads the hive fetches
// the node again through the hive's key cache.

#include "python/py_registry_key.hpp"

#include <array>
#include <limits>
#include <string_view>

#include "error/failure.hpp"
#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/datetime.hpp"
#include "python/guarded.hpp"
#include "python/py_key_walk.hpp"
#include "key/key_metadata.hpp"
#include "key/key_path.hpp"
#include "key/key_reads.hpp"
#include "recovery/plausible_records.hpp"

namespace orvane::python {

namespace {

// 100-nanosecond intervals per second, and seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t intervals_per_second = 10'000'000;
constexpr std::int64_t seconds_1601_to_1970 = 11'644'473'600;

const KeyHandle& handle_of(PyObject* self) { return PyRegistryKey::of(self); }

// The hive work of value(name), run without the interpreter lock.
Checked<OwnedValue> find_value(const hive::Hive& hive, std::uint32_t offset, std::string_view name) {
    ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey key, hive.get_key(offset));
    ORVANE_ASSIGN_OR_RETURN(key::ValueWithData found, key::find_value(key, name));
    return OwnedValue::of(std::move(found));
}

// The hive work of values(): a value whose data cannot be read gets no bytes.
Checked<std::vector<key::ValueWithData>> read_values(const hive::Hive& hive, std::uint32_t offset) {
    ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey key, hive.get_key(offset));
    ORVANE_ASSIGN_OR_RETURN(std::vector<key::ValueWithData> values, key::values_with_data(key));
    return values;
}

// The hive work of subkeys(): every subkey node, before any object is built.
Checked<std::vector<KeySnapshot>> read_subkeys(const hive::Hive& hive, std::uint32_t offset) {
    ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey key, hive.get_key(offset));
    ORVANE_ASSIGN_OR_RETURN(const std::vector<key::RegistryKey> subkeys, key::subkey_nodes(key));
    std::vector<KeySnapshot> result;
    result.reserve(subkeys.size());
    for (const key::RegistryKey& subkey : subkeys) result.push_back(KeySnapshot::of(subkey));
    return result;
}

template <class T>
Checked<T> checked(Result<T> result) {
    if (!result) return error::fail(std::move(result).error());
    return std::move(*result);
}

// A deleted key, read again from the free space it was found in (the image
// does not change, so what the scan found is still there).
Checked<recovery::DeletedKey> deleted_key(const recovery::Recovery& recovery, std::uint32_t offset) {
    auto found = recovery.key_at(offset);
    if (!found) return error::fail(error::record_signature_expected("nk", offset));
    return std::move(*found);
}

Checked<std::vector<OwnedValue>> read_deleted_values(const recovery::Recovery& recovery,
                                                     const recovery::DeletedKey& key, std::uint64_t limit) {
    return owned_deleted_values(recovery, recovery.values_of(key), limit);
}

Checked<OwnedValue> find_deleted_value(const recovery::Recovery& recovery, const recovery::DeletedKey& key,
                                       std::string_view name) {
    ORVANE_ASSIGN_OR_RETURN(recovery::DeletedValue found, recovery.value_named(key, name));
    std::vector<recovery::DeletedValue> one;
    one.push_back(std::move(found));
    // One value's data is never longer than the image.
    return std::move(owned_deleted_values(recovery, std::move(one), std::numeric_limits<std::uint64_t>::max()).front());
}

Checked<std::vector<KeySnapshot>> read_deleted_subkeys(const recovery::Recovery& recovery,
                                                       const recovery::DeletedKey& key) {
    std::vector<KeySnapshot> result;
    for (const recovery::DeletedKey& subkey : recovery.subkeys_of(key.offset, key.node)) {
        result.push_back(KeySnapshot::of(subkey));
    }
    return result;
}

// A parent of either kind, as a snapshot and whether it was recovered.
struct ParentSnapshot {
    KeySnapshot key;
    bool deleted = false;
};

// Runs `work(hive, offset)` unlocked under the guard of value/values/subkeys,
// then hands a success to `build` with the lock held.
template <class Work, class Build>
PyObject* guarded_read(std::shared_ptr<const hive::Hive> hive, std::uint32_t offset, Work&& work, Build&& build) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // The call's own clone keeps the hive alive while the lock is released.
        return run_unlocked(
            PanicStyle::Guarded, [&] { return work(*hive, offset); },
            [&](auto&& result) { return build(hive, std::forward<decltype(result)>(result)); });
    });
}

template <class Work, class Build>
PyObject* guarded_read(PyObject* self, Work&& work, Build&& build) {
    return guarded_read(handle_of(self).hive, handle_of(self).key.offset, std::forward<Work>(work),
                        std::forward<Build>(build));
}

// Runs `work(node)` on this key's node with the lock held (reading one cached
// node, or for a deleted key its record in free space).
template <class Work>
PyObject* with_node(PyObject* self, Work&& work) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const KeyHandle& handle = handle_of(self);
        if (handle.recovery) {
            auto key = deleted_key(*handle.recovery, handle.key.offset);
            if (!key) return raise_failure(key.error(), PanicStyle::Panic);
            return work(key->node);
        }
        auto key = handle.hive->get_key(handle.key.offset);
        if (!key) return raise_failure(key.error(), PanicStyle::Panic);
        return work(key->node());
    });
}

// Runs `work(key)` unlocked on this key's node, then `build` with the lock held.
template <class Work, class Build>
PyObject* read_from_key(PyObject* self, Work&& work, Build&& build) {
    return guarded_read(
        self,
        [&](const hive::Hive& hive, std::uint32_t offset) -> decltype(work(std::declval<key::RegistryKey&>())) {
            auto key = hive.get_key(offset);
            if (!key) return error::unexpected(std::move(key).error());
            return work(*key);
        },
        std::forward<Build>(build));
}

// The same for a key of either kind: `live(key)` for a live key,
// `deleted(recovery, key)` for one the scan found.
template <class LiveWork, class DeletedWork, class Build>
PyObject* read_either_key(PyObject* self, LiveWork&& live, DeletedWork&& deleted, Build&& build) {
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    if (!recovery) return read_from_key(self, std::forward<LiveWork>(live), std::forward<Build>(build));
    return guarded_read(
        self,
        [&](const hive::Hive&, std::uint32_t offset) -> decltype(live(std::declval<key::RegistryKey&>())) {
            auto key = deleted_key(*recovery, offset);
            if (!key) return error::unexpected(std::move(key).error());
            return deleted(*recovery, *key);
        },
        std::forward<Build>(build));
}

PyObject* key_subkey(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"path", true}}};
    std::array<PyObject*, 1> arguments{};
    if (!parse_arguments("RegistryKey.subkey", parameters, args, nargs, kwnames, arguments)) return nullptr;
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    if (!recovery) {
        return key_at_path(handle_of(self).hive, handle_of(self).key.offset, "RegistryKey.subkey", arguments[0]);
    }
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // Copied while the lock is held: no Python object is touched once it is released.
        const auto path = text_argument("RegistryKey.subkey", "path", arguments[0]);
        if (!path) return nullptr;
        return guarded_read(
            self,
            [&](const hive::Hive&, std::uint32_t offset) -> Checked<KeySnapshot> {
                ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*recovery, offset));
                ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey found, recovery->open_path(key, *path));
                return KeySnapshot::of(found);
            },
            [&](const std::shared_ptr<const hive::Hive>& hive, KeySnapshot found) {
                return new_deleted_key(hive, std::move(found), recovery);
            });
    });
}

PyObject* key_walk(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"on_error", false}}};
    std::array<PyObject*, 1> arguments{};
    if (!parse_arguments("RegistryKey.walk", parameters, args, nargs, kwnames, arguments)) return nullptr;
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    if (!recovery) return walk_from(handle_of(self).hive, handle_of(self).key.offset, arguments[0]);
    // A deleted key's subtree: what cannot be read is simply not there, so
    // on_error is never called; it is still checked as for a live key.
    if (!on_error_is_usable(arguments[0])) return nullptr;
    return guarded_read(
        self,
        [&](const hive::Hive&, std::uint32_t offset) -> Checked<std::vector<std::pair<std::string, KeySnapshot>>> {
            ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*recovery, offset));
            ORVANE_ASSIGN_OR_RETURN(auto walked, recovery->walk(key));
            std::vector<std::pair<std::string, KeySnapshot>> result;
            result.reserve(walked.size());
            for (auto& [path, found] : walked) result.emplace_back(std::move(path), KeySnapshot::of(found));
            return result;
        },
        [&](const std::shared_ptr<const hive::Hive>& hive,
            std::vector<std::pair<std::string, KeySnapshot>> walked) -> PyObject* {
            const auto pair = [&](std::pair<std::string, KeySnapshot>& step) -> PyObject* {
                OwnedRef path = OwnedRef::steal(to_str(step.first));
                if (!path) return nullptr;
                OwnedRef key = OwnedRef::steal(new_deleted_key(hive, std::move(step.second), recovery));
                if (!key) return nullptr;
                return PyTuple_Pack(2, path.get(), key.get());
            };
            OwnedRef list = OwnedRef::steal(to_list(walked, pair));
            if (!list) return nullptr;
            return PyObject_GetIter(list.get());
        });
}

PyObject* key_parent(PyObject* self, PyObject*) {
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    return read_either_key(
        self,
        [](const key::RegistryKey& key) -> Checked<std::optional<ParentSnapshot>> {
            ORVANE_ASSIGN_OR_RETURN(std::optional<key::RegistryKey> parent, key::parent_key(key));
            if (!parent) return std::optional<ParentSnapshot>();
            return std::optional<ParentSnapshot>({KeySnapshot::of(*parent), false});
        },
        [](const recovery::Recovery& found, const recovery::DeletedKey& key) -> Checked<std::optional<ParentSnapshot>> {
            ORVANE_ASSIGN_OR_RETURN(std::optional<recovery::EitherKey> parent, found.parent_of(key));
            if (!parent) return std::optional<ParentSnapshot>();
            return std::visit(
                [](const auto& either) {
                    return std::optional<ParentSnapshot>(
                        {KeySnapshot::of(either), std::is_same_v<std::decay_t<decltype(either)>, recovery::DeletedKey>});
                },
                *parent);
        },
        [&](const std::shared_ptr<const hive::Hive>& hive, std::optional<ParentSnapshot> parent) -> PyObject* {
            if (!parent) Py_RETURN_NONE;
            return new_deleted_key(hive, std::move(parent->key), parent->deleted ? recovery : nullptr);
        });
}

PyObject* key_path(PyObject* self, PyObject*) {
    return read_either_key(
        self, [](const key::RegistryKey& key) { return key::key_path(key); },
        [](const recovery::Recovery& found, const recovery::DeletedKey& key) { return found.path_of(key); },
        [](const std::shared_ptr<const hive::Hive>&, const std::string& path) { return to_str(path); });
}

PyObject* key_class_name(PyObject* self, PyObject*) {
    return read_either_key(
        self, [](const key::RegistryKey& key) { return checked(key::read_class_name(key)); },
        [](const recovery::Recovery& found, const recovery::DeletedKey& key) {
            return checked(found.class_name_of(key));
        },
        [](const std::shared_ptr<const hive::Hive>&, const std::optional<std::string>& name) -> PyObject* {
            if (!name) Py_RETURN_NONE;
            return to_str(*name);
        });
}

PyObject* key_security_descriptor(PyObject* self, PyObject*) {
    // The descriptor is a view into the image, copied once, into the bytes object.
    return read_either_key(
        self, [](const key::RegistryKey& key) { return checked(key::read_security_descriptor(key)); },
        [](const recovery::Recovery& found, const recovery::DeletedKey& key) -> Checked<std::optional<utils::ByteView>> {
            return found.security_descriptor_of(key);
        },
        [](const std::shared_ptr<const hive::Hive>&, std::optional<utils::ByteView> descriptor) -> PyObject* {
            if (!descriptor) Py_RETURN_NONE;
            return to_bytes(descriptor->bytes());
        });
}

PyObject* key_last_written(PyObject* self, PyObject*) {
    return with_node(self, [](const key::KeyNode& node) {
        return optional_filetime_to_datetime(node.last_written);
    });
}

PyObject* key_last_written_filetime(PyObject* self, PyObject*) {
    return with_node(self, [](const key::KeyNode& node) {
        return PyLong_FromUnsignedLongLong(node.last_written);
    });
}

PyObject* key_offset(PyObject* self, PyObject*) { return PyLong_FromUnsignedLong(handle_of(self).key.offset); }

PyObject* key_name(PyObject* self, PyObject*) { return to_str(handle_of(self).key.name()); }

PyObject* key_subkey_count(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLong(handle_of(self).key.subkey_count());
}

PyObject* key_value_count(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLong(handle_of(self).key.value_count());
}

PyObject* live_key_list(const std::shared_ptr<const hive::Hive>& hive, std::vector<KeySnapshot> keys) {
    return key_list(hive, std::move(keys));
}

PyObject* hive_value_list(const std::shared_ptr<const hive::Hive>&, std::vector<OwnedValue> values) {
    return value_list(std::move(values));
}

// Each value goes straight from what the core read into its object.
PyObject* live_value_list(const std::shared_ptr<const hive::Hive>&, std::vector<key::ValueWithData> values) {
    return to_list(values, [](key::ValueWithData& value) {
        return PyRegistryValue::create(classes().registry_value, OwnedValue::of(std::move(value)));
    });
}

PyObject* one_value(const std::shared_ptr<const hive::Hive>&, OwnedValue value) {
    return PyRegistryValue::create(classes().registry_value, std::move(value));
}

PyObject* key_subkeys(PyObject* self, PyObject*) {
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    if (!recovery) return guarded_read(self, read_subkeys, live_key_list);
    return guarded_read(
        self,
        [&](const hive::Hive&, std::uint32_t offset) -> Checked<std::vector<KeySnapshot>> {
            ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*recovery, offset));
            return read_deleted_subkeys(*recovery, key);
        },
        [&](const std::shared_ptr<const hive::Hive>& hive, std::vector<KeySnapshot> keys) {
            return key_list(hive, std::move(keys), recovery);
        });
}

PyObject* key_values(PyObject* self, PyObject*) {
    const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
    if (!recovery) return guarded_read(self, read_values, live_value_list);
    return guarded_read(
        self,
        [&](const hive::Hive& hive, std::uint32_t offset) -> Checked<std::vector<OwnedValue>> {
            ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*recovery, offset));
            return read_deleted_values(*recovery, key, hive.data().size());
        },
        hive_value_list);
}

PyObject* key_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 1> parameters{{{"name", true}}};
    std::array<PyObject*, 1> arguments{};
    if (!parse_arguments("RegistryKey.value", parameters, args, nargs, kwnames, arguments)) return nullptr;
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // Copied while the lock is held: no Python object is touched once it is released.
        const auto name = text_argument("RegistryKey.value", "name", arguments[0]);
        if (!name) return nullptr;
        const std::shared_ptr<const recovery::Recovery> recovery = handle_of(self).recovery;
        return guarded_read(
            self,
            [&](const hive::Hive& hive, std::uint32_t offset) -> Checked<OwnedValue> {
                if (!recovery) return find_value(hive, offset, *name);
                ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*recovery, offset));
                return find_deleted_value(*recovery, key, *name);
            },
            one_value);
    });
}

PyObject* key_last_written_timestamp(PyObject* self, PyObject*) {
    return with_node(self, [](const key::KeyNode& node) -> PyObject* {
        const std::uint64_t written = node.last_written;
        if (written == 0) Py_RETURN_NONE;
        const auto seconds = static_cast<std::int64_t>(written / intervals_per_second);
        return PyLong_FromLongLong(seconds - seconds_1601_to_1970);
    });
}

PyObject* key_is_deleted(PyObject* self, PyObject*) { return PyBool_FromLong(handle_of(self).recovery != nullptr); }

PyObject* key_partial_path(PyObject* self, PyObject*) {
    const KeyHandle handle = handle_of(self);  // its own clones of the shared handles
    return guarded_read(
        self,
        [&](const hive::Hive& hive, std::uint32_t offset) -> Checked<std::string> {
            if (handle.recovery) {
                ORVANE_ASSIGN_OR_RETURN(const recovery::DeletedKey key, deleted_key(*handle.recovery, offset));
                return handle.recovery->partial_path_of(key);
            }
            ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey key, hive.get_key(offset));
            return recovery::partial_path(hive, offset, key.node());
        },
        [](const std::shared_ptr<const hive::Hive>&, const std::string& path) { return to_str(path); });
}

PyObject* key_repr(PyObject* self) {
    return catching(PanicStyle::Panic, [&] {
        const KeySnapshot& key = handle_of(self).key;
        const std::string text = "RegistryKey(name='" + key.name() + "', subkeys=" +
                                 std::to_string(key.subkey_count()) + ", values=" +
                                 std::to_string(key.value_count()) + ")";
        return to_str(text);
    });
}

PyMethodDef key_methods[] = {
    {.ml_name = "name",
     .ml_meth = key_name,
     .ml_flags = METH_NOARGS,
     .ml_doc = "name($self)\n--\n\nGet the key name"},
    {.ml_name = "subkey_count",
     .ml_meth = key_subkey_count,
     .ml_flags = METH_NOARGS,
     .ml_doc = "subkey_count($self)\n--\n\nGet the number of subkeys"},
    {.ml_name = "value_count",
     .ml_meth = key_value_count,
     .ml_flags = METH_NOARGS,
     .ml_doc = "value_count($self)\n--\n\nGet the number of values"},
    {.ml_name = "subkeys",
     .ml_meth = key_subkeys,
     .ml_flags = METH_NOARGS,
     .ml_doc = "subkeys($self)\n--\n\nGet all subkeys"},
    {.ml_name = "values",
     .ml_meth = key_values,
     .ml_flags = METH_NOARGS,
     .ml_doc = "values($self)\n--\n\nGet all values"},
    {.ml_name = "value",
     .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(key_value)),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "value($self, name)\n--\n\nGet a specific value by name"},
    {.ml_name = "last_written_timestamp",
     .ml_meth = key_last_written_timestamp,
     .ml_flags = METH_NOARGS,
     .ml_doc = "last_written_timestamp($self)\n--\n\nGet the last write timestamp as Unix timestamp (seconds since "
               "epoch)"},
    {.ml_name = "subkey",
     .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(key_subkey)),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "subkey($self, path)\n--\n\nGet the key at a backslash-separated path below this key; names "
               "match in any letter case"},
    {.ml_name = "walk",
     .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(key_walk)),
     .ml_flags = METH_FASTCALL | METH_KEYWORDS,
     .ml_doc = "walk($self, on_error=None)\n--\n\nIterate over (path, key) pairs: this key (path \"\"), then "
               "every key below it, depth first; on_error(path, exception) is called for subkeys that cannot "
               "be read, which otherwise raise; a deleted key walks the deleted keys recovered below it and never "
               "calls on_error"},
    {.ml_name = "parent",
     .ml_meth = key_parent,
     .ml_flags = METH_NOARGS,
     .ml_doc = "parent($self)\n--\n\nGet the parent key (None for the root key, or when the parent is gone); a "
               "deleted key's parent may be live or deleted"},
    {.ml_name = "path",
     .ml_meth = key_path,
     .ml_flags = METH_NOARGS,
     .ml_doc = "path($self)\n--\n\nGet the key's path from below the root, names joined by backslashes "
               "(\"\" for the root); raises ValueError when the parents do not lead to the root, as for a deleted "
               "key whose parent is gone (see partial_path)"},
    {.ml_name = "class_name",
     .ml_meth = key_class_name,
     .ml_flags = METH_NOARGS,
     .ml_doc = "class_name($self)\n--\n\nGet the key's class name (None when it has none, or for a deleted key "
               "when its cell has been reused)"},
    {.ml_name = "security_descriptor",
     .ml_meth = key_security_descriptor,
     .ml_flags = METH_NOARGS,
     .ml_doc = "security_descriptor($self)\n--\n\nGet the key's self-relative security descriptor as bytes "
               "(None when it names none, or for a deleted key when its cell holds no security record any more)"},
    {.ml_name = "last_written",
     .ml_meth = key_last_written,
     .ml_flags = METH_NOARGS,
     .ml_doc = "last_written($self)\n--\n\nGet the last write time as a UTC datetime with microseconds "
               "(None when 0)"},
    {.ml_name = "last_written_filetime",
     .ml_meth = key_last_written_filetime,
     .ml_flags = METH_NOARGS,
     .ml_doc = "last_written_filetime($self)\n--\n\nGet the last write time as stored: 100-nanosecond "
               "intervals since 1601-01-01 UTC"},
    {.ml_name = "offset",
     .ml_meth = key_offset,
     .ml_flags = METH_NOARGS,
     .ml_doc = "offset($self)\n--\n\nGet the cell offset of the key node"},
    {.ml_name = "is_deleted",
     .ml_meth = key_is_deleted,
     .ml_flags = METH_NOARGS,
     .ml_doc = "is_deleted($self)\n--\n\nWhether the key was recovered from a free cell, cell slack or the bytes past "
               "the hive bins data"},
    {.ml_name = "partial_path",
     .ml_meth = key_partial_path,
     .ml_flags = METH_NOARGS,
     .ml_doc = "partial_path($self)\n--\n\nGet the path built from parent fields as far as they lead through readable "
               "key nodes, live or deleted; never raises for a broken chain"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_doc, const_cast<char*>("Python wrapper for RegistryKey\n\n"
                                  "Stores a shared handle to its hive and the cell offset of its key node.")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(PyRegistryKey::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(key_repr)},
    {Py_tp_str, reinterpret_cast<void*>(key_repr)},
    {Py_tp_methods, key_methods},
    {0, nullptr},
};

PyType_Spec key_type_spec = {
    .name = "orvane.RegistryKey",
    .basicsize = sizeof(PyRegistryKey),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = key_slots,
};

}  // namespace

PyObject* new_registry_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key) {
    return new_deleted_key(std::move(hive), std::move(key), nullptr);
}

PyObject* new_deleted_key(std::shared_ptr<const hive::Hive> hive, KeySnapshot key,
                          std::shared_ptr<const recovery::Recovery> recovery) {
    return PyRegistryKey::create(classes().registry_key, KeyHandle{std::move(hive), std::move(key), std::move(recovery)});
}

// The lists are filled only after all hive work is done, with the lock held.
PyObject* key_list(const std::shared_ptr<const hive::Hive>& hive, std::vector<KeySnapshot> keys,
                   const std::shared_ptr<const recovery::Recovery>& recovery) {
    return to_list(keys, [&](KeySnapshot& key) { return new_deleted_key(hive, std::move(key), recovery); });
}

PyObject* value_list(std::vector<OwnedValue> values) {
    return to_list(values, [](OwnedValue& value) {
        return PyRegistryValue::create(classes().registry_value, std::move(value));
    });
}

std::vector<OwnedValue> owned_deleted_values(const recovery::Recovery& recovery,
                                             std::vector<recovery::DeletedValue> values, std::uint64_t limit) {
    key::DataBudget budget(limit);
    std::vector<OwnedValue> result;
    result.reserve(values.size());
    for (recovery::DeletedValue& found : values) {
        std::vector<std::uint8_t> bytes = budget.take([&] { return recovery.data_of(found); });
        result.push_back({std::move(found.value.name), found.value.value_type, std::move(bytes), found.offset, true});
    }
    return result;
}

PyObject* key_at_path(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, const char* function,
                      PyObject* argument) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        // Copied while the lock is held: no Python object is touched once it is released.
        const auto path = text_argument(function, "path", argument);
        if (!path) return nullptr;
        return guarded_read(
            hive, offset,
            [&](const hive::Hive& h, std::uint32_t at) -> Checked<KeySnapshot> {
                ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey start, h.get_key(at));
                ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey found, key::open_key_path(start, *path));
                return KeySnapshot::of(found);
            },
            new_registry_key);
    });
}

PyObject* walk_from(const std::shared_ptr<const hive::Hive>& hive, std::uint32_t offset, PyObject* on_error,
                    bool include_orphans) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        auto start = hive->get_key(offset);
        if (!start) return raise_failure(start.error(), PanicStyle::Panic);
        return new_key_walk(hive, std::move(*start), on_error, include_orphans);
    });
}

PyType_Spec& registry_key_spec() { return key_type_spec; }

}  // namespace orvane::python
