#include "module/results.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "module/errors.hpp"
#include "module/workers.hpp"
#include "text/utf8_units.hpp"

namespace parvenkel::module {

PyObject* score_to_python(double score) {
    PyObject* result = PyFloat_FromDouble(score);
    if (result == nullptr) {
        return raise_internal_fault("could not create the score", true);
    }
    return result;
}

PyObject* keywords_to_python(const analysis::Keywords& keywords) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(keywords.pairs.size())));
    if (!list) {
        return raise_internal_fault("could not create the keyword list", true);
    }
    Py_ssize_t index = 0;
    for (const analysis::KeywordCount& pair : keywords.pairs) {
        Ref word(PyUnicode_FromStringAndSize(pair.word.data(),
                                             static_cast<Py_ssize_t>(pair.word.size())));
        if (!word) {
            return raise_internal_fault("could not create a keyword", true);
        }
        Ref count(PyLong_FromUnsignedLongLong(pair.count));
        if (!count) {
            return raise_internal_fault("could not create a keyword count", true);
        }
        PyObject* tuple = PyTuple_New(2);
        if (tuple == nullptr) {
            return raise_internal_fault("could not create a keyword tuple", true);
        }
        PyTuple_SET_ITEM(tuple, 0, word.release());
        PyTuple_SET_ITEM(tuple, 1, count.release());
        PyList_SET_ITEM(list.get(), index++, tuple);
    }
    return list.release();
}

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

namespace {

// Writes the characters of `text` into `str`, made by PyUnicode_New for
// exactly them; needs no interpreter.
void fill_str(std::string_view text, PyObject* str) noexcept {
    void* data = PyUnicode_DATA(str);
    const auto chars = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            if (PyUnicode_IS_ASCII(str)) {
                std::memcpy(data, text.data(), text.size());
            } else {
                text::decode_units(text, static_cast<std::uint8_t*>(data), chars);
            }
            break;
        case PyUnicode_2BYTE_KIND:
            text::decode_units(text, static_cast<char16_t*>(data), chars);
            break;
        default:
            text::decode_units(text, static_cast<char32_t*>(data), chars);
            break;
    }
}

PyObject* new_str(std::size_t chars, char32_t widest) {
    return PyUnicode_New(static_cast<Py_ssize_t>(chars), static_cast<Py_UCS4>(widest));
}

}  // namespace

PyObject* text_to_python(std::string_view text, const text::Utf8Shape& shape) {
    PyObject* str = new_str(shape.chars, shape.widest);
    if (str != nullptr) {
        fill_str(text, str);
    }
    return str;
}

PyObject* text_to_python(std::string_view text) {
    // The str is made at its final width and filled in one pass: the
    // interpreter's codec widens the string as it meets wider characters,
    // copying it each time, and decoded the help pages' Greek at 1.8 GB/s
    // and Chinese at 2.4, where the decoders here take 8.5 and 7.3.
    return text_to_python(text, text::utf8_shape(text));
}

std::size_t StrBatch::add(std::string_view text, const text::Utf8Shape& shape) {
    entries_.push_back({text, shape, Ref()});
    bytes_ += text.size();
    return entries_.size() - 1;
}

void StrBatch::fill(std::size_t k) const noexcept {
    // The texts lie apart in memory, where the processor does not fetch
    // ahead by itself: the next two (a title and a content, in rank_many)
    // are asked for while this one is decoded. Filling 5,853 articles of
    // the help pages took 3.2 ms instead of 4.8.
    for (std::size_t ahead = k + 1; ahead <= k + 2 && ahead < entries_.size(); ++ahead) {
        const std::string_view text = entries_[ahead].text;
        const std::size_t size = std::min(text.size(), PREFETCH_BYTES);
        for (std::size_t at = 0; at < size; at += 64) {
            __builtin_prefetch(text.data() + at);
        }
    }
    fill_str(entries_[k].text, entries_[k].str.get());
}

void StrBatch::fill_made() noexcept {
    // A few strs at a time, so that a thread fills the ones it fetched
    // ahead.
    constexpr std::size_t CLAIM = 8;
    const std::size_t count = entries_.size();
    for (;;) {
        const std::size_t first = next_.fetch_add(CLAIM, std::memory_order_relaxed);
        if (first >= count) {
            return;
        }
        const std::size_t end = std::min(count, first + CLAIM);
        while (made_.load(std::memory_order_acquire) < end) {
            if (failed_.load(std::memory_order_acquire)) {
                return;
            }
            std::this_thread::yield();
        }
        for (std::size_t k = first; k < end; ++k) {
            fill(k);
        }
    }
}

bool StrBatch::start(unsigned workers) {
    // Threads pay for themselves on some tens of kilobytes.
    if (workers < 2 || bytes_ < RELEASE_BYTES) {
        for (Entry& entry : entries_) {
            entry.str = Ref(new_str(entry.shape.chars, entry.shape.widest));
            if (!entry.str) {
                return false;
            }
            fill(static_cast<std::size_t>(&entry - entries_.data()));
        }
        return true;
    }
    // The workers fill each str as soon as this thread has allocated it,
    // while it allocates the next ones with the interpreter held. A str
    // that no Python code can reach yet is plain memory, and a str holds
    // no reference the interpreter's collector could follow to it.
    try {
        threads_.reserve(workers - 1);
        for (unsigned w = 1; w < workers; ++w) {
            threads_.emplace_back([this] { fill_made(); });
        }
    } catch (const std::exception&) {
        // No more threads (std::system_error, std::bad_alloc): the ones
        // started and this one share the filling.
    }
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        entries_[k].str = Ref(new_str(entries_[k].shape.chars, entries_[k].shape.widest));
        if (!entries_[k].str) {
            failed_.store(true, std::memory_order_release);
            finish();
            return false;
        }
        made_.store(k + 1, std::memory_order_release);
    }
    if (threads_.empty()) {
        fill_made();  // no thread could be started
    }
    return true;
}

void StrBatch::finish() noexcept {
    if (threads_.empty()) {
        return;
    }
    Py_BEGIN_ALLOW_THREADS;
    if (!failed_.load(std::memory_order_relaxed)) {
        fill_made();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
    Py_END_ALLOW_THREADS;
    threads_.clear();
}

PyObject* article_of(PyObject* title, PyObject* content, std::optional<std::string_view> id) {
    if (!id) {
        return PyTuple_Pack(2, title, content);
    }
    Ref id_str(text_to_python(*id));
    if (!id_str) {
        return nullptr;
    }
    return PyTuple_Pack(3, title, content, id_str.get());
}

PyObject* ScoreFloats::get(double score) {
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

PyObject* scores_to_python(const std::vector<double>& scores) {
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
}

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

}  // namespace parvenkel::module
