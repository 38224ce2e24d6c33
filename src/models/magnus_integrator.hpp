// MagnusBernoulliIntegrator: pointwise Magnus-curvature forces and screened swirl-Coulomb accelerations.
#pragma once

#include "core/types.hpp"

// An immutable calculator over four medium constants; it keeps nothing between calls.
class MagnusBernoulliIntegrator {
public:
    MagnusBernoulliIntegrator(double rho_f, double v_swirl, double r_c, double Gamma)
        : rho_f(rho_f), v_swirl(v_swirl), r_c(r_c), Gamma(Gamma) {}

    // rho_f Gamma (t x (v_knot - v_bg) + n / R); the curvature term is dropped unless R > 1e-30.
    tarq::Vec3 compute_magnus_force(const tarq::Vec3& tangent, const tarq::Vec3& normal, double curvature_radius,
                                    const tarq::Vec3& v_knot, const tarq::Vec3& v_bg) const;

    // -(v_swirl^2 / r) exp(-2 r / r_c) d / r with d = eval_pos - source_pos; zero for coincident points and
    // where the screening exponent falls below -700.
    tarq::Vec3 compute_swirl_coulomb_accel(const tarq::Vec3& eval_pos, const tarq::Vec3& source_pos) const;

private:
    double rho_f;
    double v_swirl;
    double r_c;
    double Gamma;
};
