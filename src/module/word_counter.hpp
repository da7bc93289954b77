// The type WordCounter of parvenkel._corpus: word counts kept across calls.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

#include "corpus/corpus.hpp"

namespace parvenkel::module {

// The layout, slots and flags of the WordCounter type, from which the
// module's exec function makes it.
extern PyType_Spec word_counter_spec;

// A new counter of `type` holding `counts`; nullptr with an exception set.
PyObject* new_word_counter(PyTypeObject* type, std::unique_ptr<corpus::Counts> counts);

}  // namespace parvenkel::module
