#include "common.hpp"

void bind_tarq_integrator(py::module_& m) {
    (void)m;
}
