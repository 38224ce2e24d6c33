// Python names of the field kernels: the point dipole, dipoles and wires on NumPy grids of any shape
// and layout, and the vector potential of an open wire.
#include "python/common.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "python/convert.hpp"
#include "models/field_kernels.hpp"

namespace {

using tarq::FieldKernels;
using tarq::Vec3;

// Strided float64 arrays: rows are read through the array's strides.
using StridedArray = py::array_t<double, py::array::forcecast>;

void require_same_shape(const py::array& X, const py::array& Y, const py::array& Z) {
    if (X.ndim() != Y.ndim() || X.ndim() != Z.ndim())
        throw std::invalid_argument("X, Y, Z must share the same number of dimensions");
    for (py::ssize_t a = 0; a < X.ndim(); ++a)
        if (Y.shape(a) != X.shape(a) || Z.shape(a) != X.shape(a))
            throw std::invalid_argument("X, Y, Z must have identical shapes");
}

void require_Nx3(const py::array& a, const std::string& name) {
    if (a.ndim() != 2 || a.shape(1) != 3) throw std::invalid_argument(name + " must have shape [N,3]");
    if (a.shape(0) == 0) throw std::invalid_argument(name + " must have at least 1 row");
}

// Rows of an (N, 3) float64 array of any layout, in row order (callers check the shape).
std::vector<Vec3> to_vec3_list(const py::array& a) {
    const auto r = a.unchecked<double, 2>();
    std::vector<Vec3> out;
    out.reserve(static_cast<std::size_t>(r.shape(0)));
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (py::ssize_t i = 0; i < r.shape(0); ++i) {
        out.push_back({r(i, 0), r(i, 1), r(i, 2)});
        poller.tick(3);
    }
    return out;
}

// The plain arrays as C-contiguous float64, so that element j is point j in row-major order whatever
// the caller's layout; every conversion is attempted before a failure is reported.
std::vector<tarq_py::CArray> as_float64(std::initializer_list<py::array> arrays) {
    std::vector<tarq_py::CArray> out;
    bool ok = true;
    for (const py::array& a : arrays) {
        out.push_back(tarq_py::try_c_contiguous(a));
        if (!out.back()) {
            PyErr_Clear();
            ok = false;
        }
    }
    if (!ok) throw std::invalid_argument("Inputs must be convertible to float64 arrays");
    return out;
}

// A zeroed C-contiguous float64 array. Zeroed in polled blocks: the first touch of a large result's pages
// can take a noticeable time, and no other work of the call comes before it.
py::array_t<double> zeros(const std::vector<py::ssize_t>& shape) {
    py::array_t<double> out(shape);
    double* p = out.mutable_data();
    const auto n = static_cast<std::size_t>(out.size());
    const auto block = static_cast<std::size_t>(tarq::kPollWork);
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t i = 0; i < n; i += block) {
        const std::size_t end = std::min(n, i + block);
        std::fill(p + i, p + end, 0.0);
        poller.tick(end - i);
    }
    return out;
}

// A zeroed array of the grid's shape (a 0-d grid is one point).
py::array_t<double> zeros_like_grid(const py::array& X) {
    return zeros(std::vector<py::ssize_t>(X.shape(), X.shape() + X.ndim()));
}

py::tuple biot_savart_wire_grid_np(const py::array& X, const py::array& Y, const py::array& Z,
                                   const py::array& wire_points, double current) {
    require_same_shape(X, Y, Z);
    require_Nx3(wire_points, "wire_points");
    const auto c = as_float64({X, Y, Z, wire_points});
    const auto M = static_cast<std::size_t>(c[0].size());
    py::array_t<double> Bx = zeros_like_grid(X), By = zeros_like_grid(X), Bz = zeros_like_grid(X);
    const tarq::Polyline wire = to_vec3_list(c[3]);
    FieldKernels::biot_savart_wire_grid(c[0].data(), c[1].data(), c[2].data(), M, wire, current,
                                        Bx.mutable_data(), By.mutable_data(), Bz.mutable_data());
    return py::make_tuple(Bx, By, Bz);
}

