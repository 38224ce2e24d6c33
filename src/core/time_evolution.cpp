#include "core/time_evolution.hpp"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include "core/biot_savart.hpp"
#include "core/frenet_helicity.hpp"
#include "core/interrupt.hpp"

namespace tarq {

void point_law_euler_step(std::vector<Vec3>& positions, const std::vector<Vec3>& tangents, double circulation,
                          double dt, std::vector<Vec3>& velocities) {
    const std::size_t n = positions.size();
    BiotSavart::velocities_at_points(positions, tangents, circulation, velocities);
    for (std::size_t j = 0; j < n; ++j) {
        for (int c = 0; c < 3; ++c) positions[j][c] = velocities[j][c] * dt + positions[j][c];
    }
}

TimeEvolution::TimeEvolution(std::vector<Vec3> positions_, std::vector<Vec3> tangents_, double circulation_)
    : positions(std::move(positions_)), tangents(std::move(tangents_)), circulation(circulation_) {
    // The velocity law reads one tangent per point.
    if (tangents.size() < positions.size()) {
        throw std::invalid_argument("TimeEvolution: need at least as many tangents as positions");
    }
}

void TimeEvolution::evolve(double dt, int steps) {
    if (steps <= 0) return;
    if (tangents.size() < positions.size()) {
        throw std::invalid_argument("evolve: need at least as many tangents as positions");
    }
    const std::size_t n = positions.size();
    // Buffers live across steps so that the step loop itself never allocates: after the first
    // refresh, the frame outputs already have their final size.
    std::vector<Vec3> velocities(n);
    std::vector<Vec3> normals_scratch;
    std::vector<Vec3> binormals_scratch;
    normals_scratch.reserve(n);
    binormals_scratch.reserve(n);

    Rollback<std::vector<Vec3>> keep_positions(positions), keep_tangents(tangents);
    InterruptPoller poller(kPollWork);
    const std::uint64_t work = static_cast<std::uint64_t>(n) * n + 1;
    for (int step = 0; step < steps; ++step) {
        poller.tick(work);
        point_law_euler_step(positions, tangents, circulation, dt, velocities);
        if (n >= 2) {
            FrenetHelicity::compute_frenet_frames(positions, tangents, normals_scratch, binormals_scratch);
        } else {
            // Too short for any frame: the sequence is only resized, keeping what it held.
            tangents.resize(n);
        }
    }
    keep_positions.commit();
    keep_tangents.commit();
}

}  // namespace tarq
