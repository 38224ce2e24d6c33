// One closed vortex filament with state, evolved by explicit Euler steps of the point Biot-Savart law.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/types.hpp"

namespace tarq {

class VortexKnotSystem {
public:
    explicit VortexKnotSystem(double circulation);

    void initialize_trefoil_knot(std::size_t n);
    void initialize_figure8_knot(std::size_t n);
    void compute_tangents();
    static std::string find_knot_file(const std::string& name);
    void initialize_knot_from_name(const std::string& name, std::size_t n);
    void evolve(double dt, std::size_t steps);

    const std::vector<Vec3>& get_positions() const { return positions; }
    const std::vector<Vec3>& get_tangents() const { return tangents; }

    std::vector<Vec3> positions;
    std::vector<Vec3> tangents;
    double circulation;

private:
    // Replaces the positions with `points` and the tangents with theirs.
    void set_points(std::vector<Vec3> points);
};

}  // namespace tarq
