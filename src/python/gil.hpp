#pragma once
// Releasing the interpreter lock around core work, which touches no PyObject.

#include "python/py_ref.hpp"

namespace orvane::python {

class ReleasedGil {
public:
    ReleasedGil() noexcept : state_(PyEval_SaveThread()) {}
    ~ReleasedGil() { PyEval_RestoreThread(state_); }
    ReleasedGil(const ReleasedGil&) = delete;
    ReleasedGil& operator=(const ReleasedGil&) = delete;

private:
    PyThreadState* state_;
};

// Runs `work` with the interpreter lock released and returns its result. The
// lock is taken back before the result (or an exception) leaves.
template <class Work>
auto without_gil(Work&& work) -> decltype(work()) {
    ReleasedGil released;
    return work();
}

}  // namespace orvane::python
