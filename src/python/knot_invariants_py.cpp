// Knot family, invariants: writhe, linking, twist and crossings, the PD code and the grid helicity pipeline.
#include "python/knot_py.hpp"

#include <string>
#include <vector>

#include "core/knot_dynamics.hpp"

using tarq::KnotDynamics;

namespace knot_py {

// Invariants of point sequences; all but the crossing-number estimate take their arguments by position.
void bind_invariants(py::module_& m) {
    using FR = KnotDynamics::FourierResult;
    py::class_<FR>(m, "FourierResult")
        .def_readonly("positions", &FR::positions)
        .def_readonly("tangents", &FR::tangents);

    m.def("compute_writhe", &KnotDynamics::compute_writhe,
          "\n        Compute the writhe of a closed filament (topological self-linking).\n    ");
    m.def("compute_linking_number", &KnotDynamics::compute_linking_number,
          "\n        Compute the Gauss linking number between two closed loops.\n    ");
    m.def("compute_twist", &KnotDynamics::compute_twist,
          "\n        Compute twist from Frenet frames along a filament.\n    ");
    m.def("compute_centerline_helicity", &KnotDynamics::compute_centerline_helicity,
          "\n        Compute the centerline helicity as the sum of writhe and twist.\n    ");
    m.def("detect_reconnection_candidates", &KnotDynamics::detect_reconnection_candidates,
          "\n        Detect pairs of points on the filament that approach closely enough to be candidates for "
          "reconnection.\n    ");
    m.def("evaluate_fourier_series", &KnotDynamics::evaluate_fourier_series,
          "Evaluate a Fourier series for positions and tangents");
    m.def("writhe_gauss_curve", &KnotDynamics::writhe_gauss_curve, "Compute writhe via Gauss integral");
    m.def("estimate_crossing_number", &KnotDynamics::estimate_crossing_number, py::arg("r"), py::arg("directions") = 24, py::arg("seed") = 12345, "Estimate crossing number from projections");
}

// PD code and the grid helicity pipeline.
void bind_grid_functions(py::module_& m) {
    m.def(
        "pd_from_curve",
        [](const py::object& P3, int tries, unsigned int seed, double min_angle_deg, double depth_tol) {
            const Polyline pts = point_set(P3);
            return KnotDynamics::pd_from_curve(pts, tries, seed, min_angle_deg, depth_tol);
        },
        py::arg("P3"), py::arg("tries") = 40, py::arg("seed") = 12345u, py::arg("min_angle_deg") = 1.0,
        py::arg("depth_tol") = 1e-06, "\nCompute a PD code from a closed 3D polygonal curve.\n");
    m.def(
        "compute_biot_savart_velocity_grid",
        [](const py::object& curve, const py::object& grid_points) {
            const Polyline c = point_set(curve);
            const Polyline g = point_set(grid_points);
            return tarq_py::vec3_array(KnotDynamics::compute_biot_savart_velocity_grid(c, g));
        },
        py::arg("curve"), py::arg("grid_points"), "Compute Biot-Savart velocity field from a closed curve at grid points.");
    m.def(
        "compute_vorticity_grid",
        [](const CArray& velocity, const tarq::GridShape& shape, double spacing) {
            const std::vector<Vec3> v = to_vec3(velocity);
            return tarq_py::vec3_array(tarq_py::under_name(
                "compute_vorticity_grid", [&] { return KnotDynamics::compute_vorticity_grid(v, shape, spacing); }));
        },
        py::arg("velocity"), py::arg("shape"), py::arg("spacing"),
        "Compute vorticity from velocity field on a regular grid.");
    m.def(
        "extract_interior_field",
        [](const CArray& field, const tarq::GridShape& shape, int margin) {
            const std::vector<Vec3> f = to_vec3(field);
            return tarq_py::vec3_array(tarq_py::under_name(
                "extract_interior_field", [&] { return KnotDynamics::extract_interior_field(f, shape, margin); }));
        },
        py::arg("field"), py::arg("shape"), py::arg("margin"), "Extract cubic interior field subset.");
    m.def(
        "compute_helicity_invariants",
        [](const CArray& v_sub, const CArray& w_sub, const CArray& r_sq) {
            const std::vector<Vec3> v = to_vec3(v_sub);
            const std::vector<Vec3> w = to_vec3(w_sub);
            require(r_sq.ndim() == 1 && static_cast<std::size_t>(r_sq.shape(0)) == v.size() &&
                        static_cast<std::size_t>(r_sq.shape(0)) == w.size(),
                    "r_sq must be 1D with same length as v_sub/w_sub");
            return KnotDynamics::compute_helicity_invariants(v, w, tarq_py::to_doubles(r_sq));
        },
        py::arg("v_sub"), py::arg("w_sub"), py::arg("r_sq"), "Compute helicity invariants (H_charge, H_mass, a_mu).");
    tarq_py::def_by_record(m, "compute_helicity_from_fourier_block", &KnotDynamics::compute_helicity_from_fourier_block, py::arg("block"), py::arg("grid_size") = 32, py::arg("spacing") = 0.1, py::arg("interior_margin") = 8,
        py::arg("nsamples") = 1000, "Compute helicity invariants from a Fourier block.");
    m.def(
        "compute_curvature",
        [](const CArray& points, double eps) {
            return tarq_py::double_array(FourierKnot::curvature(to_vec3(points), eps));
        },
        py::arg("points"), py::arg("eps") = 1e-08, "Compute discrete curvature from points.");
}

}  // namespace knot_py
