// Python name of the periodic central-difference curl of a velocity field sampled on a 3-D grid.
#include "python/common.hpp"

#include <stdexcept>

#include "python/convert.hpp"
#include "models/field_kernels.hpp"

namespace {

// The field arrives as float64 in the caller's layout and is made C-contiguous here, where a long copy polls.
py::array_t<double> curl3d_central(const py::array_t<double, py::array::forcecast>& field, double spacing) {
    if (field.ndim() != 4 || field.shape(3) != 3)
        throw std::invalid_argument("curl3d_central: vel must be (Nx,Ny,Nz,3)");
    const tarq_py::CArray vel = tarq_py::c_contiguous(field);
    py::array_t<double> out({vel.shape(0), vel.shape(1), vel.shape(2), vel.shape(3)});
    tarq::FieldKernels::curl3d_central(vel.data(), static_cast<std::size_t>(vel.shape(0)),
                                       static_cast<std::size_t>(vel.shape(1)), static_cast<std::size_t>(vel.shape(2)),
                                       spacing, out.mutable_data());
    return out;
}

}  // namespace

void bind_field_ops(py::module_& m) {
    m.def("curl3d_central", &curl3d_central, py::arg("vel"), py::arg("spacing"),
          "Central\u2011difference curl with periodic BCs. vel:(Nx,Ny,Nz,3) -> curl:(Nx,Ny,Nz,3)");
}
