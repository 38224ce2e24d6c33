// Radiation force and Van der Pol right-hand sides: reference values and division by zero.
#include <gtest/gtest.h>

#include <cmath>

#include "models/radiation_flow.hpp"

using tarq::RadiationFlow;

TEST(RadiationFlow, RadiationForce) {
    EXPECT_EQ(RadiationFlow::radiation_force(1.5e8, 1.0, 0.0, 1.0, 1.0), 0.0);
    // P = 1 exactly only with the round light speed 3e8.
    EXPECT_EQ(RadiationFlow::radiation_force(1.5e8, 1.0, 0.5, 1.0, 1.0), 2.0 / 3.0);
    EXPECT_EQ(RadiationFlow::radiation_force(3e8, 2.0, 1.0, 3.0, 2.0), 4.0);
    // |a3| = |a5| zeroes the denominator; a5 = 0 leaves nothing finite.
    EXPECT_EQ(RadiationFlow::radiation_force(1.5e8, 1.0, 1.0, 1.0, 1.0), INFINITY);
    EXPECT_EQ(RadiationFlow::radiation_force(1.5e8, 1.0, -1.0, 1.0, 1.0), -INFINITY);
    EXPECT_FALSE(std::isfinite(RadiationFlow::radiation_force(1.5e8, 1.0, 0.5, 1.0, 0.0)));
}

TEST(RadiationFlow, VanDerPol) {
    EXPECT_EQ(RadiationFlow::dxdt(5.0, 7.0), 7.0);
    EXPECT_EQ(RadiationFlow::dxdt(NAN, 7.0), 7.0);
    EXPECT_EQ(RadiationFlow::dydt(0.0, 1.0, 2.0), 2.0);
    EXPECT_EQ(RadiationFlow::dydt(2.0, 0.0, 1.0), -2.0);
    EXPECT_EQ(RadiationFlow::dydt(3.0, 2.0, 0.5), -11.0);
    EXPECT_EQ(RadiationFlow::dydt(0.5, 4.0, 1.0), 2.5);
}
