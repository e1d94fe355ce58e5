// The walk iterator: the core's depth-first walk, batched.
//
// The hive work runs in batches with the interpreter lock released; the
// Python objects of a batch are built one by one as the iterator is advanced.
// A key whose subkeys cannot be read ends the iteration with its exception,
// or, when an on_error callable was given, is reported to it as
// on_error(path, exception) and the walk goes on. A key that a second list
// names is told to on_error as a ValueError (on a tolerant hive it is also
// in problems()); without on_error it is visited once and nothing is raised.

#include "python/py_key_walk.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recovery/orphan_walk.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "python/py_registry_key.hpp"

namespace orvane::python {

namespace {

// A batch ends after this many keys, or once its paths hold this many bytes
// (a deep chain of long names makes long paths).
constexpr std::size_t batch_keys = 512;
constexpr std::size_t batch_path_bytes = 1 << 20;

struct WalkState {
    WalkState(std::shared_ptr<const hive::Hive> h, key::RegistryKey start, bool include_orphans)
        : hive(std::move(h)), walk(std::move(start), include_orphans) {}

    std::shared_ptr<const hive::Hive> hive;  // declared first: the walk reads it until destroyed
    recovery::OrphanWalk walk;
    std::vector<std::pair<std::string, KeySnapshot>> batch;
    std::size_t next = 0;  // the batch's first entry not yet handed out
    std::optional<key::WalkError> error;  // met after the batch's last entry
    std::vector<key::WalkNotice> notices;  // met after the batch's last entry, before `error`
    bool walk_over = false;
    bool finished = false;  // after the walk's end, an exception raised, or a fault
    bool running = false;   // a batch is being read with the lock released

    // Reads the next batch; runs without the interpreter lock.
    void fill() {
        batch.clear();
        next = 0;
        std::size_t path_bytes = 0;
        while (batch.size() < batch_keys && path_bytes < batch_path_bytes) {
            auto step = walk.next();
            if (!step) {
                notices = walk.take_notices();
                error = std::move(step).error();
                return;
            }
            if (!*step) {
                notices = walk.take_notices();
                walk_over = true;
                return;
            }
            path_bytes += walk.path().size();
            batch.emplace_back(walk.path(), KeySnapshot::of(walk.key()));
            // Told after the key whose step met them: the batch ends here.
            notices = walk.take_notices();
            if (!notices.empty()) return;
        }
    }
};

struct PyKeyWalk {
    PyObject_HEAD
    WalkState* state;
    PyObject* on_error;  // owned; nullptr for none
    PyObject* pair;      // owned; the last pair handed out, refilled when no one else holds it
};

PyKeyWalk* walk_of(PyObject* self) noexcept { return reinterpret_cast<PyKeyWalk*>(self); }

// A (path, key) tuple, stealing both. As zip() and dict.items() do, the last
// tuple is reused when the loop that got it has already let it go; its items
// are never objects the garbage collector tracks.
PyObject* make_pair(PyKeyWalk* self, OwnedRef path, OwnedRef key) {
    PyObject* pair = self->pair;
    if (pair != nullptr && Py_REFCNT(pair) == 1) {
        OwnedRef old_path = OwnedRef::steal(PyTuple_GET_ITEM(pair, 0));
        OwnedRef old_key = OwnedRef::steal(PyTuple_GET_ITEM(pair, 1));
        PyTuple_SET_ITEM(pair, 0, path.release());
        PyTuple_SET_ITEM(pair, 1, key.release());
        return Py_NewRef(pair);
    }
    pair = PyTuple_New(2);
    if (pair == nullptr) return nullptr;
    PyTuple_SET_ITEM(pair, 0, path.release());
    PyTuple_SET_ITEM(pair, 1, key.release());
    Py_XSETREF(self->pair, Py_NewRef(pair));
    return pair;
}

// Hands the walk error to on_error, or raises it. Returns false with an
// exception set when the iteration must stop.
bool report(PyKeyWalk* self, key::WalkError error) {
    WalkState& state = *self->state;
    const RegistryError* registry_error = error.failure.registry_error();
    if (self->on_error == nullptr || registry_error == nullptr) {
        state.finished = true;
        raise_failure(error.failure, PanicStyle::Panic);
        return false;
    }
    OwnedRef exception = registry_error_to_py(*registry_error);
    OwnedRef path = OwnedRef::steal(to_str(error.path));
    if (!exception || !path) return false;
    OwnedRef on_error = OwnedRef::new_ref(self->on_error);  // the callable may clear the iterator
    PyObject* arguments[] = {path.get(), exception.get()};
    OwnedRef result = OwnedRef::steal(PyObject_Vectorcall(on_error.get(), arguments, 2, nullptr));
    return static_cast<bool>(result);
}

// Hands a notice to on_error as (path, ValueError(text)); without on_error
// there is nothing to do. False with an exception set when on_error raised.
bool tell(PyKeyWalk* self, const key::WalkNotice& notice) {
    if (self->on_error == nullptr) return true;
    OwnedRef text = OwnedRef::steal(to_str(notice.text));
    if (!text) return false;
    OwnedRef exception = OwnedRef::steal(PyObject_CallOneArg(PyExc_ValueError, text.get()));
    OwnedRef path = OwnedRef::steal(to_str(notice.path));
    if (!exception || !path) return false;
    OwnedRef on_error = OwnedRef::new_ref(self->on_error);
    PyObject* arguments[] = {path.get(), exception.get()};
    OwnedRef result = OwnedRef::steal(PyObject_Vectorcall(on_error.get(), arguments, 2, nullptr));
    return static_cast<bool>(result);
}

PyObject* walk_next(PyObject* object) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        PyKeyWalk* self = walk_of(object);
        WalkState& state = *self->state;
        if (state.running) {
            PyErr_SetString(PyExc_ValueError, "This walk is already running in another thread");
            return nullptr;
        }
        while (!state.finished) {
            if (state.next < state.batch.size()) {
                auto& [path, key] = state.batch[state.next++];
                OwnedRef text = OwnedRef::steal(to_str(path));
                if (!text) return nullptr;
                OwnedRef registry_key = OwnedRef::steal(new_registry_key(state.hive, std::move(key)));
                if (!registry_key) return nullptr;
                return make_pair(self, std::move(text), std::move(registry_key));
            }
            if (!state.notices.empty()) {
                const std::vector<key::WalkNotice> notices = std::move(state.notices);
                state.notices.clear();
                for (const key::WalkNotice& notice : notices) {
                    if (!tell(self, notice)) return nullptr;
                }
                continue;
            }
            if (state.error) {
                key::WalkError error = std::move(*state.error);
                state.error.reset();
                if (!report(self, std::move(error))) return nullptr;
                continue;
            }
            if (state.walk_over) break;
            state.running = true;
            auto filled = without_gil_catching([&] {
                state.fill();
                return true;
            });
            state.running = false;
            if (!filled) {
                state.finished = true;
                return raise_exception(filled.error(), PanicStyle::Panic);
            }
        }
        state.finished = true;
        return nullptr;  // no exception set: StopIteration
    });
}

