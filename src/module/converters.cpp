#include "module/converters.hpp"

#include <algorithm>

#include "analysis/analysis.hpp"
#include "corpus/corpus.hpp"
#include "module/errors.hpp"
#include "module/once_cache.hpp"

namespace parvenkel::module {
namespace {

OnceCache sequence_type_cache;

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

constexpr std::size_t STOP_WORDS_RESERVE_LIMIT = std::size_t{1} << 16;

// The value of an int argument, through __index__: `value` and `overflow`
// as PyLong_AsLongLongAndOverflow gives them. A TypeError (no __index__)
// becomes "<name> must be <expected>, not '<type>'".
bool read_int(PyObject* obj, std::string_view name, const char* expected, long long& value,
              int& overflow) {
    Ref number(PyNumber_Index(obj));
    if (!number) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "%.*s must be %s, not '%.100s'",
                         static_cast<int>(name.size()), name.data(), expected, type_name(obj));
        }
        return false;
    }
    value = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
    return !(value == -1 && PyErr_Occurred());
}

}  // namespace

// ---------------------------------------------------------------------------
// _core's conversions.

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

bool convert(PyObject* obj, text::TextView& out) {
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

bool convert(PyObject* obj, std::vector<std::string>& out) {
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
        if (status <= 0) {
            return status == 0;
        }
        Ref item(raw_item);
        std::string_view view;
        if (!extract_str(item.get(), view)) {
            return false;
        }
        out.emplace_back(view);
    }
}

bool convert(PyObject* obj, std::uint64_t& out) {
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

// ---------------------------------------------------------------------------
// The corpus and index modules' conversions.

bool refuse_str(PyObject* obj, const char* what, const char* items) {
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be an iterable of %s, not a '%.100s'", what, items,
                     type_name(obj));
        return false;
    }
    return true;
}

bool convert(PyObject* obj, Query& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "query must be a str, not '%.100s'", type_name(obj));
        return false;
    }
    return convert(obj, out.view);
}

bool convert(PyObject* obj, Queries& out) {
    if (!refuse_str(obj, "queries")) {
        return false;
    }
    out.keep = Ref(PySequence_Tuple(obj));
    if (!out.keep) {
        // Not an iterable at all; a TypeError raised while iterating is
        // left as it is.
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(obj)->tp_iter == nullptr &&
            !PySequence_Check(obj)) {
            PyErr_Format(PyExc_TypeError, "queries must be an iterable of str, not '%.100s'",
                         type_name(obj));
        }
        return false;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(out.keep.get());
    out.views.resize(static_cast<std::size_t>(count));
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = PyTuple_GET_ITEM(out.keep.get(), k);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "query %zd must be a str, not '%.100s'", k,
                         type_name(item));
            return false;
        }
        if (!convert(item, out.views[static_cast<std::size_t>(k)])) {
            return false;
        }
    }
    return true;
}

bool convert(PyObject* obj, TopN& out) {
    if (out.none_allowed && obj == Py_None) {
        out.value = UINT64_MAX;
        return true;
    }
    long long value = 0;
    int overflow = 0;
    if (!read_int(obj, out.name, out.none_allowed ? "an int or None" : "an int", value, overflow)) {
        return false;
    }
    if (overflow < 0 || (overflow == 0 && value < 0)) {
        PyErr_Format(PyExc_ValueError, "%.*s must not be negative",
                     static_cast<int>(out.name.size()), out.name.data());
        return false;
    }
    out.value = overflow > 0 ? UINT64_MAX : static_cast<std::uint64_t>(value);
    return true;
}

bool convert(PyObject* obj, Workers& out) {
    long long value = 0;
    int overflow = 0;
    if (!read_int(obj, "workers", "an int", value, overflow)) {
        return false;
    }
    // Anything below -1, however far, is refused: only -1 means every core.
    if (overflow < 0 || (overflow == 0 && value < 1 && value != -1)) {
        PyErr_SetString(PyExc_ValueError, "workers must be a positive int, or -1 for every core");
        return false;
    }
    out.value = corpus::worker_count(overflow > 0 ? 1024 : value);
    return true;
}

