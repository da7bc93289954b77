// How failures leave the modules: one table from C++ exceptions to Python
// ones, and the exception type for faults that no argument can provoke.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <string_view>

namespace parvenkel::module {

// Reports a fault that no argument can provoke, as an exception that an
// `except Exception` clause does not catch. When `interpreter_refused` is
// set, the exception the interpreter set is first passed to the
// unraisable hook. Returns nullptr for the caller to return.
PyObject* raise_internal_fault(std::string_view what, bool interpreter_refused);

// Sets the Python exception for a C++ one and returns nullptr:
//
//   std::bad_alloc, std::length_error   MemoryError
//   corpus::BlobError                   ValueError "not a valid WordCounter pickle: ..."
//   index::IndexFileError               ValueError "article index file <file>: ..."
//   index::IndexIoError                 OSError with its errno and file name
//   std::overflow_error                 OverflowError
//   anything else                       the internal fault
//
// `file` (may be null) is the index file the work read.
PyObject* set_python_error(std::exception_ptr error, PyObject* file = nullptr);

// Runs `call` (which returns a new reference or nullptr with an exception
// set) and turns a C++ exception escaping it into a Python one.
template <class Call>
PyObject* guarded(Call&& call, PyObject* file = nullptr) noexcept {
    try {
        return call();
    } catch (...) {
        return set_python_error(std::current_exception(), file);
    }
}

}  // namespace parvenkel::module
