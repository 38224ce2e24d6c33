// Biot-Savart kernels: segment and point laws, grid vorticity, helicity invariants, cutoff scan.
#pragma once

#include <cstddef>
#include <vector>

#include "core/types.hpp"

namespace tarq {

class BiotSavart {
public:
    // The point law skips sources closer than this to the evaluation point (the filament's own point).
    static constexpr double kPointLawExclusion = 1e-6;

    static std::vector<Vec3> computeVelocity(const Polyline& curve, const std::vector<Vec3>& grid_points,
                                             double circulation);
    static std::vector<Vec3> computeVelocity(const Polyline& curve, const std::vector<Vec3>& grid_points);
    static std::vector<Vec3> computeVorticity(const std::vector<Vec3>& field, const GridShape& shape, double h);
    static std::vector<Vec3> extractInterior(const std::vector<Vec3>& field, const GridShape& shape, int margin);
    static HelicityInvariants computeInvariants(const std::vector<Vec3>& u, const std::vector<Vec3>& w,
                                                const std::vector<double>& r2);
    static Vec3 velocity(const Vec3& r, const Polyline& filament_points, const std::vector<Vec3>& tangent_vectors,
                         double circulation);
    // velocity(points[j], points, tangents, circulation) for every j, bit for bit, into out (resized to fit).
    static void velocities_at_points(const Polyline& points, const std::vector<Vec3>& tangents, double circulation,
                                     std::vector<Vec3>& out);
};

std::vector<double> bs_cutoff_energy_scan(const double* X, const double* T, const double* ds, std::size_t N,
                                          const double* a, std::size_t M);

}  // namespace tarq
