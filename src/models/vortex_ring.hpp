// Closed-form formulas of the Lamb–Oseen line vortex and of Hill's spherical vortex.
#pragma once

namespace tarq {

// No validation: zero divisors and exponents follow IEEE arithmetic.
class VortexRing {
public:
    // a1/(2π a2) · (1 − exp(−a2²/(4 a3 a4))): circulation a1, radius a2, viscosity·time a3·a4.
    static double lamb_oseen_velocity(double a1, double a2, double a3, double a4);
    // a1/(4π a3 a4) · exp(−a2²/(4 a3 a4)).
    static double lamb_oseen_vorticity(double a1, double a2, double a3, double a4);
    // (a4² − a2² − a3²)·a1·a2 inside a2² + a3² < a4², else 0.
    static double hill_streamfunction(double a1, double a2, double a3, double a4);
    // (4 a3² + a2² − a4²)·a1 inside a2² + a3² < a4², else 0.
    static double hill_vorticity(double a1, double a2, double a3, double a4);
    // 2π a1 a2³ / 3.
    static double hill_circulation(double a1, double a2);
    // a1 / (5 a2).
    static double hill_velocity(double a1, double a2);
};

}  // namespace tarq
