// Python entry of the single-precision swirl force field.
#include "python/common.hpp"

#include "models/swirl_field.hpp"

void bind_swirl_field(py::module_& m) {
    // time arrives as a Python float and is narrowed to single precision by the argument conversion.
    m.def("compute_swirl_field", &tarq::compute_swirl_field, py::arg("res"), py::arg("time"),
        "\n\t\t\t\tCompute 2D swirl force field at a given resolution and time.\n\t\t\t");
}
