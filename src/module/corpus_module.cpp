// parvenkel._corpus: word counts kept across calls (the type WordCounter)
// and batch calls over many texts or articles, run on worker threads with
// the interpreter released.
//
// Inputs are checked, and every str is read into a text view, before any
// work starts; the call holds a reference to every str it reads (a tuple
// copy of the input, or references of its own), so the views stay valid
// while the interpreter is released. A counter's counts are guarded by a
// PyMutex, which detaches a waiting thread from the interpreter: words are
// counted outside it, and only the adding of the counts holds it.
#include <algorithm>
#include <exception>
#include <new>
#include <stdexcept>

#include "corpus/corpus.hpp"
#include "module/call_frame.hpp"
#include "module/workers.hpp"

namespace parvenkel::module {
namespace {

// Below this many bytes of text in a call, the interpreter is kept: the
// work is too short for releasing it to pay.
constexpr std::size_t RELEASE_BYTES = 64 * 1024;
// The same for articles, whose bodies are not measured before they are read.
constexpr std::size_t RELEASE_ARTICLES = 64;

struct CounterObject {
    PyObject_HEAD PyMutex lock;
    corpus::Counts* counts;  // owned
};

PyModuleDef corpus_module_def{};

// Sets the Python exception for a C++ one; returns nullptr.
PyObject* set_from_exception(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const corpus::BlobError& e) {
        PyErr_Format(PyExc_ValueError, "not a valid WordCounter pickle: %s", e.what());
        return nullptr;
    } catch (const std::overflow_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
        return nullptr;
    } catch (const std::exception& e) {
        return raise_internal_fault(e.what(), false);
    } catch (...) {
        return raise_internal_fault("unknown C++ exception", false);
    }
}

PyObject* translate_exception() { return set_from_exception(std::current_exception()); }

const char* type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

// ---------------------------------------------------------------------------
// Argument conversions. Each returns false with an exception set.

// top_n: None (every entry) or an int from 0 up; larger than any count of
// entries means every entry.
bool convert_top_n(PyObject* obj, std::uint64_t& out, bool none_allowed) {
    if (obj == nullptr || (none_allowed && obj == Py_None)) {
        out = UINT64_MAX;
        return true;
    }
    Ref index(PyNumber_Index(obj));
    if (!index) {
        PyErr_Format(PyExc_TypeError, "%s must be an int%s, not '%.100s'",
                     none_allowed ? "n" : "top_n", none_allowed ? " or None" : "", type_name(obj));
        return false;
    }
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow < 0 || (overflow == 0 && value < 0)) {
        PyErr_Format(PyExc_ValueError, "%s must not be negative", none_allowed ? "n" : "top_n");
        return false;
    }
    out = overflow > 0 ? UINT64_MAX : static_cast<std::uint64_t>(value);
    return true;
}

bool refuse_str(PyObject* obj, const char* what) {
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "%s must be an iterable of str, not a '%.100s'", what,
                     type_name(obj));
        return false;
    }
    return true;
}

// Any iterable of str (list, tuple, set, frozenset, dict keys...).
bool convert_stop_words(PyObject* obj, std::vector<std::string>& out) {
    if (obj == nullptr) {
        return true;
    }
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
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(item.get(), &size);
        if (data == nullptr) {
            return false;
        }
        out.emplace_back(data, static_cast<std::size_t>(size));
    }
}

// The texts of an iterable of str, as a tuple that keeps them alive and
// their views. `bytes` gets their size, roughly, in UTF-8.
bool convert_texts(PyObject* obj, Ref& keep, std::vector<text::TextView>& views,
                   std::size_t& bytes) {
    if (PyUnicode_Check(obj)) {
        keep = Ref(PyTuple_Pack(1, obj));
    } else {
        if (!refuse_str(obj, "texts")) {
            return false;
        }
        keep = Ref(PySequence_Tuple(obj));
        if (!keep && PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Format(PyExc_TypeError, "texts must be a str or an iterable of str, not '%.100s'",
                         type_name(obj));
        }
    }
    if (!keep) {
        return false;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(keep.get());
    views.resize(static_cast<std::size_t>(count));
    bytes = 0;
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* item = PyTuple_GET_ITEM(keep.get(), k);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "text %zd is a '%.100s' object, not a str", k,
                         type_name(item));
            return false;
        }
        if (!extract_text(item, views[static_cast<std::size_t>(k)])) {
            return false;
        }
        bytes += analysis::estimated_utf8_bytes(views[static_cast<std::size_t>(k)]);
    }
    return true;
}

