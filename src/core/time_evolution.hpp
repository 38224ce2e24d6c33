// Explicit-Euler motion of a sampled vortex filament under its own point-element Biot-Savart velocity.
#pragma once

#include <vector>

#include "core/types.hpp"

namespace tarq {

// One explicit Euler step of the point law: every velocity from the state before the step, then
// x <- v dt + x. `velocities` is the caller's scratch, kept across steps so that they do not allocate.
void point_law_euler_step(std::vector<Vec3>& positions, const std::vector<Vec3>& tangents, double circulation,
                          double dt, std::vector<Vec3>& velocities);

class TimeEvolution {
public:
    // Throws std::invalid_argument when there are fewer tangents than positions.
    TimeEvolution(std::vector<Vec3> positions, std::vector<Vec3> tangents, double circulation);

    // `steps` Euler steps of size dt; after each step the tangents become the unit Frenet tangents of the
    // moved (open) point sequence. steps <= 0 does nothing.
    void evolve(double dt, int steps);

    const std::vector<Vec3>& get_positions() const { return positions; }
    const std::vector<Vec3>& get_tangents() const { return tangents; }

private:
    std::vector<Vec3> positions;
    std::vector<Vec3> tangents;
    double circulation;
};

}  // namespace tarq
