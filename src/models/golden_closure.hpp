// The golden closure of a vortex loop: regime-dependent loop energy and mass, golden-ratio screening, and the
// solvers for the geometric ratio R/r_c at which the loop carries a target mass.
#pragma once

#include <cstdint>

namespace tarq {

class GoldenNLSClosure {
public:
    // Any 32-bit value can be stored; the regime-dependent operations reject unknown ones when called.
    enum DensityRegime : std::int32_t { EFFECTIVE_FLUID = 0, CORE_DOMINATED = 1 };

    explicit GoldenNLSClosure(DensityRegime r) : regime(r) {}

    void set_regime(DensityRegime r) { regime = r; }

    // Density of the medium of the regime [kg/m³].
    double get_active_density() const;
    // E(R) = (ln(8R/r_c) − φ)·K·R [J].
    double calculate_loop_energy(double R) const;
    // E(R)/c² [kg].
    double calculate_loop_mass(double R) const;
    // φ^(−double_k)·bare_mass, whatever the regime.
    double calculate_screened_mass(double bare_mass, int double_k) const;

    // Plain Newton iteration from x = 1 on the residual below.
    double infer_geometric_ratio(double target_mass, double tolerance, int max_iter) const;
    // (ln 8x − φ)·x + target_mass/k, zero where calculate_loop_mass(x·r_c) equals target_mass.
    double geometric_ratio_residual(double x, double target_mass) const;
    // Newton inside [x_min, x_max], falling back to bracket widening and bisection.
    double infer_geometric_ratio_safe(double target_mass, double x0, double x_min, double x_max, double x_tol,
                                      double f_tol, int max_iter) const;

    // ratio^(1/exponent_n).
    static double infer_effective_base(double ratio, int exponent_n);
    // base^exponent_n, for any integer exponent.
    static double predicted_ratio_from_base(double base, int exponent_n);
    // |(predicted − observed)/observed|.
    static double relative_error(double predicted, double observed);

private:
    DensityRegime regime;
};

}  // namespace tarq
