// Guards of every bound class: methods refuse None as self, no call runs on an instance whose C++ object
// was never constructed, and no class is freed while the interpreter shuts down.
#include "python/common.hpp"

#include <pybind11/detail/function_record_pyobject.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

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

// An instance made by Class.__new__(Class) holds no C++ object until __init__ runs. When such an instance
// is loaded (as self, as an argument, or inside a list), the binding library allocates the object's storage
// through the type's allocation function and runs the call on that uninitialised memory. Every bound class
// gets an allocation function that raises TypeError naming the class instead, so nothing is allocated or
// read. An allocation function takes only a size, so each class has its own instance of the template below.
constexpr std::size_t kMaxClasses = 64;
std::array<std::string, kMaxClasses> g_unconstructed_messages;

template <std::size_t K>
void* refuse_unconstructed(std::size_t) {
    throw py::type_error(g_unconstructed_messages[K]);
}

using AllocationFunction = void* (*)(std::size_t);

template <std::size_t... K>
constexpr std::array<AllocationFunction, sizeof...(K)> refusers(std::index_sequence<K...>) {
    return {&refuse_unconstructed<K>...};
}

constexpr std::array<AllocationFunction, kMaxClasses> kRefusers = refusers(std::make_index_sequence<kMaxClasses>());

class ClassGuard {
public:
    void guard(py::handle cls) {
        pyd::type_info* info = pyd::get_type_info(reinterpret_cast<PyTypeObject*>(cls.ptr()));
        if (info == nullptr) return;
        keep_registered(cls);
        refuse_unconstructed_instances(cls, *info);
        const py::dict members =
            py::reinterpret_borrow<py::dict>(reinterpret_cast<PyTypeObject*>(cls.ptr())->tp_dict);
        for (const auto item : members) {
            py::handle value = item.second;
            if (PyType_Check(value.ptr())) {
                guard(value);
            } else if (PyObject_TypeCheck(value.ptr(), &PyProperty_Type)) {
                refuse_none_self(value.attr("fget"));
                refuse_none_self(value.attr("fset"));
            } else if (!PyObject_TypeCheck(value.ptr(), &PyStaticMethod_Type)) {
                refuse_none_self(value);
            }
        }
    }

private:
    // The binding library forgets a class's C++ type when the class object is freed. While the interpreter
    // shuts down, it clears the module's dictionary and its last collections free every class that no
    // instance holds, yet finalizers still call the module then: a C++ value of such a class (an element of
    // IdealABBlock.components, a GeometricDescriptors result) would no longer convert (TypeError
    // "Unregistered type", a null object from py::cast). Each class is therefore held for the life of the
    // process.
    void keep_registered(py::handle cls) {
        // Held once, however often the class is reached.
        if (held_.insert(cls.ptr()).second) cls.inc_ref();
    }

    void refuse_unconstructed_instances(py::handle cls, pyd::type_info& info) {
        // A class reached twice (a nested class also bound at module level) keeps its first function.
        if (info.operator_new != nullptr) return;
        if (next_ == kMaxClasses) throw std::runtime_error("more bound classes than unconstructed-instance guards");
        const std::string name = py::str(cls.attr("__name__"));
        g_unconstructed_messages[next_] = name + " object is not initialised: call " + name + "(...) first";
        info.operator_new = kRefusers[next_];
        ++next_;
    }

    std::unordered_set<PyObject*> held_;
    std::size_t next_ = 0;
};

}  // namespace

void guard_bound_classes(py::module_& m) {
    ClassGuard guard;
    for (const auto item : m.attr("__dict__").cast<py::dict>()) {
        if (PyType_Check(item.second.ptr())) guard.guard(item.second);
    }
}
