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

}  // namespace orvane::python
