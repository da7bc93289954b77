// What the modules that run C++ work on worker threads share: the `workers`
// argument, running work with the interpreter released, and a module state
// that holds the module's one type.
#pragma once

#include <Python.h>

#include <exception>

#include "corpus/corpus.hpp"
#include "module/call_frame.hpp"

namespace parvenkel::module {

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

// workers: an int from 1 up, or -1 for every core (absent: 1). Returns
// false with an exception set.
inline bool convert_workers(PyObject* obj, unsigned& out) {
    if (obj == nullptr) {
        out = 1;
        return true;
    }
    Ref index(PyNumber_Index(obj));
    if (!index) {
        PyErr_Format(PyExc_TypeError, "workers must be an int, not '%.100s'",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow < 0 || (overflow == 0 && value < 1 && value != -1)) {
        PyErr_SetString(PyExc_ValueError, "workers must be a positive int, or -1 for every core");
        return false;
    }
    out = corpus::worker_count(overflow > 0 ? 1024 : value);
    return true;
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
