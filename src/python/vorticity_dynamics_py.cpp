#include "common.hpp"

void bind_vorticity_dynamics(py::module_& m) {
    (void)m;
}
