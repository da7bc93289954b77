// parvenkel._index: the native article index (type Index) under the
// Python class parvenkel.ArticleIndex, which hands it articles as
// (title, content) or (title, content, id) tuples of str, the id possibly
// None.
//
// An index's articles are guarded by a PyMutex; long work (adding,
// querying, saving) runs with the interpreter released.
#include <cerrno>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>

#include "corpus/corpus.hpp"
#include "index/index.hpp"
#include "module/call_frame.hpp"
#include "module/workers.hpp"

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

const char* type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

// Sets the Python exception for a C++ one; `path` names the file, if any.
PyObject* set_from_exception(std::exception_ptr error, PyObject* path) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const index::IndexFileError& e) {
        PyErr_Format(PyExc_ValueError, "article index file %R: %s",
                     path != nullptr ? path : Py_None, e.what());
        return nullptr;
    } catch (const index::IndexIoError& e) {
        Ref name(PyUnicode_DecodeFSDefaultAndSize(e.path().data(),
                                                  static_cast<Py_ssize_t>(e.path().size())));
        if (!name) {
            return nullptr;
        }
        errno = e.error();
        return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.get());
    } catch (const std::exception& e) {
        return raise_internal_fault(e.what(), false);
    } catch (...) {
        return raise_internal_fault("unknown C++ exception", false);
    }
}

class Locked {
   public:
    explicit Locked(IndexObject* self) : self_(self) { PyMutex_Lock(&self_->lock); }
    ~Locked() { PyMutex_Unlock(&self_->lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

   private:
    IndexObject* self_;
};

bool convert_query(PyObject* obj, text::TextView& out) {
    if (!PyUnicode_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "query must be a str, not '%.100s'", type_name(obj));
        return false;
    }
    return extract_text(obj, out);
}

// ---------------------------------------------------------------------------
// The type.

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

PyObject* index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    try {
        if (!PyArg_ParseTuple(args, ":Index") ||
            (kwargs != nullptr && !PyArg_ValidateKeywordArguments(kwargs))) {
            return nullptr;
        }
        if (kwargs != nullptr && PyDict_GET_SIZE(kwargs) > 0) {
            PyErr_SetString(PyExc_TypeError, "Index() takes no keyword arguments");
            return nullptr;
        }
        return new_index(type, std::make_unique<index::ArticleIndex>(), Py_None);
    } catch (...) {
        return set_from_exception(std::current_exception(), nullptr);
    }
}

void index_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_index(self)->index;
    Py_XDECREF(as_index(self)->path);
    type->tp_free(self);
    Py_DECREF(type);
}

// add(pairs, workers): pairs is a list of (title, content) or
// (title, content, id) tuples of str, an id of None meaning none.
PyObject* index_add(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs) {
    IndexObject* self = as_index(self_obj);
    try {
        if (nargs != 2) {
            PyErr_SetString(PyExc_TypeError, "add() takes two arguments");
            return nullptr;
        }
        unsigned workers = 1;
        if (!convert_workers(args[1], workers)) {
            return nullptr;
        }
        Ref pairs(PySequence_Tuple(args[0]));
        if (!pairs) {
            return nullptr;
        }
        const Py_ssize_t count = PyTuple_GET_SIZE(pairs.get());
        std::vector<index::Article> articles(static_cast<std::size_t>(count));
        for (Py_ssize_t k = 0; k < count; ++k) {
            PyObject* pair = PyTuple_GET_ITEM(pairs.get(), k);
            if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) < 2 || PyTuple_GET_SIZE(pair) > 3) {
                PyErr_Format(PyExc_TypeError, "article %zd is not a (title, content) pair", k);
                return nullptr;
            }
            if (PyTuple_GET_SIZE(pair) == 3 && PyTuple_GET_ITEM(pair, 2) != Py_None) {
                PyObject* id = PyTuple_GET_ITEM(pair, 2);
                if (!PyUnicode_Check(id)) {
                    PyErr_Format(PyExc_TypeError,
                                 "the id of article %zd must be a str or None, not '%.100s'", k,
                                 type_name(id));
                    return nullptr;
                }
                text::TextView& view = articles[static_cast<std::size_t>(k)].id.emplace();
                if (!extract_text(id, view)) {
                    return nullptr;
                }
            }
            for (int i = 0; i < 2; ++i) {
                PyObject* part = PyTuple_GET_ITEM(pair, i);
                text::TextView& view = i == 0 ? articles[static_cast<std::size_t>(k)].title
                                              : articles[static_cast<std::size_t>(k)].content;
                if (!PyUnicode_Check(part)) {
                    PyErr_Format(PyExc_TypeError,
                                 "argument '%s' of article %zd: '%.100s' object is not an "
                                 "instance of 'str'",
                                 i == 0 ? "title" : "content", k, type_name(part));
                    return nullptr;
                }
                if (!extract_text(part, view)) {
                    return nullptr;
                }
            }
        }
        const Locked hold(self);
        const std::exception_ptr error =
            run_work(articles.size() >= RELEASE_ARTICLES || workers > 1,
                     [&] { self->index->add(articles, workers); });
        if (error) {
            return set_from_exception(error, self->path);
        }
        Py_RETURN_NONE;
    } catch (...) {
        return set_from_exception(std::current_exception(), self->path);
    }
}

