// Biot-Savart kernels: segment and point laws, grid vorticity and interior, helicity invariants,
// cutoff-energy scan, and bit equality of the SIMD and portable kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/kernel_dispatch.hpp"

#include "test_support.hpp"


namespace {

using test_support::both_paths;
using test_support::expect_throw_msg;
using test_support::random_points;

using tarq::BiotSavart;
using tarq::GridShape;
using tarq::Polyline;
using tarq::Vec3;




Polyline circle(std::size_t n, double R, double z = 0.0) {
    Polyline p(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 2 * M_PI * static_cast<double>(i) / static_cast<double>(n);
        p[i] = {R * std::cos(t), R * std::sin(t), z};
    }
    return p;
}

// Number of components that differ in their bits (NaN matches NaN).
std::size_t bit_mismatches(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    std::size_t n = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 3; ++k)
            if (!(a[i][k] == b[i][k] || (std::isnan(a[i][k]) && std::isnan(b[i][k])))) ++n;
    return n;
}

// The segment law written out in its stated order, as an independent reference.
std::vector<Vec3> segment_law_reference(const Polyline& c, const std::vector<Vec3>& grid, double circulation) {
    std::vector<Vec3> v(grid.size(), Vec3{0, 0, 0});
    if (c.size() < 2) return v;
    for (std::size_t j = 0; j < c.size(); ++j) {
        const Vec3& a = c[j];
        const Vec3& b = c[(j + 1) % c.size()];
        const Vec3 dl{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const Vec3 q{(a[0] + b[0]) * 0.5, (a[1] + b[1]) * 0.5, (a[2] + b[2]) * 0.5};
        for (std::size_t g = 0; g < grid.size(); ++g) {
            const Vec3 R{grid[g][0] - q[0], grid[g][1] - q[1], grid[g][2] - q[2]};
            const double den = std::pow((R[0] * R[0] + R[1] * R[1]) + R[2] * R[2], 1.5) + 1e-12;
            v[g][0] += (dl[1] * R[2] - dl[2] * R[1]) / den;
            v[g][1] += (dl[2] * R[0] - dl[0] * R[2]) / den;
            v[g][2] += (dl[0] * R[1] - dl[1] * R[0]) / den;
        }
    }
    const double f = circulation / 12.566370614359172;
    for (Vec3& x : v) x = {x[0] * f, x[1] * f, x[2] * f};
    return v;
}

// ------------------------------------------------------------------------------------------------
// Segment law
// ------------------------------------------------------------------------------------------------

TEST(BiotSavartSegmentLaw, DegenerateCurvesAndGrids) {
    const std::vector<Vec3> grid{{1, 2, 3}, {0, 0, 0}, {-1, 0.5, 2}};
    EXPECT_TRUE(BiotSavart::computeVelocity(circle(10, 1.0), {}, 1.0).empty());
    for (const Polyline& c : {Polyline{}, Polyline{{1, 1, 1}}}) {
        const std::vector<Vec3> v = BiotSavart::computeVelocity(c, grid, 3.0);
        ASSERT_EQ(v.size(), grid.size());
        for (const Vec3& x : v) EXPECT_EQ(x, (Vec3{0, 0, 0}));
    }
    // Two points: two opposite segments with one midpoint cancel exactly.
    const std::vector<Vec3> v2 = BiotSavart::computeVelocity({{0, 0, 0}, {1, 2, -1}}, grid, 1.0);
    for (const Vec3& x : v2) {
        EXPECT_EQ(x[0], 0.0);
        EXPECT_EQ(x[1], 0.0);
        EXPECT_EQ(x[2], 0.0);
    }
}

TEST(BiotSavartSegmentLaw, OnAxisFieldOfARing) {
    // Ring of radius R, circulation G: u_z(z) = G R^2 / (2 (R^2 + z^2)^1.5) on the axis.
    const double R = 1.5, G = 2.0;
    const Polyline ring = circle(4000, R);
    const std::vector<Vec3> axis{{0, 0, 0}, {0, 0, 0.7}, {0, 0, -2.0}};
    const std::vector<Vec3> v = BiotSavart::computeVelocity(ring, axis, G);
    for (std::size_t i = 0; i < axis.size(); ++i) {
        const double z = axis[i][2];
        const double expected = G * R * R / (2 * std::pow(R * R + z * z, 1.5));
        EXPECT_NEAR(v[i][2], expected, 1e-6 * expected);
        EXPECT_NEAR(v[i][0], 0.0, 1e-12);
        EXPECT_NEAR(v[i][1], 0.0, 1e-12);
    }
}

TEST(BiotSavartSegmentLaw, PointAtAMidpointAndCirculation) {
    const Polyline square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const std::vector<Vec3> at_mid{{0.5, 0, 0}};
    const Vec3 v = BiotSavart::computeVelocity(square, at_mid, 1.0)[0];
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_TRUE(std::isfinite(v[2]));
    EXPECT_GT(v[2], 0.0);  // counter-clockwise loop, point on its edge inside the plane

    std::mt19937_64 g(3);
    const Polyline c = random_points(g, 37, 1.0);
    const std::vector<Vec3> grid = random_points(g, 29, 2.0);
    const std::vector<Vec3> one = BiotSavart::computeVelocity(c, grid, 1.0);
    const std::vector<Vec3> two = BiotSavart::computeVelocity(c, grid, 2.0);
    EXPECT_EQ(BiotSavart::computeVelocity(c, grid), one);
    for (std::size_t i = 0; i < grid.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(two[i][k], 2.0 * one[i][k]);
}

TEST(BiotSavartSegmentLaw, BitEqualToStatedOrderOnBothPaths) {
    std::mt19937_64 g(11);
    struct Case {
        std::size_t curve, grid;
        double scale;
    };
    // Grid sizes around the kernel's block and lane widths.
    for (const Case& c : {Case{3, 1, 1.0}, Case{5, 7, 1.0}, Case{64, 513, 3.0}, Case{101, 1030, 0.01}}) {
        const Polyline curve = random_points(g, c.curve, c.scale);
        const std::vector<Vec3> grid = random_points(g, c.grid, 2 * c.scale);
        const auto r = both_paths([&] { return BiotSavart::computeVelocity(curve, grid, 0.75); });
        const std::vector<Vec3> ref = segment_law_reference(curve, grid, 0.75);
        EXPECT_EQ(bit_mismatches(r.first, ref), 0u) << c.curve << "x" << c.grid;
        EXPECT_EQ(bit_mismatches(r.second, ref), 0u) << c.curve << "x" << c.grid;
    }
}

TEST(BiotSavartSegmentLaw, PowerOfDistanceIsTheLibraryPowOverAWideRange) {
    // Distances from 1e-32 to 1e32 (squared: far outside the fast range on both sides), grid
    // points on segment midpoints, and integer coordinates whose powers are exact.
    std::mt19937_64 g(5);
    std::uniform_real_distribution<double> e(-32.0, 32.0);
    std::uniform_real_distribution<double> dir(-1.0, 1.0);
    const Polyline tri{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    std::vector<Vec3> grid;
    for (int i = 0; i < 200000; ++i) {
        const double r = std::pow(10.0, e(g));
        grid.push_back({0.5 + r * dir(g), r * dir(g), r * dir(g)});
    }
    for (int i = 0; i < 64; ++i) grid.push_back({0.5 + i, static_cast<double>(i % 7), 2.0});
    grid.push_back({0.5, 0.0, 0.0});
    grid.push_back({0.5, 0.5, 0.0});
    const auto r = both_paths([&] { return BiotSavart::computeVelocity(tri, grid, 1.0); });
    EXPECT_EQ(bit_mismatches(r.first, r.second), 0u);
}

// ------------------------------------------------------------------------------------------------
// Point-element law
// ------------------------------------------------------------------------------------------------

TEST(BiotSavartPointLaw, SingleElementAndExclusion) {
    const double inv4pi = 1.0 / 12.566370614359172;
    // T x d = (0,0,1) x (2,0,0) = (0,2,0), |d|^3 = 8.
    const Vec3 v = BiotSavart::velocity({2, 0, 0}, {{0, 0, 0}}, {{0, 0, 1}}, 3.0);
    EXPECT_EQ(v, (Vec3{0.0, (2.0 * inv4pi) * (3.0 / 8.0), 0.0}));

    EXPECT_EQ(BiotSavart::velocity({1, 2, 3}, {}, {}, 1.0), (Vec3{0, 0, 0}));
    // The filament's own point and points within 1e-6 contribute nothing; NaN points are skipped.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Polyline X{{1, 1, 1}, {1 + 5e-7, 1, 1}, {nan, 0, 0}, {0, 0, 0}, {1, 1, 1}};
    const std::vector<Vec3> T{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 1, 0}, {5, 5, 5}};
    const Vec3 only_origin = BiotSavart::velocity({1, 1, 1}, {{0, 0, 0}}, {{0, 1, 0}}, 1.0);
    const auto r = both_paths([&] { return BiotSavart::velocity({1, 1, 1}, X, T, 1.0); });
    EXPECT_EQ(r.first, only_origin);
    EXPECT_EQ(r.second, only_origin);
}

TEST(BiotSavartPointLaw, TangentsUnchangedAndBitEqualPaths) {
    std::mt19937_64 g(17);
    for (std::size_t n : {1u, 3u, 4u, 5u, 8u, 13u, 1001u}) {
        const Polyline X = random_points(g, n, 1.0);
        std::vector<Vec3> T = random_points(g, n + 2, 3.0);  // more tangents than points is fine
        Polyline probes = random_points(g, 5, 1.5);
        probes.push_back(X[n / 2]);
        for (const Vec3& r : probes) {
            const auto v = both_paths([&] { return BiotSavart::velocity(r, X, T, 1.3); });
            EXPECT_EQ(v.first, v.second) << n;
        }
        // Doubling one tangent doubles only its own term: linear in T, no normalisation.
        std::vector<Vec3> T2 = T;
        for (Vec3& t : T2) t = {2 * t[0], 2 * t[1], 2 * t[2]};
        const Vec3 a = BiotSavart::velocity(probes[0], X, T, 1.0);
        const Vec3 b = BiotSavart::velocity(probes[0], X, T2, 1.0);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], 2 * a[k], 1e-12 * (std::fabs(a[k]) + 1));
    }
}

