// WordCounter: word counts of normalised words, kept across calls.
//
// A counter's counts are guarded by its lock (a PyMutex, see lock.hpp):
// words are counted without it, and only the adding of the counts holds
// it, so that threads updating one counter count at once.
#include "module/word_counter.hpp"

#include "module/converters.hpp"
#include "module/errors.hpp"
#include "module/lock.hpp"
#include "module/results.hpp"
#include "module/workers.hpp"

namespace parvenkel::module {
namespace {

struct CounterObject {
    PyObject_HEAD PyMutex lock;
    corpus::Counts* counts;  // owned
};

CounterObject* as_counter(PyObject* obj) { return reinterpret_cast<CounterObject*>(obj); }

bool is_counter(PyObject* obj, PyObject* type) {
    return Py_TYPE(obj) == reinterpret_cast<PyTypeObject*>(type);
}

constexpr Parameter NEW_PARAMETERS[] = {optional("stop_words")};
constexpr Signature NEW{"WordCounter", NEW_PARAMETERS, Wording::AS_GIVEN};

PyObject* counter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        StopWords stop_words;
        if (!bind_tuple(NEW, args, kwargs, slots) || !convert_arguments(NEW, slots, stop_words)) {
            return nullptr;
        }
        return new_word_counter(type,
                                std::make_unique<corpus::Counts>(std::move(stop_words.words)));
    });
}

void counter_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_counter(self)->counts;
    type->tp_free(self);
    Py_DECREF(type);
}

// Adds the counts of another counter (or of itself, doubling them).
PyObject* update_from_counter(CounterObject* self, CounterObject* other) {
    const bool large = self != other && other->counts->table().size() > 10000;
    const std::exception_ptr error = run_work(large, [&] {
        const LockedPair hold(self->lock, other->lock);
        if (self == other) {
            corpus::Counts copy(self->counts->stop_words());
            copy.merge(*self->counts);
            self->counts->merge(copy);
        } else {
            self->counts->merge(*other->counts);
        }
    });
    if (error) {
        return set_python_error(error);
    }
    Py_RETURN_NONE;
}

// update(texts, *, workers=1)
PyObject* update_impl(CounterObject* self, const Texts& texts, unsigned workers) {
    corpus::Counts& counts = *self->counts;
    const std::exception_ptr error = run_work(texts.bytes >= RELEASE_BYTES || workers > 1, [&] {
        corpus::Tally tally = corpus::count_texts(counts.stop_words(), texts.views, workers);
        const Locked hold(self->lock);
        counts.add(tally);
    });
    if (error) {
        return set_python_error(error);
    }
    Py_RETURN_NONE;
}

constexpr Parameter UPDATE_PARAMETERS[] = {{"texts"}, keyword_only("workers")};
constexpr Signature UPDATE{"update", UPDATE_PARAMETERS, Wording::AS_GIVEN};

PyObject* counter_update(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        PyObject* source = nullptr;
        Workers workers;
        if (!bind_arguments(UPDATE, args, nargs, kwnames, slots) ||
            !convert_arguments(UPDATE, slots, source, workers)) {
            return nullptr;
        }
        if (is_counter(source, reinterpret_cast<PyObject*>(Py_TYPE(self_obj)))) {
            return update_from_counter(as_counter(self_obj), as_counter(source));
        }
        Texts texts;
        if (!convert(source, texts)) {
            return nullptr;
        }
        return update_impl(as_counter(self_obj), texts, workers.value);
    });
}

constexpr Parameter MOST_COMMON_PARAMETERS[] = {optional("n")};
constexpr Signature MOST_COMMON{"most_common", MOST_COMMON_PARAMETERS, Wording::AS_GIVEN};

PyObject* counter_most_common(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    CounterObject* self = as_counter(self_obj);
    return guarded([&]() -> PyObject* {
        Slots slots{};
        TopN n{"n", true};
        if (!bind_arguments(MOST_COMMON, args, nargs, kwnames, slots) ||
            !convert_arguments(MOST_COMMON, slots, n)) {
            return nullptr;
        }
        const Locked hold(self->lock);
        return pairs_to_python(corpus::most_common(self->counts->table(), n.value));
    });
}

PyObject* counter_items(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    return guarded([&]() -> PyObject* {
        const Locked hold(self->lock);
        return pairs_to_python(corpus::most_common(self->counts->table(), UINT64_MAX));
    });
}

PyObject* counter_total(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    const Locked hold(self->lock);
    return PyLong_FromUnsignedLongLong(self->counts->total());
}

PyObject* counter_reduce(PyObject* self_obj, PyObject*) {
    CounterObject* self = as_counter(self_obj);
    return guarded([&]() -> PyObject* {
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
            const Locked hold(self->lock);
            blob = self->counts->to_blob();
        }
        Ref bytes(PyBytes_FromStringAndSize(blob.data(), static_cast<Py_ssize_t>(blob.size())));
        if (!bytes) {
            return nullptr;
        }
        return Py_BuildValue("O(O)", loader.get(), bytes.get());
    });
}

Py_ssize_t counter_length(PyObject* self_obj) {
    CounterObject* self = as_counter(self_obj);
    const Locked hold(self->lock);
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
    const Locked hold(self->lock);
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
        const LockedPair hold(a->lock, b->lock);
        same = same_counts(*a->counts, *b->counts);
    }
    return PyBool_FromLong((op == Py_EQ) == same);
}

PyObject* counter_repr(PyObject* self_obj) {
    CounterObject* self = as_counter(self_obj);
    std::size_t words = 0;
    std::uint64_t total = 0;
    {
        const Locked hold(self->lock);
        words = self->counts->table().size();
        total = self->counts->total();
    }
    return PyUnicode_FromFormat("<WordCounter: %zu words, %llu in all>", words,
                                static_cast<unsigned long long>(total));
}

PyMethodDef counter_methods[] = {
    {"update", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(counter_update)),
     METH_FASTCALL | METH_KEYWORDS,
     "update($self, texts, *, workers=1)\n--\n\n"
     "Count the words of a str or of an iterable of str, or add the counts of\n"
     "another WordCounter."},
    {"most_common",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(counter_most_common)),
     METH_FASTCALL | METH_KEYWORDS,
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

}  // namespace

PyType_Spec word_counter_spec = {
    "parvenkel.WordCounter",
    sizeof(CounterObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    counter_slots,
};

PyObject* new_word_counter(PyTypeObject* type, std::unique_ptr<corpus::Counts> counts) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    as_counter(self)->lock = PyMutex{};
    as_counter(self)->counts = counts.release();
    return self;
}

}  // namespace parvenkel::module
