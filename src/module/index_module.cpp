// parvenkel._index: the native article index (type Index) under the
// Python class parvenkel.ArticleIndex, which hands it the articles as the
// caller gave them. An article may carry an id (a str), kept with it and
// given back as the third item of its (title, content, id) tuple.
//
// An index's articles are guarded by its lock (lock.hpp); long work
// (adding, querying, saving) runs with the interpreter released.
#include "index/index.hpp"
#include "module/batch_rows.hpp"
#include "module/converters.hpp"
#include "module/errors.hpp"
#include "module/lock.hpp"
#include "module/results.hpp"
#include "module/workers.hpp"

// After Python.h (through the headers above), as the C API asks.
#include <algorithm>

namespace parvenkel::module {
namespace {

// Below this many articles, the interpreter is kept: the work is too short
// for releasing it to pay.
constexpr std::size_t RELEASE_ARTICLES = 4096;

struct IndexObject {
    PyObject_HEAD PyMutex lock;
    index::ArticleIndex* index;  // owned
    PyObject* path;              // the file it was loaded from, or None
};

IndexObject* as_index(PyObject* obj) { return reinterpret_cast<IndexObject*>(obj); }

PyObject* new_index(PyTypeObject* type, std::unique_ptr<index::ArticleIndex> built,
                    PyObject* path) {
    auto* self = reinterpret_cast<IndexObject*>(type->tp_alloc(type, 0));
    if (self == nullptr) {
        return nullptr;
    }
    self->lock = PyMutex{};
    self->index = built.release();
    self->path = Py_NewRef(path);
    return reinterpret_cast<PyObject*>(self);
}

constexpr Signature NEW{"Index", Wording::AS_GIVEN};

PyObject* index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        if (!bind_tuple(NEW, args, kwargs, slots)) {
            return nullptr;
        }
        return new_index(type, std::make_unique<index::ArticleIndex>(), Py_None);
    });
}

void index_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_index(self)->index;
    Py_XDECREF(as_index(self)->path);
    type->tp_free(self);
    Py_DECREF(type);
}

// add(articles, *, ids=None, workers=1): `ids`, when given, has one id
// (str or None) for each article, in place of any the articles carry.
PyObject* add_impl(IndexObject* self, const Articles& articles, const Ids& ids, unsigned workers) {
    PyObject* const given = ids.keep.get();
    if (given != nullptr && static_cast<std::size_t>(PyTuple_GET_SIZE(given)) != articles.count) {
        PyErr_Format(PyExc_ValueError, "%zd ids for %zu articles", PyTuple_GET_SIZE(given),
                     articles.count);
        return nullptr;
    }
    std::vector<index::Article> views(articles.count);
    for (std::size_t k = 0; k < articles.count; ++k) {
        PyObject* id =
            given != nullptr ? PyTuple_GET_ITEM(given, static_cast<Py_ssize_t>(k)) : articles.id(k);
        if (!read_id(id, k, views[k].id) ||
            !read_article(articles, k, views[k].title, views[k].content)) {
            return nullptr;
        }
    }
    const Locked hold(self->lock);
    const std::exception_ptr error = run_work(views.size() >= RELEASE_ARTICLES || workers > 1,
                                              [&] { self->index->add(views, workers); });
    if (error) {
        return set_python_error(error, self->path);
    }
    Py_RETURN_NONE;
}

constexpr Parameter ADD_PARAMETERS[] = {{"articles"}, keyword_only("ids"), keyword_only("workers")};
constexpr Signature ADD{"add", ADD_PARAMETERS, Wording::AS_GIVEN};

PyObject* index_add(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    IndexObject* self = as_index(self_obj);
    return guarded(
        [&]() -> PyObject* {
            Slots slots{};
            Articles articles;
            articles.with_ids = true;
            Ids ids;
            Workers workers;
            if (!bind_arguments(ADD, args, nargs, kwnames, slots) ||
                !convert_arguments(ADD, slots, articles, ids, workers)) {
                return nullptr;
            }
            return add_impl(self, articles, ids, workers.value);
        },
        self->path);
}

Py_ssize_t index_length(PyObject* self_obj) {
    IndexObject* self = as_index(self_obj);
    const Locked hold(self->lock);
    return static_cast<Py_ssize_t>(self->index->size());
}

PyObject* index_scores(PyObject* self_obj, PyObject* query_arg) {
    IndexObject* self = as_index(self_obj);
    return guarded(
        [&]() -> PyObject* {
            Query query;
            if (!convert(query_arg, query)) {
                return nullptr;
            }
            std::vector<double> scores;
            {
                const Locked hold(self->lock);
                const std::exception_ptr error =
                    run_work(self->index->size() >= RELEASE_ARTICLES,
                             [&] { scores = self->index->scores(query.view); });
                if (error) {
                    return set_python_error(error, self->path);
                }
            }
            return scores_to_python(scores);
        },
        self->path);
}