TEST(BiotSavartPointLaw, FewerTangentsThanPointsRejected) {
    expect_throw_msg<std::invalid_argument>(
        [] { BiotSavart::velocity({0, 0, 0}, {{1, 0, 0}, {0, 1, 0}}, {{0, 0, 1}}, 1.0); },
        "velocity: fewer tangents than points");
}

// The point law at r written out in its stated order, as an independent reference.
Vec3 point_law_reference(const Vec3& r, const Polyline& X, const std::vector<Vec3>& T, double circulation) {
    const double inv4pi = 1.0 / 12.566370614359172;
    double sx = 0.0, sy = 0.0, sz = 0.0;
    for (std::size_t i = 0; i < X.size(); ++i) {
        const double dx = r[0] - X[i][0], dy = r[1] - X[i][1], dz = r[2] - X[i][2];
        const double dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
        if (!(dist > 1e-6)) continue;
        const double f = circulation / (dist * dist * dist);
        sx += ((T[i][1] * dz - T[i][2] * dy) * inv4pi) * f;
        sy += ((T[i][2] * dx - T[i][0] * dz) * inv4pi) * f;
        sz += ((T[i][0] * dy - T[i][1] * dx) * inv4pi) * f;
    }
    return {sx, sy, sz};
}

std::vector<Vec3> all_points_reference(const Polyline& X, const std::vector<Vec3>& T, double circulation) {
    std::vector<Vec3> v;
    for (const Vec3& r : X) v.push_back(point_law_reference(r, X, T, circulation));
    return v;
}

