// The one converter of articles, for every function that takes them: an
// iterable of (title, content) pairs (tuples, named tuples included, or
// lists of two) or of mappings with "title" and "content". Where ids are
// taken (the index), an article may also be a (title, content, id) triple
// or a mapping with an "id".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "module/ref.hpp"
#include "text/text_view.hpp"

namespace parvenkel::module {

// The title and content of each article, kept alive by the tuple copy of
// the articles and by `owned`: read from the tuple copy itself where every
// article is a pair tuple (which cannot change), else gathered into `parts`
// (from a list, which could, or a mapping). Whether they are str is checked
// where they are read (read_article, or a batch's worker threads with
// read_in_place): the strs are touched once, by the thread that reads them.
struct Articles {
    bool with_ids = false;         // set by the caller: take triples and "id"
    Ref articles;                  // the tuple copy
    bool pairs = false;            // every article is a (title, content) tuple
    std::vector<PyObject*> parts;  // else: title and content of each, in turn
    std::vector<PyObject*> ids;    // with_ids and not pairs: each id, or null
    std::vector<Ref> owned;
    std::size_t count = 0;

    // The id object of article i (None or null: none).
    PyObject* id(std::size_t i) const noexcept { return ids.empty() ? nullptr : ids[i]; }

    // Part `which` (0 the title, 1 the content) of article i.
    PyObject* part(std::size_t i, int which) const noexcept {
        return pairs ? PyTuple_GET_ITEM(PyTuple_GET_ITEM(articles.get(), i), which)
                     : parts[2 * i + static_cast<std::size_t>(which)];
    }

    // Asks for the objects of article i to be brought into the cache.
    void prefetch(std::size_t i) const noexcept {
        if (i < count) {
            if (pairs) {
                PyObject* pair = PyTuple_GET_ITEM(articles.get(), i);
                __builtin_prefetch(pair);
                __builtin_prefetch(&PyTuple_GET_ITEM(pair, 1));
            } else {
                __builtin_prefetch(parts[2 * i]);
                __builtin_prefetch(parts[2 * i + 1]);
            }
        }
    }
};

// False with the exception set. Errors:
//   TypeError "articles must be an iterable of articles, not a 'str'" (or bytes)
//   TypeError "articles must be an iterable, not 'int'"
//   TypeError "article 3 is a 'set' object, not a (title, content) pair or a
//             mapping with 'title' and 'content'"
//   TypeError "article 3 is a 'dict' object without 'content', not ..." (a
//             mapping whose lookup raises KeyError; the KeyError is its cause)
bool convert(PyObject* obj, Articles& out);

// The text of a str where it lies, read from the object's fields alone (no
// call into the interpreter), so that worker threads may read it. A str of
// two or four bytes a character may hold a surrogate, which has no UTF-8
// form: the scorer checks for it as it reads the text.
text::TextView read_in_place(PyObject* str) noexcept;

// The title and content of article k as views, checked: false with
// TypeError "argument 'content' of article 3: 'int' object is not an
// instance of 'str'" or the interpreter's UnicodeEncodeError set.
bool read_article(const Articles& articles, std::size_t k, text::TextView& title,
                  text::TextView& content);

// The id of article k from `id` (a str, or None or null for none):
// false with TypeError "the id of article 3 must be a str or None, not
// 'int'" or the interpreter's UnicodeEncodeError set.
bool read_id(PyObject* id, std::size_t k, std::optional<text::TextView>& out);

// Raises the error of article k, which could not be read where it was
// scored; returns false.
bool raise_for_article(const Articles& articles, std::size_t k);

}  // namespace parvenkel::module
