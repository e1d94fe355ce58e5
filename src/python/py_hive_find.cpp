// Hive.find(): the search of a whole hive in one walk, with the interpreter
// lock released.
//
// A str pattern is literal and the core matches it (names, and data as
// UTF-16LE and Latin-1 at every offset); only matches become objects. A
// regular expression (any object with a search method, such as re.Pattern)
// cannot be matched by the core, nor can the core narrow down which texts
// could match it: the core decodes every name, string and text run of binary
// data in the walk, and here each is handed to pattern.search as a str,
// dropped unless it matches. Python's re then decides, with its own syntax
// and flags; the core turns each match's span back into a match record.

#include "python/py_hive_find.hpp"

#include <array>
#include <optional>

#include "python/arguments.hpp"
#include "python/classes.hpp"
#include "python/convert.hpp"
#include "python/errors.hpp"
#include "python/guarded.hpp"
#include "search/find_literal.hpp"
#include "search/text_candidates.hpp"

namespace orvane::python {

const char hive_find_doc[] =
    "find($self, pattern, *, case_sensitive=False, keys=True, values=True, data=True, deleted=False, "
    "include_orphans=None, on_error=None)\n--\n\n"
    "Search key names, value names and value data (as UTF-16LE and Latin-1 text) in one walk for pattern: a str "
    "is matched literally (letters in any case unless case_sensitive), an re.Pattern with its search(); keys, "
    "values and data choose where; deleted=True searches the deleted keys and values too, include_orphans (by "
    "default on a hive from open_tolerant only) the orphan keys below \"<orphans>\" as walk() does. A subkey "
    "list, value list or "
    "value data that cannot be read is handed to on_error(path, exception, what), what being 'subkeys', "
    "'values' or \"value 'NAME'\", and the search goes on; without on_error the first is raised. Returns (path, "
    "value_name, where, encoding, offset, before, text, after, deleted, key_offset, value_offset) tuples in walk "
    "order: where is 'key', 'value' or 'data'; encoding 'name', 'utf-16le' or 'latin-1'; offset the character "
    "index in a name or the byte offset in the data; path None for a deleted value no deleted key lists";

namespace {

struct Choices {
    search::SearchOptions options;
    bool case_sensitive = false;
    PyObject* on_error = nullptr;  // borrowed; nullptr for none
};

// By the enumerators' values.
constexpr const char* place_names[] = {"key", "value", "data"};
constexpr const char* encoding_names[] = {"name", "utf-16le", "latin-1"};

PyObject* match_tuple(const search::Match& match) {
    OwnedRef path = match.path ? OwnedRef::steal(to_str(*match.path)) : OwnedRef::new_ref(Py_None);
    OwnedRef name = match.place == search::Place::KeyName ? OwnedRef::new_ref(Py_None)
                                                          : OwnedRef::steal(to_str(match.value_name));
    OwnedRef before = OwnedRef::steal(to_str(match.before));
    OwnedRef text = OwnedRef::steal(to_str(match.text));
    OwnedRef after = OwnedRef::steal(to_str(match.after));
    if (!path || !name || !before || !text || !after) return nullptr;
    const char* where = place_names[static_cast<std::size_t>(match.place)];
    const char* encoding = encoding_names[static_cast<std::size_t>(match.encoding)];
    return Py_BuildValue("(OOssKOOOOkI)", path.get(), name.get(), where, encoding,
                         static_cast<unsigned long long>(match.offset), before.get(), text.get(), after.get(),
                         match.deleted ? Py_True : Py_False, static_cast<unsigned long>(match.key_offset),
                         match.value_offset);
}

PyObject* match_list(const std::vector<search::Match>& matches) { return to_list(matches, match_tuple); }

// Hands what the walk went on past to on_error(path, exception, what), as
// the command line's damage report takes it; without on_error the first
// failure is raised (a key listed twice is no failure: it was read once).
// False with an exception set.
bool report(const std::vector<search::SearchProblem>& problems, PyObject* on_error) {
    for (const search::SearchProblem& problem : problems) {
        const RegistryError* registry_error = problem.failure.registry_error();
        if (on_error == nullptr || registry_error == nullptr) {
            if (problem.notice && registry_error != nullptr) continue;
            raise_failure(problem.failure, PanicStyle::Panic);
            return false;
        }
        OwnedRef exception = registry_error_to_py(*registry_error);
        OwnedRef path = OwnedRef::steal(to_str(problem.path));
        OwnedRef what = OwnedRef::steal(to_str(problem.what));
        if (!exception || !path || !what) return false;
        PyObject* arguments[] = {path.get(), exception.get(), what.get()};
        if (!OwnedRef::steal(PyObject_Vectorcall(on_error, arguments, 3, nullptr))) return false;
    }
    return true;
}

// Runs `work(hive, scan)` without the interpreter lock; the scan for
// deleted records (the hive's one scan) only when it is asked for.
template <class Work>
auto with_scan(PyObject* self, const Choices& choices, Work work) {
    const HiveHandle& handle = PyHive::of(self);
    return [hive = handle.hive, scans = handle.deleted, deleted = choices.options.deleted, work]() {
        std::shared_ptr<const recovery::Recovery> found;
        if (deleted) found = scans->get(*hive);
        return work(*hive, found.get());
    };
}

PyObject* find_literal(PyObject* self, const std::string& pattern, const Choices& choices) {
    return run_unlocked(
        PanicStyle::Panic,
        with_scan(self, choices,
                  [&](const hive::Hive& hive, const recovery::Recovery* found) -> Checked<search::Found> {
                      auto matcher = search::LiteralMatcher::create(pattern, choices.case_sensitive);
                      if (!matcher) return error::unexpected(error::Failure(std::move(matcher).error()));
                      return search::find_literal(hive, *matcher, choices.options, found);
                  }),
        [&](const search::Found& found) -> PyObject* {
            if (!report(found.problems, choices.on_error)) return nullptr;
            return match_list(found.matches);
        });
}

// pattern.search(text) for each text; the spans it finds become matches.
PyObject* find_by_search(PyObject* self, PyObject* search_method, const Choices& choices) {
    return run_unlocked(
        PanicStyle::Panic,
        with_scan(self, choices,
                  [&](const hive::Hive& hive, const recovery::Recovery* found) {
                      return search::collect_texts(hive, choices.options, found);
                  }),
        [&](const search::TextCandidates& candidates) -> PyObject* {
            if (!report(candidates.problems, choices.on_error)) return nullptr;
            std::vector<search::Match> matches;
            for (std::size_t i = 0; i < candidates.texts.size(); ++i) {
                OwnedRef text = OwnedRef::steal(to_str(candidates.texts[i].run.text));
                if (!text) return nullptr;
                OwnedRef found = OwnedRef::steal(PyObject_CallOneArg(search_method, text.get()));
                if (!found) return nullptr;
                if (found.get() == Py_None) continue;
                OwnedRef span = OwnedRef::steal(PyObject_CallMethod(found.get(), "span", nullptr));
                if (!span) return nullptr;
                Py_ssize_t start = 0;
                Py_ssize_t end = 0;
                if (!PyArg_ParseTuple(span.get(), "nn", &start, &end)) return nullptr;
                matches.push_back(search::match_in(
                    candidates, i, static_cast<std::size_t>(std::max<Py_ssize_t>(start, 0)),
                    static_cast<std::size_t>(std::max<Py_ssize_t>(end, 0))));
            }
            return match_list(matches);
        });
}

bool flag(PyObject* value, bool& out) {
    if (value == nullptr) return true;
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
}

}  // namespace

PyObject* hive_find(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr std::array<Parameter, 8> parameters{{{"pattern", true},
                                                          {"case_sensitive", false},
                                                          {"keys", false},
                                                          {"values", false},
                                                          {"data", false},
                                                          {"deleted", false},
                                                          {"include_orphans", false},
                                                          {"on_error", false}}};
    // Everything after the pattern is keyword-only.
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "Hive.find() takes 1 positional argument but %zd were given", nargs);
        return nullptr;
    }
    std::array<PyObject*, 8> values{};
    if (!parse_arguments("Hive.find", parameters, args, nargs, kwnames, values)) return nullptr;
    Choices choices;
    // Orphans are searched by default where damage is expected, as walk() walks them: on a tolerant hive.
    choices.options.orphans = PyHive::of(self).hive->problem_log() != nullptr;
    if (!flag(values[1], choices.case_sensitive) || !flag(values[2], choices.options.keys) ||
        !flag(values[3], choices.options.values) || !flag(values[4], choices.options.data) ||
        !flag(values[5], choices.options.deleted) ||
        !flag(values[6] == Py_None ? nullptr : values[6], choices.options.orphans)) {
        return nullptr;
    }
    if (values[7] != nullptr && values[7] != Py_None) {
        if (!PyCallable_Check(values[7])) {
            PyErr_Format(PyExc_TypeError, "on_error must be callable or None, not %.100s",
                         Py_TYPE(values[7])->tp_name);
            return nullptr;
        }
        choices.on_error = values[7];
    }
    return catching(PanicStyle::Panic, [&]() -> PyObject* {
        if (PyUnicode_Check(values[0])) {
            Py_ssize_t size = 0;
            const char* text = PyUnicode_AsUTF8AndSize(values[0], &size);
            if (text == nullptr) return nullptr;
            return find_literal(self, std::string(text, static_cast<std::size_t>(size)), choices);
        }
        OwnedRef search_method = OwnedRef::steal(PyObject_GetAttrString(values[0], "search"));
        if (!search_method) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
            PyErr_Clear();
        }
        if (!search_method || !PyCallable_Check(search_method.get())) {
            PyErr_Format(PyExc_TypeError, "Hive.find() argument 'pattern' must be str or re.Pattern, not %s",
                         Py_TYPE(values[0])->tp_name);
            return nullptr;
        }
        return find_by_search(self, search_method.get(), choices);
    });
}

}  // namespace orvane::python