std::vector<Vec3> all_points(const Polyline& X, const std::vector<Vec3>& T, double circulation) {
    std::vector<Vec3> v{{9, 9, 9}};  // stale contents are replaced
    BiotSavart::velocities_at_points(X, T, circulation, v);
    return v;
}

TEST(BiotSavartPointLaw, AllPointsBitEqualToStatedOrderOnEveryPath) {
    std::mt19937_64 g(23);
    // Sizes on both sides of every lane and block width, and one of the sizes a time step uses.
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 41; ++n) sizes.push_back(n);
    sizes.push_back(1001);
    // Scales near 2^-60 (every pair inside the exclusion radius), near the radius itself, and near 2^60 and
    // 2^340 (cubes of the distance overflow).
    for (double scale : {0x1p-60, 0x1p-20, 1.0, 0x1p60, 0x1p340}) {
        for (std::size_t n : sizes) {
            if (n > 41 && scale != 1.0) continue;
            const Polyline X = random_points(g, n, scale);
            const std::vector<Vec3> T = random_points(g, n + 3, 2.0);
            const std::vector<Vec3> ref = all_points_reference(X, T, 0.8);
            for (const auto& r : test_support::every_path([&] { return all_points(X, T, 0.8); }))
                EXPECT_EQ(bit_mismatches(r.second, ref), 0u) << r.first << " n=" << n << " scale=" << scale;
        }
    }
}