Py_ssize_t index_length(PyObject* self_obj) {
    IndexObject* self = as_index(self_obj);
    const Locked hold(self);
    return static_cast<Py_ssize_t>(self->index->size());
}

PyObject* index_scores(PyObject* self_obj, PyObject* query_arg) {
    IndexObject* self = as_index(self_obj);
    try {
        text::TextView query;
        if (!convert_query(query_arg, query)) {
            return nullptr;
        }
        std::vector<double> scores;
        {
            const Locked hold(self);
            const std::exception_ptr error = run_work(self->index->size() >= RELEASE_ARTICLES,
                                                      [&] { scores = self->index->scores(query); });
            if (error) {
                return set_from_exception(error, self->path);
            }
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(scores.size())));
        Ref zero(PyFloat_FromDouble(0.0));
        if (!list || !zero) {
            return nullptr;
        }
        for (std::size_t k = 0; k < scores.size(); ++k) {
            PyObject* score =
                scores[k] == 0.0 ? Py_NewRef(zero.get()) : PyFloat_FromDouble(scores[k]);
            if (score == nullptr) {
                return nullptr;
            }
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), score);
        }
        return list.release();
    } catch (...) {
        return set_from_exception(std::current_exception(), self->path);
    }
}

PyObject* text_to_python(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

// The id of article `position`, as a new str, or nullptr with no exception
// set when it has none.
PyObject* id_to_python(const index::ArticleIndex& index, std::size_t position, bool& failed) {
    const std::optional<std::string_view> id = index.id(position);
    failed = false;
    if (!id) {
        return nullptr;
    }
    PyObject* out = text_to_python(*id);
    failed = out == nullptr;
    return out;
}

// rank(query, top_n, include_zero, row_type): rows (score, position,
// article) of row_type, a tuple subclass without fields of its own; the
// article is (title, content), or (title, content, id) when it has an id.
PyObject* index_rank(PyObject* self_obj, PyObject* const* args, Py_ssize_t nargs) {
    IndexObject* self = as_index(self_obj);
    try {
        if (nargs != 4) {
            PyErr_SetString(PyExc_TypeError, "rank() takes four arguments");
            return nullptr;
        }
        text::TextView query;
        if (!convert_query(args[0], query)) {
            return nullptr;
        }
        std::uint64_t top_n = UINT64_MAX;
        if (args[1] != Py_None) {
            Ref number(PyNumber_Index(args[1]));
            if (!number) {
                PyErr_Format(PyExc_TypeError, "top_n must be an int or None, not '%.100s'",
                             type_name(args[1]));
                return nullptr;
            }
            if (PyLong_IsNegative(number.get()) == 1) {
                PyErr_SetString(PyExc_ValueError, "top_n must not be negative");
                return nullptr;
            }
            top_n = PyLong_AsUnsignedLongLong(number.get());
            if (top_n == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                top_n = UINT64_MAX;
            }
        }
        const int include_zero = PyObject_IsTrue(args[2]);
        if (include_zero < 0) {
            return nullptr;
        }
        auto* row_type = reinterpret_cast<PyTypeObject*>(args[3]);
        if (!PyType_Check(args[3]) || !PyType_IsSubtype(row_type, &PyTuple_Type) ||
            row_type->tp_basicsize != PyTuple_Type.tp_basicsize) {
            PyErr_SetString(PyExc_TypeError,
                            "row_type must be a tuple subclass without fields of its own");
            return nullptr;
        }
        const Locked hold(self);
        std::vector<index::Ranked> best;
        const std::exception_ptr error = run_work(self->index->size() >= RELEASE_ARTICLES, [&] {
            best = self->index->rank(query, top_n, include_zero != 0);
        });
        if (error) {
            return set_from_exception(error, self->path);
        }
        Ref list(PyList_New(static_cast<Py_ssize_t>(best.size())));
        if (!list) {
            return nullptr;
        }
        for (std::size_t k = 0; k < best.size(); ++k) {
            const std::size_t at = best[k].position;
            Ref title(text_to_python(self->index->title(at)));
            Ref content(text_to_python(self->index->content(at)));
            Ref score(PyFloat_FromDouble(best[k].score));
            Ref position(PyLong_FromSize_t(at));
            if (!title || !content || !score || !position) {
                return nullptr;
            }
            bool failed = false;
            Ref id(id_to_python(*self->index, at, failed));
            if (failed) {
                return nullptr;
            }
            Ref article(id ? PyTuple_Pack(3, title.get(), content.get(), id.get())
                           : PyTuple_Pack(2, title.get(), content.get()));
            PyObject* row = article ? row_type->tp_alloc(row_type, 3) : nullptr;
            if (row == nullptr) {
                return nullptr;
            }
            PyTuple_SET_ITEM(row, 0, score.release());
            PyTuple_SET_ITEM(row, 1, position.release());
            PyTuple_SET_ITEM(row, 2, article.release());
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), row);
        }
        return list.release();
    } catch (...) {
        return set_from_exception(std::current_exception(), self->path);
    }
}

