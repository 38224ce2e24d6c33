// Magnus-curvature force and swirl-Coulomb acceleration, in the operation order that fixes the signs of zeros.
#include "models/magnus_integrator.hpp"

#include <cmath>

#include "core/vec3.hpp"

using tarq::Vec3;

Vec3 MagnusBernoulliIntegrator::compute_magnus_force(const Vec3& tangent, const Vec3& normal,
                                                     double curvature_radius, const Vec3& v_knot,
                                                     const Vec3& v_bg) const {
    Vec3 curvature_term{0.0, 0.0, 0.0};
    // A NaN radius fails the test too and drops the term.
    if (curvature_radius > 1e-30) curvature_term = tarq::vec3::scale(normal, 1.0 / curvature_radius);
    const Vec3 c = tarq::vec3::cross(tangent, tarq::vec3::sub(v_knot, v_bg));
    return tarq::vec3::scale(tarq::vec3::add(c, curvature_term), rho_f * Gamma);
}

Vec3 MagnusBernoulliIntegrator::compute_swirl_coulomb_accel(const Vec3& eval_pos, const Vec3& source_pos) const {
    const Vec3 d = tarq::vec3::sub(eval_pos, source_pos);
    const double r = tarq::vec3::norm(d);
    if (r < 1e-30) return {0.0, 0.0, 0.0};
    const double e = (r / r_c) * -2.0;
    // A NaN exponent fails this test and propagates into the result.
    if (e < -700.0) return {0.0, 0.0, 0.0};
    const double q = 1.0 / r;
    const double a = std::exp(e) * ((-v_swirl * v_swirl) / r);
    return {a * (d[0] * q), a * (d[1] * q), a * (d[2] * q)};
}
