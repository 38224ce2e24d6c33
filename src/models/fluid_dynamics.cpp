// Fluid-dynamics formulas: each expression in the order it is written, sums in index order.
#include "models/fluid_dynamics.hpp"

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"

namespace tarq {

namespace {

// The second sequence of a pair is read at the indices of the first.
template <class A, class B>
void require_paired(const char* op, const char* first, const A& a, const char* second, const B& b) {
    if (b.size() < a.size()) {
        throw std::invalid_argument(std::string(op) + ": " + second + " must hold at least as many entries as " +
                                    first);
    }
}

std::vector<double> pressure_from_speed(const std::vector<double>& speed, double rho, double p0) {
    std::vector<double> out(speed.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < speed.size(); ++i) {
        poller.tick();
        const double v = speed[i];
        out[i] = ((rho * -0.5) * v) * v + p0;
    }
    return out;
}

}  // namespace

std::vector<double> FluidDynamics::compute_pressure_field(const std::vector<double>& velocity_magnitude,
                                                          double rho_ae, double P_infinity) {
    return pressure_from_speed(velocity_magnitude, rho_ae, P_infinity);
}

std::vector<double> FluidDynamics::compute_bernoulli_pressure(const std::vector<double>& velocity_magnitude,
                                                              double rho, double p_inf) {
    return pressure_from_speed(velocity_magnitude, rho, p_inf);
}

std::vector<double> FluidDynamics::compute_velocity_magnitude(const std::vector<Vec3>& velocity) {
    std::vector<double> out(velocity.size());
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < velocity.size(); ++i) {
        poller.tick();
        out[i] = vec3::norm(velocity[i]);
    }
    return out;
}

void FluidDynamics::evolve_positions_euler(std::vector<Vec3>& positions, const std::vector<Vec3>& velocity,
                                           double dt) {
    require_paired("evolve_positions_euler", "positions", positions, "velocity", velocity);
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < positions.size(); ++i) {
        poller.tick();
        for (int k = 0; k < 3; ++k) positions[i][k] = velocity[i][k] * dt + positions[i][k];
    }
}

bool FluidDynamics::is_incompressible(const Vec3& dudx, const Vec3& dvdy, const Vec3& dwdz) {
    return std::fabs((dudx[0] + dvdy[1]) + dwdz[2]) < 1e-8;
}

Vec3 FluidDynamics::compute_vorticity(const Mat3& g) {
    return {g[2][1] - g[1][2], g[0][2] - g[2][0], g[1][0] - g[0][1]};
}

double FluidDynamics::swirl_clock_rate(double dv_dx, double du_dy) { return (dv_dx - du_dy) * 0.5; }

double FluidDynamics::vorticity_from_curvature(double V, double R) { return V / R; }

double FluidDynamics::vortex_pressure_drop(double rho, double c) { return ((rho * 0.5) * c) * c; }

double FluidDynamics::vortex_transverse_pressure_diff(double rho, double c) { return ((rho * 0.25) * c) * c; }

double FluidDynamics::swirl_energy(double rho, double omega) { return ((rho * 0.5) * omega) * omega; }

bool FluidDynamics::kairos_energy_trigger(double rho, double omega, double Ce) {
    return ((rho * 0.5) * omega) * omega > ((rho * 0.5) * Ce) * Ce;
}

double FluidDynamics::compute_helicity(const std::vector<Vec3>& velocity, const std::vector<Vec3>& vorticity,
                                       double dV) {
    require_paired("compute_helicity", "velocity", velocity, "vorticity", vorticity);
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < velocity.size(); ++i) {
        poller.tick();
        sum += vec3::dot(velocity[i], vorticity[i]);
    }
    return sum * dV;
}

double FluidDynamics::potential_vorticity(double fa, double zeta_r, double h) { return (fa + zeta_r) / h; }

