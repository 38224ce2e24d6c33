// Radiation-flow formulas, each evaluated in the order that fixes its last bits.
#include "models/radiation_flow.hpp"

namespace tarq {

double RadiationFlow::radiation_force(double a1, double a2, double a3, double a4, double a5) {
    const double beta = a3 / a5;
    const double d = 1.0 - beta * beta;
    // The light-speed factor of this formula is the round 3e8, not the exact speed of light.
    const double p = ((a1 + a1) / 3e8) * a2;
    const double q = (a4 / a5) * beta;
    return (p * q) / d;
}

double RadiationFlow::dxdt(double /*x*/, double y) { return y; }

double RadiationFlow::dydt(double x, double y, double mu) { return ((1.0 - x * x) * mu) * y - x; }

}  // namespace tarq
