#include "module/call_frame.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace parvenkel::module {
namespace {

// ---------------------------------------------------------------------------
// Once-only caches. Each is stored only when its creation succeeds and is then
// kept for the life of the process. A thread that finds a creation under way
// waits on a PyMutex, which detaches the thread from the interpreter while it
// blocks, so neither thread can hold up the other.

class OnceCache {
   public:
    template <class Create>
    PyObject* get(Create&& create) {
        if (PyObject* ready = value_.load(std::memory_order_acquire)) {
            return ready;
        }
        PyMutex_Lock(&lock_);
        PyObject* result = value_.load(std::memory_order_relaxed);
        if (result == nullptr) {
            result = create();  // new reference, or nullptr with an exception set
            if (result != nullptr) {
                value_.store(result, std::memory_order_release);
            }
        }
        PyMutex_Unlock(&lock_);
        return result;
    }

   private:
    std::atomic<PyObject*> value_{nullptr};
    PyMutex lock_{};
};

OnceCache sequence_type_cache;
OnceCache internal_error_cache;

// collections.abc.Sequence, needed only to word one error message.
PyObject* sequence_type() {
    return sequence_type_cache.get([]() -> PyObject* {
        Ref abc(PyImport_ImportModule("collections.abc"));
        if (!abc) {
            return nullptr;
        }
        Ref type(PyObject_GetAttrString(abc.get(), "Sequence"));
        if (!type) {
            return nullptr;
        }
        if (!PyType_Check(type.get())) {
            PyErr_SetString(PyExc_TypeError, "collections.abc.Sequence is not a type");
            return nullptr;
        }
        return type.release();
    });
}

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

// ---------------------------------------------------------------------------
// Message helpers.

void set_type_error(std::string_view message) {
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) {
        PyErr_SetObject(PyExc_TypeError, text.get());
    }
}

bool append_utf8(std::string& out, PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) {
        return false;
    }
    out.append(data, static_cast<std::size_t>(size));
    return true;
}

// The text of an object inside a message: its str(), with every ill-formed
// part (a lone surrogate) replaced by U+FFFD, or a stand-in when str() fails.
// Must be called with no exception pending.
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

// The qualified name of a type, as shown in messages.
void append_qualname(std::string& out, PyTypeObject* type) {
    Ref name(PyType_GetQualName(type));
    if (name && append_utf8(out, name.get())) {
        return;
    }
    PyErr_Clear();
    out.append("<failed to extract type name>");
}

std::string display_name(const function_signature& signature) {
    std::string name(signature.name);
    name.append("()");
    return name;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string parameter_list(const function_signature& signature, PyObject* const slots[]) {
    std::vector<std::string_view> missing;
    for (Py_ssize_t i = 0; i < PARAMETER_COUNT; ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(signature.parameters[i]);
        }
    }
    std::string list;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) {
            if (missing.size() > 2) {
                list.append(",");
            }
            list.append(i + 1 == missing.size() ? " and " : " ");
        }
        list.append("'").append(missing[i]).append("'");
    }
    return list;
}

constexpr std::size_t STOP_WORDS_RESERVE_LIMIT = std::size_t{1} << 16;

}  // namespace

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

// ---------------------------------------------------------------------------
// Binding.

bool bind_arguments(const function_signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject* slots[PARAMETER_COUNT]) {
    const Py_ssize_t positional = std::min(nargs, PARAMETER_COUNT);
    for (Py_ssize_t i = 0; i < positional; ++i) {
        slots[i] = args[i];
    }
    if (nargs > PARAMETER_COUNT) {
        set_type_error(display_name(signature) + " takes " + std::to_string(PARAMETER_COUNT) +
                       " positional arguments but " + std::to_string(nargs) + " were given");
        return false;
    }
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(name, &size);
        Py_ssize_t match = -1;
        if (data == nullptr) {
            PyErr_Clear();  // no UTF-8 form: it can name no parameter
        } else {
            const std::string_view key(data, static_cast<std::size_t>(size));
            for (Py_ssize_t i = 0; i < PARAMETER_COUNT; ++i) {
                if (key == signature.parameters[i]) {
                    match = i;
                    break;
                }
            }
        }
        if (match < 0) {
            std::string message = display_name(signature) + " got an unexpected keyword argument '";
            append_text_of(message, name);
            message.append("'");
            set_type_error(message);
            return false;
        }
        if (slots[match] != nullptr) {
            set_type_error(display_name(signature) + " got multiple values for argument '" +
                           std::string(signature.parameters[match]) + "'");
            return false;
        }
        slots[match] = args[nargs + k];
    }
    Py_ssize_t missing = 0;
    for (Py_ssize_t i = 0; i < PARAMETER_COUNT; ++i) {
        missing += slots[i] == nullptr ? 1 : 0;
    }
    if (missing > 0) {
        set_type_error(display_name(signature) + " missing " + std::to_string(missing) +
                       " required positional " + (missing == 1 ? "argument" : "arguments") + ": " +
                       parameter_list(signature, slots));
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Conversions.

bool extract_str(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        set_not_an_instance(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
        return false;
    }
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool extract_text(PyObject* obj, text::TextView& out) {
    if (!PyUnicode_Check(obj)) {
        set_not_an_instance(obj, "str");
        return false;
    }
    // The text is read where the str keeps it. Only a str that holds a
    // surrogate has no UTF-8 form: asking for that form raises the
    // interpreter's own error for it.
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj));
    const void* data = PyUnicode_DATA(obj);
    std::size_t surrogate = length;
    switch (PyUnicode_KIND(obj)) {
        case PyUnicode_1BYTE_KIND:
            out = {data, length, PyUnicode_IS_ASCII(obj) ? text::Form::UTF8 : text::Form::LATIN1};
            return true;
        case PyUnicode_2BYTE_KIND:
            out = {data, length, text::Form::UCS2};
            surrogate = text::find_surrogate({static_cast<const char16_t*>(data), length});
            break;
        default:
            out = {data, length, text::Form::UCS4};
            surrogate = text::find_surrogate({static_cast<const char32_t*>(data), length});
            break;
    }
    if (surrogate == length) {
        return true;
    }
    std::string_view utf8;
    if (!extract_str(obj, utf8)) {
        return false;
    }
    out = text::TextView::utf8(utf8);
    return true;
}

