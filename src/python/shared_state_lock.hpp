#pragma once
// The lock around the module's few pieces of process-wide state: the module
// object, the class objects and PanicException, all created on first use.
//
// They are created by a thread attached to the interpreter, and creating them
// may run Python code, which can hand the interpreter lock to another thread
// (GIL builds) or wait for every thread to pause for garbage collection
// (free-threaded builds). A thread that finds the lock taken therefore detaches
// from the interpreter while it waits, so the holder can always finish; a plain
// mutex could deadlock against the interpreter lock there.

#include <mutex>

#include "python/py_ref.hpp"

namespace orvane::python {

class SharedStateLock {
public:
    SharedStateLock() {
        if (mutex().try_lock()) return;
        PyThreadState* state = PyEval_SaveThread();
        mutex().lock();
        PyEval_RestoreThread(state);
    }
    ~SharedStateLock() { mutex().unlock(); }
    SharedStateLock(const SharedStateLock&) = delete;
    SharedStateLock& operator=(const SharedStateLock&) = delete;

private:
    static std::mutex& mutex() noexcept {
        static std::mutex instance;
        return instance;
    }
};

}  // namespace orvane::python
