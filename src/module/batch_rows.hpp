// The rows of many queries' answers (rank_many) as Python objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <vector>

#include "index/index.hpp"

namespace parvenkel::module {

// A list with a list of rows (score, position, article) of `row_type` for
// each answer, in order, as rank gives one answer's: the article of a
// position is made once however many rows share it, its strs filled on up
// to `workers` threads. The index's lock is held; a new reference, or
// nullptr with an exception set.
PyObject* batch_rows_to_python(const index::ArticleIndex& index,
                               const std::vector<std::vector<index::Ranked>>& answers,
                               PyTypeObject* row_type, unsigned workers);

}  // namespace parvenkel::module
