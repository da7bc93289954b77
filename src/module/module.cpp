// parvenkel._core: the module definition, its exec step and the entry points
// of its two functions.
#include "module/converters.hpp"
#include "module/errors.hpp"
#include "module/results.hpp"

namespace parvenkel::module {
namespace {

constexpr Parameter SCORE_ARTICLE_PARAMETERS[] = {{"title"}, {"content"}, {"query"}};
constexpr Signature SCORE_ARTICLE{"score_article", SCORE_ARTICLE_PARAMETERS, Wording::PREFIXED};

constexpr Parameter EXTRACT_KEYWORDS_PARAMETERS[] = {{"text"}, {"stop_words"}, {"top_n"}};
constexpr Signature EXTRACT_KEYWORDS{"extract_keywords", EXTRACT_KEYWORDS_PARAMETERS,
                                     Wording::PREFIXED};

PyObject* score_article_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        text::TextView title;
        text::TextView content;
        text::TextView query;
        if (!bind_arguments(SCORE_ARTICLE, args, nargs, kwnames, slots) ||
            !convert_arguments(SCORE_ARTICLE, slots, title, content, query)) {
            return nullptr;
        }
        return score_to_python(analysis::score_article(title, content, query));
    });
}

PyObject* extract_keywords_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Slots slots{};
        text::TextView text;
        std::vector<std::string> stop_words;
        std::uint64_t top_n = 0;
        if (!bind_arguments(EXTRACT_KEYWORDS, args, nargs, kwnames, slots) ||
            !convert_arguments(EXTRACT_KEYWORDS, slots, text, stop_words, top_n)) {
            return nullptr;
        }
        return keywords_to_python(analysis::extract_keywords(text, std::move(stop_words), top_n));
    });
}

// The functions are created by the exec step rather than listed in m_methods,
// so the definitions are not const: PyCMethod_New takes them by pointer.
PyMethodDef extract_keywords_def = {
    "extract_keywords",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(extract_keywords_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "extract_keywords(text, stop_words, top_n)\n--\n\n"
    "Extract top-N keywords from text, excluding stop words.\n"
    "Returns list of (word, count) sorted by frequency descending.",
};

PyMethodDef score_article_def = {
    "score_article",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(score_article_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    "score_article(title, content, query)\n--\n\n"
    "Score an article title + content against a query.",
};

// Creates the function for `def`, appends its name to the module's __all__
// and sets it as a module attribute.
int register_function(PyObject* module, PyMethodDef* def) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) {
        return -1;
    }
    Ref function(PyCMethod_New(def, module, module_name.get(), nullptr));
    module_name = Ref();
    if (!function) {
        return -1;
    }
    Ref name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        return -1;
    }
    PyObject* all_raw = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__all__", &all_raw) < 0) {
        return -1;
    }
    Ref all(all_raw);
    if (!all) {
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return -1;
        }
    } else if (!PyList_Check(all.get())) {
        set_not_an_instance(all.get(), "list");
        return -1;
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        raise_internal_fault("could not append __name__ to __all__", false);
        return -1;
    }
    return PyObject_SetAttr(module, name.get(), function.get());
}

int module_exec(PyObject* module) {
    try {
        if (register_function(module, &extract_keywords_def) < 0) {
            return -1;
        }
        return register_function(module, &score_article_def);
    } catch (...) {
        set_python_error(std::current_exception());
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    // Adds the two functions and __all__.
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // No global interpreter state is touched outside the once-only caches,
    // which are safe without the GIL.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_core",       // m_name
    "",            // m_doc: present but empty
    0,             // m_size: no per-module state
    nullptr,       // m_methods: added by the exec slot
    module_slots,  // m_slots
    nullptr,       // m_traverse
    nullptr,       // m_clear
    nullptr,       // m_free
};

}  // namespace
}  // namespace parvenkel::module

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&parvenkel::module::module_def); }
