// Vorticity formulas: the gridded curl with its size checks, and the vector terms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "models/vorticity_dynamics.hpp"
#include "test_support.hpp"

using tarq::Mat3;
using tarq::Vec3;
using tarq::VorticityDynamics;
using test_support::expect_throw_msg;

TEST(VorticityGrid, OnlyTheCentreOfAThreeByThreeGrid) {
    const std::vector<double> u{0, 2, 0, 0, 0, 0, 0, 7, 0};
    const std::vector<double> v{0, 0, 0, 1, 0, 4, 0, 0, 0};
    const auto w = VorticityDynamics::compute_vorticity2D(u, v, 3, 3, 0.5, 2.0);
    // (v5 - v3) / (2 dx) - (u7 - u1) / (2 dy) = 3 - 1.25
    EXPECT_EQ(w, (std::vector<double>{0, 0, 0, 0, 1.75, 0, 0, 0, 0}));
}

TEST(VorticityGrid, SolidBodyRotationIsTwoInsideZeroOnTheBorder) {
    const int nx = 5, ny = 4;
    const double dx = 0.5, dy = 0.25;
    std::vector<double> u(nx * ny), v(nx * ny);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            u[j * nx + i] = -(j * dy);
            v[j * nx + i] = i * dx;
        }
    }
    u.push_back(1e300);  // longer inputs are read only up to nx*ny - 1
    const auto w = VorticityDynamics::compute_vorticity2D(u, v, nx, ny, dx, dy);
    ASSERT_EQ(w.size(), 20u);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const bool border = i == 0 || j == 0 || i == nx - 1 || j == ny - 1;
            EXPECT_EQ(w[j * nx + i], border ? 0.0 : 2.0) << i << "," << j;
        }
    }
}

TEST(VorticityGrid, SmallAndDegenerateGrids) {
    const std::vector<double> nine(9, 1.0);
    EXPECT_EQ(VorticityDynamics::compute_vorticity2D(nine, nine, 2, 4, 1, 1), std::vector<double>(8, 0.0));
    EXPECT_EQ(VorticityDynamics::compute_vorticity2D(nine, nine, 3, 2, 1, 1), std::vector<double>(6, 0.0));
    EXPECT_TRUE(VorticityDynamics::compute_vorticity2D({}, {}, 0, 5, 1, 1).empty());
    // Two negative extents give a positive count and no interior.
    EXPECT_EQ(VorticityDynamics::compute_vorticity2D(nine, nine, -3, -3, 1, 1), std::vector<double>(9, 0.0));
    // A zero spacing gives IEEE values.
    const std::vector<double> v{0, 0, 0, 0, 0, 1, 0, 0, 0};
    const auto w = VorticityDynamics::compute_vorticity2D(nine, v, 3, 3, 0.0, 1.0);
    EXPECT_EQ(w[4], std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(VorticityDynamics::compute_vorticity2D(nine, nine, 3, 3, 0.0, 1.0)[4]));
}

TEST(VorticityGrid, CountsOutsideThe32BitRangeThrowVector) {
    const std::vector<double> nine(9, 0.0);
    const int kMax = std::numeric_limits<std::int32_t>::max();
    // 65536^2 wraps to 0 and 46341^2 to a negative int in 32 bits; both are refused before any access.
    for (const auto& [nx, ny] : std::vector<std::pair<int, int>>{
             {65536, 65536}, {46341, 46341}, {65537, 65537}, {2, 1 << 30}}) {
        expect_throw_msg<std::length_error>([&] { VorticityDynamics::compute_vorticity2D(nine, nine, nx, ny, 1, 1); },
                                            "vector");
    }
    // A negative count fails the sequence's own size check, with the standard library's text.
    for (const auto& [nx, ny] : std::vector<std::pair<int, int>>{{3, -3}, {-1, kMax}}) {
        EXPECT_THROW(VorticityDynamics::compute_vorticity2D(nine, nine, nx, ny, 1, 1), std::length_error);
    }
}

