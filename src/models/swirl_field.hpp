// The two-dimensional swirl force field on a square grid, in single precision.
#pragma once

#include <array>
#include <vector>

namespace tarq {

// Force (F_x, F_y) at the res x res points x_i = i/res - 0.5, y_j = j/res - 0.5 of the unit square, entry
// i*res + j: a tangential part of strength 0.25 and an inward radial term 0.1/r^2, both modulated by the ring
// wave 1 + 0.03 sin(10 r - 6 time). A negative res gives res^2 zero entries; res^2 above the signed 32-bit
// range throws std::length_error("vector").
std::vector<std::array<float, 2>> compute_swirl_field(int res, float time);

}  // namespace tarq
