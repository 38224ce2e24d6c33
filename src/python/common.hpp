// Included first by every registration unit, so that all units see the same type casters.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;

// The casters of the library's number sequences, which every unit must see.
#include "python/sequences.hpp"

// Registration functions, called by the module body in this order.
void bind_ab_initio(py::module_& m);
void bind_biot_savart(py::module_& m);
void bind_fluid_dynamics(py::module_& m);
void bind_field_kernels(py::module_& m);
void bind_field_ops(py::module_& m);
void bind_knot(py::module_& m);
void bind_frenet_helicity(py::module_& m);
void bind_magnus_integrator(py::module_& m);
void bind_timefield(py::module_& m);
void bind_hyperbolic_volume(py::module_& m);
void bind_radiation_flow(py::module_& m);
void bind_swirl_field(py::module_& m);
void bind_thermo_dynamics(py::module_& m);
void bind_time_evolution(py::module_& m);
void bind_vortex_ring(py::module_& m);
void bind_vorticity_dynamics(py::module_& m);
void bind_tarq_gravity(py::module_& m);
void bind_tarq_integrator(py::module_& m);
void bind_extensions(py::module_& m);

void define_list_bindings(py::module_& m);

// Run last: every method of every class of the module refuses None as self, every call refuses an
// instance whose C++ object was never constructed (TypeError), and every class lives as long as the process.
void guard_bound_classes(py::module_& m);
