// MagnusBernoulliIntegrator: the curvature-term threshold, signs of zeros, and the screening cut-off.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "models/magnus_integrator.hpp"

using tarq::Vec3;

namespace {

void expect_bits(const Vec3& got, const Vec3& want) {
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(got[k], want[k]) << "component " << k;
        EXPECT_EQ(std::signbit(got[k]), std::signbit(want[k])) << "sign of component " << k;
    }
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(MagnusIntegrator, MagnusForceWithCurvature) {
    const MagnusBernoulliIntegrator unit(1.0, 0.0, 0.0, 1.0);
    expect_bits(unit.compute_magnus_force({1, 0, 0}, {0, 1, 0}, 2.0, {0, 1, 0}, {0, 0, 0}), {0.0, 0.5, 1.0});
    // Only the relative velocity counts.
    expect_bits(unit.compute_magnus_force({1, 0, 0}, {0, 1, 0}, 2.0, {3, 4, 5}, {3, 3, 5}), {0.0, 0.5, 1.0});
    // The scale is rho_f * Gamma.
    const MagnusBernoulliIntegrator scaled(2.0, 0.0, 0.0, 3.0);
    expect_bits(scaled.compute_magnus_force({0, 0, 1}, {1, 0, 0}, 0.25, {1, 0, 0}, {0, 0, 0}), {24.0, 6.0, 0.0});
}

TEST(MagnusIntegrator, CurvatureTermNeedsRadiusAboveThreshold) {
    const MagnusBernoulliIntegrator unit(1.0, 0.0, 0.0, 1.0);
    for (double radius : {1e-30, 0.0, -2.0, kNaN}) {
        expect_bits(unit.compute_magnus_force({1, 0, 0}, {0, 1, 0}, radius, {0, 1, 0}, {0, 0, 0}),
                    {0.0, 0.0, 1.0});
        // A tangent parallel to the relative velocity then leaves nothing.
        expect_bits(unit.compute_magnus_force({1, 0, 0}, {0, 1, 0}, radius, {2, 0, 0}, {0, 0, 0}),
                    {0.0, 0.0, 0.0});
    }
    // Just above the threshold the term is 1/R times the normal.
    const Vec3 f = unit.compute_magnus_force({1, 0, 0}, {0, 1, 0}, 2e-30, {0, 0, 0}, {0, 0, 0});
    EXPECT_EQ(f[1], 1.0 / 2e-30);
}

TEST(MagnusIntegrator, SwirlCoulombReference) {
    const MagnusBernoulliIntegrator m(1.0, 1.0, 1.0, 1.0);
    expect_bits(m.compute_swirl_coulomb_accel({1, 0, 0}, {0, 0, 0}), {-std::exp(-2.0), -0.0, -0.0});
    // It points towards the source, whose position is subtracted.
    const Vec3 a = m.compute_swirl_coulomb_accel({0, 3, 4}, {0, 3, 2});
    expect_bits(a, {-0.0, -0.0, std::exp(-4.0) * (-1.0 / 2.0)});
    // v_swirl enters squared, with the sign of an attraction either way.
    const MagnusBernoulliIntegrator neg(1.0, -2.0, 1.0, 1.0);
    expect_bits(neg.compute_swirl_coulomb_accel({1, 0, 0}, {0, 0, 0}), {-4.0 * std::exp(-2.0), -0.0, -0.0});
}

TEST(MagnusIntegrator, SwirlCoulombCutOffs) {
    const MagnusBernoulliIntegrator m(1.0, 1.0, 1.0, 1.0);
    expect_bits(m.compute_swirl_coulomb_accel({2, 2, 2}, {2, 2, 2}), {0.0, 0.0, 0.0});
    // An exponent of exactly -700 is still evaluated; beyond it the result is exactly zero.
    const Vec3 edge = m.compute_swirl_coulomb_accel({350, 0, 0}, {0, 0, 0});
    EXPECT_LT(edge[0], 0.0);
    EXPECT_DOUBLE_EQ(edge[0], std::exp(-700.0) * (-1.0 / 350.0));
    expect_bits(m.compute_swirl_coulomb_accel({350.000001, 0, 0}, {0, 0, 0}), {0.0, 0.0, 0.0});
    // r_c = 0: an exponent of minus infinity for every separation.
    const MagnusBernoulliIntegrator point_core(1.0, 1.0, 0.0, 1.0);
    expect_bits(point_core.compute_swirl_coulomb_accel({1e-20, 0, 0}, {0, 0, 0}), {0.0, 0.0, 0.0});
}

TEST(MagnusIntegrator, NonFiniteInputsPropagate) {
    const MagnusBernoulliIntegrator m(1.0, 1.0, 1.0, 1.0);
    const Vec3 a = m.compute_swirl_coulomb_accel({kNaN, 0, 0}, {0, 0, 0});
    EXPECT_TRUE(std::isnan(a[0]) && std::isnan(a[1]) && std::isnan(a[2]));
    const MagnusBernoulliIntegrator nan_core(1.0, 1.0, kNaN, 1.0);
    EXPECT_TRUE(std::isnan(nan_core.compute_swirl_coulomb_accel({1, 0, 0}, {0, 0, 0})[0]));
}
