// Thermodynamic formulas, each evaluated in the order that fixes its last bits.
#include "models/thermo_dynamics.hpp"

#include <cmath>

namespace tarq {

double ThermoDynamics::potential_temperature(double T, double p0, double p, double R, double cp) {
    return std::pow(p0 / p, R / cp) * T;
}

double ThermoDynamics::entropy_from_theta(double cp, double theta, double dtheta) { return (cp * dtheta) / theta; }

double ThermoDynamics::entropy_from_pv(double N, double R, double p, double V, double gamma) {
    const double factor = (N * R) / (gamma + -1.0);
    const double log_p = std::log(p);
    const double log_v = std::log(V);
    return factor * (log_v + log_p);
}

double ThermoDynamics::enthalpy(double internal_energy, double p, double V) { return internal_energy + p * V; }

}  // namespace tarq
