#include "module/errors.hpp"

#include <cerrno>
#include <new>
#include <stdexcept>

#include "corpus/corpus.hpp"
#include "index/index.hpp"
#include "module/once_cache.hpp"
#include "module/ref.hpp"

namespace parvenkel::module {
namespace {

OnceCache internal_error_cache;

// Derived from BaseException, so that `except Exception` does not swallow a
// fault of the module itself.
PyObject* internal_error_type() {
    return internal_error_cache.get([]() -> PyObject* {
        return PyErr_NewExceptionWithDoc(
            "parvenkel._core.InternalError",
            "A fault inside parvenkel._core that no argument value can cause.", PyExc_BaseException,
            nullptr);
    });
}

PyObject* set_os_error(const index::IndexIoError& error) {
    Ref name(PyUnicode_DecodeFSDefaultAndSize(error.path().data(),
                                              static_cast<Py_ssize_t>(error.path().size())));
    if (!name) {
        return nullptr;
    }
    errno = error.error();
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.get());
}

}  // namespace

PyObject* raise_internal_fault(std::string_view what, bool interpreter_refused) {
    if (interpreter_refused && PyErr_Occurred()) {
        PyErr_WriteUnraisable(nullptr);
    }
    Ref cause(PyErr_GetRaisedException());
    PyObject* type = internal_error_type();
    if (type == nullptr) {
        return nullptr;  // the failure to create the type is what the caller sees
    }
    Ref text(PyUnicode_FromStringAndSize(what.data(), static_cast<Py_ssize_t>(what.size())));
    if (!text) {
        return nullptr;
    }
    Ref fault(PyObject_CallOneArg(type, text.get()));
    if (!fault) {
        return nullptr;
    }
    if (cause) {
        PyException_SetCause(fault.get(), cause.release());
    }
    PyErr_SetRaisedException(fault.release());
    return nullptr;
}

PyObject* set_python_error(std::exception_ptr error, PyObject* file) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const corpus::BlobError& e) {
        PyErr_Format(PyExc_ValueError, "not a valid WordCounter pickle: %s", e.what());
    } catch (const index::IndexFileError& e) {
        PyErr_Format(PyExc_ValueError, "article index file %R: %s",
                     file != nullptr ? file : Py_None, e.what());
    } catch (const index::IndexIoError& e) {
        return set_os_error(e);
    } catch (const std::overflow_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const std::exception& e) {
        return raise_internal_fault(e.what(), false);
    } catch (...) {
        return raise_internal_fault("unknown C++ exception", false);
    }
    return nullptr;
}

}  // namespace parvenkel::module
