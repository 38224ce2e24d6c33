// Filament mass integral: reference masses, closure, symmetries and the extended-precision core mass.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "models/tarq_integrator.hpp"
#include "test_support.hpp"

namespace {

using tarq::Polyline;
using test_support::both_paths;

std::pair<double, double> mass(const Polyline& p, double chi) {
    double core = -1.0, fluid = -1.0;
    tarq::compute_tarq_mass(p, chi, core, fluid);
    return {core, fluid};
}

// The double sum written out: rows in order, each row summed over j in order.
double neumann_reference(const Polyline& P) {
    const std::size_t n = P.size();
    double S = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        double row = 0.0;
        for (std::size_t j = 0; j < n; ++j) {
            const tarq::Vec3 a = {P[(i + 1) % n][0] - P[i][0], P[(i + 1) % n][1] - P[i][1], P[(i + 1) % n][2] - P[i][2]};
            const tarq::Vec3 b = {P[(j + 1) % n][0] - P[j][0], P[(j + 1) % n][1] - P[j][1], P[(j + 1) % n][2] - P[j][2]};
            const double dx = P[i][0] - P[j][0], dy = P[i][1] - P[j][1], dz = P[i][2] - P[j][2];
            row += ((a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]) /
                   std::sqrt(((dx * dx + dy * dy) + dz * dz) + 1.985196939949829e-30);
        }
        S += row;
    }
    return S;
}

TEST(TarqMass, EmptyAndSinglePoint) {
    EXPECT_EQ(mass({}, 2.0), std::make_pair(0.0, 0.0));
    EXPECT_EQ(mass({{1, 2, 3}}, 2.0), std::make_pair(0.0, 0.0));
}

TEST(TarqMass, UnitSquareReferenceAndSymmetries) {
    const Polyline sq = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const auto m = mass(sq, 2.0);
    EXPECT_EQ(m.first, 9.7128455313849771e-11);
    EXPECT_EQ(m.second, 3.2244783175609962e-25);
    // The closing segment is implicit: repeating the first point, or any point, changes nothing.
    Polyline closed = sq;
    closed.push_back(sq[0]);
    EXPECT_EQ(mass(closed, 2.0), m);
    const Polyline doubled = {sq[0], sq[1], sq[1], sq[2], sq[3]};
    EXPECT_EQ(mass(doubled, 2.0), m);
    EXPECT_EQ(mass(sq, -2.0), m);
    EXPECT_EQ(mass(sq, 0.0), std::make_pair(m.first, 0.0));
    EXPECT_EQ(mass(sq, 7.0).first, m.first);
}

TEST(TarqMass, CoreMassNarrowedOnceFromExtendedPrecision) {
    // Two points 0.5 m apart, closed: L = 1.
    EXPECT_EQ(mass({{0, 0, 0}, {0.5, 0, 0}}, 1.0).first, 2.4282113828462443e-11);
    // L = 3: the double product of the rounded constant would differ in the last bit.
    const double core3 = mass({{0, 0, 0}, {1.5, 0, 0}}, 1.0).first;
    EXPECT_EQ(core3, static_cast<double>(2.428211382846244304e-11L * 3.0L));
}

TEST(TarqMass, NeumannSumBitEqualToReferenceOnBothPaths) {
    std::mt19937_64 rng(21);
    for (std::size_t n : {3u, 4u, 103u}) {
        const Polyline P = test_support::random_points(rng, n, 1e-15);
        const double expected = (((3.0 * 3.0) * 2.5520118267065337e-24) * neumann_reference(P)) / 8.987551787368176e16;
        const auto r = both_paths([&] { return mass(P, 3.0); });
        EXPECT_EQ(r.first.second, expected) << n;
        EXPECT_EQ(r.second, r.first) << n;
    }
}

}  // namespace