// The title and content of each article, kept alive by the tuple copy of
// the articles and by `owned`: read from the tuple copy itself where every
// article is a (title, content) tuple (which cannot change), else gathered
// into `parts` (from a list, which could, or a mapping). Whether they are
// str is checked where they are read (see scores_of): the strs are touched
// once, by the thread that scores them.
struct ArticleParts {
    Ref articles;                  // the tuple copy
    bool pairs = false;            // every article is a (title, content) tuple
    std::vector<PyObject*> parts;  // else: title and content of each, in turn
    std::vector<Ref> owned;
    std::size_t count = 0;

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

bool is_pair(PyObject* article) noexcept {
    return PyTuple_Check(article) && PyTuple_GET_SIZE(article) == 2;
}

// The articles of an iterable: (title, content) pairs or mappings with
// "title" and "content".
bool convert_articles(PyObject* obj, ArticleParts& out) {
    if (!refuse_str(obj, "articles")) {
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
    for (Py_ssize_t k = 0; k < count; ++k) {
        PyObject* article = PyTuple_GET_ITEM(articles, k);
        if (is_pair(article)) {
            parts.push_back(PyTuple_GET_ITEM(article, 0));
            parts.push_back(PyTuple_GET_ITEM(article, 1));
            continue;
        }
        Ref title;
        Ref content;
        if (PyList_Check(article)) {
            if (PyList_GET_SIZE(article) == 2) {
                title = Ref(Py_NewRef(PyList_GET_ITEM(article, 0)));
                content = Ref(Py_NewRef(PyList_GET_ITEM(article, 1)));
            }
        } else if (!PyTuple_Check(article) && PyMapping_Check(article) &&
                   !PyUnicode_Check(article) && !PyBytes_Check(article)) {
            title = Ref(PyMapping_GetItemString(article, "title"));
            if (!title) {
                return false;
            }
            content = Ref(PyMapping_GetItemString(article, "content"));
            if (!content) {
                return false;
            }
        }
        if (!title) {
            PyErr_Format(PyExc_TypeError,
                         "article %zd is a '%.100s' object, not a (title, content) pair or a "
                         "mapping with 'title' and 'content'",
                         k, type_name(article));
            return false;
        }
        parts.push_back(title.get());
        parts.push_back(content.get());
        out.owned.push_back(std::move(title));
        out.owned.push_back(std::move(content));
    }
    return true;
}

// Raises the error for the title and content of article k, one of which
// could not be read; false with the exception set.
bool raise_for_article(PyObject* const parts[2], std::size_t k) {
    for (int i = 0; i < 2; ++i) {
        if (!PyUnicode_Check(parts[i])) {
            PyErr_Format(PyExc_TypeError,
                         "argument '%s' of article %zu: '%.100s' object is not an instance "
                         "of 'str'",
                         i == 0 ? "title" : "content", k, type_name(parts[i]));
            return false;
        }
    }
    for (int i = 0; i < 2; ++i) {
        text::TextView view;
        if (!extract_text(parts[i], view)) {
            return false;  // the interpreter's own UnicodeEncodeError
        }
    }
    raise_internal_fault("an article could not be read", false);
    return false;
}

// The text of a str where it lies, read from the object's fields alone (no
// call into the interpreter), so that worker threads may read it. A str of
// two or four bytes a character may hold a surrogate, which has no UTF-8
// form: the scorer checks for it as it reads the text.
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

bool convert_query(PyObject* obj, text::TextView& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "query must be a str, not '%.100s'", type_name(obj));
        return false;
    }
    return extract_text(obj, out);
}

// ---------------------------------------------------------------------------
// Results.

PyObject* pair_to_python(std::string_view word, std::uint64_t count) {
    Ref text(PyUnicode_FromStringAndSize(word.data(), static_cast<Py_ssize_t>(word.size())));
    if (!text) {
        return nullptr;
    }
    Ref number(PyLong_FromUnsignedLongLong(count));
    if (!number) {
        return nullptr;
    }
    return PyTuple_Pack(2, text.get(), number.get());
}

