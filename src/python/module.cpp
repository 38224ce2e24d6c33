#include "python/common.hpp"

#include "core/interrupt.hpp"

namespace {

// Long loops of the library poll this: a pending signal (Ctrl-C) runs its Python handler, and the
// exception it raises (KeyboardInterrupt) unwinds the C++ computation back to the caller.
void check_python_signals() {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

}  // namespace

PYBIND11_MODULE(_bindings, m) {
    m.doc() = "TARQ Core Bindings (backwards compatibility alias)";
    tarq::set_interrupt_hook(&check_python_signals);
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
    refuse_none_self_in_methods(m);
}
