// Lamb–Oseen and Hill vortex formulas, each evaluated in one fixed operation order.
#include "models/vortex_ring.hpp"

#include <cmath>

#include "core/constants.hpp"

namespace tarq {

namespace {

// −a2²/(4 a3 a4), with the factor −4 applied to a3 first; only the product a3·a4 matters.
double lamb_oseen_exponent(double a2, double a3, double a4) { return (a2 * a2) / ((a3 * -4.0) * a4); }

}  // namespace

double VortexRing::lamb_oseen_velocity(double a1, double a2, double a3, double a4) {
    const double t = a1 / (constants::kTwoPi * a2);
    return (1.0 - std::exp(lamb_oseen_exponent(a2, a3, a4))) * t;
}

double VortexRing::lamb_oseen_vorticity(double a1, double a2, double a3, double a4) {
    const double t = a1 / ((constants::kFourPi * a3) * a4);
    return std::exp(lamb_oseen_exponent(a2, a3, a4)) * t;
}

// The inside tests are written q > s so that a NaN argument lands outside (result 0).
double VortexRing::hill_streamfunction(double a1, double a2, double a3, double a4) {
    const double s = a2 * a2 + a3 * a3;
    const double q = a4 * a4;
    return q > s ? (q - s) * (a1 * a2) : 0.0;
}

double VortexRing::hill_vorticity(double a1, double a2, double a3, double a4) {
    const double s = a3 * a3 + a2 * a2;
    const double q = a4 * a4;
    return q > s ? (((4.0 * a3) * a3 + a2 * a2) - q) * a1 : 0.0;
}

double VortexRing::hill_circulation(double a1, double a2) {
    return (std::pow(a2, 3.0) * (a1 * constants::kTwoPi)) / 3.0;
}

double VortexRing::hill_velocity(double a1, double a2) { return a1 / (a2 * 5.0); }

}  // namespace tarq