template <class Pairs>
PyObject* pairs_to_python(const Pairs& pairs) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    if (!list) {
        return nullptr;
    }
    Py_ssize_t index = 0;
    for (const auto& pair : pairs) {
        PyObject* tuple = pair_to_python(pair.word, pair.count);
        if (tuple == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), index++, tuple);
    }
    return list.release();
}

// ---------------------------------------------------------------------------
// WordCounter.

CounterObject* as_counter(PyObject* obj) { return reinterpret_cast<CounterObject*>(obj); }

bool is_counter(PyObject* obj, PyObject* type) {
    return Py_TYPE(obj) == reinterpret_cast<PyTypeObject*>(type);
}

// Holds a counter's lock for a scope.
class Locked {
   public:
    explicit Locked(CounterObject* counter) : lock_(&counter->lock) { PyMutex_Lock(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    ~Locked() { PyMutex_Unlock(lock_); }

   private:
    PyMutex* lock_;
};

PyObject* new_counter(PyTypeObject* type, std::unique_ptr<corpus::Counts> counts) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    as_counter(self)->lock = PyMutex{};
    as_counter(self)->counts = counts.release();
    return self;
}

PyObject* counter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    try {
        static const char* keywords[] = {"stop_words", nullptr};
        PyObject* stop_words_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:WordCounter",
                                         const_cast<char**>(keywords), &stop_words_arg)) {
            return nullptr;
        }
        std::vector<std::string> stop_words;
        if (!convert_stop_words(stop_words_arg, stop_words)) {
            return nullptr;
        }
        return new_counter(type, std::make_unique<corpus::Counts>(std::move(stop_words)));
    } catch (...) {
        return translate_exception();
    }
}

void counter_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_counter(self)->counts;
    type->tp_free(self);
    Py_DECREF(type);
}

// Adds the counts of another counter. Both are locked, in address order, so
// that a.update(b) and b.update(a) at once cannot wait on each other.
PyObject* update_from_counter(CounterObject* self, CounterObject* other) {
    std::exception_ptr error;
    if (self == other) {
        Locked hold(self);
        error = run_work(false, [&] {
            corpus::Counts copy(self->counts->stop_words());
            copy.merge(*self->counts);
            self->counts->merge(copy);
        });
    } else {
        const bool large = other->counts->table().size() > 10000;
        CounterObject* first = self < other ? self : other;
        CounterObject* second = self < other ? other : self;
        error = run_work(large, [&] {
            PyMutex_Lock(&first->lock);
            PyMutex_Lock(&second->lock);
            try {
                self->counts->merge(*other->counts);
            } catch (...) {
                PyMutex_Unlock(&second->lock);
                PyMutex_Unlock(&first->lock);
                throw;
            }
            PyMutex_Unlock(&second->lock);
            PyMutex_Unlock(&first->lock);
        });
    }
    if (error) {
        return set_from_exception(error);
    }
    Py_RETURN_NONE;
}

PyObject* counter_update(PyObject* self_obj, PyObject* args, PyObject* kwargs) {
    CounterObject* self = as_counter(self_obj);
    try {
        static const char* keywords[] = {"texts", "workers", nullptr};
        PyObject* texts = nullptr;
        PyObject* workers_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$O:update", const_cast<char**>(keywords),
                                         &texts, &workers_arg)) {
            return nullptr;
        }
        unsigned workers = 1;
        if (!convert_workers(workers_arg, workers)) {
            return nullptr;
        }
        if (is_counter(texts, reinterpret_cast<PyObject*>(Py_TYPE(self_obj)))) {
            return update_from_counter(self, as_counter(texts));
        }
        Ref keep;
        std::vector<text::TextView> views;
        std::size_t bytes = 0;
        if (!convert_texts(texts, keep, views, bytes)) {
            return nullptr;
        }
        // Words are counted without the lock, so that threads updating one
        // counter count at once; adding them takes it.
        corpus::Counts& counts = *self->counts;
        const std::exception_ptr error = run_work(bytes >= RELEASE_BYTES || workers > 1, [&] {
            corpus::Tally tally = corpus::count_texts(counts.stop_words(), views, workers);
            PyMutex_Lock(&self->lock);
            try {
                counts.add(tally);
            } catch (...) {
                PyMutex_Unlock(&self->lock);
                throw;
            }
            PyMutex_Unlock(&self->lock);
        });
        if (error) {
            return set_from_exception(error);
        }
        Py_RETURN_NONE;
    } catch (...) {
        return translate_exception();
    }
}

