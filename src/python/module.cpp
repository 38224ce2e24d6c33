#include "common.hpp"

PYBIND11_MODULE(_bindings, m) {
    m.doc() = "TARQ Core Bindings (backwards compatibility alias)";
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
}
