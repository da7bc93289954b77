// What the modules that run C++ work on worker threads share: running work
// with the interpreter released, and a module state that holds the
// module's one type.
#pragma once

#include <Python.h>

#include <cstddef>
#include <exception>

namespace parvenkel::module {

// Below this many bytes of text in a call, the interpreter is kept: the
// work is too short for releasing it to pay.
inline constexpr std::size_t RELEASE_BYTES = 64 * 1024;

// Runs `work` (which must not touch the interpreter), with the interpreter
// released when `release` is set; returns the exception it threw, if any.
template <class Work>
std::exception_ptr run_work(bool release, Work&& work) {
    std::exception_ptr error;
    if (release) {
        Py_BEGIN_ALLOW_THREADS;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        Py_END_ALLOW_THREADS;
    } else {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    }
    return error;
}

// The state of a module with one type of its own, which the module's exec
// function makes and hands to keep_type.
struct TypeState {
    PyObject* type;  // owned
};

inline TypeState* type_state(PyObject* module) {
    return static_cast<TypeState*>(PyModule_GetState(module));
}

// Keeps `type` (a new reference, or null when making it failed) in the
// module's state and adds it to the module under the type's name.
inline int keep_type(PyObject* module, PyObject* type) {
    if (type == nullptr) {
        return -1;
    }
    type_state(module)->type = type;
    return PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
}

inline int traverse_type_state(PyObject* module, visitproc visit, void* arg) {
    TypeState* state = type_state(module);
    if (state != nullptr) {
        Py_VISIT(state->type);
    }
    return 0;
}

inline int clear_type_state(PyObject* module) {
    TypeState* state = type_state(module);
    if (state != nullptr) {
        Py_CLEAR(state->type);
    }
    return 0;
}

inline void free_type_state(void* module) { clear_type_state(static_cast<PyObject*>(module)); }

}  // namespace parvenkel::module
