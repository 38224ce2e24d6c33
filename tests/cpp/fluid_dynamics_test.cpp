// Fluid-dynamics formulas: evaluation order, strict tests, signed zeros and the paired-length checks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "models/fluid_dynamics.hpp"
#include "test_support.hpp"

using tarq::FluidDynamics;
using tarq::Mat3;
using tarq::Vec3;
using test_support::expect_throw_msg;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(FluidDynamics, PressureFromSpeedKeepsTheWrittenProductOrder) {
    EXPECT_EQ(FluidDynamics::compute_pressure_field({2.0}, 1.0, 10.0), std::vector<double>{8.0});
    EXPECT_EQ(FluidDynamics::compute_bernoulli_pressure({2.0}, 1.0, 10.0), std::vector<double>{8.0});
    // ((rho * -0.5) * v) * v + P: (rho * -0.5) * (v * v) would give -0.35599999999999987.
    EXPECT_EQ(FluidDynamics::compute_pressure_field({1.7, 0.0}, 0.8, 0.8),
              (std::vector<double>{-0.3560000000000001, 0.8}));
    EXPECT_EQ(FluidDynamics::compute_bernoulli_pressure({1.7}, 0.8, 0.8), std::vector<double>{-0.3560000000000001});
    EXPECT_TRUE(FluidDynamics::compute_pressure_field({}, 1.0, 1.0).empty());
}

TEST(FluidDynamics, VelocityMagnitudeIsNotScaled) {
    const auto m = FluidDynamics::compute_velocity_magnitude({{3, 4, 0}, {0, 0, -2}, {1e200, 1e200, 0}});
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0], 5.0);
    EXPECT_EQ(m[1], 2.0);
    EXPECT_EQ(m[2], kInf);  // the squares overflow; no hypot-style rescaling
}

TEST(FluidDynamics, EulerStepUpdatesInPlace) {
    std::vector<Vec3> p{{1, 2, 3}, {-1, 0, 0.5}};
    FluidDynamics::evolve_positions_euler(p, {{1, 0, -1}, {0.5, 0.5, 0.5}, {9, 9, 9}}, 0.5);
    EXPECT_EQ(p, (std::vector<Vec3>{{1.5, 2, 2.5}, {-0.75, 0.25, 0.75}}));
    const std::vector<Vec3> before = p;
    FluidDynamics::evolve_positions_euler(p, {{1, 1, 1}, {2, 2, 2}}, 0.0);
    EXPECT_EQ(p, before);
    std::vector<Vec3> none;
    FluidDynamics::evolve_positions_euler(none, {}, 1.0);
    EXPECT_TRUE(none.empty());
}

TEST(FluidDynamics, ShortSecondSequencesAreRejected) {
    std::vector<Vec3> p{{0, 0, 0}, {1, 1, 1}};
    expect_throw_msg<std::invalid_argument>(
        [&] { FluidDynamics::evolve_positions_euler(p, {{1, 0, 0}}, 1.0); },
        "evolve_positions_euler: velocity must hold at least as many entries as positions");
    EXPECT_EQ(p, (std::vector<Vec3>{{0, 0, 0}, {1, 1, 1}}));
    expect_throw_msg<std::invalid_argument>(
        [] { FluidDynamics::compute_helicity({{1, 0, 0}, {1, 0, 0}}, {{1, 0, 0}}, 1.0); },
        "compute_helicity: vorticity must hold at least as many entries as velocity");
    expect_throw_msg<std::invalid_argument>(
        [] { FluidDynamics::circulation_surface_integral({{1, 0, 0}}, {}); },
        "circulation_surface_integral: dA_field must hold at least as many entries as omega_field");
    expect_throw_msg<std::invalid_argument>([] { FluidDynamics::enstrophy({1.0, 2.0}, {1.0}); },
                                            "enstrophy: ds_area must hold at least as many entries as omega_squared");
}