bool extract_str_list(PyObject* obj, std::vector<std::string>& out) {
    if (PyUnicode_Check(obj)) {
        set_type_error("Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) {
        PyObject* sequence = sequence_type();
        if (sequence == nullptr) {
            raise_internal_fault("could not obtain collections.abc.Sequence", false);
            return false;
        }
        std::string target;
        append_qualname(target, reinterpret_cast<PyTypeObject*>(sequence));
        set_not_an_instance(obj, target);
        return false;
    }
    // The reported length is only a sizing hint: the sequence may shrink or
    // grow while it is iterated, or report a length it cannot have.
    const Py_ssize_t hint = PyObject_Size(obj);
    if (hint < 0) {
        // A failed length is dropped, but an interruption (KeyboardInterrupt,
        // SystemExit) raised meanwhile is the caller's and must not be lost.
        if (!PyErr_ExceptionMatches(PyExc_Exception)) {
            return false;
        }
        PyErr_Clear();
    } else {
        out.reserve(std::min(static_cast<std::size_t>(hint), STOP_WORDS_RESERVE_LIMIT));
    }
    Ref iterator(PyObject_GetIter(obj));
    if (!iterator) {
        return false;
    }
    for (;;) {
        PyObject* raw_item = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &raw_item);
        if (status < 0) {
            return false;
        }
        if (status == 0) {
            return true;
        }
        Ref item(raw_item);
        std::string_view view;
        if (!extract_str(item.get(), view)) {
            return false;
        }
        out.emplace_back(view);
    }
}

bool extract_size(PyObject* obj, std::uint64_t& out) {
    unsigned long long value = 0;
    if (PyLong_Check(obj)) {
        value = PyLong_AsUnsignedLongLong(obj);
    } else {
        Ref index(PyNumber_Index(obj));
        if (!index) {
            return false;
        }
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return false;
    }
    out = value;
    return true;
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

// ---------------------------------------------------------------------------
// Results.

PyObject* score_to_python(double score) {
    PyObject* result = PyFloat_FromDouble(score);
    if (result == nullptr) {
        return raise_internal_fault("could not create the score", true);
    }
    return result;
}

PyObject* keywords_to_python(const analysis::Keywords& keywords) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(keywords.pairs.size())));
    if (!list) {
        return raise_internal_fault("could not create the keyword list", true);
    }
    Py_ssize_t index = 0;
    for (const analysis::KeywordCount& pair : keywords.pairs) {
        Ref word(PyUnicode_FromStringAndSize(pair.word.data(),
                                             static_cast<Py_ssize_t>(pair.word.size())));
        if (!word) {
            return raise_internal_fault("could not create a keyword", true);
        }
        Ref count(PyLong_FromUnsignedLongLong(pair.count));
        if (!count) {
            return raise_internal_fault("could not create a keyword count", true);
        }
        PyObject* tuple = PyTuple_New(2);
        if (tuple == nullptr) {
            return raise_internal_fault("could not create a keyword tuple", true);
        }
        PyTuple_SET_ITEM(tuple, 0, word.release());
        PyTuple_SET_ITEM(tuple, 1, count.release());
        PyList_SET_ITEM(list.get(), index++, tuple);
    }
    return list.release();
}

}  // namespace parvenkel::module
