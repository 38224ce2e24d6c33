// Shared value types of the knot geometry core.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace tarq {

using Vec3 = std::array<double, 3>;
using Polyline = std::vector<Vec3>;
using FilamentSet = std::vector<Polyline>;

// 3 x 3 matrix by rows; as a velocity gradient, g[i][j] = d v_i / d x_j.
using Mat3 = std::array<Vec3, 3>;

// Extents (nx, ny, nz) of a regular grid; sample (i, j, k) sits at (i*ny + j)*nz + k.
using GridShape = std::array<int32_t, 3>;

// (H_charge, H_mass, a_mu)
using HelicityInvariants = std::tuple<double, double, double>;

// One record per crossing: (under_in, over_in, under_out, over_out).
using PDCode = std::vector<std::array<int, 4>>;

// Name (knot identifier or relative file name) -> whole file text.
using KnotFileMap = std::map<std::string, std::string>;

// One Fourier series of a closed curve; element k of each array is harmonic k + 1.
struct FourierBlock {
    std::string header;
    std::vector<double> a_x;
    std::vector<double> b_x;
    std::vector<double> a_y;
    std::vector<double> b_y;
    std::vector<double> a_z;
    std::vector<double> b_z;
};

}  // namespace tarq
