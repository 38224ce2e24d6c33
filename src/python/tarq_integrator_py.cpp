// Python name of the filament mass integral: the core and fluid masses of a closed polyline as a tuple.
#include "python/common.hpp"

#include <tuple>
#include <vector>

#include "models/tarq_integrator.hpp"

void bind_tarq_integrator(py::module_& m) {
    m.def(
        "compute_tarq_mass",
        [](const std::vector<tarq::Vec3>& points, double chi_spin) {
            double m_core_kg = 0.0;
            double m_fluid_kg = 0.0;
            tarq::compute_tarq_mass(points, chi_spin, m_core_kg, m_fluid_kg);
            return std::make_tuple(m_core_kg, m_fluid_kg);
        },
        py::arg("points"), py::arg("chi_spin"),
        "\nCompute TARQ mass (core + fluid) for a closed polyline.\n\nUses Rosenhead\u2013Moore regularized Neumann "
        "mutual inductance integral.\npoints: list of [x,y,z] (closed curve by convention).\nchi_spin: spin factor "
        "(e.g. 2 for fermion).\nReturns: (m_core_kg, m_fluid_kg).\n");
}