bool convert(PyObject* obj, StopWords& out) {
    if (!refuse_str(obj, "stop_words")) {
        return false;
    }
    Ref iterator(PyObject_GetIter(obj));
    if (!iterator) {
        PyErr_Format(PyExc_TypeError, "stop_words must be an iterable of str, not '%.100s'",
                     type_name(obj));
        return false;
    }
    for (Py_ssize_t k = 0;; ++k) {
        PyObject* raw = nullptr;
        const int status = PyIter_NextItem(iterator.get(), &raw);
        if (status <= 0) {
            return status == 0;
        }
        Ref item(raw);
        if (!PyUnicode_Check(item.get())) {
            PyErr_Format(PyExc_TypeError, "stop word %zd is a '%.100s' object, not a str", k,
                         type_name(item.get()));
            return false;
        }
        std::string_view word;
        if (!extract_str(item.get(), word)) {
            return false;
        }
        out.words.emplace_back(word);
    }
}

bool convert(PyObject* obj, Texts& out) {
    if (PyUnicode_Check(obj)) {
        out.keep = Ref(PyTuple_Pack(1, obj));
    } else {
        if (!refuse_str(obj, "texts")) {
            return false;
        }
        out.keep = Ref(PySequence_Tuple(obj));
        if (!out.keep && PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "texts must be a str or an iterable of str, not '%.100s'",
                         type_name(obj));
        }
    }
    if (!out.keep) {
        return false;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(out.keep.get());
    out.views.resize(static_cast<std::size_t>(count));
    out.bytes = 0;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = PyTuple_GET_ITEM(out.keep.get(), k);
        text::TextView& view = out.views[static_cast<std::size_t>(k)];
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "text %zd is a '%.100s' object, not a str", k,
                         type_name(item));
            return false;
        }
        if (!convert(item, view)) {
            return false;
        }
        out.bytes += analysis::estimated_utf8_bytes(view);
    }
    return true;
}

bool convert(PyObject* obj, TextBatch& out) {
    return refuse_str(obj, "texts") && convert(obj, out.texts);
}

bool convert(PyObject* obj, Ids& out) {
    if (obj == Py_None) {
        return true;
    }
    if (!PyUnicode_Check(obj) && !PyBytes_Check(obj) && !PyByteArray_Check(obj)) {
        out.keep = Ref(PySequence_Tuple(obj));
        if (out.keep || !PyErr_ExceptionMatches(PyExc_TypeError)) {
            return static_cast<bool>(out.keep);
        }
        PyErr_Clear();
    }
    PyErr_Format(PyExc_TypeError, "ids must be an iterable of str or None, not '%.100s'",
                 type_name(obj));
    return false;
}

bool convert(PyObject* obj, Flag& out) {
    const int value = PyObject_IsTrue(obj);
    out.value = value > 0;
    return value >= 0;
}

bool convert(PyObject* obj, RowType& out) {
    if (obj == Py_None) {
        out.type = &PyTuple_Type;
        return true;
    }
    auto* type = reinterpret_cast<PyTypeObject*>(obj);
    if (!PyType_Check(obj) || !PyType_IsSubtype(type, &PyTuple_Type) ||
        type->tp_basicsize != PyTuple_Type.tp_basicsize ||
        type->tp_itemsize != PyTuple_Type.tp_itemsize) {
        PyErr_SetString(PyExc_TypeError,
                        "row_type must be a tuple subclass without fields of its own");
        return false;
    }
    out.type = type;
    return true;
}

bool convert(PyObject* obj, FilePath& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "path must be a str, not '%.100s'", type_name(obj));
        return false;
    }
    Ref bytes(PyUnicode_EncodeFSDefault(obj));
    if (!bytes) {
        return false;
    }
    out.bytes.assign(PyBytes_AS_STRING(bytes.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    return true;
}

}  // namespace parvenkel::module
