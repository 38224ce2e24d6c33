// Invariants of sampled curves: writhe, linking, twist, crossings, PD codes, grid helicity.
#pragma once

#include <array>
#include <utility>
#include <vector>

#include "core/types.hpp"

namespace tarq {

class KnotDynamics {
public:
    struct FourierResult {
        std::vector<Vec3> positions;
        std::vector<Vec3> tangents;
    };

    // ---- curve invariants (knot_dynamics.cpp) ----
    static double compute_writhe(const Polyline& points);
    // A NaN or infinite coordinate throws std::invalid_argument before any work, here, in the reconnection
    // candidates and in the crossing number and PD code below: an integer or index list computed from it
    // would look plausible.
    static int compute_linking_number(const Polyline& a, const Polyline& b);
    static double compute_twist(const std::vector<Vec3>& T, const std::vector<Vec3>& U);
    static double compute_centerline_helicity(const Polyline& points, const std::vector<Vec3>& unused);
    static std::vector<std::pair<int, int>> detect_reconnection_candidates(const Polyline& points, double threshold);
    static FourierResult evaluate_fourier_series(const std::vector<std::array<double, 6>>& coeffs,
                                                 const std::vector<double>& t);
    static double writhe_gauss_curve(const Polyline& points, const std::vector<Vec3>& T);

    // ---- helicity on grids (grid_helicity.cpp) ----
    static std::vector<Vec3> compute_biot_savart_velocity_grid(const Polyline& curve, const std::vector<Vec3>& grid);
    static std::vector<Vec3> compute_vorticity_grid(const std::vector<Vec3>& velocity, const GridShape& shape,
                                                    double spacing);
    static std::vector<Vec3> extract_interior_field(const std::vector<Vec3>& field, const GridShape& shape,
                                                    int margin);
    static HelicityInvariants compute_helicity_invariants(const std::vector<Vec3>& v_sub,
                                                          const std::vector<Vec3>& w_sub,
                                                          const std::vector<double>& r_sq);
    static HelicityInvariants compute_helicity_from_fourier_block(const FourierBlock& block, int grid_size,
                                                                  double spacing, int interior_margin,
                                                                  int nsamples);

    // ---- crossing number and PD code (crossings.cpp) ----
    static int estimate_crossing_number(const Polyline& points, int directions, int seed);
    // The largest code among `tries` seeded projections; a projection in which a crossing is flatter than
    // min_angle_deg or has a depth gap below depth_tol is passed over whole, since its code would miss it.
    static PDCode pd_from_curve(const Polyline& points, int tries, unsigned seed, double min_angle_deg,
                                double depth_tol);
};

}  // namespace tarq