TEST(BiotSavartPointLaw, AllPointsAwkwardCasesOnEveryPath) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937_64 g(29);
    Polyline X = random_points(g, 37, 1.0);
    std::vector<Vec3> T = random_points(g, 37, 1.0);
    X[3] = X[2];                                   // coincident points
    X[4] = X[2];
    X[5] = {X[2][0] + 5e-7, X[2][1], X[2][2]};     // inside the exclusion radius
    X[6] = {X[2][0], X[2][1] + 1e-6, X[2][2]};     // at the radius (rounding decides)
    X[7] = {X[2][0], X[2][1], X[2][2] + 2e-6};     // just outside
    X[9] = {nan, 0.0, 0.0};
    X[12] = {inf, 1.0, 1.0};
    X[13] = {-inf, 0.0, inf};
    X[17] = {0x1p-1060, 0.0, 0.0};                 // subnormal coordinate
    X[18] = {0x1p-1060, 0x1p-1070, 0.0};
    T[20] = {nan, 1.0, 0.0};
    T[21] = {inf, 0.0, 0.0};
    T[22] = {0.0, -0.0, 0.0};
    X[33] = {1e300, -1e300, 1e300};                // squares overflow
    const Polyline tail(X.begin() + 30, X.end());  // a short set, all in one partial block
    const std::vector<Vec3> tail_t(T.begin() + 30, T.end());
    for (double c : {1.0, -0.0, inf, nan}) {
        for (const auto& set : {std::make_pair(X, T), std::make_pair(tail, tail_t)}) {
            const std::vector<Vec3> ref = all_points_reference(set.first, set.second, c);
            for (const auto& r : test_support::every_path([&] { return all_points(set.first, set.second, c); }))
                EXPECT_EQ(bit_mismatches(r.second, ref), 0u) << r.first << " c=" << c << " n=" << set.first.size();
        }
    }
    // A set of identical points gives exactly zero everywhere, with positive signs.
    const Polyline same(19, Vec3{0.25, -1.0, 3.0});
    for (const auto& r : test_support::every_path([&] { return all_points(same, same, 1.0); }))
        for (const Vec3& v : r.second)
            for (double x : v) EXPECT_TRUE(x == 0.0 && !std::signbit(x)) << r.first;
}

TEST(BiotSavartPointLaw, AllPointsFewerTangentsRejected) {
    std::vector<Vec3> out;
    expect_throw_msg<std::invalid_argument>(
        [&] { BiotSavart::velocities_at_points({{1, 0, 0}, {0, 1, 0}}, {{0, 0, 1}}, 1.0, out); },
        "velocities_at_points: fewer tangents than points");
}

