#include "python/common.hpp"
#include "python/paths.hpp"

#include <exception>
#include <stdexcept>
#include <string>

#include "core/errors.hpp"
#include "core/interrupt.hpp"

namespace {

// What the interrupt hook throws: the Python exception a signal handler raised. It derives from no standard
// exception, so library code that wraps its own failures in a message of its own (catch std::exception)
// lets it pass unchanged.
struct SignalRaised {
    py::error_already_set error;
};

// Long loops of the library poll this: a pending signal (Ctrl-C) runs its Python handler, and the
// exception it raises (KeyboardInterrupt) unwinds the C++ computation back to the caller.
void check_python_signals() {
    if (PyErr_CheckSignals() != 0) throw SignalRaised{py::error_already_set()};
}

// The handler's exception reaches Python as it was raised.
void translate_signal_raised(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const SignalRaised& e) {
        throw e.error;  // the binding library restores it
    }
}

// The Python type the binding library gives a standard exception of this kind.
PyObject* python_type_of(const tarq::WholeMessage& e) {
    if (dynamic_cast<const std::out_of_range*>(&e)) return PyExc_IndexError;
    if (dynamic_cast<const std::overflow_error*>(&e)) return PyExc_OverflowError;
    if (dynamic_cast<const std::invalid_argument*>(&e) || dynamic_cast<const std::domain_error*>(&e) ||
        dynamic_cast<const std::length_error*>(&e) || dynamic_cast<const std::range_error*>(&e))
        return PyExc_ValueError;
    return PyExc_RuntimeError;
}

// Messages that quote caller text may hold NUL bytes, where the standard what() would end them, and file
// names that are not UTF-8: the library keeps the whole text, and the Python exception carries it decoded
// as file names are, so that a quoted name is the one os.listdir gives.
void translate_whole_messages(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const tarq::WholeMessage& e) {
        PyObject* value = tarq_py::fs_decode(e.message());
        if (value == nullptr) return;  // the decoding error stands in for the exception
        PyErr_SetObject(python_type_of(e), value);
        Py_DECREF(value);
    }
}

}  // namespace

PYBIND11_MODULE(_bindings, m) {
    m.doc() = "TARQ Core Bindings (backwards compatibility alias)";
    tarq::set_interrupt_hook(&check_python_signals);
    py::register_exception_translator(&translate_whole_messages);
    py::register_exception_translator(&translate_signal_raised);
    bind_ab_initio(m);
    bind_biot_savart(m);
    bind_fluid_dynamics(m);
    bind_field_kernels(m);
    bind_field_ops(m);
    bind_knot(m);
    bind_frenet_helicity(m);
    bind_magnus_integrator(m);
    bind_timefield(m);
    bind_hyperbolic_volume(m);
    bind_radiation_flow(m);
    bind_swirl_field(m);
    bind_thermo_dynamics(m);
    bind_time_evolution(m);
    bind_vortex_ring(m);
    bind_vorticity_dynamics(m);
    bind_tarq_gravity(m);
    bind_tarq_integrator(m);
    bind_extensions(m);
    define_list_bindings(m);
    guard_bound_classes(m);
    // Runs before the interpreter clears its modules, after which imports fail.
    py::module_::import("atexit").attr("register")(py::cpp_function(&tarq_py::seq::look_up_before_shutdown));
}
