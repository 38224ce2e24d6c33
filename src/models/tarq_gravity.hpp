// Closed-form gravity formulas of the swirl model: G_swirl, the Beltrami shear, the gravity-reduction
// factor, the helicity density and the screened Swirl Coulomb potential and force (SI units).
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

class TARQGravity {
public:
    // v_swirl c^5 t_p^2 / (2 F_max r_c^2); F_max and r_c must be positive.
    static double compute_G_swirl(double v_swirl, double t_p, double F_max, double r_c, double c);
    // |B x curl B| per sample.
    static std::vector<double> compute_beltrami_shear(const std::vector<Vec3>& B_field,
                                                      const std::vector<Vec3>& Curl_B);
    // min(1, max(0, 1 - (|B| log10(omega_drive) / B_saturation)^2)) per sample, NaN kept; v_swirl is unused.
    static std::vector<double> compute_gravity_dilation(const std::vector<Vec3>& B_field, double omega_drive,
                                                        double v_swirl, double B_saturation);
    // A . B per sample.
    static std::vector<double> compute_helicity_density(const std::vector<Vec3>& A_field,
                                                        const std::vector<Vec3>& B_field);
    // -Lambda / sqrt(r^2 + r_c^2) per radius.
    static std::vector<double> compute_swirl_coulomb_potential(const std::vector<double>& radii, double Lambda,
                                                               double r_c);
    // -Lambda r / (r^2 + r_c^2)^1.5 per radius; 0 where the power underflows or is NaN.
    static std::vector<double> compute_swirl_coulomb_force(const std::vector<double>& radii, double Lambda,
                                                           double r_c);
};

}  // namespace tarq