TEST(FluidDynamics, StrictTestsAndNaN) {
    EXPECT_FALSE(FluidDynamics::is_incompressible({1e-8, 0, 0}, {0, 0, 0}, {0, 0, 0}));
    EXPECT_FALSE(FluidDynamics::is_incompressible({0, 0, 0}, {0, -1e-8, 0}, {0, 0, 0}));
    EXPECT_TRUE(FluidDynamics::is_incompressible({5e-9, 0, 0}, {0, 0, 0}, {0, 0, 0}));
    EXPECT_TRUE(FluidDynamics::is_incompressible({1, 0, 0}, {0, -1, 0}, {0, 0, 0}));
    // Only dudx[0], dvdy[1] and dwdz[2] enter.
    EXPECT_TRUE(FluidDynamics::is_incompressible({0, 7, 7}, {7, 0, 7}, {7, 7, 0}));
    EXPECT_FALSE(FluidDynamics::is_incompressible({kNaN, 0, 0}, {0, 0, 0}, {0, 0, 0}));

    EXPECT_FALSE(FluidDynamics::kairos_energy_trigger(1, 2, 2));
    EXPECT_TRUE(FluidDynamics::kairos_energy_trigger(1, 2.5, 2));
    EXPECT_FALSE(FluidDynamics::kairos_energy_trigger(0, 5, 1));
    EXPECT_TRUE(FluidDynamics::kairos_energy_trigger(-1, 1, 2));  // a negative density reverses the test
    EXPECT_FALSE(FluidDynamics::kairos_energy_trigger(-1, 2, 1));
    EXPECT_FALSE(FluidDynamics::kairos_energy_trigger(1, kNaN, 1));
}

