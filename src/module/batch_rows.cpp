#include "module/batch_rows.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "module/ref.hpp"
#include "module/results.hpp"

namespace parvenkel::module {
namespace {

// The articles of a batch's rows, each once, in the order the rows meet
// them, and the article of each row: the answers of a batch share many (a
// thousand topic queries over 22,500 help pages: 5,853 articles in 9,921
// rows).
struct RowArticles {
    std::vector<std::size_t> positions;  // of each article
    std::vector<std::uint32_t> of_row;   // the article of each row, the rows in order
};

RowArticles row_articles(const std::vector<std::vector<index::Ranked>>& answers) {
    std::size_t rows = 0;
    for (const std::vector<index::Ranked>& answer : answers) {
        rows += answer.size();
    }
    RowArticles out;
    out.of_row.reserve(rows);
    // Position + 1 (0: empty) to article, in a table at most half full,
    // probed linearly from a multiplicative hash.
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(16, 2 * rows));
    const int shift = 64 - std::countr_zero(capacity);
    std::vector<std::uint64_t> keys(capacity, 0);
    std::vector<std::uint32_t> articles(capacity);
    for (const std::vector<index::Ranked>& answer : answers) {
        for (const index::Ranked& row : answer) {
            const std::uint64_t key = std::uint64_t{row.position} + 1;
            auto at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> shift);
            while (keys[at] != 0 && keys[at] != key) {
                at = (at + 1) & (capacity - 1);
            }
            if (keys[at] == 0) {
                keys[at] = key;
                articles[at] = static_cast<std::uint32_t>(out.positions.size());
                out.positions.push_back(row.position);
            }
            out.of_row.push_back(articles[at]);
        }
    }
    return out;
}

// Objects made around strs that other threads are still filling, kept out
// of the collector's lists until the strs are whole: the last strs are
// filled with the interpreter released, when another thread's
// gc.get_objects() could hand out a row and a str half made. (No Python
// code runs on this thread meanwhile: the collector waits for the next
// bytecode.)
class Unseen {
   public:
    Unseen(bool needed, std::size_t objects) : needed_(needed) {
        if (needed) {
            hidden_.reserve(objects);
        }
    }
    // `object` (a new reference, or null) out of the collector's lists.
    PyObject* hide(PyObject* object) {
        if (needed_ && object != nullptr && PyObject_GC_IsTracked(object) != 0) {
            PyObject_GC_UnTrack(object);
            hidden_.push_back(object);
        }
        return object;
    }
    // Every object hidden, each still alive, back in the collector's lists.
    void show() noexcept {
        for (PyObject* object : hidden_) {
            PyObject_GC_Track(object);
        }
        hidden_.clear();
    }

   private:
    bool needed_;
    std::vector<PyObject*> hidden_;  // borrowed: their owners outlive show()
};

}  // namespace

PyObject* batch_rows_to_python(const index::ArticleIndex& index,
                               const std::vector<std::vector<index::Ranked>>& answers,
                               PyTypeObject* row_type, unsigned workers) {
    const RowArticles shared = row_articles(answers);
    const std::size_t count = shared.positions.size();
    // Declared first, so that its threads are done with the strs before
    // the objects around them go, on an error.
    StrBatch texts(2 * count);
    for (const std::size_t at : shared.positions) {
        texts.add(index.title(at), index.shape(at, false));
        texts.add(index.content(at), index.shape(at, true));
    }
    if (!texts.start(workers)) {
        return nullptr;
    }
    // The articles and rows are made while the workers fill the strs.
    Unseen unseen(!texts.whole(), count + shared.of_row.size());
    // Each article and its position's int once, shared by its rows.
    std::vector<Ref> articles;
    std::vector<Ref> positions;
    articles.reserve(count);
    positions.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        articles.emplace_back(unseen.hide(
            article_of(texts.get(2 * k), texts.get(2 * k + 1), index.id(shared.positions[k]))));
        positions.emplace_back(PyLong_FromSize_t(shared.positions[k]));
        if (!articles.back() || !positions.back()) {
            return nullptr;
        }
    }
    std::vector<Ref> rows;
    rows.reserve(shared.of_row.size());
    ScoreFloats floats;
    for (const std::vector<index::Ranked>& answer : answers) {
        for (const index::Ranked& best : answer) {
            Ref score(floats.get(best.score));
            if (!score) {
                return nullptr;
            }
            const std::uint32_t article = shared.of_row[rows.size()];
            rows.emplace_back(unseen.hide(
                new_row(row_type, score.get(), positions[article].get(), articles[article].get())));
            if (!rows.back()) {
                return nullptr;
            }
        }
    }
    texts.finish();
    unseen.show();
    Ref list(PyList_New(static_cast<Py_ssize_t>(answers.size())));
    if (!list) {
        return nullptr;
    }
    std::size_t r = 0;
    for (std::size_t k = 0; k < answers.size(); ++k) {
        PyObject* answer = PyList_New(static_cast<Py_ssize_t>(answers[k].size()));
        if (answer == nullptr) {
            return nullptr;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(k), answer);
        for (std::size_t j = 0; j < answers[k].size(); ++j) {
            PyList_SET_ITEM(answer, static_cast<Py_ssize_t>(j), rows[r++].release());
        }
    }
    return list.release();
}

}  // namespace parvenkel::module
