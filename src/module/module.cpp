// parvenkel._core: the module definition, its exec step and the entry points
// of its two functions.
#include <exception>
#include <new>

#include "module/call_frame.hpp"

namespace parvenkel::module {
namespace {

constexpr function_signature SCORE_ARTICLE_SIGNATURE{"score_article",
                                                     {"title", "content", "query"}};
constexpr function_signature EXTRACT_KEYWORDS_SIGNATURE{"extract_keywords",
                                                        {"text", "stop_words", "top_n"}};

// Turns a C++ exception escaping the logic into a Python one: running out of
// memory is a MemoryError, anything else a fault of the module.
PyObject* translate_exception() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        return raise_internal_fault(error.what(), false);
    } catch (...) {
        return raise_internal_fault("unknown C++ exception", false);
    }
}

PyObject* score_article_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    try {
        PyObject* slots[PARAMETER_COUNT] = {};
        if (!bind_arguments(SCORE_ARTICLE_SIGNATURE, args, nargs, kwnames, slots)) {
            return nullptr;
        }
        text::TextView text[PARAMETER_COUNT];
        for (Py_ssize_t i = 0; i < PARAMETER_COUNT; ++i) {
            if (!extract_text(slots[i], text[i])) {
                reword_argument_error(SCORE_ARTICLE_SIGNATURE.parameters[i]);
                return nullptr;
            }
        }
        return score_to_python(analysis::score_article(text[0], text[1], text[2]));
    } catch (...) {
        return translate_exception();
    }
}

PyObject* extract_keywords_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    try {
        PyObject* slots[PARAMETER_COUNT] = {};
        if (!bind_arguments(EXTRACT_KEYWORDS_SIGNATURE, args, nargs, kwnames, slots)) {
            return nullptr;
        }
        text::TextView text;
        if (!extract_text(slots[0], text)) {
            reword_argument_error(EXTRACT_KEYWORDS_SIGNATURE.parameters[0]);
            return nullptr;
        }
        std::vector<std::string> stop_words;
        if (!extract_str_list(slots[1], stop_words)) {
            reword_argument_error(EXTRACT_KEYWORDS_SIGNATURE.parameters[1]);
            return nullptr;
        }
        std::uint64_t top_n = 0;
        if (!extract_size(slots[2], top_n)) {
            reword_argument_error(EXTRACT_KEYWORDS_SIGNATURE.parameters[2]);
            return nullptr;
        }
        return keywords_to_python(analysis::extract_keywords(text, std::move(stop_words), top_n));
    } catch (...) {
        return translate_exception();
    }
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
        translate_exception();
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
