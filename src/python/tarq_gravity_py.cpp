#include "common.hpp"

void bind_tarq_gravity(py::module_& m) {
    (void)m;
}
