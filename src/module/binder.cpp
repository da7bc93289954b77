#include "module/binder.hpp"

#include <algorithm>

#include "module/ref.hpp"

namespace parvenkel::module {
namespace {

bool append_utf8(std::string& out, PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        return false;
    }
    out.append(data, static_cast<std::size_t>(size));
    return true;
}

std::string display_name(const Signature& signature) {
    std::string name(signature.name);
    name.append("()");
    return name;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string parameter_list(const Signature& signature, const Slots& slots) {
    std::string_view missing[MAX_PARAMETERS];
    std::size_t count = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (slots[i] == nullptr) {
            missing[count++] = signature.parameters[i].name;
        }
    }
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (count > 2) {
                list.append(",");
            }
            list.append(i + 1 == count ? " and " : " ");
        }
        list.append("'").append(missing[i]).append("'");
    }
    return list;
}

[[gnu::cold, gnu::noinline]] bool refuse_positional(const Signature& signature, Py_ssize_t nargs) {
    const std::size_t most = signature.positional;
    std::size_t least = std::min(signature.required, most);
    std::string message = display_name(signature) + " takes ";
    if (least == most) {
        message.append(std::to_string(most));
    } else {
        message.append("from ")
            .append(std::to_string(least))
            .append(" to ")
            .append(std::to_string(most));
    }
    message.append(most == 1 && least == most ? " positional argument" : " positional arguments")
        .append(" but ")
        .append(std::to_string(nargs))
        .append(nargs == 1 ? " was given" : " were given");
    set_type_error(message);
    return false;
}

// The error paths, kept out of line so that binding itself stays small.
[[gnu::cold, gnu::noinline]] bool refuse_keyword(const Signature& signature, PyObject* name) {
    std::string message = display_name(signature) + " got an unexpected keyword argument '";
    append_text_of(message, name);
    message.append("'");
    set_type_error(message);
    return false;
}

[[gnu::cold, gnu::noinline]] bool refuse_repeated(const Signature& signature, std::size_t i) {
    set_type_error(display_name(signature) + " got multiple values for argument '" +
                   std::string(signature.parameters[i].name) + "'");
    return false;
}

[[gnu::cold, gnu::noinline]] bool refuse_missing(const Signature& signature, const Slots& slots,
                                                 std::size_t missing) {
    set_type_error(display_name(signature) + " missing " + std::to_string(missing) +
                   " required positional " + (missing == 1 ? "argument" : "arguments") + ": " +
                   parameter_list(signature, slots));
    return false;
}

// Binds one keyword argument; false with a TypeError set.
inline bool bind_keyword(const Signature& signature, PyObject* name, PyObject* value,
                         Slots& slots) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(name, &size);
    if (data == nullptr) {
        PyErr_Clear();  // no UTF-8 form: it can name no parameter
        return refuse_keyword(signature, name);
    }
    const std::string_view key(data, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < signature.count; ++i) {
        if (key == signature.parameters[i].name) {
            if (slots[i] != nullptr) {
                return refuse_repeated(signature, i);
            }
            slots[i] = value;
            return true;
        }
    }
    return refuse_keyword(signature, name);
}

inline bool check_required(const Signature& signature, const Slots& slots) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < signature.required; ++i) {
        missing += slots[i] == nullptr ? 1U : 0U;
    }
    return missing == 0 || refuse_missing(signature, slots, missing);
}

}  // namespace

// ---------------------------------------------------------------------------
// Binding.

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Slots& slots) {
    const auto most = static_cast<Py_ssize_t>(signature.positional);
    const Py_ssize_t positional = std::min(nargs, most);
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[static_cast<std::size_t>(i)] = args[i];
    }
    if (nargs > most) {
        return refuse_positional(signature, nargs);
    }
    if (kwnames != nullptr) {
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            if (!bind_keyword(signature, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots)) {
                return false;
            }
        }
    } else if (positional >= static_cast<Py_ssize_t>(signature.required)) {
        return true;  // every required parameter given by position
    }
    return check_required(signature, slots);
}

bool bind_tuple(const Signature& signature, PyObject* args, PyObject* kwargs, Slots& slots) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t positional = std::min(nargs, static_cast<Py_ssize_t>(signature.positional));
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    }
    if (nargs > positional) {
        return refuse_positional(signature, nargs);
    }
    if (kwargs != nullptr) {
        Py_ssize_t at = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &at, &name, &value)) {
            if (!bind_keyword(signature, name, value, slots)) {
                return false;
            }
        }
    }
    return check_required(signature, slots);
}

// ---------------------------------------------------------------------------
// Messages.

void set_type_error(std::string_view message) {
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) {
        PyErr_SetObject(PyExc_TypeError, text.get());
    }
}

void append_text_of(std::string& out, PyObject* obj) {
    Ref str(PyObject_Str(obj));
    if (!str) {
        PyErr_WriteUnraisable(obj);
        Ref name(PyType_GetName(Py_TYPE(obj)));
        std::string type_name;
        if (name && append_utf8(type_name, name.get())) {
            out.append("<unprintable ").append(type_name).append(" object>");
        } else {
            PyErr_Clear();
            out.append("<unprintable object>");
        }
        return;
    }
    if (append_utf8(out, str.get())) {
        return;
    }
    PyErr_Clear();
    // No UTF-8 form: encode the surrogates as they are and decode again,
    // replacing each maximal ill-formed subpart with one U+FFFD.
    Ref raw(PyUnicode_AsEncodedString(str.get(), "utf-8", "surrogatepass"));
    Ref decoded;
    if (raw) {
        decoded = Ref(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw.get()),
                                           PyBytes_GET_SIZE(raw.get()), "replace"));
    }
    if (!decoded || !append_utf8(out, decoded.get())) {
        PyErr_Clear();
        out.append("<unprintable object>");
    }
}

void append_qualname(std::string& out, PyTypeObject* type) {
    Ref name(PyType_GetQualName(type));
    if (name && append_utf8(out, name.get())) {
        return;
    }
    PyErr_Clear();
    out.append("<failed to extract type name>");
}

void set_not_an_instance(PyObject* obj, std::string_view target) {
    std::string message;
    if (obj == Py_None) {
        message.append("'None' is not an instance of '");
    } else {
        message.append("'");
        append_qualname(message, Py_TYPE(obj));
        message.append("' object is not an instance of '");
    }
    message.append(target).append("'");
    set_type_error(message);
}

void reword_argument_error(std::string_view parameter) {
    Ref error(PyErr_GetRaisedException());
    if (!error) {
        return;
    }
    if (Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        PyErr_SetRaisedException(error.release());
        return;
    }
    std::string message("argument '");
    message.append(parameter).append("': ");
    append_text_of(message, error.get());
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) {
        return;
    }
    Ref reworded(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!reworded) {
        return;
    }
    // Keeps the first error's own cause; always sets __suppress_context__.
    PyException_SetCause(reworded.get(), PyException_GetCause(error.get()));
    PyErr_SetRaisedException(reworded.release());
}

}  // namespace parvenkel::module
