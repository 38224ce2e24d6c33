// Time-field model: the gravitational potentials of a vortex point set and the time-dilation maps.
#include "models/time_field.hpp"

#include <cmath>
#include <stdexcept>
#include <string>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

// Vorticity is paired with positions by index; a shorter sequence would be read past its end.
void require_paired(const char* op, const std::vector<Vec3>& positions, const std::vector<Vec3>& vorticity) {
    if (vorticity.size() < positions.size()) {
        throw std::invalid_argument(std::string(op) +
                                    ": vorticity must hold at least as many entries as positions");
    }
}

// Calls f(j, d, r2) for every point j other than i, in order, with d = p_i - p_j and r2 = |d|^2.
template <class F>
void each_other_point(const std::vector<Vec3>& positions, std::size_t i, F f) {
    const Vec3& pi = positions[i];
    for (std::size_t j = 0; j < positions.size(); ++j) {
        if (j == i) continue;
        const Vec3 d = vec3::sub(pi, positions[j]);
        f(j, d, vec3::norm2(d));
    }
}

std::vector<double> gaussian_potential(const std::vector<Vec3>& positions, const std::vector<Vec3>& vorticity,
                                       double epsilon) {
    const std::size_t n = positions.size();
    std::vector<double> out(n);
    if (n == 0) return out;
    const double den = (epsilon + epsilon) * epsilon;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick(n);
        double bx = 0.0, by = 0.0, bz = 0.0;
        each_other_point(positions, i, [&](std::size_t j, const Vec3&, double r2) {
            const double w = std::exp((-r2) / den);
            const Vec3& om = vorticity[j];
            bx += w * om[0];
            by += w * om[1];
            bz += w * om[2];
        });
        out[i] = -0.5 * ((bx * bx + by * by) + bz * bz);
    }
    return out;
}

std::vector<double> sqrt_dilation(const std::vector<Vec3>& tangents, double C_e) {
    std::vector<double> out(tangents.size());
    const double c2 = C_e * C_e;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < tangents.size(); ++i) {
        poller.tick();
        const Vec3& t = tangents[i];
        const double a = ((t[0] * t[0] + t[1] * t[1]) + t[2] * t[2]) / c2;
        // NaN fails the test on purpose and yields NaN below.
        out[i] = (a >= 1.0) ? std::sqrt(1.0000000000287557e-06) : std::sqrt(1.0 - a);
    }
    return out;
}

}  // namespace

std::vector<double> TimeField::compute_gravitational_potential_gradient(const std::vector<Vec3>& positions,
                                                                        const std::vector<Vec3>& vorticity,
                                                                        double epsilon) {
    require_paired("compute_gravitational_potential_gradient", positions, vorticity);
    return gaussian_potential(positions, vorticity, epsilon);
}

std::vector<double> TimeField::compute_gravitational_potential_direct(const std::vector<Vec3>& positions,
                                                                      const std::vector<Vec3>& vorticity,
                                                                      double epsilon) {
    require_paired("compute_gravitational_potential_direct", positions, vorticity);
    const std::size_t n = positions.size();
    std::vector<double> out(n);
    if (n == 0) return out;
    const double e2 = epsilon * epsilon;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < n; ++i) {
        poller.tick(n);
        double s = 0.0;
        each_other_point(positions, i, [&](std::size_t j, const Vec3& d, double r2) {
            s += vec3::dot(d, vorticity[j]) / std::pow(r2 + e2, 1.5);
        });
        out[i] = s * (-constants::kInvFourPi);
    }
    return out;
}

std::vector<double> TimeField::compute_time_dilation_map_sqrt(const std::vector<Vec3>& tangents, double C_e) {
    return sqrt_dilation(tangents, C_e);
}

std::vector<double> TimeField::compute_time_dilation_map_linear(const std::vector<Vec3>& tangents, double C_e) {
    std::vector<double> out(tangents.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < tangents.size(); ++i) {
        poller.tick();
        const Vec3& t = tangents[i];
        out[i] = 1.0 - ((t[0] * t[0] + t[1] * t[1]) + t[2] * t[2]) / (C_e * C_e);
    }
    return out;
}

std::vector<double> compute_gravitational_potential(const std::vector<Vec3>& positions,
                                                    const std::vector<Vec3>& vorticity, double epsilon) {
    require_paired("compute_gravitational_potential", positions, vorticity);
    return gaussian_potential(positions, vorticity, epsilon);
}

std::vector<double> compute_time_dilation_map(const std::vector<Vec3>& tangents, double C_e) {
    return sqrt_dilation(tangents, C_e);
}

}  // namespace tarq
