// Radiation force and the right-hand sides of the Van der Pol oscillator.
#pragma once

namespace tarq {

class RadiationFlow {
public:
    // (2 a1 a2 / 3e8) (a4 a3 / a5^2) / (1 - (a3/a5)^2); nothing is validated.
    static double radiation_force(double a1, double a2, double a3, double a4, double a5);
    // dx/dt = y (x is not used).
    static double dxdt(double x, double y);
    // dy/dt = mu (1 - x^2) y - x
    static double dydt(double x, double y, double mu);
};

}  // namespace tarq
