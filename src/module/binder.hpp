// Binding the arguments of a call to a function's parameters, from a
// declaration of the parameters, and the wording of argument errors.
//
// Every function of the modules is declared once as a Signature; its entry
// point binds the call with bind_arguments (or bind_tuple for a type's
// constructor), converts the bound objects with convert_arguments
// (converters.hpp) and calls plain C++ with the converted values, as an
// Argument Clinic wrapper calls its _impl function.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parvenkel::module {

enum class Kind : std::uint8_t { POSITIONAL_OR_KEYWORD, KEYWORD_ONLY };

struct Parameter {
    std::string_view name;
    bool required = true;
    Kind kind = Kind::POSITIONAL_OR_KEYWORD;
};

// A parameter with a default (the value its converter starts from).
constexpr Parameter optional(std::string_view name) noexcept {
    return {name, false, Kind::POSITIONAL_OR_KEYWORD};
}
constexpr Parameter keyword_only(std::string_view name) noexcept {
    return {name, false, Kind::KEYWORD_ONLY};
}

// Whether a TypeError of a conversion is raised as the converter words it
// or reworded "argument '<name>': <message>" (see reword_argument_error).
enum class Wording : std::uint8_t { AS_GIVEN, PREFIXED };

inline constexpr std::size_t MAX_PARAMETERS = 8;

// The name and parameters of one function. The parameters are listed in
// order: required ones, then those with defaults, then keyword-only ones.
struct Signature {
    template <std::size_t N>
    constexpr Signature(std::string_view function, const Parameter (&list)[N],
                        Wording conversion_wording) noexcept
        : name(function), parameters(list), count(N), wording(conversion_wording) {
        static_assert(N <= MAX_PARAMETERS);
        for (const Parameter& parameter : list) {
            positional += parameter.kind == Kind::POSITIONAL_OR_KEYWORD ? 1U : 0U;
            required += parameter.required ? 1U : 0U;
        }
    }

    // A function without parameters.
    constexpr Signature(std::string_view function, Wording conversion_wording) noexcept
        : name(function), parameters(nullptr), count(0), wording(conversion_wording) {}

    std::string_view name;
    const Parameter* parameters;
    std::size_t count;
    Wording wording;
    std::size_t positional = 0;  // how many may be given by position
    std::size_t required = 0;    // the first `required` must be given
};

// The bound arguments, borrowed, in parameter order; null where a
// parameter was not given.
using Slots = std::array<PyObject*, MAX_PARAMETERS>;

// Fills `slots` (all null on entry) from a fast call's arguments. Returns
// false with a TypeError set on a binding error:
//   "f() takes 3 positional arguments but 4 were given"
//   "f() takes from 1 to 2 positional arguments but 3 were given"
//   "f() got an unexpected keyword argument 'x'"
//   "f() got multiple values for argument 'x'"
//   "f() missing 2 required positional arguments: 'a' and 'b'"
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Slots& slots);

// The same for a call given as a tuple and a dict (or null), as a type's
// tp_new receives it.
bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, Slots& slots);

// Sets a TypeError with `message`.
void set_type_error(std::string_view message);

// Sets the TypeError "'<type>' object is not an instance of '<target>'"
// (or "'None' is not an instance of '<target>'").
void set_not_an_instance(PyObject* obj, std::string_view target);

// Appends the text of an object inside a message: its str(), with every
// ill-formed part (a lone surrogate) replaced by U+FFFD, or a stand-in when
// str() fails. Must be called with no exception pending.
void append_text_of(std::string& out, PyObject* obj);

// Appends the qualified name of a type, as messages show it.
void append_qualname(std::string& out, PyTypeObject* type);

// The name of an object's type, for messages worded with PyErr_Format.
inline const char* type_name(PyObject* obj) noexcept { return Py_TYPE(obj)->tp_name; }

// Prefixes a pending TypeError (exactly that type) with the parameter name;
// leaves any other pending exception as it is.
void reword_argument_error(std::string_view parameter);

}  // namespace parvenkel::module
