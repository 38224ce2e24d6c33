// Vorticity formulas as module functions; the grid form joins compute_vorticity as its second overload.
#include "python/common.hpp"

#include "python/convert.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "models/vorticity_dynamics.hpp"

using tarq::VorticityDynamics;

void bind_vorticity_dynamics(py::module_& m) {
    m.def("vorticity_z_2D", &VorticityDynamics::vorticity_z_2D, py::arg("dv_dx"), py::arg("du_dy"),
          "Compute 2D vorticity: dv/dx - du/dy");
    m.def("local_circulation_density", &VorticityDynamics::local_circulation_density, py::arg("dv_dx"),
          py::arg("du_dy"), "Local circulation density (vorticity) via Stokes' theorem");
    m.def("solid_body_rotation_vorticity", &VorticityDynamics::solid_body_rotation_vorticity, py::arg("omega"),
          "Vorticity of solid body rotation: 2 * omega");
    m.def("couette_vorticity", &VorticityDynamics::couette_vorticity, py::arg("alpha"),
          "Vorticity of Couette flow: -alpha");
    m.def("crocco_relation", &VorticityDynamics::crocco_relation, py::arg("vorticity"), py::arg("rho"),
          py::arg("pressure_gradient"), "Velocity-curl product equals pressure gradient divided by density");
    // Appended to the chain that the velocity-gradient form opened, so it is tried second.
    m.def(
        "compute_vorticity",
        [](const std::vector<double>& u, const std::vector<double>& v, int nx, int ny, double dx, double dy) {
            // Checked here as well, so that the message names the function Python called; a count outside
            // the 32-bit range is left to the library's own error.
            const std::int64_t count = static_cast<std::int64_t>(nx) * static_cast<std::int64_t>(ny);
            if (count >= 0 && count <= std::numeric_limits<std::int32_t>::max()) {
                const auto n = static_cast<std::size_t>(count);
                tarq_py::require(u.size() >= n && v.size() >= n,
                                 "compute_vorticity: u and v must each hold at least nx*ny values");
            }
            return VorticityDynamics::compute_vorticity2D(u, v, nx, ny, dx, dy);
        },
        py::arg("u"), py::arg("v"), py::arg("nx"), py::arg("ny"), py::arg("dx"), py::arg("dy"),
        "Vorticity tools for 2D flows");
    m.def("rotating_frame_rhs", &VorticityDynamics::rotating_frame_rhs, py::arg("velocity"), py::arg("vorticity"),
          py::arg("grad_phi"), py::arg("grad_p"), py::arg("omega"), py::arg("rho"),
          "Compute rotating frame momentum RHS");
    m.def("crocco_gradient", &VorticityDynamics::crocco_gradient, py::arg("velocity"), py::arg("vorticity"),
          py::arg("grad_phi"), py::arg("grad_p"), py::arg("rho"), "Compute \u2207H from Crocco's theorem");
    m.def("baroclinic_term", &VorticityDynamics::baroclinic_term, py::arg("grad_rho"), py::arg("grad_p"),
          py::arg("rho"), "Baroclinic torque term");
    m.def("compute_vorticity_rhs", &VorticityDynamics::compute_vorticity_rhs, py::arg("omega"), py::arg("grad_u"),
          py::arg("div_u"), py::arg("grad_rho"), py::arg("grad_p"), py::arg("rho"), "Vorticity transport RHS");
}