// ------------------------------------------------------------------------------------------------
// Vorticity and interior
// ------------------------------------------------------------------------------------------------

std::size_t flat(const GridShape& s, int i, int j, int k) {
    return static_cast<std::size_t>((i * s[1] + j) * s[2] + k);
}

std::vector<Vec3> field_of(const GridShape& s, double h, Vec3 (*f)(double, double, double)) {
    std::vector<Vec3> v(static_cast<std::size_t>(s[0]) * s[1] * s[2]);
    for (int i = 0; i < s[0]; ++i)
        for (int j = 0; j < s[1]; ++j)
            for (int k = 0; k < s[2]; ++k) v[flat(s, i, j, k)] = f(i * h, j * h, k * h);
    return v;
}

TEST(BiotSavartVorticity, NegatedCurlOfARotation) {
    const GridShape s{6, 6, 6};
    const double h = 0.1;
    const auto w = BiotSavart::computeVorticity(
        field_of(s, h, [](double x, double y, double) { return Vec3{-y, x, 0.0}; }), s, h);
    for (int i = 1; i < 5; ++i)
        for (int j = 1; j < 5; ++j)
            for (int k = 0; k < 6; ++k) {
                const Vec3& v = w[flat(s, i, j, k)];
                EXPECT_EQ(v[0], 0.0);
                EXPECT_EQ(v[1], 0.0);
                EXPECT_NEAR(v[2], -2.0, 1e-12);
            }
}

TEST(BiotSavartVorticity, ComponentsAndPeriodicWrap) {
    // One linear field per derivative: each lands in one component with a minus sign, and the
    // first sample along the axis mixes with the last one.
    const GridShape s{4, 5, 6};
    const double h = 0.5;
    struct Case {
        Vec3 (*f)(double, double, double);
        int component;
        int axis;
    };
    const Case cases[] = {
        {[](double, double y, double) { return Vec3{0, 0, y}; }, 0, 1},  // D_j F_z
        {[](double, double, double z) { return Vec3{z, 0, 0}; }, 1, 2},  // D_k F_x
        {[](double x, double, double) { return Vec3{0, x, 0}; }, 2, 0},  // D_i F_y
    };
    for (const Case& c : cases) {
        const auto w = BiotSavart::computeVorticity(field_of(s, h, c.f), s, h);
        const int n = s[c.axis];
        for (int i = 0; i < s[0]; ++i)
            for (int j = 0; j < s[1]; ++j)
                for (int k = 0; k < s[2]; ++k) {
                    const int idx = c.axis == 0 ? i : c.axis == 1 ? j : k;
                    const double expected = idx == 0 ? (n - 2) / 2.0 : idx == n - 1 ? (n - 2) / 2.0 : -1.0;
                    const Vec3& v = w[flat(s, i, j, k)];
                    for (int m = 0; m < 3; ++m) EXPECT_NEAR(v[m], m == c.component ? expected : 0.0, 1e-12);
                }
    }
}

TEST(BiotSavartVorticity, DegenerateShapesAndLengths) {
    const std::vector<Vec3> five(5, Vec3{1, 2, 3});
    for (const GridShape& s : {GridShape{0, 3, 3}, GridShape{2, -1, 2}, GridShape{-4, -4, -4}}) {
        const auto w = BiotSavart::computeVorticity(five, s, 0.1);
        EXPECT_EQ(w, std::vector<Vec3>(5, Vec3{0, 0, 0}));
    }
    // Constant field: zero; entries beyond the grid stay zero.
    const std::vector<Vec3> longer(3 * 3 * 3 + 4, Vec3{7, -1, 2});
    EXPECT_EQ(BiotSavart::computeVorticity(longer, {3, 3, 3}, 0.2), std::vector<Vec3>(31, Vec3{0, 0, 0}));
    // Extent 2 along z: both z-neighbours are the same sample.
    const GridShape s2{3, 3, 2};
    const auto wz = BiotSavart::computeVorticity(
        field_of(s2, 1.0, [](double, double, double z) { return Vec3{z * z + 1, 3 * z, 0}; }), s2, 1.0);
    for (const Vec3& v : wz) EXPECT_EQ(v, (Vec3{0, 0, 0}));

    expect_throw_msg<std::invalid_argument>([&] { BiotSavart::computeVorticity(five, {2, 2, 2}, 0.1); },
                                            "computeVorticity: field shorter than grid");
    // Extents whose product overflows 32 and 64 bits are still caught.
    expect_throw_msg<std::invalid_argument>(
        [&] { BiotSavart::computeVorticity(five, {2147483647, 2147483647, 2147483647}, 0.1); },
        "computeVorticity: field shorter than grid");
}

