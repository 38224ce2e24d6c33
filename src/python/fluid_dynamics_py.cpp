#include "common.hpp"

void bind_fluid_dynamics(py::module_& m) {
    (void)m;
}
