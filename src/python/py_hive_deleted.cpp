// Hive.deleted_keys() and Hive.deleted_values(): the scan for deleted records
// runs with the interpreter lock released; the objects are built after it.

#include "python/py_hive_deleted.hpp"

#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "python/py_registry_key.hpp"
#include "recovery/remnant_bins.hpp"

namespace orvane::python {

namespace {

// Runs `work(hive, scan result)` unlocked (the hive's one scan, made by the
// first call that needs it) and hands its result to `build` with the lock held.
template <class Work, class Build>
PyObject* after_scan(PyObject* self, Work&& work, Build&& build) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const std::shared_ptr<const hive::Hive> hive = PyHive::of(self).hive;
        const std::shared_ptr<recovery::ScanCache> scans = PyHive::of(self).deleted;
        std::shared_ptr<const recovery::Recovery> found;
        auto outcome = without_gil_catching([&] {
            found = scans->get(*hive);
            return work(*hive, *found);
        });
        if (!outcome) return raise_exception(outcome.error(), PanicStyle::Guarded);
        return build(hive, found, std::move(*outcome));
    });
}

}  // namespace

PyObject* hive_deleted_keys(PyObject* self, PyObject*) {
    return after_scan(
        self,
        [](const hive::Hive&, const recovery::Recovery& found) {
            std::vector<KeySnapshot> keys;
            keys.reserve(found.keys().size());
            for (const recovery::DeletedKey& key : found.keys()) {
                keys.push_back(KeySnapshot::of(key));
            }
            return keys;
        },
        [](const std::shared_ptr<const hive::Hive>& hive, const std::shared_ptr<const recovery::Recovery>& found,
           std::vector<KeySnapshot> keys) { return key_list(hive, std::move(keys), found); });
}

PyObject* hive_deleted_values(PyObject* self, PyObject*) {
    return after_scan(
        self,
        [](const hive::Hive& hive, const recovery::Recovery& found) {
            return owned_deleted_values(found, found.values(), hive.data().size());
        },
        [](const std::shared_ptr<const hive::Hive>&, const std::shared_ptr<const recovery::Recovery>&,
           std::vector<OwnedValue> values) { return value_list(std::move(values)); });
}

PyObject* hive_remnant_bins(PyObject* self, PyObject*) {
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        const std::shared_ptr<const hive::Hive> hive = PyHive::of(self).hive;
        return run_unlocked(
            PanicStyle::Panic, [&]() -> Checked<recovery::RemnantBins> { return recovery::RemnantBins::of(*hive); },
            [](const recovery::RemnantBins& remnants) {
                return to_list(remnants.bins(), [](const recovery::RemnantBin& bin) {
                    return Py_BuildValue("(KkI)", static_cast<unsigned long long>(bin.position),
                                         static_cast<unsigned long>(bin.offset_field), bin.size);
                });
            });
    });
}

}  // namespace orvane::python
