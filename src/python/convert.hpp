// Conversions and checks shared by the registration units: NumPy arrays to and from the library's
// sequences, length preconditions that the library leaves to its callers, and grid-size arithmetic.
// Include after common.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "common.hpp"
#include "core/types.hpp"

namespace tarq_py {

// Anything NumPy can turn into a C-contiguous float64 array; already-conforming arrays are not copied.
using CArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

inline void require(bool ok, const std::string& message) {
    if (!ok) throw std::invalid_argument(message);
}

// Rows of an (N, 3) array as points; any other shape raises std::invalid_argument(message).
inline std::vector<tarq::Vec3> rows_to_vec3(const CArray& a, const char* message) {
    if (a.ndim() != 2 || a.shape(1) != 3) throw std::invalid_argument(message);
    const std::size_t n = static_cast<std::size_t>(a.shape(0));
    std::vector<tarq::Vec3> out(n);
    const double* p = a.data();
    for (std::size_t i = 0; i < n; ++i) out[i] = {p[3 * i], p[3 * i + 1], p[3 * i + 2]};
    return out;
}

// Elements of a 1-D contiguous array (the caller has checked the dimension).
inline std::vector<double> to_doubles(const CArray& a) {
    const std::size_t n = static_cast<std::size_t>(a.size());
    const double* p = a.data();
    return std::vector<double>(p, p + n);
}

// A new (N, 3) float64 array; (0, 3) for no points.
inline py::array_t<double> vec3_array(const std::vector<tarq::Vec3>& v) {
    py::array_t<double> out({static_cast<py::ssize_t>(v.size()), static_cast<py::ssize_t>(3)});
    auto w = out.mutable_unchecked<2>();
    for (std::size_t i = 0; i < v.size(); ++i) {
        const auto r = static_cast<py::ssize_t>(i);
        w(r, 0) = v[i][0];
        w(r, 1) = v[i][1];
        w(r, 2) = v[i][2];
    }
    return out;
}

// A new 1-D float64 array.
inline py::array_t<double> double_array(const std::vector<double>& v) {
    py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
    auto w = out.mutable_unchecked<1>();
    for (std::size_t i = 0; i < v.size(); ++i) w(static_cast<py::ssize_t>(i)) = v[i];
    return out;
}

// The library samples blocks through a loop over len(a_x) that reads the other five arrays at the same
// indices. Blocks filled field by field from Python may be ragged; such a block is evaluated with the
// missing coefficients taken as zero, through a padded copy, so nothing is read past an array's end.
inline bool block_is_ragged(const tarq::FourierBlock& b) {
    const std::size_t n = b.a_x.size();
    return b.b_x.size() < n || b.a_y.size() < n || b.b_y.size() < n || b.a_z.size() < n || b.b_z.size() < n;
}

inline tarq::FourierBlock padded_block(const tarq::FourierBlock& b) {
    tarq::FourierBlock out = b;
    const std::size_t n = b.a_x.size();
    for (std::vector<double>* c : {&out.b_x, &out.a_y, &out.b_y, &out.a_z, &out.b_z}) {
        if (c->size() < n) c->resize(n, 0.0);
    }
    return out;
}

// `b` itself when it is safe to sample, else a padded copy kept in `scratch`.
inline const tarq::FourierBlock& sampleable(const tarq::FourierBlock& b, tarq::FourierBlock& scratch) {
    if (!block_is_ragged(b)) return b;
    scratch = padded_block(b);
    return scratch;
}

// nx*ny*nz without overflow, saturated at UINT64_MAX; 0 unless every extent is positive.
inline std::uint64_t grid_point_count(const tarq::GridShape& s) {
    if (s[0] <= 0 || s[1] <= 0 || s[2] <= 0) return 0;
    std::uint64_t total = 1;
    for (int k = 0; k < 3; ++k) {
        const auto e = static_cast<std::uint64_t>(s[k]);
        if (total > std::numeric_limits<std::uint64_t>::max() / e) return std::numeric_limits<std::uint64_t>::max();
        total *= e;
    }
    return total;
}

// The library indexes grids with 32-bit signed flat indices.
constexpr std::uint64_t kMaxGridPoints = static_cast<std::uint64_t>(std::numeric_limits<int32_t>::max());

// A field of `samples` entries must cover a grid of `shape` (when the grid has points at all), and the
// grid must be addressable with 32-bit indices.
inline void require_field_covers_grid(std::size_t samples, const tarq::GridShape& shape, const std::string& op) {
    const std::uint64_t count = grid_point_count(shape);
    require(count <= kMaxGridPoints, op + ": grid has more than 2147483647 points");
    require(count <= static_cast<std::uint64_t>(samples), op + ": field has fewer samples than the grid (" +
                                                              std::to_string(samples) + " < " +
                                                              std::to_string(count) + ")");
}

// extract-interior operations: a negative margin is outside their domain; a field only has to cover
// the grid when the interior is not empty (otherwise nothing is read).
inline void require_interior_args(std::size_t samples, const tarq::GridShape& shape, int margin, const std::string& op) {
    require(margin >= 0, op + ": margin must not be negative");
    const auto m2 = 2 * static_cast<std::int64_t>(margin);
    const bool empty = shape[0] - m2 <= 0 || shape[1] - m2 <= 0 || shape[2] - m2 <= 0;
    if (!empty) require_field_covers_grid(samples, shape, op);
}

}  // namespace tarq_py
