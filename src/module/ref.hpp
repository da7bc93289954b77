// An owned (strong) reference to a Python object, released when it goes out
// of scope.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace parvenkel::module {

class Ref {
   public:
    Ref() noexcept = default;
    explicit Ref(PyObject* owned) noexcept : obj_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Py_XSETREF(obj_, std::exchange(other.obj_, nullptr));
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    PyObject* get() const noexcept { return obj_; }
    PyObject* release() noexcept { return std::exchange(obj_, nullptr); }
    explicit operator bool() const noexcept { return obj_ != nullptr; }

   private:
    PyObject* obj_ = nullptr;
};

}  // namespace parvenkel::module
