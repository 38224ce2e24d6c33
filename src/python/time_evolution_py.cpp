// TimeEvolution: a filament advanced by explicit Euler steps of its own point Biot-Savart velocity.
#include "python/common.hpp"
#include "python/call_copy.hpp"

#include <memory>
#include <utility>
#include <vector>

#include "core/time_evolution.hpp"

using tarq::TimeEvolution;
using tarq::Vec3;

void bind_time_evolution(py::module_& m) {
    py::class_<TimeEvolution>(m, "TimeEvolution")
        .def(py::init([](std::vector<Vec3> initial_positions, std::vector<Vec3> initial_tangents, double gamma) {
                 return std::make_unique<TimeEvolution>(std::move(initial_positions), std::move(initial_tangents),
                                                        gamma);
             }),
             py::arg("initial_positions"), py::arg("initial_tangents"), py::arg("gamma") = 1.0)
        .def("evolve", tarq_py::on_copy(&TimeEvolution::evolve), py::arg("dt"), py::arg("steps"))
        // The points' caster converts a reference into the object from a copy of its own.
        .def("get_positions", &TimeEvolution::get_positions)
        .def("get_tangents", &TimeEvolution::get_tangents);
}
