// The call frame shared by the module's functions: argument binding,
// conversion to plain C++ values, error wording and result conversion.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"

namespace parvenkel::module {

// An owned (strong) reference, released when it goes out of scope.
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

inline constexpr Py_ssize_t PARAMETER_COUNT = 3;

// Name and parameter names of one function, for binding and its messages.
struct function_signature {
    std::string_view name;
    std::string_view parameters[PARAMETER_COUNT];
};

// Fills `slots` (borrowed references, in parameter order) from a fast call's
// arguments. Returns false with a TypeError set on a binding error.
bool bind_arguments(const function_signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject* slots[PARAMETER_COUNT]);

// Conversions. Each returns false with an exception set on failure; the
// caller rewords it with reword_argument_error.
bool extract_str(PyObject* obj, std::string_view& out);
// A str as it is held, with no copy (see text_view.hpp).
bool extract_text(PyObject* obj, text::TextView& out);
bool extract_str_list(PyObject* obj, std::vector<std::string>& out);
bool extract_size(PyObject* obj, std::uint64_t& out);

// Sets the TypeError "'<type>' object is not an instance of '<target>'"
// (or "'None' is not an instance of '<target>'").
void set_not_an_instance(PyObject* obj, std::string_view target);

// Prefixes a pending TypeError (exactly that type) with the parameter name;
// leaves any other pending exception as it is.
void reword_argument_error(std::string_view parameter);

// Reports a fault that no argument can provoke, as an exception that an
// `except Exception` clause does not catch. When `interpreter_refused` is
// set, the exception the interpreter set is first passed to the
// unraisable hook. Returns nullptr for the caller to return.
PyObject* raise_internal_fault(std::string_view what, bool interpreter_refused);

// Result conversions: a new reference, or nullptr with an exception set.
PyObject* score_to_python(double score);
PyObject* keywords_to_python(const analysis::Keywords& keywords);

}  // namespace parvenkel::module