double FluidDynamics::circulation_surface_integral(const std::vector<Vec3>& omega_field,
                                                   const std::vector<Vec3>& dA_field) {
    require_paired("circulation_surface_integral", "omega_field", omega_field, "dA_field", dA_field);
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < omega_field.size(); ++i) {
        poller.tick();
        sum += vec3::dot(omega_field[i], dA_field[i]);
    }
    return sum;
}

double FluidDynamics::enstrophy(const std::vector<double>& omega_squared, const std::vector<double>& ds_area) {
    require_paired("enstrophy", "omega_squared", omega_squared, "ds_area", ds_area);
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (std::size_t i = 0; i < omega_squared.size(); ++i) {
        poller.tick();
        sum += omega_squared[i] * ds_area[i];
    }
    return sum;
}

std::vector<std::vector<Vec3>> FluidDynamics::pressure_gradient(const std::vector<std::vector<double>>& P,
                                                                double dx, double dy) {
    const std::size_t nx = P.size();
    if (nx == 0) return {};
    const std::size_t ny = P[0].size();
    InterruptPoller poller(kPollWork);
    for (const std::vector<double>& row : P) {
        poller.tick();
        if (row.size() < ny) {
            throw std::invalid_argument("pressure_gradient: every row must hold at least as many values as the first");
        }
    }
    // Allocated row by row, so that a table of many rows stays interruptible while it is made.
    std::vector<std::vector<Vec3>> out;
    out.reserve(nx);
    for (std::size_t i = 0; i < nx; ++i) {
        poller.tick(ny + 1);
        out.emplace_back(ny, Vec3{0.0, 0.0, 0.0});
    }
    if (nx < 2 || ny < 2) return out;
    const double two_dx = dx + dx;
    const double two_dy = dy + dy;
    for (std::size_t i = 0; i < nx; ++i) {
        poller.tick(ny + 1);
        const std::vector<double>& row = P[i];
        for (std::size_t j = 0; j < ny; ++j) {
            double Dx;
            if (i == 0) {
                Dx = (P[1][j] - P[0][j]) / dx;
            } else if (i == nx - 1) {
                Dx = (P[nx - 1][j] - P[nx - 2][j]) / dx;
            } else {
                Dx = (P[i + 1][j] - P[i - 1][j]) / two_dx;
            }
            double Dy;
            if (j == 0) {
                Dy = (row[1] - row[0]) / dy;
            } else if (j == ny - 1) {
                Dy = (row[ny - 1] - row[ny - 2]) / dy;
            } else {
                Dy = (row[j + 1] - row[j - 1]) / two_dy;
            }
            out[i][j] = {-Dx, -Dy, 0.0};
        }
    }
    return out;
}

double FluidDynamics::laplacian_phi(double d2phidx2, double d2phidy2, double d2phidz2) {
    return (d2phidx2 + d2phidy2) + d2phidz2;
}

Vec3 FluidDynamics::grad_phi(const Vec3& phi_grad) { return phi_grad; }

double FluidDynamics::bernoulli_pressure_potential(double velocity_squared, double V) {
    return velocity_squared * 0.5 - V;
}

double FluidDynamics::compute_kinetic_energy(const std::vector<Vec3>& velocity, double rho_ae) {
    double sum = 0.0;
    InterruptPoller poller(kPollWork);
    for (const Vec3& v : velocity) {
        poller.tick();
        sum += vec3::norm2(v);
    }
    return (rho_ae * 0.5) * sum;
}

double FluidDynamics::rossby_number(double U, double omega, double d) { return U / ((omega + omega) * d); }

double FluidDynamics::ekman_number(double nu, double omega, double H) { return nu / ((omega * H) * H); }

double FluidDynamics::cylinder_mass(double rho, double R, double H) {
    return (((rho * constants::kPi) * R) * R) * H;
}

double FluidDynamics::cylinder_inertia(double mass, double R) { return ((mass * 0.5) * R) * R; }

double FluidDynamics::torque(double inertia, double alpha) { return inertia * alpha; }

}  // namespace tarq
