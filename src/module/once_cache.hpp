// A process-wide object made once, the first time it is needed. It is
// stored only when its creation succeeds (a failed creation stores nothing
// and is tried again at the next need) and is then kept for the life of
// the process. A thread that finds a creation under way waits for it
// without holding the interpreter (see lock.hpp).
#pragma once

#include <atomic>

#include "module/lock.hpp"

namespace parvenkel::module {

class OnceCache {
   public:
    // `create` returns a new reference, or nullptr with an exception set.
    template <class Create>
    PyObject* get(Create&& create) {
        if (PyObject* ready = value_.load(std::memory_order_acquire)) {
            return ready;
        }
        const Locked hold(lock_);
        PyObject* result = value_.load(std::memory_order_relaxed);
        if (result == nullptr) {
            result = create();
            if (result != nullptr) {
                value_.store(result, std::memory_order_release);
            }
        }
        return result;
    }

   private:
    std::atomic<PyObject*> value_{nullptr};
    PyMutex lock_{};
};

}  // namespace parvenkel::module
