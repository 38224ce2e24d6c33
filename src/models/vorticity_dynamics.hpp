// Vorticity formulas: the curl of a two-dimensional gridded velocity field, scalar identities and the
// vector terms of the vorticity and momentum equations.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

class VorticityDynamics {
public:
    // dv/dx - du/dy by central differences on an nx x ny grid flattened x-fastest (point (i, j) at
    // j*nx + i); the border stays 0, and so does every point when nx < 3 or ny < 3. A count nx*ny outside
    // the 32-bit range throws std::length_error("vector"); u or v shorter than nx*ny throws
    // std::invalid_argument.
    static std::vector<double> compute_vorticity2D(const std::vector<double>& u, const std::vector<double>& v,
                                                   int nx, int ny, double dx, double dy);
    static double vorticity_z_2D(double dv_dx, double du_dy);
    static double local_circulation_density(double dv_dx, double du_dy);
    static double solid_body_rotation_vorticity(double omega);
    // -alpha: 0.0 gives -0.0.
    static double couette_vorticity(double alpha);
    // pressure_gradient / rho; the vorticity does not enter.
    static Vec3 crocco_relation(const Vec3& vorticity, double rho, const Vec3& pressure_gradient);
    // (-2 (omega x velocity) - grad_phi) - grad_p / rho; the vorticity does not enter.
    static Vec3 rotating_frame_rhs(const Vec3& velocity, const Vec3& vorticity, const Vec3& grad_phi,
                                   const Vec3& grad_p, const Vec3& omega, double rho);
    // ((vorticity x velocity) * rho + grad_phi) + grad_p / rho.
    static Vec3 crocco_gradient(const Vec3& velocity, const Vec3& vorticity, const Vec3& grad_phi,
                                const Vec3& grad_p, double rho);
    // (grad_rho x grad_p) / (rho * rho).
    static Vec3 baroclinic_term(const Vec3& grad_rho, const Vec3& grad_p, double rho);
    // Stretching and tilting grad_u . omega, minus compression div_u * omega, plus the baroclinic term.
    static Vec3 compute_vorticity_rhs(const Vec3& omega, const Mat3& grad_u, double div_u, const Vec3& grad_rho,
                                      const Vec3& grad_p, double rho);
};

}  // namespace tarq
