// parvenkel._corpus: word counts kept across calls (the type WordCounter,
// word_counter.cpp) and batch calls over many texts or articles, run on
// worker threads with the interpreter released.
//
// Inputs are checked, and every str is read into a text view, before any
// work starts; the call holds a reference to every str it reads (a tuple
// copy of the input, or references of its own), so the views stay valid
// while the interpreter is released.
#include "corpus/corpus.hpp"
#include "module/converters.hpp"
#include "module/errors.hpp"
#include "module/results.hpp"
#include "module/word_counter.hpp"
#include "module/workers.hpp"

namespace parvenkel::module {
namespace {

// Below this many articles in a call, the interpreter is kept; their
// bodies are not measured before they are read.
constexpr std::size_t RELEASE_ARTICLES = 64;

PyModuleDef corpus_module_def{};

PyObject* from_blob(PyObject* module, PyObject* data) {
    return guarded([&]() -> PyObject* {
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
            return set_python_error(error);
        }
        return new_word_counter(reinterpret_cast<PyTypeObject*>(type_state(module)->type),
                                std::move(counts));
    });
}

PyObject* keywords_many_impl(const Texts& texts, const std::vector<std::string>& stop_words,
                             std::uint64_t top_n, unsigned workers) {
    std::vector<corpus::TextKeywords> results;
    const std::exception_ptr error = run_work(texts.bytes >= RELEASE_BYTES || workers > 1, [&] {
        results = corpus::keywords_many(texts.views, stop_words, top_n, workers);
    });
    if (error) {
        return set_python_error(error);
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
}

constexpr Parameter KEYWORDS_MANY_PARAMETERS[] = {
    {"texts"}, {"stop_words"}, {"top_n"}, keyword_only("workers")};
constexpr Signature KEYWORDS_MANY{"keywords_many", KEYWORDS_MANY_PARAMETERS, Wording::AS_GIVEN};

PyObject* keywords_many(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        TextBatch texts;
        StopWords stop_words;
        TopN top_n{"top_n", false};
        Workers workers;
        if (!bind_arguments(KEYWORDS_MANY, args, nargs, kwnames, slots) ||
            !convert_arguments(KEYWORDS_MANY, slots, texts, stop_words, top_n, workers)) {
            return nullptr;
        }
        return keywords_many_impl(texts.texts, stop_words.words, top_n.value, workers.value);
    });
}

// Scores of every article; false with an exception set. Each article is
// read where it is scored; one that cannot be read (not a str, or a str
// with a surrogate) makes the call fail as if it had been checked first:
// the scores are pure, nothing else has changed. The scorer checks the
// strs for surrogates as it searches them.
bool scores_of(const Articles& articles, text::TextView query, unsigned workers,
               std::vector<double>& scores) {
    const std::size_t count = articles.count;
    std::size_t unreadable = 0;
    const std::exception_ptr error = run_work(count >= RELEASE_ARTICLES || workers > 1, [&] {
        scores = corpus::score_many(
            count, query, workers,
            [&](std::size_t i, corpus::Article& article) {
                // The objects of articles a few places on, brought into the
                // cache meanwhile: their fields are read next.
                constexpr std::size_t AHEAD = 4;
                articles.prefetch(i + 2 * AHEAD);
                if (articles.pairs && i + AHEAD < count) {
                    __builtin_prefetch(articles.part(i + AHEAD, 0));
                    __builtin_prefetch(articles.part(i + AHEAD, 1));
                }
                PyObject* title = articles.part(i, 0);
                PyObject* content = articles.part(i, 1);
                if (!PyUnicode_Check(title) || !PyUnicode_Check(content)) {
                    return false;
                }
                article = {read_in_place(title), read_in_place(content)};
                return true;
            },
            unreadable);
    });
    if (error) {
        set_python_error(error);
        return false;
    }
    return unreadable == count || raise_for_article(articles, unreadable);
}

constexpr Parameter SCORE_MANY_PARAMETERS[] = {{"articles"}, {"query"}, keyword_only("workers")};
constexpr Signature SCORE_MANY{"score_many", SCORE_MANY_PARAMETERS, Wording::AS_GIVEN};

PyObject* score_many(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        Articles articles;
        Query query;
        Workers workers;
        std::vector<double> scores;
        if (!bind_arguments(SCORE_MANY, args, nargs, kwnames, slots) ||
            !convert_arguments(SCORE_MANY, slots, articles, query, workers) ||
            !scores_of(articles, query.view, workers.value, scores)) {
            return nullptr;
        }
        return scores_to_python(scores);
    });
}

// The best articles as (score, position, article) rows, best first.
PyObject* rank_rows_impl(const Articles& articles, text::TextView query, std::uint64_t top_n,
                         unsigned workers, bool include_zero, PyTypeObject* row_type) {
    std::vector<double> scores;
    if (!scores_of(articles, query, workers, scores)) {
        return nullptr;
    }
    const std::vector<std::size_t> best = corpus::rank_positions(scores, top_n, include_zero);
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
                                PyTuple_GET_ITEM(articles.articles.get(), best[k]));
        if (row == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), row);
    }
    return list.release();
}

constexpr Parameter RANK_ROWS_PARAMETERS[] = {{"articles"},
                                              {"query"},
                                              optional("top_n"),
                                              keyword_only("workers"),
                                              keyword_only("include_zero"),
                                              keyword_only("row_type")};
constexpr Signature RANK_ROWS{"rank_rows", RANK_ROWS_PARAMETERS, Wording::AS_GIVEN};

PyObject* rank_rows(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        Articles articles;
        Query query;
        TopN top_n{"top_n", true};
        Workers workers;
        Flag include_zero;
        RowType row_type;
        if (!bind_arguments(RANK_ROWS, args, nargs, kwnames, slots) ||
            !convert_arguments(RANK_ROWS, slots, articles, query, top_n, workers, include_zero,
                               row_type)) {
            return nullptr;
        }
        return rank_rows_impl(articles, query.view, top_n.value, workers.value, include_zero.value,
                              row_type.type);
    });
}

PyMethodDef module_methods[] = {
    {"keywords_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(keywords_many)),
     METH_FASTCALL | METH_KEYWORDS,
     "keywords_many(texts, stop_words, top_n, *, workers=1)\n--\n\n"
     "The top_n most frequent words of each text, as extract_keywords gives\n"
     "them, with equal counts in code point order of the word."},
    {"score_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(score_many)),
     METH_FASTCALL | METH_KEYWORDS,
     "score_many(articles, query, *, workers=1)\n--\n\n"
     "score_article of every (title, content) article against query."},
    {"rank_rows", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(rank_rows)),
     METH_FASTCALL | METH_KEYWORDS,
     "rank_rows(articles, query, top_n=None, *, workers=1, include_zero=False, "
     "row_type=None)\n--\n\n"
     "The best articles as (score, position, article) rows of row_type (a\n"
     "tuple subclass without fields of its own; tuple when None), best first."},
    {"_from_blob", from_blob, METH_O,
     "_from_blob(data, /)\n--\n\nA WordCounter from its pickled form."},
    {nullptr, nullptr, 0, nullptr},
};

int corpus_exec(PyObject* module) {
    PyObject* type = PyType_FromModuleAndSpec(module, &word_counter_spec, nullptr);
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
