// Time-field formulas: vorticity-driven potentials and time-dilation maps over point sets.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

class TimeField {
public:
    // -1/2 |sum_{j != i} w_j exp(-|x_i - x_j|^2 / (2 eps^2))|^2 per point.
    static std::vector<double> compute_gravitational_potential_gradient(const std::vector<Vec3>& positions,
                                                                        const std::vector<Vec3>& vorticity,
                                                                        double epsilon);
    // -1/(4 pi) sum_{j != i} (d . w_j) / (|d|^2 + eps^2)^1.5 per point.
    static std::vector<double> compute_gravitational_potential_direct(const std::vector<Vec3>& positions,
                                                                      const std::vector<Vec3>& vorticity,
                                                                      double epsilon);
    // sqrt(1 - |t|^2 / C_e^2), floored just above 1e-3 once |t| reaches C_e.
    static std::vector<double> compute_time_dilation_map_sqrt(const std::vector<Vec3>& tangents, double C_e);
    // 1 - |t|^2 / C_e^2, unclamped.
    static std::vector<double> compute_time_dilation_map_linear(const std::vector<Vec3>& tangents, double C_e);
};

// Older entry points, kept for callers of the first interface.
std::vector<double> compute_gravitational_potential(const std::vector<Vec3>& positions,
                                                    const std::vector<Vec3>& vorticity, double epsilon);
std::vector<double> compute_time_dilation_map(const std::vector<Vec3>& tangents, double C_e);

}  // namespace tarq