TEST(FluidDynamics, VorticityFromGradient) {
    const Mat3 sym{{{1, 2, 3}, {2, 5, 6}, {3, 6, 9}}};
    EXPECT_EQ(FluidDynamics::compute_vorticity(sym), (Vec3{0, 0, 0}));
    EXPECT_EQ(FluidDynamics::compute_vorticity({{{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}}), (Vec3{0, 0, 1}));
    EXPECT_EQ(FluidDynamics::compute_vorticity({{{0, 1, 2}, {3, 0, 5}, {7, 11, 0}}}), (Vec3{11 - 5, 2 - 7, 3 - 1}));
}

TEST(FluidDynamics, ScalarFormulasInTheWrittenOrder) {
    EXPECT_EQ(FluidDynamics::swirl_clock_rate(3, 1), 1.0);
    EXPECT_EQ(FluidDynamics::vorticity_from_curvature(3, 2), 1.5);
    EXPECT_EQ(FluidDynamics::vorticity_from_curvature(-1, 0), -kInf);
    EXPECT_TRUE(std::isnan(FluidDynamics::vorticity_from_curvature(0, 0)));
    // ((rho * k) * c) * c differs from (rho * k) * (c * c) for these arguments.
    EXPECT_EQ(FluidDynamics::vortex_pressure_drop(0.8, 1.7), 1.1560000000000001);
    EXPECT_EQ(FluidDynamics::vortex_transverse_pressure_diff(0.8, 1.7), 0.5780000000000001);
    EXPECT_EQ(FluidDynamics::swirl_energy(0.8, 1.7), 1.1560000000000001);
    EXPECT_EQ(FluidDynamics::cylinder_inertia(0.8, 1.7), 1.1560000000000001);
    EXPECT_EQ(FluidDynamics::cylinder_mass(0.8, 1.2, 0.8), 2.895291789548353);
    EXPECT_EQ(FluidDynamics::cylinder_mass(1, 1, 1), 3.141592653589793);
    EXPECT_EQ(FluidDynamics::potential_vorticity(0.8, 1.7, 3.0), 0.8333333333333334);
    EXPECT_EQ(FluidDynamics::laplacian_phi(0.8, 0.8, 1.5), 3.1);
    EXPECT_EQ(FluidDynamics::bernoulli_pressure_potential(3, 1), 0.5);
    EXPECT_EQ(FluidDynamics::rossby_number(1, 0.5, 1), 1.0);
    EXPECT_EQ(FluidDynamics::ekman_number(0.1, 0.3, 0.7), 0.6802721088435375);
    EXPECT_EQ(FluidDynamics::torque(2, -1.5), -3.0);
    EXPECT_EQ(FluidDynamics::grad_phi({1, -0.0, kInf})[2], kInf);
}

TEST(FluidDynamics, SumsOverSamples) {
    EXPECT_EQ(FluidDynamics::compute_helicity({{1, 0, 0}}, {{2, 0, 0}}, 0.5), 1.0);
    EXPECT_EQ(FluidDynamics::compute_helicity({{1, 2, 3}, {1, 1, 1}}, {{1, 1, 1}, {-1, 0, 1}, {5, 5, 5}}, 2.0), 12.0);
    // An empty field is 0 times the factor.
    const double empty_h = FluidDynamics::compute_helicity({}, {}, -2.0);
    EXPECT_EQ(empty_h, 0.0);
    EXPECT_TRUE(std::signbit(empty_h));
    EXPECT_TRUE(std::isnan(FluidDynamics::compute_helicity({}, {}, kInf)));
    EXPECT_EQ(FluidDynamics::circulation_surface_integral({}, {}), 0.0);
    EXPECT_EQ(FluidDynamics::circulation_surface_integral({{1, 2, 3}, {0, 0, 1}}, {{1, 1, 1}, {0, 0, -0.5}}), 5.5);
    EXPECT_EQ(FluidDynamics::enstrophy({2, 3}, {0.5, 1}), 4.0);
    EXPECT_EQ(FluidDynamics::enstrophy({}, {}), 0.0);
    EXPECT_EQ(FluidDynamics::compute_kinetic_energy({{1, 2, 2}, {0, 0, 1}}, 2.0), 10.0);
    EXPECT_TRUE(std::signbit(FluidDynamics::compute_kinetic_energy({}, -2.0)));
}

TEST(FluidDynamics, PressureGradientSignsAndBorders) {
    const auto g = FluidDynamics::pressure_gradient({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, 1.0, 1.0);
    ASSERT_EQ(g.size(), 3u);
    for (const auto& row : g) {
        ASSERT_EQ(row.size(), 3u);
        for (const Vec3& e : row) {
            EXPECT_EQ(e[0], -1.0);
            EXPECT_EQ(e[1], 0.0);
            EXPECT_TRUE(std::signbit(e[1]));  // the negated zero difference
            EXPECT_FALSE(std::signbit(e[2]));
        }
    }
    const Vec3 corner{-2.0, -1.0, 0.0};
    EXPECT_EQ(FluidDynamics::pressure_gradient({{0, 1}, {2, 3}}, 1.0, 1.0),
              (std::vector<std::vector<Vec3>>{{corner, corner}, {corner, corner}}));
}

TEST(FluidDynamics, PressureGradientCentralInsideOneSidedOnTheBorder) {
    // P = x^2 + 3 y on x = i*dx, y = j*dy: the differences below are exact in binary.
    const double dx = 0.5, dy = 0.25;
    const std::size_t nx = 4, ny = 5;
    std::vector<std::vector<double>> P(nx, std::vector<double>(ny + 2, 99.0));  // longer rows: the tail is unread
    for (std::size_t i = 0; i < nx; ++i) {
        for (std::size_t j = 0; j < ny; ++j) P[i][j] = (i * dx) * (i * dx) + 3.0 * (j * dy);
    }
    P[0].resize(ny);
    const auto g = FluidDynamics::pressure_gradient(P, dx, dy);
    ASSERT_EQ(g.size(), nx);
    for (std::size_t i = 0; i < nx; ++i) {
        ASSERT_EQ(g[i].size(), ny);
        // Central: 2x; forward at x = 0: (0.25 - 0) / 0.5; backward at x = 1.5: (2.25 - 1) / 0.5.
        const double Dx = i == 0 ? 0.5 : i == nx - 1 ? 2.5 : 2.0 * (i * dx);
        for (std::size_t j = 0; j < ny; ++j) EXPECT_EQ(g[i][j], (Vec3{-Dx, -3.0, 0.0})) << i << "," << j;
    }
}

TEST(FluidDynamics, PressureGradientDegenerateTables) {
    EXPECT_TRUE(FluidDynamics::pressure_gradient({}, 1, 1).empty());
    EXPECT_EQ(FluidDynamics::pressure_gradient({{}, {}, {1.0}}, 1, 1), (std::vector<std::vector<Vec3>>(3)));
    const Vec3 zero{0, 0, 0};
    EXPECT_EQ(FluidDynamics::pressure_gradient({{1, 5, 9}}, 1, 1), (std::vector<std::vector<Vec3>>{{zero, zero, zero}}));
    EXPECT_EQ(FluidDynamics::pressure_gradient({{1}, {5}, {9}}, 1, 1),
              (std::vector<std::vector<Vec3>>{{zero}, {zero}, {zero}}));
    // dx = 0 gives IEEE results, no exception.
    const auto inf = FluidDynamics::pressure_gradient({{0, 0}, {1, 1}}, 0.0, 1.0);
    EXPECT_EQ(inf[0][0][0], -kInf);
    expect_throw_msg<std::invalid_argument>(
        [] { FluidDynamics::pressure_gradient({{1, 2, 3}, {1, 2}, {1, 2, 3}}, 1, 1); },
        "pressure_gradient: every row must hold at least as many values as the first");
    expect_throw_msg<std::invalid_argument>(
        [] { FluidDynamics::pressure_gradient({{1, 2}, {}}, 1, 1); },
        "pressure_gradient: every row must hold at least as many values as the first");
}
