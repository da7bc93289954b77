// The converters from bound arguments to plain C++ values, one per kind of
// argument, and convert_arguments, which runs them in parameter order.
//
// Each converter is an overload of convert(obj, out) that returns false
// with an exception set; `out` starts as the parameter's default, which
// stands when the parameter was not given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "module/articles.hpp"
#include "module/binder.hpp"
#include "module/ref.hpp"
#include "text/text_view.hpp"

namespace parvenkel::module {

// _core's conversions, worded for rewording (Wording::PREFIXED).

// A str as UTF-8, in place.
bool extract_str(PyObject* obj, std::string_view& out);
// A str as it is held, with no copy (see text_view.hpp).
bool convert(PyObject* obj, text::TextView& out);
// A sequence (not a str) of str, copied.
bool convert(PyObject* obj, std::vector<std::string>& out);
// An int from 0 to 2**64 - 1.
bool convert(PyObject* obj, std::uint64_t& out);

// The conversions of the corpus and index modules, which word their own
// messages (Wording::AS_GIVEN).

// Any object, borrowed, for a function that looks at it first.
inline bool convert(PyObject* obj, PyObject*& out) noexcept {
    out = obj;
    return true;
}

// A query: a str.
struct Query {
    text::TextView view;
};
bool convert(PyObject* obj, Query& out);

// Queries: an iterable of str (not a str itself), kept alive by a tuple
// copy of them while their views are read; each is read as Query reads
// one, its errors naming its position.
struct Queries {
    Ref keep;
    std::vector<text::TextView> views;
};
bool convert(PyObject* obj, Queries& out);

// A number of results: an int from 0 up, or None when `none_allowed`
// (the default: every result). More than there are means every one.
struct TopN {
    std::string_view name;  // the parameter's name, for messages
    bool none_allowed;
    std::uint64_t value = UINT64_MAX;
};
bool convert(PyObject* obj, TopN& out);

// workers: an int from 1 up, or -1 for every core (default 1).
struct Workers {
    unsigned value = 1;
};
bool convert(PyObject* obj, Workers& out);

// Stop words: any iterable of str (a list, a tuple, a set, dict keys...),
// but not a str or bytes itself.
struct StopWords {
    std::vector<std::string> words;
};
bool convert(PyObject* obj, StopWords& out);

// Texts: a str or an iterable of str, kept alive by a tuple of them while
// their views are read; `bytes` is their size, roughly, in UTF-8.
struct Texts {
    Ref keep;
    std::vector<text::TextView> views;
    std::size_t bytes = 0;
};
bool convert(PyObject* obj, Texts& out);
// The same, refusing a lone str (a batch of texts must be an iterable).
struct TextBatch {
    Texts texts;
};
bool convert(PyObject* obj, TextBatch& out);

// The ids of a batch of articles: an iterable of str or None, or None
// (the default: no ids given). Whether each is a str is checked where it is
// read (read_id).
struct Ids {
    Ref keep;  // the tuple copy, when given
};
bool convert(PyObject* obj, Ids& out);

// A truth value, as `bool(obj)`.
struct Flag {
    bool value = false;
};
bool convert(PyObject* obj, Flag& out);

// The type of result rows: a tuple subclass that adds no fields of its own
// (a NamedTuple), or None for tuple.
struct RowType {
    PyTypeObject* type = &PyTuple_Type;
};
bool convert(PyObject* obj, RowType& out);

// A file path: a str, in the file system's encoding.
struct FilePath {
    std::string bytes;
};
bool convert(PyObject* obj, FilePath& out);

// Refuses a str, bytes or bytearray where an iterable is wanted:
// "<what> must be an iterable of <items>, not a 'str'".
bool refuse_str(PyObject* obj, const char* what, const char* items = "str");

template <class Out>
bool convert_slot(const Signature& signature, const Slots& slots, std::size_t i, Out& out) {
    if (slots[i] == nullptr || convert(slots[i], out)) [[likely]] {
        return true;
    }
    if (signature.wording == Wording::PREFIXED) {
        reword_argument_error(signature.parameters[i].name);
    }
    return false;
}

// Converts the bound arguments in parameter order, one output for each
// parameter; the first failure ends it, with its exception set.
template <class... Out>
bool convert_arguments(const Signature& signature, const Slots& slots, Out&... out) {
    std::size_t i = 0;
    return (convert_slot(signature, slots, i++, out) && ...);
}

}  // namespace parvenkel::module
