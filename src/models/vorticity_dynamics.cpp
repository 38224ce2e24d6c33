// Vorticity formulas, each in the order it is written.
#include "models/vorticity_dynamics.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

std::vector<double> VorticityDynamics::compute_vorticity2D(const std::vector<double>& u,
                                                           const std::vector<double>& v, int nx, int ny,
                                                           double dx, double dy) {
    // The count is formed in 64 bits, so that no product wraps into a small positive size.
    const std::int64_t count = static_cast<std::int64_t>(nx) * static_cast<std::int64_t>(ny);
    if (count > std::numeric_limits<std::int32_t>::max()) throw std::length_error("vector");
    // A negative count is refused by the vector's own size check (std::length_error).
    if (count < 0) return std::vector<double>(static_cast<std::size_t>(count), 0.0);
    const std::size_t n = static_cast<std::size_t>(count);
    if (u.size() < n || v.size() < n) {
        throw std::invalid_argument("compute_vorticity2D: u and v must each hold at least nx*ny values");
    }
    std::vector<double> out(n, 0.0);
    if (nx < 3 || ny < 3) return out;
    const std::size_t w = static_cast<std::size_t>(nx);
    const std::size_t h = static_cast<std::size_t>(ny);
    const double two_dx = dx + dx;
    const double two_dy = dy + dy;
    InterruptPoller poller(kPollWork);
    for (std::size_t j = 1; j + 1 < h; ++j) {
        poller.tick(w);
        for (std::size_t i = 1; i + 1 < w; ++i) {
            const std::size_t k = j * w + i;
            out[k] = (v[k + 1] - v[k - 1]) / two_dx - (u[k + w] - u[k - w]) / two_dy;
        }
    }
    return out;
}

double VorticityDynamics::vorticity_z_2D(double dv_dx, double du_dy) { return dv_dx - du_dy; }

double VorticityDynamics::local_circulation_density(double dv_dx, double du_dy) { return dv_dx - du_dy; }

double VorticityDynamics::solid_body_rotation_vorticity(double omega) { return omega + omega; }

double VorticityDynamics::couette_vorticity(double alpha) { return -alpha; }

Vec3 VorticityDynamics::crocco_relation(const Vec3& /*vorticity*/, double rho, const Vec3& pressure_gradient) {
    return vec3::div(pressure_gradient, rho);
}

Vec3 VorticityDynamics::rotating_frame_rhs(const Vec3& velocity, const Vec3& /*vorticity*/, const Vec3& grad_phi,
                                           const Vec3& grad_p, const Vec3& omega, double rho) {
    const Vec3 c = vec3::cross(omega, velocity);
    Vec3 out;
    for (int k = 0; k < 3; ++k) out[k] = (-2.0 * c[k] - grad_phi[k]) - grad_p[k] / rho;
    return out;
}

Vec3 VorticityDynamics::crocco_gradient(const Vec3& velocity, const Vec3& vorticity, const Vec3& grad_phi,
                                        const Vec3& grad_p, double rho) {
    const Vec3 c = vec3::cross(vorticity, velocity);
    Vec3 out;
    for (int k = 0; k < 3; ++k) out[k] = (c[k] * rho + grad_phi[k]) + grad_p[k] / rho;
    return out;
}

Vec3 VorticityDynamics::baroclinic_term(const Vec3& grad_rho, const Vec3& grad_p, double rho) {
    return vec3::div(vec3::cross(grad_rho, grad_p), rho * rho);
}

Vec3 VorticityDynamics::compute_vorticity_rhs(const Vec3& omega, const Mat3& grad_u, double div_u,
                                              const Vec3& grad_rho, const Vec3& grad_p, double rho) {
    const Vec3 baroclinic = vec3::div(vec3::cross(grad_rho, grad_p), rho * rho);
    Vec3 out;
    for (int i = 0; i < 3; ++i) {
        const double s = vec3::dot(grad_u[i], omega);
        out[i] = (s - div_u * omega[i]) + baroclinic[i];
    }
    return out;
}

}  // namespace tarq