TEST(VorticityGrid, ShortVelocityComponentsAreRejected) {
    const std::vector<double> nine(9, 0.0), eight(8, 0.0);
    const char* msg = "compute_vorticity2D: u and v must each hold at least nx*ny values";
    expect_throw_msg<std::invalid_argument>([&] { VorticityDynamics::compute_vorticity2D(eight, nine, 3, 3, 1, 1); }, msg);
    expect_throw_msg<std::invalid_argument>([&] { VorticityDynamics::compute_vorticity2D(nine, eight, 3, 3, 1, 1); }, msg);
    expect_throw_msg<std::invalid_argument>([&] { VorticityDynamics::compute_vorticity2D(nine, nine, 2, 5, 1, 1); }, msg);
    // The largest count that fits is a size question, not a length error.
    expect_throw_msg<std::invalid_argument>(
        [&] { VorticityDynamics::compute_vorticity2D(nine, nine, 1, std::numeric_limits<std::int32_t>::max(), 1, 1); },
        msg);
}

TEST(VorticityScalars, IdentitiesAndSignedZero) {
    EXPECT_EQ(VorticityDynamics::vorticity_z_2D(3, 0.5), 2.5);
    EXPECT_EQ(VorticityDynamics::local_circulation_density(3, 0.5), 2.5);
    EXPECT_EQ(VorticityDynamics::solid_body_rotation_vorticity(1.25), 2.5);
    const double c = VorticityDynamics::couette_vorticity(0.0);
    EXPECT_EQ(c, 0.0);
    EXPECT_TRUE(std::signbit(c));
    EXPECT_EQ(VorticityDynamics::couette_vorticity(-2.0), 2.0);
}

TEST(VorticityVectors, CroccoAndRotatingFrame) {
    const Vec3 gp{2, -4, 6};
    EXPECT_EQ(VorticityDynamics::crocco_relation({1, 2, 3}, 2.0, gp), (Vec3{1, -2, 3}));
    EXPECT_EQ(VorticityDynamics::crocco_relation({-7, 0, 1e300}, 2.0, gp), (Vec3{1, -2, 3}));
    // omega x velocity = (0, 0, 1) x (1, 0, 0) = (0, 1, 0).
    const Vec3 r = VorticityDynamics::rotating_frame_rhs({1, 0, 0}, {5, 5, 5}, {1, 1, 1}, gp, {0, 0, 1}, 2.0);
    EXPECT_EQ(r, (Vec3{-2, -1, -4}));
    EXPECT_EQ(VorticityDynamics::rotating_frame_rhs({1, 0, 0}, {-9, 0, 0}, {1, 1, 1}, gp, {0, 0, 1}, 2.0), r);
    // vorticity x velocity = (0, 1, 0), times rho, plus grad_phi, plus grad_p / rho.
    EXPECT_EQ(VorticityDynamics::crocco_gradient({1, 0, 0}, {0, 0, 1}, {1, 1, 1}, gp, 2.0), (Vec3{2, 1, 4}));
}

TEST(VorticityVectors, BaroclinicAndTransport) {
    const Vec3 b = VorticityDynamics::baroclinic_term({1, 2, 3}, {2, 4, 6}, 3.0);
    EXPECT_EQ(b, (Vec3{0, 0, 0}));
    EXPECT_EQ(VorticityDynamics::baroclinic_term({1, 0, 0}, {0, 1, 0}, 2.0), (Vec3{0, 0, 0.25}));
    EXPECT_TRUE(std::isnan(VorticityDynamics::baroclinic_term({1, 2, 3}, {2, 4, 6}, 0.0)[0]));
    const Mat3 I{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    const Vec3 w{1, -2, 0.5};
    EXPECT_EQ(VorticityDynamics::compute_vorticity_rhs(w, I, 3.0, {1, 1, 1}, {2, 2, 2}, 5.0), (Vec3{-2, 4, -1}));
    // Stretching row by row, minus compression, plus the baroclinic term (1, 0, 0) x (0, 1, 0) / 4.
    const Mat3 g{{{0, 1, 0}, {0, 0, 2}, {3, 0, 0}}};
    EXPECT_EQ(VorticityDynamics::compute_vorticity_rhs({1, 1, 1}, g, 0.5, {1, 0, 0}, {0, 1, 0}, 2.0),
              (Vec3{0.5, 1.5, 2.75}));
}