// The (title, content) of article `position`, or its (title, content, id)
// when it has an id.
PyObject* index_article(PyObject* self_obj, PyObject* position_arg) {
    IndexObject* self = as_index(self_obj);
    const Py_ssize_t position = PyNumber_AsSsize_t(position_arg, PyExc_IndexError);
    if (position == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    const Locked hold(self);
    if (position < 0 || static_cast<std::size_t>(position) >= self->index->size()) {
        PyErr_SetString(PyExc_IndexError, "article position out of range");
        return nullptr;
    }
    const auto at = static_cast<std::size_t>(position);
    Ref title(text_to_python(self->index->title(at)));
    Ref content(text_to_python(self->index->content(at)));
    bool failed = false;
    Ref id(id_to_python(*self->index, at, failed));
    if (!title || !content || failed) {
        return nullptr;
    }
    return id ? PyTuple_Pack(3, title.get(), content.get(), id.get())
              : PyTuple_Pack(2, title.get(), content.get());
}

bool fs_path(PyObject* path, Ref& bytes) {
    if (!PyUnicode_Check(path)) {
        PyErr_Format(PyExc_TypeError, "path must be a str, not '%.100s'", type_name(path));
        return false;
    }
    bytes = Ref(PyUnicode_EncodeFSDefault(path));
    return static_cast<bool>(bytes);
}

PyObject* index_save(PyObject* self_obj, PyObject* path) {
    IndexObject* self = as_index(self_obj);
    try {
        Ref bytes;
        if (!fs_path(path, bytes)) {
            return nullptr;
        }
        const std::string target(PyBytes_AS_STRING(bytes.get()),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
        const Locked hold(self);
        const std::exception_ptr error = run_work(true, [&] { self->index->save(target); });
        if (error) {
            return set_from_exception(error, self->path);
        }
        Py_RETURN_NONE;
    } catch (...) {
        return set_from_exception(std::current_exception(), self->path);
    }
}

PyMethodDef index_methods[] = {
    {"add", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_add)), METH_FASTCALL,
     "add($self, pairs, workers, /)\n--\n\nAdds (title, content[, id]) tuples of str."},
    {"scores", index_scores, METH_O, "scores($self, query, /)\n--\n\nThe score of every article."},
    {"rank", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(index_rank)), METH_FASTCALL,
     "rank($self, query, top_n, include_zero, row_type, /)\n--\n\n"
     "The best articles as (score, position, (title, content[, id])) rows."},
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

PyObject* load(PyObject* module, PyObject* path) {
    try {
        Ref bytes;
        if (!fs_path(path, bytes)) {
            return nullptr;
        }
        const std::string source(PyBytes_AS_STRING(bytes.get()),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
        std::unique_ptr<index::ArticleIndex> loaded;
        const std::exception_ptr error =
            run_work(true, [&] { loaded = index::ArticleIndex::load(source); });
        if (error) {
            return set_from_exception(error, path);
        }
        return new_index(reinterpret_cast<PyTypeObject*>(type_state(module)->type),
                         std::move(loaded), path);
    } catch (...) {
        return set_from_exception(std::current_exception(), path);
    }
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