TEST(BiotSavartInterior, MarginsAndOrder) {
    const GridShape s{4, 5, 6};
    std::vector<Vec3> f(4 * 5 * 6 + 3);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = {static_cast<double>(i), 0, 0};

    const auto all = BiotSavart::extractInterior(f, s, 0);
    ASSERT_EQ(all.size(), 120u);
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i][0], static_cast<double>(i));

    const auto in = BiotSavart::extractInterior(f, s, 1);
    ASSERT_EQ(in.size(), 2u * 3u * 4u);
    std::size_t n = 0;
    for (int i = 1; i < 3; ++i)
        for (int j = 1; j < 4; ++j)
            for (int k = 1; k < 5; ++k) EXPECT_EQ(in[n++][0], static_cast<double>(flat(s, i, j, k)));

    EXPECT_TRUE(BiotSavart::extractInterior(f, s, 2).empty());  // 4 - 2 <= 2
    EXPECT_TRUE(BiotSavart::extractInterior(f, {0, 5, 6}, 0).empty());
    EXPECT_TRUE(BiotSavart::extractInterior({}, {-3, 5, 6}, 1).empty());

    expect_throw_msg<std::invalid_argument>([&] { BiotSavart::extractInterior(f, s, -1); },
                                            "extractInterior: negative margin");
    expect_throw_msg<std::invalid_argument>([&] { BiotSavart::extractInterior(f, {5, 5, 6}, 1); },
                                            "extractInterior: field shorter than grid");
}

// ------------------------------------------------------------------------------------------------
// Helicity invariants
// ------------------------------------------------------------------------------------------------

TEST(BiotSavartInvariants, SumsAndDegenerateQuotients) {
    const auto [hc0, hm0, a0] = BiotSavart::computeInvariants({}, {}, {});
    EXPECT_EQ(hc0, 0.0);
    EXPECT_EQ(hm0, 0.0);
    EXPECT_TRUE(std::isnan(a0));

    // u.w = 1*2 + 2*0 + 3*1 = 5 and -1; |w|^2 r2 = 5*2 + 9*0.5 + 4*1 (w longer than u).
    const std::vector<Vec3> u{{1, 2, 3}, {0, 1, 0}};
    const std::vector<Vec3> w{{2, 0, 1}, {0, -1, 0}, {0, 0, 2}};
    const std::vector<double> r2{2.0, 0.5, 1.0, 99.0};
    const auto [hc, hm, a] = BiotSavart::computeInvariants(u, w, r2);
    EXPECT_EQ(hc, 4.0);
    EXPECT_DOUBLE_EQ(hm, 10.0 + 0.5 + 4.0);
    EXPECT_DOUBLE_EQ(a, 0.5 * (4.0 / 14.5 - 1.0));

    const auto [hc1, hm1, a1] = BiotSavart::computeInvariants({{1, 0, 0}}, {{1, 0, 0}}, {0.0});
    EXPECT_EQ(hc1, 1.0);
    EXPECT_EQ(hm1, 0.0);
    EXPECT_TRUE(std::isinf(a1));

    expect_throw_msg<std::invalid_argument>([&] { BiotSavart::computeInvariants(w, u, r2); },
                                            "computeInvariants: w shorter than u");
    expect_throw_msg<std::invalid_argument>([&] { BiotSavart::computeInvariants(u, w, {1.0, 2.0}); },
                                            "computeInvariants: r2 shorter than w");
}