// The (title, content) tuple of the article at `at`, or its (title,
// content, id) when it has an id. The index's lock is held.
PyObject* article_to_python(const index::ArticleIndex& index, std::size_t at) {
    Ref title(text_to_python(index.title(at), index.shape(at, false)));
    if (!title) {
        return nullptr;
    }
    Ref content(text_to_python(index.content(at), index.shape(at, true)));
    if (!content) {
        return nullptr;
    }
    return article_of(title.get(), content.get(), index.id(at));
}

// A list of rows (score, position, article) of row_type from `best`; the
// article is as index_article gives it. The index's lock is held.
PyObject* rows_to_python(const index::ArticleIndex& index, const std::vector<index::Ranked>& best,
                         PyTypeObject* row_type) {
    ScoreFloats floats;
    Ref list(PyList_New(static_cast<Py_ssize_t>(best.size())));
    if (!list) {
        return nullptr;
    }
    for (std::size_t k = 0; k < best.size(); ++k) {
        const std::size_t at = best[k].position;
        Ref article(article_to_python(index, at));
        Ref score(floats.get(best[k].score));
        Ref position(PyLong_FromSize_t(at));
        if (!article || !score || !position) {
            return nullptr;
        }
        PyObject* row = new_row(row_type, score.get(), position.get(), article.get());
        if (row == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), row);
    }
    return list.release();
}

// Rows (score, position, article) of row_type, best first.
PyObject* rank_impl(IndexObject* self, text::TextView query, std::uint64_t top_n, bool include_zero,
                    PyTypeObject* row_type) {
    const Locked hold(self->lock);
    std::vector<index::Ranked> best;
    const std::exception_ptr error = run_work(self->index->size() >= RELEASE_ARTICLES, [&] {
        best = self->index->rank(query, top_n, include_zero);
    });
    if (error) {
        return set_python_error(error, self->path);
    }
    return rows_to_python(*self->index, best, row_type);
}

constexpr Parameter RANK_PARAMETERS[] = {
    {"query"}, optional("top_n"), keyword_only("include_zero"), keyword_only("row_type")};
constexpr Signature RANK{"rank", RANK_PARAMETERS, Wording::AS_GIVEN};

PyObject* index_rank(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
    IndexObject* self = as_index(self_obj);
    return guarded(
        [&]() -> PyObject* {
            Slots slots{};
            Query query;
            TopN top_n{"top_n", true};
            Flag include_zero;
            RowType row_type;
            if (!bind_arguments(RANK, args, nargs, kwnames, slots) ||
                !convert_arguments(RANK, slots, query, top_n, include_zero, row_type)) {
                return nullptr;
            }
            return rank_impl(self, query.view, top_n.value, include_zero.value, row_type.type);
        },
        self->path);
}

// A list with the rows of rank_impl for each query, in order. Every query
// was read before; the index is held, and the interpreter released, while
// they are answered.
PyObject* rank_many_impl(IndexObject* self, const std::vector<text::TextView>& queries,
                         std::uint64_t top_n, bool include_zero, unsigned workers,
                         PyTypeObject* row_type) {
    const Locked hold(self->lock);
    std::vector<std::vector<index::Ranked>> results;
    const std::exception_ptr error =
        run_work(workers > 1 || queries.size() * self->index->size() >= RELEASE_ARTICLES,
                 [&] { results = self->index->rank_many(queries, top_n, include_zero, workers); });
    if (error) {
        return set_python_error(error, self->path);
    }
    return batch_rows_to_python(*self->index, results, row_type, workers);
}

constexpr Parameter RANK_MANY_PARAMETERS[] = {{"queries"},
                                              optional("top_n"),
                                              keyword_only("include_zero"),
                                              keyword_only("workers"),
                                              keyword_only("row_type")};
constexpr Signature RANK_MANY{"rank_many", RANK_MANY_PARAMETERS, Wording::AS_GIVEN};

PyObject* index_rank_many(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    IndexObject* self = as_index(self_obj);
    return guarded(
        [&]() -> PyObject* {
            Slots slots{};
            Queries queries;
            TopN top_n{"top_n", true};
            Flag include_zero;
            Workers workers;
            RowType row_type;
            if (!bind_arguments(RANK_MANY, args, nargs, kwnames, slots) ||
                !convert_arguments(RANK_MANY, slots, queries, top_n, include_zero, workers,
                                   row_type)) {
                return nullptr;
            }
            return rank_many_impl(self, queries.views, top_n.value, include_zero.value,
                                  workers.value, row_type.type);
        },
        self->path);
}

