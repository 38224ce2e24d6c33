// The particle evaluator's printout of the canonical core-density derivation.
#include "models/ab_initio_mass.hpp"

#include <iostream>

namespace tarq {

// ---------------------------------------------------------------------------------------------------------------
// Canonical derivation

void ParticleEvaluator::print_canonical_derivation() {
    std::ostream& os = std::cout;
    os << "\n==================================================================\n";
    os << "TARQ CANON: DYNAMIC CLOSURE OF CORE DENSITY\n";
    os << "==================================================================\n";
    os << "The effective mass density of the vortex core (rho_core) is strictly\n";
    os << "derived as a dynamic closure relation. The maximum tangential tension\n";
    os << "(F_max) perfectly balances the hydrodynamic inertia of the fluid.\n\n";
    os << "Formula: rho_core = F_max / (pi * r_c^2 * ||v_swirl||^2)\n\n";
    os << "[*] Core Primitives:\n";
    os.unsetf(std::ios_base::floatfield);
    os.precision(8);
    os << "    F_max   = " << 29.053507 << " N\n";
    os.setf(std::ios_base::scientific, std::ios_base::floatfield);
    os.precision(8);
    os << "    r_c     = " << 1.40897017e-15 << " m\n";
    os << "    v_swirl = " << 1093845.63 << " m/s\n\n";
    os << "[*] Derived Invariant Densities:\n";
    os.setf(std::ios_base::scientific, std::ios_base::floatfield);
    os.precision(16);
    os << "    rho_core = " << 3.8934358266918687e18 << " kg/m^3\n";
    os << "    rho_E    = " << 3.49924561231878e35 << " J/m^3\n";
    os << "==================================================================\n\n";
}

}  // namespace tarq