PyObject* counter_most_common(PyObject* self_obj, PyObject* args, PyObject* kwargs) {
    CounterObject* self = as_counter(self_obj);
    try {
        static const char* keywords[] = {"n", nullptr};
        PyObject* n_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:most_common",
                                         const_cast<char**>(keywords), &n_arg)) {
            return nullptr;
        }
        std::uint64_t n = 0;
        if (!convert_top_n(n_arg, n, true)) {
            return nullptr;
        }
        Locked hold(self);
        return pairs_to_python(corpus::most_common(self->counts->table(), n));
    } catch (...) {
        return translate_exception();
    }
}

PyObject* counter_items(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    try {
        Locked hold(self);
        return pairs_to_python(corpus::most_common(self->counts->table(), UINT64_MAX));
    } catch (...) {
        return translate_exception();
    }
}

PyObject* counter_total(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    Locked hold(self);
    return PyLong_FromUnsignedLongLong(self->counts->total());
}

PyObject* counter_reduce(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    try {
        PyObject* module = PyType_GetModule(Py_TYPE(self_obj));
        if (module == nullptr) {
            return nullptr;
        }
        Ref loader(PyObject_GetAttrString(module, "_from_blob"));
        if (!loader) {
            return nullptr;
        }
        std::string blob;
        {
            Locked hold(self);
            blob = self->counts->to_blob();
        }
        Ref bytes(PyBytes_FromStringAndSize(blob.data(), static_cast<Py_ssize_t>(blob.size())));
        if (!bytes) {
            return nullptr;
        }
        return Py_BuildValue("O(O)", loader.get(), bytes.get());
    } catch (...) {
        return translate_exception();
    }
}

Py_ssize_t counter_length(PyObject* self_obj) {
    CounterObject* self = as_counter(self_obj);
    Locked hold(self);
    return static_cast<Py_ssize_t>(self->counts->table().size());
}

// The count of `key`; -1 with an exception set when it is not a str.
long long lookup(CounterObject* self, PyObject* key) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "a WordCounter's words are str, not '%.100s'",
                     type_name(key));
        return -1;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key, &size);
    if (data == nullptr) {
        PyErr_Clear();  // a lone surrogate: never a counted word
        return 0;
    }
    Locked hold(self);
    return static_cast<long long>(
        self->counts->table().find(std::string_view(data, static_cast<std::size_t>(size))));
}

PyObject* counter_subscript(PyObject* self_obj, PyObject* key) {
    const long long count = lookup(as_counter(self_obj), key);
    return count < 0 ? nullptr : PyLong_FromLongLong(count);
}

int counter_contains(PyObject* self_obj, PyObject* key) {
    if (!PyUnicode_Check(key)) {
        return 0;
    }
    const long long count = lookup(as_counter(self_obj), key);
    return count < 0 ? -1 : count > 0;
}

bool same_counts(const corpus::Counts& a, const corpus::Counts& b) {
    if (a.table().size() != b.table().size() || a.total() != b.total()) {
        return false;
    }
    bool same = true;
    a.table().for_each([&](std::string_view word, std::uint64_t count) {
        same = same && b.table().find(word) == count;
    });
    return same;
}

PyObject* counter_richcompare(PyObject* self_obj, PyObject* other_obj, int op) {
    if ((op != Py_EQ && op != Py_NE) ||
        !is_counter(other_obj, reinterpret_cast<PyObject*>(Py_TYPE(self_obj)))) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    bool same = true;
    if (self_obj != other_obj) {
        CounterObject* a = as_counter(self_obj);
        CounterObject* b = as_counter(other_obj);
        Locked first(a < b ? a : b);
        Locked second(a < b ? b : a);
        same = same_counts(*a->counts, *b->counts);
    }
    return PyBool_FromLong((op == Py_EQ) == same);
}

