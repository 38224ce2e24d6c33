// Frenet family: discrete frames, curvature and torsion, the single-precision helicity mean and the
// one-step position update. The frame routines' out-parameters come back as tuples; short or unequal
// inputs are rejected (std::invalid_argument, Python ValueError): here for fewer than two entries, which
// the library routines answer with bare resized outputs, and by the routines for unequal lengths.
#include "python/common.hpp"

#include <stdexcept>
#include <vector>

#include "core/frenet_helicity.hpp"

using tarq::FrenetHelicity;
using tarq::Vec3;

void bind_frenet_helicity(py::module_& m) {
    m.def(
        "compute_frenet_frames",
        [](const tarq::Polyline& points) {
            if (points.size() < 2) throw std::invalid_argument("compute_frenet_frames: need at least 2 points");
            std::vector<Vec3> T, N, B;
            FrenetHelicity::compute_frenet_frames(points, T, N, B);
            return tarq_py::result_tuple(T, N, B);
        },
        "\n        Compute Frenet frames (T, N, B) from 3D filament points.\n"
        "        Returns: (T, N, B) as tuple of lists.\n    ");
    m.def(
        "compute_curvature_torsion",
        [](const std::vector<Vec3>& T, const std::vector<Vec3>& N) {
            if (T.size() < 2) throw std::invalid_argument("compute_curvature_torsion: need at least 2 tangents");
            std::vector<double> curvature, torsion;
            FrenetHelicity::compute_curvature_torsion(T, N, curvature, torsion);
            return tarq_py::result_tuple(curvature, torsion);
        },
        "\n\t\tCompute curvature and torsion from tangent and normal vectors.\n"
        "\t\tReturns: (curvature, torsion) as tuple of lists.\n\t");
    // Appended to the overload chain that the fluid-dynamics form opened, so it is tried second.
    m.def(
        "compute_helicity",
        [](const std::vector<Vec3>& v, const std::vector<Vec3>& w) {
            return static_cast<double>(FrenetHelicity::compute_helicity(v, w));
        },
        "\n        Compute helicity H = \u222b v \u00b7 \u03c9 dV.\n    ");
    m.def("evolve_vortex_knot", &FrenetHelicity::evolve_vortex_knot,
          "\n        Evolve vortex knot filaments using Biot\u2013Savart dynamics.\n    ");
    m.def("rk4_integrate", &FrenetHelicity::rk4_integrate,
          "\n        Runge-Kutta 4th order time integrator for vortex elements.\n    ");
}