// ------------------------------------------------------------------------------------------------
// Cutoff-energy scan
// ------------------------------------------------------------------------------------------------

std::vector<double> flatten(const std::vector<Vec3>& v) {
    std::vector<double> out;
    for (const Vec3& x : v) out.insert(out.end(), x.begin(), x.end());
    return out;
}

TEST(BiotSavartCutoffScan, MatchesOnePassPerCutoff) {
    std::mt19937_64 g(23);
    const std::size_t N = 60;
    const std::vector<double> X = flatten(random_points(g, N, 1.0));
    const std::vector<double> T = flatten(random_points(g, N, 1.0));
    std::vector<double> ds(N);
    std::uniform_real_distribution<double> u(0.1, 1.0);
    for (double& d : ds) d = u(g);
    const std::vector<double> a{0.1, 0.5, 0.5, 2.0, 10.0};
    const std::vector<double> E = tarq::bs_cutoff_energy_scan(X.data(), T.data(), ds.data(), N, a.data(), a.size());
    ASSERT_EQ(E.size(), a.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        double sum = 0.0;
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t j = 0; j < N; ++j) {
                if (i == j) continue;
                const double dx = X[3 * j] - X[3 * i], dy = X[3 * j + 1] - X[3 * i + 1], dz = X[3 * j + 2] - X[3 * i + 2];
                const double r = std::sqrt(dx * dx + dy * dy + dz * dz);
                if (r > a[k])
                    sum += (T[3 * i] * T[3 * j] + T[3 * i + 1] * T[3 * j + 1] + T[3 * i + 2] * T[3 * j + 2]) / r *
                           ds[i] * ds[j];
            }
        EXPECT_NEAR(E[k], sum / (8 * M_PI), 1e-12 * (1 + std::fabs(sum))) << k;
    }
    EXPECT_EQ(E[1], E[2]);
    EXPECT_NEAR(E[4], 0.0, 1e-13);  // no pair is 10 apart: only the prefix sum's rounding is left
}

TEST(BiotSavartCutoffScan, BoundariesAndDegenerateCounts) {
    // One pair at distance exactly 1, parallel unit tangents: c = 1 per ordered pair.
    const std::vector<double> X{0, 0, 0, 1, 0, 0};
    const std::vector<double> T{1, 0, 0, 1, 0, 0};
    const std::vector<double> ds{1, 1};
    const double full = 2.0 / 25.132741228718345;
    const std::vector<double> a{0.5, 1.0, 1.5};
    EXPECT_EQ(tarq::bs_cutoff_energy_scan(X.data(), T.data(), ds.data(), 2, a.data(), 3),
              (std::vector<double>{full, 0.0, 0.0}));
    EXPECT_TRUE(tarq::bs_cutoff_energy_scan(X.data(), T.data(), ds.data(), 2, a.data(), 0).empty());
    EXPECT_EQ(tarq::bs_cutoff_energy_scan(X.data(), T.data(), ds.data(), 1, a.data(), 3), std::vector<double>(3, 0.0));
    EXPECT_EQ(tarq::bs_cutoff_energy_scan(nullptr, nullptr, nullptr, 0, a.data(), 3), std::vector<double>(3, 0.0));
    // Coincident points are skipped.
    const std::vector<double> Xc{0, 0, 0, 0, 0, 0};
    EXPECT_EQ(tarq::bs_cutoff_energy_scan(Xc.data(), T.data(), ds.data(), 2, a.data(), 1), std::vector<double>(1, 0.0));
    // Cut-offs are used as given: for (2.0, 0.5) the lower bound of 1 is past the end, so the
    // pair counts in both energies.
    const std::vector<double> unsorted{2.0, 0.5};
    EXPECT_EQ(tarq::bs_cutoff_energy_scan(X.data(), T.data(), ds.data(), 2, unsorted.data(), 2),
              (std::vector<double>{full, full}));
}

}  // namespace