PyObject* counter_repr(PyObject* self_obj) {
    CounterObject* self = as_counter(self_obj);
    std::size_t words = 0;
    std::uint64_t total = 0;
    {
        Locked hold(self);
        words = self->counts->table().size();
        total = self->counts->total();
    }
    return PyUnicode_FromFormat("<WordCounter: %zu words, %llu in all>", words,
                                static_cast<unsigned long long>(total));
}

PyMethodDef counter_methods[] = {
    {"update", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(counter_update)),
     METH_VARARGS | METH_KEYWORDS,
     "update($self, texts, *, workers=1)\n--\n\n"
     "Count the words of a str or of an iterable of str, or add the counts of\n"
     "another WordCounter."},
    {"most_common",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(counter_most_common)),
     METH_VARARGS | METH_KEYWORDS,
     "most_common($self, n=None)\n--\n\n"
     "The n most common words (all when n is None) as (word, count) pairs:\n"
     "highest count first, equal counts in code point order of the word."},
    {"items", counter_items, METH_NOARGS,
     "items($self, /)\n--\n\nEvery (word, count) pair, in the order of most_common()."},
    {"total", counter_total, METH_NOARGS, "total($self, /)\n--\n\nThe sum of all counts."},
    {"__reduce__", counter_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot counter_slots[] = {
    {Py_tp_doc, const_cast<char*>("WordCounter(stop_words=())\n--\n\n"
                                  "Counts of normalised words, as extract_keywords counts "
                                  "them, kept across calls.")},
    {Py_tp_new, reinterpret_cast<void*>(counter_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(counter_dealloc)},
    {Py_tp_methods, counter_methods},
    {Py_tp_richcompare, reinterpret_cast<void*>(counter_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
    {Py_tp_repr, reinterpret_cast<void*>(counter_repr)},
    {Py_mp_length, reinterpret_cast<void*>(counter_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(counter_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(counter_contains)},
    {0, nullptr},
};

PyType_Spec counter_spec = {
    "parvenkel.WordCounter",
    sizeof(CounterObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    counter_slots,
};

// ---------------------------------------------------------------------------
// Module functions.

PyObject* from_blob(PyObject* module, PyObject* data) {
    try {
        Py_buffer view;
        if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) < 0) {
            return nullptr;
        }
        std::unique_ptr<corpus::Counts> counts;
        const std::exception_ptr error = run_work(false, [&] {
            counts = corpus::Counts::from_blob(std::string_view(
                static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)));
        });
        PyBuffer_Release(&view);
        if (error) {
            return set_from_exception(error);
        }
        return new_counter(reinterpret_cast<PyTypeObject*>(type_state(module)->type),
                           std::move(counts));
    } catch (...) {
        return translate_exception();
    }
}

PyObject* keywords_many(PyObject*, PyObject* args, PyObject* kwargs) {
    try {
        static const char* keywords[] = {"texts", "stop_words", "top_n", "workers", nullptr};
        PyObject* texts = nullptr;
        PyObject* stop_words_arg = nullptr;
        PyObject* top_n_arg = nullptr;
        PyObject* workers_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$O:keywords_many",
                                         const_cast<char**>(keywords), &texts, &stop_words_arg,
                                         &top_n_arg, &workers_arg)) {
            return nullptr;
        }
        Ref keep;
        std::vector<text::TextView> views;
        std::size_t bytes = 0;
        std::vector<std::string> stop_words;
        std::uint64_t top_n = 0;
        unsigned workers = 1;
        if (!refuse_str(texts, "texts") || !convert_texts(texts, keep, views, bytes) ||
            !convert_stop_words(stop_words_arg, stop_words) ||
            !convert_top_n(top_n_arg, top_n, false) || !convert_workers(workers_arg, workers)) {
            return nullptr;
        }
        std::vector<corpus::TextKeywords> results;
        const std::exception_ptr error = run_work(bytes >= RELEASE_BYTES || workers > 1, [&] {
            results = corpus::keywords_many(views, stop_words, top_n, workers);
        });
        if (error) {
            return set_from_exception(error);
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(results.size())));
        if (!list) {
            return nullptr;
        }
        for (std::size_t k = 0; k < results.size(); ++k) {
            PyObject* pairs = pairs_to_python(results[k].pairs);
            if (pairs == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), pairs);
        }
        return list.release();
    } catch (...) {
        return translate_exception();
    }
}

