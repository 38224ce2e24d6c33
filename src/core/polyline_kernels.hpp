// Discrete functionals of a closed polygon given as N contiguous rows (x, y, z). Edge k runs from vertex k
// to vertex (k + 1) mod N. The functions only read the array and allocate nothing.
#pragma once

#include <cstddef>

namespace tarq {

// Sum over edge pairs i < m of 2 (t_i . t_m) / sqrt(|X_m - X_i|^2 + a^2); N < 2 gives 0.
double trefoil_neumann_self_energy(const double* xyz, std::size_t N, double a);
// Sum of (2 rc / |X_j - X_i|)^12 over non-neighbouring vertex pairs closer than 20 rc; N < 3 gives 0.
double trefoil_core_repulsion(const double* xyz, std::size_t N, double rc);
// Length including the closing edge; N < 2 gives 0.
double trefoil_polyline_length(const double* xyz, std::size_t N);
// Writhe with the distance regularised by rc; N < 2 gives 0.
double trefoil_writhe_reg(const double* xyz, std::size_t N, double rc);
// Sum of squared Menger curvature times the length attributed to each vertex; N < 2 gives 0.
double trefoil_curvature_penalty_menger(const double* xyz, std::size_t N);

}  // namespace tarq
