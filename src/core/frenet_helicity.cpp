#include "core/frenet_helicity.hpp"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

using vec3::cross;
using vec3::dot;
using vec3::norm;
using vec3::sub;

// Shared by both names of the explicit step.
std::vector<Vec3> euler_step(const char* op, const std::vector<Vec3>& X, const std::vector<Vec3>& V, double a,
                             double b) {
    if (V.size() < X.size()) {
        throw std::invalid_argument(std::string(op) + ": V must have at least as many entries as X");
    }
    const double s = a * b;
    std::vector<Vec3> out(X);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < out.size(); ++i) {
        poller.tick();
        for (int c = 0; c < 3; ++c) out[i][c] = V[i][c] * s + X[i][c];
    }
    return out;
}

}  // namespace

Vec3 normalize(const Vec3& v) {
    const double len = std::sqrt(v[2] * v[2] + (v[0] * v[0] + v[1] * v[1]));
    return vec3::div(v, len);
}

void FrenetHelicity::compute_frenet_frames(const Polyline& X, std::vector<Vec3>& T, std::vector<Vec3>& N,
                                           std::vector<Vec3>& B) {
    const std::size_t n = X.size();
    T.resize(n);
    N.resize(n);
    B.resize(n);
    // The end rule copies entry 1, which a shorter sequence does not have: only the resize applies.
    if (n < 2) return;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        poller.tick();
        const Vec3 d1 = sub(X[i + 1], X[i - 1]);
        const Vec3 d2 = sub(sub(X[i + 1], X[i]), sub(X[i], X[i - 1]));
        T[i] = vec3::div(d1, norm(d1));
        N[i] = vec3::div(d2, norm(d2));
        B[i] = cross(T[i], N[i]);
    }
    T[0] = T[1];
    N[0] = N[1];
    B[0] = B[1];
    T[n - 1] = T[n - 2];
    N[n - 1] = N[n - 2];
    B[n - 1] = B[n - 2];
}

void FrenetHelicity::compute_curvature_torsion(const std::vector<Vec3>& T, const std::vector<Vec3>& N,
                                               std::vector<double>& kappa, std::vector<double>& tau) {
    const std::size_t n = T.size();
    if (N.size() < n) {
        throw std::invalid_argument("compute_curvature_torsion: N must have at least as many entries as T");
    }
    kappa.resize(n);
    tau.resize(n);
    if (n < 2) return;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        poller.tick();
        kappa[i] = 0.5 * norm(sub(T[i + 1], T[i - 1]));
        tau[i] = 0.5 * dot(cross(T[i], N[i]), sub(N[i + 1], N[i - 1]));
    }
    kappa[0] = kappa[1];
    tau[0] = tau[1];
    kappa[n - 1] = kappa[n - 2];
    tau[n - 1] = tau[n - 2];
}

float FrenetHelicity::compute_helicity(const std::vector<Vec3>& v, const std::vector<Vec3>& w) {
    if (w.size() < v.size()) {
        throw std::invalid_argument("compute_helicity: w must have at least as many entries as v");
    }
    float sum = 0.0f;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < v.size(); ++i) {
        poller.tick();
        sum += static_cast<float>(dot(v[i], w[i]));
    }
    return sum / static_cast<float>(v.size());
}

std::vector<Vec3> FrenetHelicity::rk4_integrate(const std::vector<Vec3>& X, const std::vector<Vec3>& V, double a,
                                                double b) {
    return euler_step("rk4_integrate", X, V, a, b);
}

std::vector<Vec3> FrenetHelicity::evolve_vortex_knot(const std::vector<Vec3>& X, const std::vector<Vec3>& V,
                                                     double a, double b) {
    return euler_step("evolve_vortex_knot", X, V, a, b);
}

}  // namespace tarq