// The (title, content) of article `position`, or its (title, content, id)
// when it has an id.
PyObject* index_article(PyObject* self_obj, PyObject* position_arg) {
    IndexObject* self = as_index(self_obj);
    const Py_ssize_t position = PyNumber_AsSsize_t(position_arg, PyExc_IndexError);
    if (position == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    const Locked hold(self->lock);
    if (position < 0 || static_cast<std::size_t>(position) >= self->index->size()) {
        PyErr_SetString(PyExc_IndexError, "article position out of range");
        return nullptr;
    }
    const auto at = static_cast<std::size_t>(position);
    return article_to_python(*self->index, at);
}

PyObject* index_save(PyObject* self_obj, PyObject* path_arg) {
    IndexObject* self = as_index(self_obj);
    return guarded(
        [&]() -> PyObject* {
            FilePath path;
            if (!convert(path_arg, path)) {
                return nullptr;
            }
            const Locked hold(self->lock);
            const std::exception_ptr error = run_work(true, [&] { self->index->save(path.bytes); });
            if (error) {
                return set_python_error(error, self->path);
            }
            Py_RETURN_NONE;
        },
        self->path);
}

PyMethodDef index_methods[] = {
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_add)),
     METH_FASTCALL | METH_KEYWORDS,
     "add($self, articles, *, ids=None, workers=1)\n--\n\n"
     "Adds articles: (title, content[, id]) tuples or mappings with 'title',\n"
     "'content' and an optional 'id'."},
    {"scores", index_scores, METH_O, "scores($self, query, /)\n--\n\nThe score of every article."},
    {"rank", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_rank)),
     METH_FASTCALL | METH_KEYWORDS,
     "rank($self, query, top_n=None, *, include_zero=False, row_type=None)\n--\n\n"
     "The best articles as (score, position, (title, content[, id])) rows."},
    {"rank_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_rank_many)),
     METH_FASTCALL | METH_KEYWORDS,
     "rank_many($self, queries, top_n=None, *, include_zero=False, workers=1, "
     "row_type=None)\n--\n\n"
     "For each query in turn, the rows rank gives, the queries shared out\n"
     "between workers threads."},
    {"article", index_article, METH_O,
     "article($self, position, /)\n--\n\nThe (title, content[, id]) of one article."},
    {"save", index_save, METH_O, "save($self, path, /)\n--\n\nWrites the index to a file."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot index_slots[] = {
    {Py_tp_doc, const_cast<char*>("Index()\n--\n\nThe native article index.")},
    {Py_tp_new, reinterpret_cast<void*>(index_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc)},
    {Py_tp_methods, index_methods},
    {Py_mp_length, reinterpret_cast<void*>(index_length)},
    {0, nullptr},
};

PyType_Spec index_spec = {
    "parvenkel._index.Index",
    sizeof(IndexObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    index_slots,
};

PyObject* load(PyObject* module, PyObject* path_arg) {
    return guarded(
        [&]() -> PyObject* {
            FilePath path;
            if (!convert(path_arg, path)) {
                return nullptr;
            }
            std::unique_ptr<index::ArticleIndex> loaded;
            const std::exception_ptr error =
                run_work(true, [&] { loaded = index::ArticleIndex::load(path.bytes); });
            if (error) {
                return set_python_error(error, path_arg);
            }
            return new_index(reinterpret_cast<PyTypeObject*>(type_state(module)->type),
                             std::move(loaded), path_arg);
        },
        path_arg);
}

PyMethodDef module_methods[] = {
    {"load", load, METH_O, "load(path, /)\n--\n\nAn Index opened from its file."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef index_module_def{};

int index_exec(PyObject* module) {
    PyObject* type = PyType_FromModuleAndSpec(module, &index_spec, nullptr);
    return keep_type(module, type);
}

PyModuleDef_Slot index_module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(index_exec)},
    // An index guards its articles with its own lock.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

}  // namespace
}  // namespace parvenkel::module

PyMODINIT_FUNC PyInit__index() {
    using namespace parvenkel::module;
    index_module_def = {
        PyModuleDef_HEAD_INIT,
        "_index",
        "An exact trigram index of articles, kept in memory or in a file.",
        sizeof(TypeState),
        module_methods,
        index_module_slots,
        traverse_type_state,
        clear_type_state,
        free_type_state,
    };
    return PyModuleDef_Init(&index_module_def);
}
