#include "module/articles.hpp"

#include "module/converters.hpp"
#include "module/errors.hpp"

namespace parvenkel::module {
namespace {

bool is_pair(PyObject* article) noexcept {
    return PyTuple_Check(article) && PyTuple_GET_SIZE(article) == 2;
}

// The number of items a tuple or list article may have: 2, or 3 with an id.
bool is_article_size(Py_ssize_t size, bool with_ids) noexcept {
    return size == 2 || (with_ids && size == 3);
}

void set_not_an_article(Py_ssize_t k, PyObject* article, const char* without) {
    PyErr_Format(PyExc_TypeError,
                 "article %zd is a '%.100s' object%s%s%s, not a (title, content) pair or a "
                 "mapping with 'title' and 'content'",
                 k, type_name(article), without != nullptr ? " without '" : "",
                 without != nullptr ? without : "", without != nullptr ? "'" : "");
}

// article[key] of a mapping; a KeyError becomes the article error, with
// the KeyError as its cause, since a missing field is a wrong shape of
// article, as a tuple of three is.
Ref mapping_field(PyObject* article, Py_ssize_t k, const char* key) {
    Ref value(PyMapping_GetItemString(article, key));
    if (!value && PyErr_ExceptionMatches(PyExc_KeyError)) {
        Ref cause(PyErr_GetRaisedException());
        set_not_an_article(k, article, key);
        Ref error(PyErr_GetRaisedException());
        PyException_SetCause(error.get(), cause.release());
        PyErr_SetRaisedException(error.release());
    }
    return value;
}

}  // namespace

bool convert(PyObject* obj, Articles& out) {
    if (!refuse_str(obj, "articles", "articles")) {
        return false;
    }
    out.articles = Ref(PySequence_Tuple(obj));
    if (!out.articles) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "articles must be an iterable, not '%.100s'",
                         type_name(obj));
        }
        return false;
    }
    PyObject* const articles = out.articles.get();
    const Py_ssize_t count = PyTuple_GET_SIZE(articles);
    out.count = static_cast<std::size_t>(count);
    Py_ssize_t pairs = 0;
    while (pairs < count && is_pair(PyTuple_GET_ITEM(articles, pairs))) {
        ++pairs;
    }
    if (pairs == count) {
        out.pairs = true;
        return true;
    }
    std::vector<PyObject*>& parts = out.parts;
    parts.reserve(2 * static_cast<std::size_t>(count));
    if (out.with_ids) {
        out.ids.assign(static_cast<std::size_t>(count), nullptr);
    }
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* article = PyTuple_GET_ITEM(articles, k);
        if (PyTuple_Check(article) && is_article_size(PyTuple_GET_SIZE(article), out.with_ids)) {
            parts.push_back(PyTuple_GET_ITEM(article, 0));
            parts.push_back(PyTuple_GET_ITEM(article, 1));
            if (PyTuple_GET_SIZE(article) == 3) {
                out.ids[static_cast<std::size_t>(k)] = PyTuple_GET_ITEM(article, 2);
            }
            continue;
        }
        Ref title;
        Ref content;
        Ref id;
        if (PyList_Check(article)) {
            const Py_ssize_t size = PyList_GET_SIZE(article);
            if (is_article_size(size, out.with_ids)) {
                title = Ref(Py_NewRef(PyList_GET_ITEM(article, 0)));
                content = Ref(Py_NewRef(PyList_GET_ITEM(article, 1)));
                if (size == 3) {
                    id = Ref(Py_NewRef(PyList_GET_ITEM(article, 2)));
                }
            }
        } else if (!PyTuple_Check(article) && PyMapping_Check(article) &&
                   !PyUnicode_Check(article) && !PyBytes_Check(article)) {
            title = mapping_field(article, k, "title");
            if (!title) {
                return false;
            }
            content = mapping_field(article, k, "content");
            if (!content) {
                return false;
            }
            PyObject* found = nullptr;
            if (out.with_ids && PyMapping_GetOptionalItemString(article, "id", &found) < 0) {
                return false;
            }
            id = Ref(found);
        }
        if (!title) {
            set_not_an_article(k, article, nullptr);
            return false;
        }
        parts.push_back(title.get());
        parts.push_back(content.get());
        out.owned.push_back(std::move(title));
        out.owned.push_back(std::move(content));
        if (id) {
            out.ids[static_cast<std::size_t>(k)] = id.get();
            out.owned.push_back(std::move(id));
        }
    }
    return true;
}

text::TextView read_in_place(PyObject* str) noexcept {
    const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    const void* data = PyUnicode_DATA(str);
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            return {data, length, PyUnicode_IS_ASCII(str) ? text::Form::UTF8 : text::Form::LATIN1};
        case PyUnicode_2BYTE_KIND:
            return {data, length, text::Form::UCS2};
        default:
            return {data, length, text::Form::UCS4};
    }
}

bool read_article(const Articles& articles, std::size_t k, text::TextView& title,
                  text::TextView& content) {
    PyObject* const parts[2] = {articles.part(k, 0), articles.part(k, 1)};
    for (int i = 0; i < 2; ++i) {
        if (!PyUnicode_Check(parts[i])) {
            PyErr_Format(PyExc_TypeError,
                         "argument '%s' of article %zu: '%.100s' object is not an instance "
                         "of 'str'",
                         i == 0 ? "title" : "content", k, type_name(parts[i]));
            return false;
        }
    }
    return convert(parts[0], title) && convert(parts[1], content);
}

bool read_id(PyObject* id, std::size_t k, std::optional<text::TextView>& out) {
    if (id == nullptr || id == Py_None) {
        out.reset();
        return true;
    }
    if (!PyUnicode_Check(id)) {
        PyErr_Format(PyExc_TypeError, "the id of article %zu must be a str or None, not '%.100s'",
                     k, type_name(id));
        return false;
    }
    return convert(id, out.emplace());
}

bool raise_for_article(const Articles& articles, std::size_t k) {
    text::TextView title;
    text::TextView content;
    if (read_article(articles, k, title, content)) {
        raise_internal_fault("an article could not be read", false);
    }
    return false;
}

}  // namespace parvenkel::module
