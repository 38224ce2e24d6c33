// Local geometry of a sampled open filament: discrete Frenet frames, curvature and torsion,
// mean helicity density and a one-step position update.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

// v divided by its length; no guard, so the zero vector gives NaN components.
Vec3 normalize(const Vec3& v);

class FrenetHelicity {
public:
    // Unit central-difference tangents, unit second-difference normals (not orthogonalised) and
    // B = T x N at the interior samples; the end entries copy their neighbours.
    static void compute_frenet_frames(const Polyline& X, std::vector<Vec3>& T, std::vector<Vec3>& N,
                                      std::vector<Vec3>& B);
    // Curvature and torsion per index step (not divided by any spacing); ends copy their neighbours.
    static void compute_curvature_torsion(const std::vector<Vec3>& T, const std::vector<Vec3>& N,
                                          std::vector<double>& kappa, std::vector<double>& tau);
    // Mean of v_i . w_i, accumulated in single precision.
    static float compute_helicity(const std::vector<Vec3>& v, const std::vector<Vec3>& w);
    // One explicit step X_i + (a*b) V_i (despite the name, not a Runge-Kutta step).
    static std::vector<Vec3> rk4_integrate(const std::vector<Vec3>& X, const std::vector<Vec3>& V, double a,
                                           double b);
    // Same step as rk4_integrate.
    static std::vector<Vec3> evolve_vortex_knot(const std::vector<Vec3>& X, const std::vector<Vec3>& V, double a,
                                                double b);
};

}  // namespace tarq
