// Static fields in units with mu0 = 1: point dipoles and current-carrying wires on grids of points,
// the vector potential of an open wire and the periodic central-difference curl of a sampled field.
#pragma once

#include <cstddef>
#include <vector>

#include "core/types.hpp"

namespace tarq {

class FieldKernels {
public:
    // B = (1/(4 pi)) (3 (m . r^) r^ - m) / |r|^3; zero when |r| < 1e-12.
    static Vec3 dipole_field_at_point(const Vec3& r, const Vec3& m);

    // Adds the field of dipoles i < min(#positions, #moments) at the M points (X[j], Y[j], Z[j]) into
    // Bx, By, Bz (each output element receives its contributions in dipole order).
    static void dipole_ring_field_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                       const std::vector<Vec3>& positions, const std::vector<Vec3>& moments,
                                       double* Bx, double* By, double* Bz);

    // Adds the Biot-Savart field of the open wire (one current element at each segment midpoint) at the
    // M points into Bx, By, Bz; a wire of fewer than two points adds nothing.
    static void biot_savart_wire_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                      const Polyline& wire, double current, double* Bx, double* By, double* Bz);

    // Writes A(g_j) = (current/(4 pi)) sum_s dl_s / |g_j - mid_s| over the segments of the open wire into
    // Ax, Ay, Az (M points given as coordinate arrays); segments with |g_j - mid_s| < 1e-12 are skipped.
    // A wire of fewer than two points leaves the outputs untouched.
    static void wire_vector_potential_grid(const double* X, const double* Y, const double* Z, std::size_t M,
                                           const Polyline& wire, double current, double* Ax, double* Ay,
                                           double* Az);

    // Curl of the field vel[((i*ny + j)*nz + k)*3 + c] on a periodic nx x ny x nz grid with spacing h,
    // by central differences, written into out (same layout); nothing happens when an extent is 0.
    static void curl3d_central(const double* vel, std::size_t nx, std::size_t ny, std::size_t nz, double spacing,
                               double* out);
};

}  // namespace tarq