// Float objects for scores, which take a handful of values: one object a
// value, shared by the results that have it.
class ScoreFloats {
   public:
    // A new reference, or null with an exception set.
    PyObject* get(double score) {
        for (const auto& [value, object] : made_) {
            if (value == score) {
                return Py_NewRef(object.get());
            }
        }
        PyObject* made = PyFloat_FromDouble(score);
        if (made != nullptr && made_.size() < 16) {
            made_.emplace_back(score, Ref(Py_NewRef(made)));
        }
        return made;
    }

   private:
    std::vector<std::pair<double, Ref>> made_;
};

// Scores of every article; false with an exception set.
bool scores_of(PyObject* articles_arg, PyObject* query_arg, PyObject* workers_arg, Ref& articles,
               std::vector<double>& scores) {
    ArticleParts parts;
    text::TextView query;
    unsigned workers = 1;
    if (!convert_articles(articles_arg, parts) || !convert_query(query_arg, query) ||
        !convert_workers(workers_arg, workers)) {
        return false;
    }
    // Each article is read where it is scored; one that cannot be read (not
    // a str, or a str with a surrogate) makes the call fail as if it had been
    // checked first: the scores are pure, nothing else has changed. The
    // scorer checks the strs for surrogates as it searches them.
    const std::size_t count = parts.count;
    std::size_t unreadable = 0;
    const std::exception_ptr error = run_work(count >= RELEASE_ARTICLES || workers > 1, [&] {
        scores = corpus::score_many(
            count, query, workers,
            [&](std::size_t i, corpus::Article& article) {
                // The objects of articles a few places on, brought into the
                // cache meanwhile: their fields are read next.
                constexpr std::size_t AHEAD = 4;
                parts.prefetch(i + 2 * AHEAD);
                if (parts.pairs && i + AHEAD < count) {
                    __builtin_prefetch(parts.part(i + AHEAD, 0));
                    __builtin_prefetch(parts.part(i + AHEAD, 1));
                }
                PyObject* title = parts.part(i, 0);
                PyObject* content = parts.part(i, 1);
                if (!PyUnicode_Check(title) || !PyUnicode_Check(content)) {
                    return false;
                }
                article = {read_in_place(title), read_in_place(content)};
                return true;
            },
            unreadable);
    });
    if (error) {
        set_from_exception(error);
        return false;
    }
    if (unreadable < count) {
        PyObject* const pair[2] = {parts.part(unreadable, 0), parts.part(unreadable, 1)};
        return raise_for_article(pair, unreadable);
    }
    articles = std::move(parts.articles);
    return true;
}

PyObject* score_many(PyObject*, PyObject* args, PyObject* kwargs) {
    try {
        static const char* keywords[] = {"articles", "query", "workers", nullptr};
        PyObject* articles_arg = nullptr;
        PyObject* query_arg = nullptr;
        PyObject* workers_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O:score_many",
                                         const_cast<char**>(keywords), &articles_arg, &query_arg,
                                         &workers_arg)) {
            return nullptr;
        }
        Ref articles;
        std::vector<double> scores;
        if (!scores_of(articles_arg, query_arg, workers_arg, articles, scores)) {
            return nullptr;
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(scores.size())));
        if (!list) {
            return nullptr;
        }
        ScoreFloats floats;
        for (std::size_t k = 0; k < scores.size(); ++k) {
            PyObject* score = floats.get(scores[k]);
            if (score == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), score);
        }
        return list.release();
    } catch (...) {
        return translate_exception();
    }
}

// A new row of three items, of `row_type`: a tuple subclass that adds no
// fields of its own (a NamedTuple), made as tuple.__new__ makes one.
PyObject* new_row(PyTypeObject* row_type, PyObject* score, PyObject* position, PyObject* article) {
    PyObject* row = row_type->tp_alloc(row_type, 3);
    if (row == nullptr) {
        return nullptr;
    }
    PyTuple_SET_ITEM(row, 0, Py_NewRef(score));
    PyTuple_SET_ITEM(row, 1, Py_NewRef(position));
    PyTuple_SET_ITEM(row, 2, Py_NewRef(article));
    return row;
}