int walk_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(walk_of(self)->on_error);
    Py_VISIT(walk_of(self)->pair);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int walk_clear(PyObject* self) {
    Py_CLEAR(walk_of(self)->on_error);
    Py_CLEAR(walk_of(self)->pair);
    return 0;
}

void walk_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    walk_clear(self);
    delete walk_of(self)->state;
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot walk_slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator of (path, RegistryKey) pairs over a key and every key below it")},
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(walk_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(walk_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(walk_clear)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(walk_next)},
    {0, nullptr},
};

PyType_Spec walk_type_spec = {
    .name = "orvane.KeyWalk",
    .basicsize = sizeof(PyKeyWalk),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_HAVE_GC,
    .slots = walk_slots,
};

}  // namespace

bool on_error_is_usable(PyObject* on_error) {
    if (on_error == nullptr || on_error == Py_None || PyCallable_Check(on_error)) return true;
    PyErr_Format(PyExc_TypeError, "on_error must be callable or None, not %.100s", Py_TYPE(on_error)->tp_name);
    return false;
}

PyObject* new_key_walk(std::shared_ptr<const hive::Hive> hive, key::RegistryKey start, PyObject* on_error,
                       bool include_orphans) {
    if (on_error == Py_None) on_error = nullptr;
    if (!on_error_is_usable(on_error)) return nullptr;
    PyTypeObject* type = classes().key_walk;
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) return nullptr;
    PyKeyWalk* self = walk_of(object);
    self->state = nullptr;
    self->on_error = Py_XNewRef(on_error);
    self->pair = nullptr;
    OwnedRef owned = OwnedRef::steal(object);  // released on failure below
    self->state = new WalkState(std::move(hive), std::move(start), include_orphans);
    return owned.release();
}

PyType_Spec& key_walk_spec() { return walk_type_spec; }

}  // namespace orvane::python
