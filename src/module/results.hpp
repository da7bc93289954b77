// Result conversions: plain C++ results to new Python objects. Each returns
// a new reference, or nullptr with an exception set.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"
#include "module/ref.hpp"
#include "text/utf8_units.hpp"

namespace parvenkel::module {

// _core's results: a failure to create an object is an internal fault.
PyObject* score_to_python(double score);
PyObject* keywords_to_python(const analysis::Keywords& keywords);

// A (word, count) tuple.
PyObject* pair_to_python(std::string_view word, std::uint64_t count);

// A list of (word, count) tuples from pairs with `word` and `count`.
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

// A str from UTF-8 text the modules made or checked.
PyObject* text_to_python(std::string_view text);
// The same for a text whose shape is known (text::utf8_shape of it).
PyObject* text_to_python(std::string_view text, const text::Utf8Shape& shape);

// The strs of many texts, made together: each is allocated under the
// interpreter and filled on worker threads, which start on the first while
// the others are allocated (a str that has not been handed out yet is
// plain memory), so that a batch's rows do not wait on one thread decoding
// their articles.
class StrBatch {
   public:
    explicit StrBatch(std::size_t texts = 0) { entries_.reserve(texts); }
    // Waits for a filling still going (an error between start and finish).
    ~StrBatch() { finish(); }
    StrBatch(const StrBatch&) = delete;
    StrBatch& operator=(const StrBatch&) = delete;

    // The slot of `text`, of the shape given, whose bytes must outlive
    // the filling.
    std::size_t add(std::string_view text, const text::Utf8Shape& shape);
    // Allocates every str and has up to `workers` - 1 threads fill them
    // meanwhile (fewer if no more can be started; none for little text,
    // when this thread fills each at once): false with a Python error set
    // when one could not be made. Until finish, the strs may be put in
    // objects, but nothing may read them.
    bool start(unsigned workers);
    // Fills what is left with the threads, the interpreter released, and
    // waits for them.
    void finish() noexcept;
    // Whether every str is filled before finish (start filled them itself).
    bool whole() const noexcept { return threads_.empty(); }
    // The str of a slot, once allocated (a borrowed reference).
    PyObject* get(std::size_t slot) const { return entries_[slot].str.get(); }

   private:
    struct Entry {
        std::string_view text;
        text::Utf8Shape shape;
        Ref str;
    };
    // Fills the str of slot `k`, fetching the next ones' texts ahead.
    void fill(std::size_t k) const noexcept;
    // Fills the allocated strs not yet taken, in order, until none is left
    // or allocation failed.
    void fill_made() noexcept;
    // How much of a text is fetched ahead.
    static constexpr std::size_t PREFETCH_BYTES = 4096;

    std::vector<Entry> entries_;
    std::size_t bytes_ = 0;
    std::vector<std::thread> threads_;  // while filling
    std::atomic<std::size_t> made_{0};  // the strs allocated, published in order
    std::atomic<std::size_t> next_{0};  // the next str to fill
    std::atomic<bool> failed_{false};   // no more strs will be allocated
};

// The article tuple of a title and a content already made: (title,
// content), or (title, content, id) with an id.
PyObject* article_of(PyObject* title, PyObject* content, std::optional<std::string_view> id);

// Float objects for scores, which take a handful of values: one object a
// value, shared by the results that have it.
class ScoreFloats {
   public:
    PyObject* get(double score);

   private:
    std::vector<std::pair<double, Ref>> made_;
};

// A list of the scores, in order.
PyObject* scores_to_python(const std::vector<double>& scores);

// A new row (score, position, article) of `row_type`, a tuple subclass that
// adds no fields of its own (a NamedTuple), made as tuple.__new__ makes one;
// the row takes a reference to each item, borrowed here.
PyObject* new_row(PyTypeObject* row_type, PyObject* score, PyObject* position, PyObject* article);

}  // namespace parvenkel::module
