// Scoped holds of PyMutex locks. A PyMutex detaches a waiting thread from
// the interpreter while it blocks, so a thread waiting here never holds up
// one that needs the interpreter to finish and unlock. Every lock of the
// modules is taken through these guards, so that no path (an exception
// included) leaves one held.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <functional>

namespace parvenkel::module {

class Locked {
   public:
    explicit Locked(PyMutex& lock) noexcept : lock_(&lock) { PyMutex_Lock(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() { PyMutex_Unlock(lock_); }

   private:
    PyMutex* lock_;
};

// Two locks, taken in address order so that two threads taking the same
// pair in opposite roles cannot wait on each other; one lock given twice is
// taken once.
class LockedPair {
   public:
    LockedPair(PyMutex& a, PyMutex& b) noexcept
        : first_(std::less<PyMutex*>{}(&a, &b) ? &a : &b),
          second_(&a == &b ? nullptr : (first_ == &a ? &b : &a)) {
        PyMutex_Lock(first_);
        if (second_ != nullptr) {
            PyMutex_Lock(second_);
        }
    }
    LockedPair(const LockedPair&) = delete;
    LockedPair& operator=(const LockedPair&) = delete;
    ~LockedPair() {
        if (second_ != nullptr) {
            PyMutex_Unlock(second_);
        }
        PyMutex_Unlock(first_);
    }

   private:
    PyMutex* first_;
    PyMutex* second_;
};

}  // namespace parvenkel::module
