// Closed-form fluid formulas of the medium: pressures, energies, vorticity and helicity sums, an Euler
// position step and the finite-difference pressure gradient of a two-dimensional table.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

// Every operation evaluates its formula left to right as written; the paired sequences and the pressure
// table rows are checked (std::invalid_argument) so that nothing is read past an end.
class FluidDynamics {
public:
    // ((rho_ae * -0.5) * v) * v + P_infinity per sample.
    static std::vector<double> compute_pressure_field(const std::vector<double>& velocity_magnitude,
                                                      double rho_ae, double P_infinity);
    // The same formula under the names of the Bernoulli form.
    static std::vector<double> compute_bernoulli_pressure(const std::vector<double>& velocity_magnitude,
                                                          double rho, double p_inf);
    static std::vector<double> compute_velocity_magnitude(const std::vector<Vec3>& velocity);
    // positions[i][k] = velocity[i][k] * dt + positions[i][k]; velocity must be at least as long.
    static void evolve_positions_euler(std::vector<Vec3>& positions, const std::vector<Vec3>& velocity, double dt);
    // |(dudx[0] + dvdy[1]) + dwdz[2]| < 1e-8, strict; NaN gives false.
    static bool is_incompressible(const Vec3& dudx, const Vec3& dvdy, const Vec3& dwdz);
    // Curl from the velocity gradient g[i][j] = d v_i / d x_j.
    static Vec3 compute_vorticity(const Mat3& grad);
    static double swirl_clock_rate(double dv_dx, double du_dy);
    static double vorticity_from_curvature(double V, double R);
    static double vortex_pressure_drop(double rho, double c);
    static double vortex_transverse_pressure_diff(double rho, double c);
    static double swirl_energy(double rho, double omega);
    // Swirl energy strictly above ((rho * 0.5) * Ce) * Ce.
    static bool kairos_energy_trigger(double rho, double omega, double Ce);
    // (sum_i v_i . w_i) * dV over the velocity samples.
    static double compute_helicity(const std::vector<Vec3>& velocity, const std::vector<Vec3>& vorticity,
                                   double dV);
    static double potential_vorticity(double fa, double zeta_r, double h);
    static double circulation_surface_integral(const std::vector<Vec3>& omega_field,
                                               const std::vector<Vec3>& dA_field);
    static double enstrophy(const std::vector<double>& omega_squared, const std::vector<double>& ds_area);
    // (-dP/dx, -dP/dy, 0) per entry: central differences inside, one-sided on the border. P[i][j] has i
    // along x; ny is the first row's length and no row may be shorter.
    static std::vector<std::vector<Vec3>> pressure_gradient(const std::vector<std::vector<double>>& pressure_field,
                                                            double dx, double dy);
    static double laplacian_phi(double d2phidx2, double d2phidy2, double d2phidz2);
    static Vec3 grad_phi(const Vec3& phi_grad);
    static double bernoulli_pressure_potential(double velocity_squared, double V);
    static double compute_kinetic_energy(const std::vector<Vec3>& velocity, double rho_ae);
    static double rossby_number(double U, double omega, double d);
    static double ekman_number(double nu, double omega, double H);
    static double cylinder_mass(double rho, double R, double H);
    static double cylinder_inertia(double mass, double R);
    static double torque(double inertia, double alpha);
};

}  // namespace tarq
