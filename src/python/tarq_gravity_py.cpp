// Python class TARQGravity: the gravity formulas of the swirl model, plus the swirl clock and the swirl
// kinetic energy density computed here.
#include "python/common.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "python/convert.hpp"
#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"
#include "models/tarq_gravity.hpp"

namespace {

using tarq::Vec3;

// Array arguments arrive in any layout (nested lists and scalars included) and are made C-contiguous
// when the call runs; a failure there keeps NumPy's own error.
using AnyArray = py::array_t<double, py::array::forcecast>;

std::vector<Vec3> tarq_to_vec3_list(const AnyArray& a) {
    return tarq_py::rows_to_vec3(tarq_py::c_contiguous(a), "Expected array with shape (N, 3)");
}

std::vector<double> tarq_to_scalar_list(const AnyArray& a) {
    const tarq_py::CArray c = tarq_py::c_contiguous(a);
    tarq_py::require(c.ndim() == 1, "Expected 1D array with shape (N,)");
    return tarq_py::to_doubles(c);
}

// The methods' docstrings share one indentation.
std::string doc(const char* text) { return std::string("\n                ") + text + "\n            "; }

}  // namespace

void bind_tarq_gravity(py::module_& m) {
    using tarq::TARQGravity;
    py::class_<TARQGravity>(m, "TARQGravity")
        .def_static(
            "compute_beltrami_shear",
            [](const AnyArray& B_field, const AnyArray& Curl_B) {
                const auto B = tarq_to_vec3_list(B_field);
                const auto W = tarq_to_vec3_list(Curl_B);
                return TARQGravity::compute_beltrami_shear(B, W);
            },
            py::arg("B_field"), py::arg("Curl_B"),
            doc("Compute the Beltrami shear metric S = || B x (curl B) ||.").c_str())
        .def_static(
            "compute_gravity_dilation",
            [](const AnyArray& B_field, double omega_drive, double v_swirl, double B_saturation) {
                return TARQGravity::compute_gravity_dilation(tarq_to_vec3_list(B_field), omega_drive, v_swirl,
                                                             B_saturation);
            },
            py::arg("B_field"), py::arg("omega_drive"), py::arg("v_swirl") = tarq::constants::kSwirlSpeed,
            py::arg("B_saturation") = 100.0,
            doc("Compute a phenomenological gravity reduction factor G_local\n"
                "                driven by EM excitation.")
                .c_str())
        .def_static(
            "compute_helicity_density",
            [](const AnyArray& A_field, const AnyArray& B_field) {
                const auto A = tarq_to_vec3_list(A_field);
                const auto B = tarq_to_vec3_list(B_field);
                return TARQGravity::compute_helicity_density(A, B);
            },
            py::arg("A_field"), py::arg("B_field"), doc("Compute magnetic helicity density h = A \u00b7 B.").c_str())
        .def_static(
            "compute_swirl_clock",
            [](const AnyArray& v_swirl_field, double c) {
                const auto v = tarq_to_vec3_list(v_swirl_field);
                const double c2 = c * c;
                std::vector<double> out(v.size());
                tarq::InterruptPoller poller(tarq::kPollWork);
                // max(x, 0.0) in this operand order keeps a NaN.
                for (std::size_t i = 0; i < v.size(); ++i) {
                    poller.tick();
                    out[i] = std::sqrt(std::max(1.0 - tarq::vec3::norm2(v[i]) / c2, 0.0));
                }
                return out;
            },
            py::arg("v_swirl_field"), py::arg("c") = tarq::constants::kSpeedOfLight,
            doc("Compute the Swirl Clock factor S_t at each sample.").c_str())
        .def_static(
            "compute_swirl_coulomb_potential",
            [](const AnyArray& radii, double Lambda, double r_c) {
                return TARQGravity::compute_swirl_coulomb_potential(tarq_to_scalar_list(radii), Lambda, r_c);
            },
            py::arg("radii"), py::arg("Lambda"), py::arg("r_c"),
            doc("Compute the Swirl Coulomb potential V(r) = -Lambda / sqrt(r^2 + r_c^2).").c_str())
        .def_static(
            "compute_swirl_coulomb_force",
            [](const AnyArray& radii, double Lambda, double r_c) {
                return TARQGravity::compute_swirl_coulomb_force(tarq_to_scalar_list(radii), Lambda, r_c);
            },
            py::arg("radii"), py::arg("Lambda"), py::arg("r_c"),
            doc("Compute the radial Swirl Coulomb force F_r(r).").c_str())
        .def_static(
            "compute_swirl_energy_density",
            [](const AnyArray& v_field, double rho_f) {
                const auto v = tarq_to_vec3_list(v_field);
                const double k = rho_f * 0.5;
                std::vector<double> out(v.size());
                tarq::InterruptPoller poller(tarq::kPollWork);
                for (std::size_t i = 0; i < v.size(); ++i) {
                    poller.tick();
                    out[i] = tarq::vec3::norm2(v[i]) * k;
                }
                return out;
            },
            py::arg("v_field"), py::arg("rho_f"),
            doc("Compute swirl kinetic energy density rho_E = 0.5 * rho_f * ||v||^2.").c_str())
        .def_static("compute_G_swirl", &TARQGravity::compute_G_swirl, py::arg("v_swirl"), py::arg("t_p"),
                    py::arg("F_max"), py::arg("r_c"), py::arg("c") = tarq::constants::kSpeedOfLight,
                    doc("Compute the effective Swirl gravitational coupling G_swirl.").c_str());
}
