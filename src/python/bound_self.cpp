// Methods of every bound class refuse None as self, so that no method runs on a null object.
#include "python/common.hpp"

#include <pybind11/detail/function_record_pyobject.h>

#include <cstring>

namespace {

namespace pyd = py::detail;

// A method bound without argument descriptions carries no record for self and so accepts None, which
// reaches the method as a null object. Give every overload of a method a self record that refuses
// None: the call then fails overload resolution with TypeError, as methods with descriptions do.
void refuse_none_self(py::handle fn) {
    fn = pyd::get_function(fn);
    if (!fn || !PyCFunction_Check(fn.ptr())) return;
    PyObject* self = PyCFunction_GET_SELF(fn.ptr());
    if (self == nullptr) return;
    for (pyd::function_record* rec = pyd::function_record_ptr_from_PyObject(self); rec != nullptr;
         rec = rec->next) {
        // Constructors check their self themselves (and it is never None there).
        if (!rec->is_method || rec->is_constructor) continue;
        // The record owns its argument names (they are freed with it), hence the copy.
        if (rec->args.empty())
            rec->args.emplace_back(strdup("self"), nullptr, py::handle(), /*convert=*/true, /*none=*/false);
        else
            rec->args.front().none = false;
    }
}

void refuse_none_self_in_class(py::handle cls) {
    const py::dict members = py::reinterpret_borrow<py::dict>(reinterpret_cast<PyTypeObject*>(cls.ptr())->tp_dict);
    for (const auto item : members) {
        py::handle value = item.second;
        if (PyType_Check(value.ptr())) {
            if (pyd::get_type_info(reinterpret_cast<PyTypeObject*>(value.ptr())) != nullptr)
                refuse_none_self_in_class(value);
        } else if (PyObject_TypeCheck(value.ptr(), &PyProperty_Type)) {
            refuse_none_self(value.attr("fget"));
            refuse_none_self(value.attr("fset"));
        } else if (!PyObject_TypeCheck(value.ptr(), &PyStaticMethod_Type)) {
            refuse_none_self(value);
        }
    }
}

}  // namespace

void refuse_none_self_in_methods(py::module_& m) {
    for (const auto item : m.attr("__dict__").cast<py::dict>()) {
        py::handle value = item.second;
        if (PyType_Check(value.ptr()) && pyd::get_type_info(reinterpret_cast<PyTypeObject*>(value.ptr())) != nullptr)
            refuse_none_self_in_class(value);
    }
}
