// Helicity invariants on grids: forwarders onto the Biot-Savart kernels and the helicity of the
// unit-circulation flow of one Fourier block on a cubic grid around it.
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "core/biot_savart.hpp"
#include "core/constants.hpp"
#include "core/fourier_knot.hpp"
#include "core/interrupt.hpp"
#include "core/knot_dynamics.hpp"

namespace tarq {

namespace {
// Largest grid whose G^3 samples still have 32-bit flat indices.
constexpr int kMaxGridSize = constants::kMaxHelicityGrid;
}  // namespace

std::vector<Vec3> KnotDynamics::compute_biot_savart_velocity_grid(const Polyline& curve,
                                                                 const std::vector<Vec3>& grid) {
    return BiotSavart::computeVelocity(curve, grid, 1.0);
}

std::vector<Vec3> KnotDynamics::compute_vorticity_grid(const std::vector<Vec3>& velocity, const GridShape& shape,
                                                       double spacing) {
    return BiotSavart::computeVorticity(velocity, shape, spacing);
}

std::vector<Vec3> KnotDynamics::extract_interior_field(const std::vector<Vec3>& field, const GridShape& shape,
                                                       int margin) {
    return BiotSavart::extractInterior(field, shape, margin);
}

HelicityInvariants KnotDynamics::compute_helicity_invariants(const std::vector<Vec3>& v_sub,
                                                             const std::vector<Vec3>& w_sub,
                                                             const std::vector<double>& r_sq) {
    return BiotSavart::computeInvariants(v_sub, w_sub, r_sq);
}

HelicityInvariants KnotDynamics::compute_helicity_from_fourier_block(const FourierBlock& block, int grid_size,
                                                                     double spacing, int interior_margin,
                                                                     int nsamples) {
    if (grid_size > kMaxGridSize)
        throw std::invalid_argument("compute_helicity_from_fourier_block: grid_size above 1290");
    if (interior_margin < 0)
        throw std::invalid_argument("compute_helicity_from_fourier_block: negative interior_margin");

    const Polyline curve = FourierKnot::sample_closed_centred(block, nsamples);

    const std::int64_t G = grid_size;
    const std::int64_t half = G / 2;
    // A negative size reaches the vector's size check (std::length_error) without overflowing.
    const std::size_t count = G < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(G * G * G);
    std::vector<Vec3> grid(count);
    std::size_t idx = 0;
    // Every whole-grid step polls: a large grid takes seconds even with few curve samples.
    InterruptPoller poller(kPollWork);
    for (std::int64_t a = 0; a < G; ++a) {
        const double x = static_cast<double>(a - half) * spacing;
        for (std::int64_t b = 0; b < G; ++b) {
            const double y = static_cast<double>(b - half) * spacing;
            for (std::int64_t c = 0; c < G; ++c) grid[idx++] = {x, y, static_cast<double>(c - half) * spacing};
            poller.tick(static_cast<std::uint64_t>(G));
        }
    }

    const std::vector<Vec3> u = BiotSavart::computeVelocity(curve, grid, 1.0);
    grid = std::vector<Vec3>();
    const GridShape shape{grid_size, grid_size, grid_size};
    const std::vector<Vec3> w = BiotSavart::computeVorticity(u, shape, spacing);
    const std::vector<Vec3> u_in = BiotSavart::extractInterior(u, shape, interior_margin);
    const std::vector<Vec3> w_in = BiotSavart::extractInterior(w, shape, interior_margin);

    const std::int64_t m = interior_margin;
    const std::int64_t gi = G - 2 * m;
    std::vector<double> r_sq;
    if (gi > 0) {
        r_sq.reserve(static_cast<std::size_t>(gi * gi * gi));
        for (std::int64_t a = 0; a < gi; ++a) {
            const double x = static_cast<double>(a + m - half) * spacing;
            for (std::int64_t b = 0; b < gi; ++b) {
                const double y = static_cast<double>(b + m - half) * spacing;
                for (std::int64_t c = 0; c < gi; ++c) {
                    const double z = static_cast<double>(c + m - half) * spacing;
                    r_sq.push_back(z * z + (y * y + x * x));
                }
                poller.tick(static_cast<std::uint64_t>(gi));
            }
        }
    }
    return BiotSavart::computeInvariants(u_in, w_in, r_sq);
}

}  // namespace tarq
