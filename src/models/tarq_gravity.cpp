// Gravity formulas of the swirl model, each evaluated in the operation order its results are fixed by.
#include "models/tarq_gravity.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

// f(r, r_c^2, -Lambda) for every radius, after the check of r_c.
template <class F>
std::vector<double> per_radius(const std::vector<double>& radii, double Lambda, double r_c, F f) {
    if (r_c <= 0.0) throw std::invalid_argument("r_c must be positive.");
    const double rc2 = r_c * r_c;
    const double strength = -Lambda;
    std::vector<double> out(radii.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < radii.size(); ++i) {
        poller.tick();
        out[i] = f(radii[i], rc2, strength);
    }
    return out;
}

}  // namespace

double TARQGravity::compute_G_swirl(double v_swirl, double t_p, double F_max, double r_c, double c) {
    if (F_max <= 0.0 || r_c <= 0.0) throw std::invalid_argument("F_max and r_c must be positive.");
    const double c5 = (((c * c) * c) * c) * c;
    return (((v_swirl * c5) * t_p) * t_p) / (((2.0 * F_max) * r_c) * r_c);
}

std::vector<double> TARQGravity::compute_beltrami_shear(const std::vector<Vec3>& B_field,
                                                        const std::vector<Vec3>& Curl_B) {
    if (B_field.size() != Curl_B.size()) throw std::invalid_argument("B_field and Curl_B must have the same size.");
    std::vector<double> out(B_field.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < B_field.size(); ++i) {
        poller.tick();
        out[i] = vec3::norm(vec3::cross(B_field[i], Curl_B[i]));
    }
    return out;
}

std::vector<double> TARQGravity::compute_gravity_dilation(const std::vector<Vec3>& B_field, double omega_drive,
                                                          double /*v_swirl*/, double B_saturation) {
    if (B_saturation <= 0.0) throw std::invalid_argument("B_saturation must be positive.");
    const double drive = omega_drive > 0.0 ? std::log10(omega_drive) : 0.0;
    const double k = 1.0 / B_saturation;
    std::vector<double> out(B_field.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < B_field.size(); ++i) {
        poller.tick();
        const double t = (vec3::norm(B_field[i]) * k) * drive;
        // This operand order keeps a NaN (std::max(0.0, x) would turn it into 0).
        out[i] = std::min(std::max(1.0 - t * t, 0.0), 1.0);
    }
    return out;
}

std::vector<double> TARQGravity::compute_helicity_density(const std::vector<Vec3>& A_field,
                                                          const std::vector<Vec3>& B_field) {
    if (A_field.size() != B_field.size()) throw std::invalid_argument("A_field and B_field must have the same size.");
    std::vector<double> out(A_field.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < A_field.size(); ++i) {
        poller.tick();
        out[i] = vec3::dot(A_field[i], B_field[i]);
    }
    return out;
}

std::vector<double> TARQGravity::compute_swirl_coulomb_potential(const std::vector<double>& radii, double Lambda,
                                                                 double r_c) {
    return per_radius(radii, Lambda, r_c,
                      [](double r, double rc2, double strength) { return strength / std::sqrt(r * r + rc2); });
}

std::vector<double> TARQGravity::compute_swirl_coulomb_force(const std::vector<double>& radii, double Lambda,
                                                             double r_c) {
    return per_radius(radii, Lambda, r_c, [](double r, double rc2, double strength) {
        const double p = std::pow(r * r + rc2, 1.5);
        return p > 0.0 ? (r * strength) / p : 0.0;
    });
}

}  // namespace tarq
