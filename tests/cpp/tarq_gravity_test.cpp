// Gravity formulas: argument checks and their order, the clamp's NaN, the screened Coulomb law.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "models/tarq_gravity.hpp"
#include "test_support.hpp"

namespace {

using tarq::TARQGravity;
using tarq::Vec3;
using test_support::expect_throw_msg;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(TARQGravity, ArgumentChecksComeBeforeAnyResult) {
    using IA = std::invalid_argument;
    const std::vector<Vec3> none, one = {{1, 0, 0}};
    expect_throw_msg<IA>([] { TARQGravity::compute_G_swirl(1, 1, 0, 1, 2); }, "F_max and r_c must be positive.");
    expect_throw_msg<IA>([] { TARQGravity::compute_G_swirl(1, 1, 0.5, -0.0, 2); }, "F_max and r_c must be positive.");
    expect_throw_msg<IA>([&] { TARQGravity::compute_beltrami_shear(none, one); },
                         "B_field and Curl_B must have the same size.");
    expect_throw_msg<IA>([&] { TARQGravity::compute_gravity_dilation(none, 10.0, 1.0, 0.0); },
                         "B_saturation must be positive.");
    expect_throw_msg<IA>([&] { TARQGravity::compute_helicity_density(one, none); },
                         "A_field and B_field must have the same size.");
    expect_throw_msg<IA>([] { TARQGravity::compute_swirl_coulomb_potential({}, 1.0, -1.0); }, "r_c must be positive.");
    expect_throw_msg<IA>([] { TARQGravity::compute_swirl_coulomb_force({}, 1.0, -0.0); }, "r_c must be positive.");
    // NaN passes the positivity checks.
    EXPECT_TRUE(std::isnan(TARQGravity::compute_G_swirl(1, 1, kNaN, 1, 2)));
    EXPECT_TRUE(std::isnan(TARQGravity::compute_swirl_coulomb_potential({1.0}, 1.0, kNaN)[0]));
}

TEST(TARQGravity, CouplingShearAndHelicity) {
    EXPECT_EQ(TARQGravity::compute_G_swirl(1, 1, 0.5, 1, 2), 32.0);
    EXPECT_EQ(TARQGravity::compute_beltrami_shear({{1, 0, 0}, {1, 2, 3}}, {{0, 1, 0}, {2, 4, 6}}),
              (std::vector<double>{1.0, 0.0}));
    EXPECT_EQ(TARQGravity::compute_helicity_density({{1, 2, 3}}, {{4, 5, 6}}), std::vector<double>{32.0});
    EXPECT_TRUE(TARQGravity::compute_helicity_density({}, {}).empty());
}

TEST(TARQGravity, DilationClampKeepsNaN) {
    const std::vector<Vec3> B = {{0, 0, 0}, {30, 40, 0}, {300, 400, 0}, {kNaN, 0, 0}};
    // omega <= 0, NaN or 1: no drive, every finite sample is 1.
    for (double omega : {0.0, -5.0, 1.0, kNaN}) {
        const auto g = TARQGravity::compute_gravity_dilation(B, omega, 1.0, 100.0);
        EXPECT_EQ(g[0], 1.0);
        EXPECT_EQ(g[1], 1.0);
        EXPECT_EQ(g[2], 1.0);
        EXPECT_TRUE(std::isnan(g[3]));
    }
    const auto g = TARQGravity::compute_gravity_dilation(B, 10.0, 1.0, 100.0);
    EXPECT_EQ(g[0], 1.0);
    EXPECT_EQ(g[1], 0.75);  // t = 0.5
    EXPECT_EQ(g[2], 0.0);   // |B| log10(omega) > B_saturation
    EXPECT_TRUE(std::isnan(g[3]));
    EXPECT_EQ(TARQGravity::compute_gravity_dilation(B, 10.0, -7e9, 100.0)[1], g[1]);
    // Infinite drive on a zero field: 0 * inf.
    EXPECT_TRUE(std::isnan(TARQGravity::compute_gravity_dilation({{0, 0, 0}}, kInf, 1.0, 100.0)[0]));
}

TEST(TARQGravity, ScreenedCoulombPotentialAndForce) {
    const auto V = TARQGravity::compute_swirl_coulomb_potential({0.0, 3.0, -3.0}, 3.0, 2.0);
    EXPECT_EQ(V[0], -1.5);
    EXPECT_EQ(V[1], -3.0 / std::sqrt(13.0));
    EXPECT_EQ(V[2], V[1]);
    const auto F = TARQGravity::compute_swirl_coulomb_force({0.0, 3.0, -3.0, kNaN}, 3.0, 2.0);
    EXPECT_EQ(F[0], 0.0);
    EXPECT_EQ(F[1], (3.0 * -3.0) / std::pow(13.0, 1.5));
    EXPECT_LT(F[1], 0.0);
    EXPECT_EQ(F[2], -F[1]);
    EXPECT_EQ(F[3], 0.0);  // a NaN power gives 0
    // The power underflows to 0: the force is 0, not a 0/0.
    EXPECT_EQ(TARQGravity::compute_swirl_coulomb_force({0.0}, 1.0, 1e-200)[0], 0.0);
    EXPECT_EQ(TARQGravity::compute_swirl_coulomb_force({1e-110}, 1.0, 1e-200)[0], 0.0);
}

}  // namespace