// The best articles as (score, position, article) rows, best first.
PyObject* rank_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    try {
        static const char* keywords[] = {"articles",     "query",    "top_n", "workers",
                                         "include_zero", "row_type", nullptr};
        PyObject* articles_arg = nullptr;
        PyObject* query_arg = nullptr;
        PyObject* top_n_arg = nullptr;
        PyObject* workers_arg = nullptr;
        int include_zero = 0;
        PyObject* row_type_arg = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O$OpO:rank_articles",
                                         const_cast<char**>(keywords), &articles_arg, &query_arg,
                                         &top_n_arg, &workers_arg, &include_zero, &row_type_arg)) {
            return nullptr;
        }
        auto* row_type = &PyTuple_Type;
        if (row_type_arg != nullptr && row_type_arg != Py_None) {
            row_type = reinterpret_cast<PyTypeObject*>(row_type_arg);
            if (!PyType_Check(row_type_arg) || !PyType_IsSubtype(row_type, &PyTuple_Type) ||
                row_type->tp_basicsize != PyTuple_Type.tp_basicsize ||
                row_type->tp_itemsize != PyTuple_Type.tp_itemsize) {
                PyErr_SetString(PyExc_TypeError,
                                "row_type must be a tuple subclass without fields of its own");
                return nullptr;
            }
        }
        std::uint64_t top_n = 0;
        if (top_n_arg != nullptr && top_n_arg != Py_None) {
            if (!convert_top_n(top_n_arg, top_n, false)) {
                return nullptr;
            }
        } else {
            top_n = UINT64_MAX;
        }
        Ref articles;
        std::vector<double> scores;
        if (!scores_of(articles_arg, query_arg, workers_arg, articles, scores)) {
            return nullptr;
        }
        const std::vector<std::size_t> best =
            corpus::rank_positions(scores, top_n, include_zero != 0);
        Ref list(PyList_New(static_cast<Py_ssize_t>(best.size())));
        if (!list) {
            return nullptr;
        }
        ScoreFloats floats;
        for (std::size_t k = 0; k < best.size(); ++k) {
            Ref score(floats.get(scores[best[k]]));
            Ref position(PyLong_FromSize_t(best[k]));
            if (!score || !position) {
                return nullptr;
            }
            PyObject* row = new_row(row_type, score.get(), position.get(),
                                    PyTuple_GET_ITEM(articles.get(), best[k]));
            if (row == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), row);
        }
        return list.release();
    } catch (...) {
        return translate_exception();
    }
}

PyMethodDef module_methods[] = {
    {"keywords_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(keywords_many)),
     METH_VARARGS | METH_KEYWORDS,
     "keywords_many(texts, stop_words, top_n, *, workers=1)\n--\n\n"
     "The top_n most frequent words of each text, as extract_keywords gives\n"
     "them, with equal counts in code point order of the word."},
    {"score_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(score_many)),
     METH_VARARGS | METH_KEYWORDS,
     "score_many(articles, query, *, workers=1)\n--\n\n"
     "score_article of every (title, content) article against query."},
    {"rank_rows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(rank_rows)),
     METH_VARARGS | METH_KEYWORDS,
     "rank_rows(articles, query, top_n=None, *, workers=1, include_zero=False, "
     "row_type=None)\n--\n\n"
     "The best articles as (score, position, article) rows of row_type (a\n"
     "tuple subclass without fields of its own; tuple when None), best first."},
    {"_from_blob", from_blob, METH_O,
     "_from_blob(data, /)\n--\n\nA WordCounter from its pickled form."},
    {nullptr, nullptr, 0, nullptr},
};

int corpus_exec(PyObject* module) {
    PyObject* type = PyType_FromModuleAndSpec(module, &counter_spec, nullptr);
    return keep_type(module, type);
}

PyModuleDef_Slot corpus_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(corpus_exec)},
    // Counters guard their counts with their own lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

}  // namespace
}  // namespace parvenkel::module

PyMODINIT_FUNC PyInit__corpus() {
    using namespace parvenkel::module;
    corpus_module_def = {
        PyModuleDef_HEAD_INIT,
        "_corpus",
        "Word counts and batch calls over many texts, on worker threads.",
        sizeof(TypeState),
        module_methods,
        corpus_slots,
        traverse_type_state,
        clear_type_state,
        free_type_state,
    };
    return PyModuleDef_Init(&corpus_module_def);
}
