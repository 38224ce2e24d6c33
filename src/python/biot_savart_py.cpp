// Biot-Savart family: the BiotSavart class of static kernels, point and grid velocities, the
// closed-polyline energy kernels and the cutoff-energy scan.
#include "python/common.hpp"
#include "python/convert.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/polyline_kernels.hpp"

using tarq::BiotSavart;
using tarq::Polyline;
using tarq::Vec3;
using tarq_py::CArray;

namespace {

std::vector<Vec3> to_vec3_list(const CArray& a) { return tarq_py::rows_to_vec3(a, "Expected array with shape (N,3)"); }

void require_points_n3(py::ssize_t rows, py::ssize_t cols, const char* name) {
    (void)rows;
    if (cols != 3) throw std::runtime_error(std::string(name) + ": points must have shape (N, 3)");
}

// The closed-polyline kernels read N contiguous rows x, y, z.
template <class Kernel>
double closed_polyline(const CArray& points, const char* name, Kernel kernel) {
    const auto view = points.unchecked<2>();
    require_points_n3(view.shape(0), view.shape(1), name);
    return kernel(points.data(), static_cast<std::size_t>(view.shape(0)));
}

std::vector<double> cutoff_scan(const CArray& points, const CArray& tangents, const CArray& ds_arr, const double* a,
                                std::size_t M, const std::string& name) {
    const auto p = points.unchecked<2>();
    const auto t = tangents.unchecked<2>();
    const auto d = ds_arr.unchecked<1>();
    const py::ssize_t N = p.shape(0);
    if (t.shape(0) != N || d.shape(0) != N) throw std::runtime_error(name + ": inconsistent N dimensions");
    if (p.shape(1) != 3 || t.shape(1) != 3) {
        throw std::runtime_error(name + ": points/tangents must have shape (N, 3)");
    }
    return tarq::bs_cutoff_energy_scan(points.data(), tangents.data(), ds_arr.data(), static_cast<std::size_t>(N), a,
                                       M);
}

}  // namespace

void bind_biot_savart(py::module_& m) {
    py::class_<BiotSavart>(m, "BiotSavart")
        .def_static(
            "compute_velocity",
            [](const Polyline& curve, const std::vector<Vec3>& grid_points, double circulation) {
                return BiotSavart::computeVelocity(curve, grid_points, circulation);
            },
            py::arg("curve"), py::arg("grid_points"), py::arg("circulation") = 1.0,
            "Compute the Biot\u2013Savart velocity field from a closed curve at given grid points.\n"
            "Backward compatible with the historical 2-argument call; circulation defaults to 1.0.")
        // Short fields, negative margins and short pairs are rejected by the kernels themselves.
        .def_static("compute_vorticity", tarq_py::renamed("compute_vorticity", &BiotSavart::computeVorticity))
        .def_static("extract_interior", tarq_py::renamed("extract_interior", &BiotSavart::extractInterior))
        .def_static("compute_invariants", tarq_py::renamed("compute_invariants", &BiotSavart::computeInvariants));

    m.def("biot_savart_velocity", tarq_py::renamed("biot_savart_velocity", &BiotSavart::velocity), py::arg("r"), py::arg("filament_points"),
          py::arg("tangent_vectors"), py::arg("circulation") = 1.0, "Velocity at a single point r due to a filament.");
    m.def(
        "biot_savart_velocity_grid",
        [](const CArray& polyline, const CArray& grid, double circulation) {
            const Polyline curve = to_vec3_list(polyline);
            const std::vector<Vec3> points = to_vec3_list(grid);
            return tarq_py::vec3_array(BiotSavart::computeVelocity(curve, points, circulation));
        },
        py::arg("polyline"), py::arg("grid"), py::arg("circulation") = 1.0,
        "Biot\u2013Savart velocity at arbitrary grid points for a polyline.\n"
        "Backward compatible with the historical 2-argument call; circulation defaults to 1.0.");
    m.def(
        "calculate_neumann_self_energy",
        [](const CArray& points, double rc) {
            return closed_polyline(points, "calculate_neumann_self_energy", [rc](const double* xyz, std::size_t n) {
                return tarq::trefoil_neumann_self_energy(xyz, n, rc);
            });
        },
        py::arg("points"), py::arg("rc"), "Calculate Neumann integral C_N(K) (morrenta/tarq_core compatibility).");
    m.def(
        "calculate_core_repulsion",
        [](const CArray& points, double rc) {
            return closed_polyline(points, "calculate_core_repulsion", [rc](const double* xyz, std::size_t n) {
                return tarq::trefoil_core_repulsion(xyz, n, rc);
            });
        },
        py::arg("points"), py::arg("rc"), "Hard-core volume repulsion (morrenta/tarq_core compatibility).");
    m.def(
        "calculate_length",
        [](const CArray& points) {
            return closed_polyline(points, "calculate_length", [](const double* xyz, std::size_t n) {
                return tarq::trefoil_polyline_length(xyz, n);
            });
        },
        py::arg("points"), "Closed polyline length L(K) (morrenta/tarq_core compatibility).");
    m.def(
        "calculate_writhe",
        [](const CArray& points, double rc) {
            return closed_polyline(points, "calculate_writhe", [rc](const double* xyz, std::size_t n) {
                return tarq::trefoil_writhe_reg(xyz, n, rc);
            });
        },
        py::arg("points"), py::arg("rc"),
        "Topological writhe H(K) with distance regularization rc (morrenta/tarq_core compatibility).");
    m.def(
        "calculate_curvature_penalty",
        [](const CArray& points) {
            return closed_polyline(points, "calculate_curvature_penalty", [](const double* xyz, std::size_t n) {
                return tarq::trefoil_curvature_penalty_menger(xyz, n);
            });
        },
        py::arg("points"), "Menger curvature penalty integral (morrenta/tarq_core compatibility).");
    m.def(
        "calculate_bs_cutoff_energy_scan",
        [](const CArray& points, const CArray& tangents, const CArray& ds_arr, const CArray& a_values) {
            const auto p = points.unchecked<2>();
            const auto t = tangents.unchecked<2>();
            const auto d = ds_arr.unchecked<1>();
            const auto a = a_values.unchecked<1>();
            (void)p;
            (void)t;
            (void)d;
            const auto M = static_cast<std::size_t>(a.shape(0));
            return tarq_py::double_array(
                cutoff_scan(points, tangents, ds_arr, a_values.data(), M, "calculate_bs_cutoff_energy_scan"));
        },
        py::arg("points"), py::arg("tangents"), py::arg("ds_arr"), py::arg("a_values"),
        "Accumulate a whole cutoff scan in one C++ pass (same kernel as morrenta/tarq_core).");
    m.def(
        "calculate_bs_cutoff_energy",
        [](const CArray& points, const CArray& tangents, const CArray& ds_arr, double a_cutoff) {
            return cutoff_scan(points, tangents, ds_arr, &a_cutoff, 1, "calculate_bs_cutoff_energy")[0];
        },
        py::arg("points"), py::arg("tangents"), py::arg("ds_arr"), py::arg("a_cutoff"),
        "Single-cutoff Biot\u2013Savart energy for closure scans.");
}
