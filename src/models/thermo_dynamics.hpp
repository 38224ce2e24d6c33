// Closed-form thermodynamic formulas over plain numbers.
#pragma once

namespace tarq {

// No argument is validated: zero divisors and logarithms or powers of non-positive values give the IEEE
// infinities and NaNs of the formulas.
class ThermoDynamics {
public:
    // theta = T (p0/p)^(R/cp)
    static double potential_temperature(double T, double p0, double p, double R, double cp);
    // ds = cp dtheta / theta
    static double entropy_from_theta(double cp, double theta, double dtheta);
    // s = N R / (gamma - 1) (ln p + ln V)
    static double entropy_from_pv(double N, double R, double p, double V, double gamma);
    // H = E + p V
    static double enthalpy(double internal_energy, double p, double V);
};

}  // namespace tarq
