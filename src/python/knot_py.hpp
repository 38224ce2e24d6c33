// Shared pieces of the knot family's registration units: the argument helpers and the sub-family binders
// that bind_knot calls in order.
#pragma once

#include "python/common.hpp"
#include "python/convert.hpp"

#include <stdexcept>
#include <string>
#include <vector>

#include "core/fourier_knot.hpp"
#include "core/types.hpp"

namespace knot_py {

using tarq::FourierBlock;
using tarq::FourierKnot;
using tarq::Polyline;
using tarq::Vec3;
using tarq_py::CArray;
using tarq_py::require;
using IdealABComponent = FourierKnot::IdealABComponent;
using IdealABBlock = FourierKnot::IdealABBlock;

// Every array-shape failure of this family reports the same text, whichever function it occurs in.
inline constexpr const char* kShapeN3 = "pd_from_curve: expected array with shape (N,3)";

inline std::vector<Vec3> to_vec3(const CArray& a) { return tarq_py::rows_to_vec3(a, kShapeN3); }

inline void check_1d_same_len(const CArray& a, const CArray& b, const char* pair) {
    if (a.ndim() != 1 || b.ndim() != 1 || a.shape(0) != b.shape(0)) {
        throw std::invalid_argument(std::string("fourier_knot_eval: ") + pair + " must be 1D and same length");
    }
}

// Point sets come as NumPy arrays (taken through to_vec3) or as sequences of triples. A NumPy conversion
// error passes through; a sequence that does not convert raises the binding library's cast error.
inline Polyline point_set(const py::object& obj) {
    if (py::isinstance<py::array>(obj)) return to_vec3(tarq_py::c_contiguous(py::reinterpret_borrow<py::array>(obj)));
    return obj.cast<Polyline>();
}

inline std::vector<double> one_dim_s(const CArray& s) {
    require(s.ndim() == 1, "s must be 1D");
    return tarq_py::to_doubles(s);
}

// knot_blocks_py.cpp
void bind_fourier_records(py::module_& m);
void bind_block_functions(py::module_& m);
void bind_descriptors(py::module_& m);
// knot_invariants_py.cpp
void bind_invariants(py::module_& m);
void bind_grid_functions(py::module_& m);
// knot_catalogue_py.cpp
void bind_catalogue_functions(py::module_& m);
void bind_loaded_knots(py::module_& m);
void bind_vortex_knot_system(py::module_& m);

}  // namespace knot_py
