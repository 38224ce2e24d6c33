// Python entries of the radiation-flow formulas: positional arguments only, no docstrings.
#include "python/common.hpp"

#include "models/radiation_flow.hpp"

void bind_radiation_flow(py::module_& m) {
    using tarq::RadiationFlow;
    // Registered without argument names, so that keywords do not match.
    m.def("radiation_force", &RadiationFlow::radiation_force);
    m.def("van_der_pol_dx", &RadiationFlow::dxdt);
    m.def("van_der_pol_dy", &RadiationFlow::dydt);
}
