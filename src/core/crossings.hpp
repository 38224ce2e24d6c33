// Seeded projections, crossing detection and planar-diagram codes of closed polygons.
// KnotDynamics::estimate_crossing_number and KnotDynamics::pd_from_curve are declared in knot_dynamics.hpp;
// this header exposes the building blocks they share.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "core/types.hpp"

namespace tarq {

// Normal deviates from MT19937 by Marsaglia's polar method. The pair order is fixed (u*f first, v*f kept
// for the next draw) so that projection directions are reproducible across platforms; a library normal
// distribution hands the members out in another order.
class SeededNormalStream {
public:
    explicit SeededNormalStream(std::uint32_t seed) : engine_(seed) {}

    double next() {
        if (has_cached_) {
            has_cached_ = false;
            return cached_;
        }
        double u = 0.0, v = 0.0, s = 0.0;
        do {
            u = uniform();
            v = uniform();
            s = u * u + v * v;
        } while (s > 1.0 || s == 0.0);
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        cached_ = v * f;
        has_cached_ = true;
        return u * f;
    }

    // Drops a pending second member; the engine keeps its position.
    void clear_cache() { has_cached_ = false; }

private:
    // Uniform on [-1, 1) from two engine outputs, the first one as the low half.
    double uniform() {
        const double lo = static_cast<double>(engine_());
        const double hi = static_cast<double>(engine_());
        const double c = (hi * 4294967296.0 + lo) * 0x1p-64;
        return 2.0 * c - 1.0;
    }

    std::mt19937 engine_;
    double cached_ = 0.0;
    bool has_cached_ = false;
};

// Integer invariants of a curve with a NaN or infinite coordinate would be plausible wrong numbers (the
// crossing tests quietly fail for its edges): throws std::invalid_argument("<op>: non-finite coordinate").
void require_finite_points(const char* op, const Polyline& points);

// PD code of one projection: P2 are the projected vertices of a closed polygon, depth their coordinate along
// the viewing direction. Throws std::runtime_error when no crossing is accepted, std::invalid_argument when
// the two sequences differ in length or a coordinate or depth is not finite.
PDCode build_pd_from_projection(const std::vector<std::pair<double, double>>& P2, const std::vector<double>& depth,
                                double min_angle_deg, double depth_tol);

// Placeholder kept for interface compatibility; always 0.0.
double hyperbolic_volume_from_pd(const PDCode& pd);

}  // namespace tarq
