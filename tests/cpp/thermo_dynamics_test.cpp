// Thermodynamic formulas: exact values and the IEEE results of degenerate arguments.
#include <gtest/gtest.h>

#include <cmath>

#include "models/thermo_dynamics.hpp"

using tarq::ThermoDynamics;

TEST(ThermoDynamics, PotentialTemperature) {
    // Equal pressures leave T for any exponent.
    EXPECT_EQ(ThermoDynamics::potential_temperature(300.0, 1e5, 1e5, 287.05, 1004.0), 300.0);
    EXPECT_EQ(ThermoDynamics::potential_temperature(300.0, 4.0, 1.0, 1.0, 2.0), 600.0);
    EXPECT_EQ(ThermoDynamics::potential_temperature(300.0, 1.0, 2.0, 2.0, 2.0), 150.0);
    // p = 0: an infinite ratio, not an error.
    EXPECT_EQ(ThermoDynamics::potential_temperature(300.0, 1e5, 0.0, 1.0, 2.0), INFINITY);
    EXPECT_TRUE(std::isnan(ThermoDynamics::potential_temperature(300.0, -1.0, 1.0, 1.0, 3.0)));
}

TEST(ThermoDynamics, EntropyFromTheta) {
    EXPECT_EQ(ThermoDynamics::entropy_from_theta(1004.0, 250.0, 5.0), 20.08);
    EXPECT_EQ(ThermoDynamics::entropy_from_theta(2.0, 0.0, 1.0), INFINITY);
    EXPECT_EQ(ThermoDynamics::entropy_from_theta(2.0, -0.0, 1.0), -INFINITY);
    EXPECT_TRUE(std::isnan(ThermoDynamics::entropy_from_theta(2.0, 0.0, 0.0)));
}

TEST(ThermoDynamics, EntropyFromPressureAndVolume) {
    // ln 2 + ln 0.5 cancels exactly, whatever the factor.
    for (double gamma : {1.4, 5.0 / 3.0, -2.0}) {
        EXPECT_EQ(ThermoDynamics::entropy_from_pv(3.0, 8.314, 2.0, 0.5, gamma), 0.0) << gamma;
    }
    EXPECT_EQ(ThermoDynamics::entropy_from_pv(1.0, 2.0, std::exp(1.0), std::exp(1.0), 3.0), 2.0);
    EXPECT_EQ(ThermoDynamics::entropy_from_pv(3.0, 2.0, 1.0, 1.0, 4.0), 0.0);
    // gamma = 1 makes the factor infinite: the result is not finite.
    EXPECT_FALSE(std::isfinite(ThermoDynamics::entropy_from_pv(1.0, 8.314, 2.0, 0.5, 1.0)));
    EXPECT_EQ(ThermoDynamics::entropy_from_pv(1.0, 8.314, 3.0, 3.0, 1.0), INFINITY);
    EXPECT_EQ(ThermoDynamics::entropy_from_pv(1.0, 1.0, 0.0, 1.0, 2.0), -INFINITY);
    EXPECT_TRUE(std::isnan(ThermoDynamics::entropy_from_pv(1.0, 1.0, -1.0, 1.0, 2.0)));
}

TEST(ThermoDynamics, Enthalpy) {
    EXPECT_EQ(ThermoDynamics::enthalpy(5.0, 2.0, 3.0), 11.0);
    EXPECT_EQ(ThermoDynamics::enthalpy(7.25, 0.0, 1e300), 7.25);
    EXPECT_EQ(ThermoDynamics::enthalpy(7.25, 1e300, 0.0), 7.25);
    EXPECT_TRUE(std::isnan(ThermoDynamics::enthalpy(1.0, 0.0, INFINITY)));
}
