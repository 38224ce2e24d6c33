#include <stdexcept>
#include <string>

#include "python/common.hpp"

namespace {

std::string ascii_lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

void define_list_bindings(py::module_& m) {
    // Held weakly: the function object does not hold the module, which the interpreter frees while it shuts
    // down; a finalizer that kept the function may call it after that.
    const py::weakref module_ref(m);
    m.def(
        "list_bindings",
        [module_ref](const py::object& pattern, bool include_private) {
            const py::object module = module_ref();
            if (module.is_none())
                throw std::runtime_error("list_bindings: the module is gone: the interpreter is shutting down");
            py::list names(module.attr("__dir__")());
            py::list functions, classes, attributes;
            const std::string filter = pattern.is_none() ? std::string() : ascii_lower(py::str(pattern).cast<std::string>());
            for (const py::handle entry : names) {
                const std::string name = py::str(entry).cast<std::string>();
                if (!include_private && !name.empty() && name[0] == '_') continue;
                if (name == "list_bindings") continue;
                if (!filter.empty() && ascii_lower(name).find(filter) == std::string::npos) continue;
                py::object value = module.attr(name.c_str());
                py::str key(name);
                if (PyType_Check(value.ptr())) {
                    classes.append(key);
                } else if (PyCallable_Check(value.ptr())) {
                    functions.append(key);
                } else {
                    attributes.append(key);
                }
            }
            py::list all;
            for (const py::handle h : functions) all.append(h);
            for (const py::handle h : classes) all.append(h);
            module.attr("__all__") = all;
            py::dict counts;
            counts["functions"] = py::int_(py::len(functions));
            counts["classes"] = py::int_(py::len(classes));
            counts["attributes"] = py::int_(py::len(attributes));
            py::dict result;
            result["functions"] = functions;
            result["classes"] = classes;
            result["attributes"] = attributes;
            result["counts"] = counts;
            return result;
        },
        py::arg("pattern") = py::none(), py::arg("include_private") = false,
        "\n        Return a dictionary of exported names in this module.\n\n        Args:\n          pattern (str|None): optional case-insensitive substring filter.\n          include_private (bool): include names beginning with '_' if True.\n\n        Returns:\n          dict with keys: 'functions', 'classes', 'attributes', and 'counts'.\n        Also sets module __all__ = functions + classes (public names).\n        ");
}