py::tuple dipole_ring_field_grid_np(const py::array& X, const py::array& Y, const py::array& Z,
                                    const py::array& positions, const py::array& moments) {
    require_same_shape(X, Y, Z);
    require_Nx3(positions, "positions");
    require_Nx3(moments, "moments");
    if (positions.shape(0) != moments.shape(0))
        throw std::invalid_argument("positions and moments must have the same number of rows");
    const auto c = as_float64({X, Y, Z, positions, moments});
    const auto M = static_cast<std::size_t>(c[0].size());
    py::array_t<double> Bx = zeros_like_grid(X), By = zeros_like_grid(X), Bz = zeros_like_grid(X);
    const std::vector<Vec3> pos = to_vec3_list(c[3]);
    const std::vector<Vec3> mom = to_vec3_list(c[4]);
    FieldKernels::dipole_ring_field_grid(c[0].data(), c[1].data(), c[2].data(), M, pos, mom, Bx.mutable_data(),
                                         By.mutable_data(), Bz.mutable_data());
    return py::make_tuple(Bx, By, Bz);
}

py::tuple vector_potential_grid(const StridedArray& polyline, const StridedArray& grid, double current) {
    if (polyline.ndim() != 2 || polyline.shape(1) != 3)
        throw std::invalid_argument("polyline must have shape [N,3]");
    if (grid.ndim() != 2 || grid.shape(1) != 3) throw std::invalid_argument("grid must have shape [M,3]");
    const tarq::Polyline P = to_vec3_list(polyline);
    // The grid as three coordinate sequences, read contiguously by the double loop.
    const auto g = grid.unchecked<2>();
    const auto M = static_cast<std::size_t>(g.shape(0));
    // Reserved, not zeroed: the pages are first touched inside the polled loop.
    std::vector<double> gx, gy, gz;
    gx.reserve(M);
    gy.reserve(M);
    gz.reserve(M);
    tarq::InterruptPoller poller(tarq::kPollWork);
    for (std::size_t j = 0; j < M; ++j) {
        const auto r = static_cast<py::ssize_t>(j);
        gx.push_back(g(r, 0));
        gy.push_back(g(r, 1));
        gz.push_back(g(r, 2));
        poller.tick(3);
    }
    const std::vector<py::ssize_t> len{static_cast<py::ssize_t>(M)};
    py::array_t<double> Ax = zeros(len), Ay = zeros(len), Az = zeros(len);
    FieldKernels::wire_vector_potential_grid(gx.data(), gy.data(), gz.data(), M, P, current, Ax.mutable_data(),
                                             Ay.mutable_data(), Az.mutable_data());
    return py::make_tuple(Ax, Ay, Az);
}

}  // namespace

void bind_field_kernels(py::module_& m) {
    m.def("dipole_field_at_point", &FieldKernels::dipole_field_at_point, py::arg("r"), py::arg("m"),
          "Analytical point dipole field (mu0=1).");
    m.def("biot_savart_wire_grid", &biot_savart_wire_grid_np, py::arg("X"), py::arg("Y"), py::arg("Z"),
          py::arg("wire_points"), py::arg("current") = 1.0,
          "Biot\u2013Savart of polyline on a 3D grid (midpoint per segment).");
    m.def("dipole_ring_field_grid", &dipole_ring_field_grid_np, py::arg("X"), py::arg("Y"), py::arg("Z"),
          py::arg("positions"), py::arg("moments"), "Superposition of point dipoles on a 3D grid.");
    m.def("biot_savart_vector_potential_grid", &vector_potential_grid, py::arg("polyline"), py::arg("grid"),
          py::arg("current") = 1.0, "Computes Magnetic Vector Potential A on a grid.");
}
