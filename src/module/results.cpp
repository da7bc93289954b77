#include "module/results.hpp"

#include "module/errors.hpp"

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

PyObject* text_to_python(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

PyObject* article_to_python(std::string_view title, std::string_view content,
                            std::optional<std::string_view> id) {
    Ref title_str(text_to_python(title));
    if (!title_str) {
        return nullptr;
    }
    Ref content_str(text_to_python(content));
    if (!content_str) {
        return nullptr;
    }
    if (!id) {
        return PyTuple_Pack(2, title_str.get(), content_str.get());
    }
    Ref id_str(text_to_python(*id));
    if (!id_str) {
        return nullptr;
    }
    return PyTuple_Pack(3, title_str.get(), content_str.get(), id_str.get());
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
