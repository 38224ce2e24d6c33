// Golden closure: regime constants, loop energy and mass, the residual and its two root solvers.
#include "models/golden_closure.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <stdexcept>

#include "core/constants.hpp"
#include "core/interrupt.hpp"

namespace tarq {

namespace {

// The closure's own double golden ratio, not the extended-precision one of the knot dictionary.
constexpr double kPhi = 1.618033988749895;
constexpr double kMinusTwoC2 = -1.7975103574736352e17;  // −2c²

// Loop-energy coefficient K and residual coefficient B = 2K of each regime, fixed literals.
constexpr double kFluidK = 3.2826678045874994e-23;
constexpr double kFluidB = 6.565335609174999e-23;
constexpr double kCoreK = 182.58366339298448;
constexpr double kCoreB = 365.16732678596895;

// A residual evaluation costs tens of nanoseconds; poll Ctrl-C every few thousand.
constexpr std::uint64_t kPollStride = 4096;

struct RegimeConstants {
    double K;
    double B;
    double rho;
};

RegimeConstants regime_constants(GoldenNLSClosure::DensityRegime regime) {
    switch (regime) {
        case GoldenNLSClosure::EFFECTIVE_FLUID:
            return {kFluidK, kFluidB, constants::kFluidDensity};
        case GoldenNLSClosure::CORE_DOMINATED:
            return {kCoreK, kCoreB, constants::kCoreDensity};
    }
    throw std::runtime_error("Unknown density regime selected.");
}

// k = (B / −2c²)·r_c, so that target_mass/k is the residual's constant term.
double residual_scale(double B) { return (B / kMinusTwoC2) * constants::kCoreRadius; }

// d/dx of (ln 8x − φ)·x.
double residual_derivative(double x) { return (std::log(8.0 * x) + 1.0) - kPhi; }

double loop_energy(double R, double K) {
    return (std::log((8.0 * R) / constants::kCoreRadius) - kPhi) * (K * R);
}

}  // namespace

double GoldenNLSClosure::get_active_density() const { return regime_constants(regime).rho; }

double GoldenNLSClosure::calculate_loop_energy(double R) const {
    return loop_energy(R, regime_constants(regime).K);
}

double GoldenNLSClosure::calculate_loop_mass(double R) const {
    return loop_energy(R, regime_constants(regime).K) / constants::kSpeedOfLightSquared;
}

double GoldenNLSClosure::calculate_screened_mass(double bare_mass, int double_k) const {
    // Negate after widening: −INT_MIN does not exist as an int.
    return std::pow(kPhi, -static_cast<double>(double_k)) * bare_mass;
}

double GoldenNLSClosure::geometric_ratio_residual(double x, double target_mass) const {
    if (x <= 0.0) throw std::domain_error("geometric_ratio_residual: x must be > 0.");
    if (regime != CORE_DOMINATED) {
        std::cerr << "Warning: geometric ratio residual evaluated outside CORE_DOMINATED regime.\n";
    }
    const double k = residual_scale(regime_constants(regime).B);
    return (std::log(8.0 * x) - kPhi) * x + target_mass / k;
}

double GoldenNLSClosure::infer_geometric_ratio(double target_mass, double tolerance, int max_iter) const {
    if (regime != CORE_DOMINATED) {
        std::cerr << "Warning: Inferring fundamental mass geometric ratio outside of CORE_DOMINATED regime.\n";
    }
    const double B = regime_constants(regime).B;
    if (max_iter <= 0) throw std::runtime_error("Newton-Raphson failed to converge for geometric ratio.");
    const double q = target_mass / residual_scale(B);
    InterruptPoller poller(kPollStride);
    double x = 1.0;
    for (int i = 0; i < max_iter; ++i) {
        poller.tick();
        const double L = std::log(x * 8.0);
        const double step = ((L - kPhi) * x + q) / ((L + 1.0) - kPhi);
        x = x - step;
        if (std::fabs(step) < tolerance) return x;
    }
    throw std::runtime_error("Newton-Raphson failed to converge for geometric ratio.");
}

double GoldenNLSClosure::infer_geometric_ratio_safe(double target_mass, double x0, double x_min, double x_max,
                                                    double x_tol, double f_tol, int max_iter) const {
    if (x_min >= x_max || x_min <= 0.0 || x_max <= 0.0) {
        throw std::invalid_argument("infer_geometric_ratio_safe: require 0 < x_min < x_max.");
    }
    InterruptPoller poller(kPollStride);
    auto residual = [&](double x) {
        poller.tick();
        return geometric_ratio_residual(x, target_mass);
    };

    // Newton phase: only steps that land strictly inside the bracket are taken; any other outcome hands over
    // to bisection on the caller's bracket.
    if (max_iter > 0) {
        double x = x0 < x_min ? x_min : (x0 > x_max ? x_max : x0);
        for (int i = 1;; ++i) {
            const double f = residual(x);
            if (std::fabs(f) < f_tol) return x;
            const double d = residual_derivative(x);
            if (!std::isfinite(d) || std::fabs(d) < 1e-14) break;
            const double step = f / d;
            const double x_next = x - step;
            if (!std::isfinite(x_next) || x_next <= x_min || x_next >= x_max) break;
            if (std::fabs(step) < x_tol) {
                const double f_next = residual(x_next);
                if (std::fabs(f_next) < f_tol) return x_next;
            }
            if (i >= max_iter) break;
            x = x_next;
        }
    }

    double lo = x_min;
    double hi = x_max;
    double f_lo = residual(lo);
    double f_hi = residual(hi);
    if (!std::isfinite(f_lo) || !std::isfinite(f_hi)) {
        throw std::runtime_error("infer_geometric_ratio_safe: non-finite residual at bracket endpoints.");
    }
    if (f_lo * f_hi > 0.0) {
        bool bracketed = false;
        for (int widening = 0; widening < 12 && !bracketed; ++widening) {
            lo = std::max(lo * 0.5, 1e-12);
            hi = hi * 2.0;
            f_lo = residual(lo);
            f_hi = residual(hi);
            bracketed = std::isfinite(f_lo) && std::isfinite(f_hi) && f_lo * f_hi <= 0.0;
        }
        if (!bracketed) {
            throw std::runtime_error("infer_geometric_ratio_safe: could not bracket root for bisection fallback.");
        }
    }

    // Four halvings per allowed iteration, counted in 64 bits so that a large max_iter cannot overflow.
    const std::int64_t budget = std::int64_t{4} * max_iter;
    for (std::int64_t n = 0; n < budget; ++n) {
        const double mid = (lo + hi) * 0.5;
        const double f_mid = residual(mid);
        if (!std::isfinite(f_mid)) {
            throw std::runtime_error("infer_geometric_ratio_safe: non-finite residual during bisection.");
        }
        if (std::fabs(f_mid) < f_tol) return mid;
        if ((hi - lo) * 0.5 < x_tol) return mid;
        if (f_lo * f_mid <= 0.0) {
            hi = mid;
        } else {
            lo = mid;
            f_lo = f_mid;
        }
    }
    throw std::runtime_error("infer_geometric_ratio_safe: failed to converge.");
}

double GoldenNLSClosure::infer_effective_base(double ratio, int exponent_n) {
    if (ratio <= 0.0) throw std::domain_error("infer_effective_base: ratio must be > 0.");
    if (exponent_n <= 0) throw std::invalid_argument("infer_effective_base: exponent_n must be positive.");
    return std::pow(ratio, 1.0 / exponent_n);
}

double GoldenNLSClosure::predicted_ratio_from_base(double base, int exponent_n) {
    if (base <= 0.0) throw std::domain_error("predicted_ratio_from_base: base must be > 0.");
    return std::pow(base, exponent_n);
}

double GoldenNLSClosure::relative_error(double predicted, double observed) {
    if (observed == 0.0) throw std::domain_error("relative_error: observed must be nonzero.");
    return std::fabs((predicted - observed) / observed);
}

}  // namespace tarq
