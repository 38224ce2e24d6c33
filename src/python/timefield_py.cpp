#include "python/common.hpp"

#include "models/time_field.hpp"

void bind_timefield(py::module_& m) {
    using tarq::TimeField;

    m.def("compute_gravitational_potential_gradient", &TimeField::compute_gravitational_potential_gradient,
          py::arg("positions"), py::arg("vorticity"), py::arg("epsilon") = 7e-07,
          "\n            Compute medium gravitational potential field from vorticity gradients.\n        ");
    m.def("compute_time_dilation_map_sqrt", &TimeField::compute_time_dilation_map_sqrt, py::arg("tangents"),
          py::arg("C_e") = 1093845.63,
          "\n            Compute time dilation factors from knot tangential velocities (sqrt method).\n        ");
    m.def("compute_gravitational_potential_direct", &TimeField::compute_gravitational_potential_direct,
          py::arg("positions"), py::arg("vorticity"), py::arg("epsilon") = 0.1,
          "\n            Compute medium gravitational potential field from vorticity.\n        ");
    m.def("compute_time_dilation_map_linear", &TimeField::compute_time_dilation_map_linear, py::arg("tangents"),
          py::arg("C_e"), "\n            Compute local time dilation factor map from tangential velocities.\n        ");
    m.def("compute_gravitational_potential", &tarq::compute_gravitational_potential, py::arg("positions"),
          py::arg("vorticity"), py::arg("epsilon") = 7e-07,
          "\n            Compute medium gravitational potential field (backward compatibility).\n        ");
    m.def("compute_time_dilation_map", &tarq::compute_time_dilation_map, py::arg("tangents"),
          py::arg("C_e") = 1093845.63, "\n            Compute time dilation factors (backward compatibility).\n        ");
}
