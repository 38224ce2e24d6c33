// Curve invariants of KnotDynamics and the helicity invariants of a Fourier block on a grid.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
#include "core/knot_dynamics.hpp"

#include "test_support.hpp"


namespace {

using test_support::block_of_rows;
using test_support::both_paths;
using test_support::expect_throw_msg;
using test_support::random_points;

using tarq::BiotSavart;
using tarq::FourierBlock;
using tarq::KnotDynamics;
using tarq::Polyline;
using tarq::Vec3;




// Circle with its first point repeated at the end (a closed loop as an open polyline).
Polyline loop(std::size_t n, const Vec3& c, const Vec3& e1, const Vec3& e2) {
    Polyline p;
    for (std::size_t i = 0; i <= n; ++i) {
        const double t = 2 * M_PI * static_cast<double>(i % n) / static_cast<double>(n);
        const double a = std::cos(t), b = std::sin(t);
        p.push_back({c[0] + a * e1[0] + b * e2[0], c[1] + a * e1[1] + b * e2[1], c[2] + a * e1[2] + b * e2[2]});
    }
    return p;
}

Polyline reversed(Polyline p) { return Polyline(p.rbegin(), p.rend()); }

// The trefoil of the built-in 3_1 text, as (a_x, b_x, a_y, b_y, a_z, b_z) rows of harmonics 1..5.
const std::vector<std::array<double, 6>> kTrefoil = {{0.000000, 0.224483, 0.224483, 0.000000, 0.000000, 0.000000},
                               {0.995730, 0.000000, 0.000000, 0.995730, 0.000000, 0.000000},
                               {0.000000, 0.000000, 0.000000, 0.000000, 0.445727, 0.000000},
                               {0.000000, 0.000000, 0.000000, 0.000000, 0.000000, 0.000000},
                               {0.000000, 0.221238, -0.221238, 0.000000, 0.000000, 0.000000}};

FourierBlock trefoil_block() { return block_of_rows(kTrefoil); }

// The same curve as rows of evaluate_fourier_series, whose row 0 is the constant term.
std::vector<std::array<double, 6>> trefoil_table() {
    std::vector<std::array<double, 6>> t{{0, 0, 0, 0, 0, 0}};
    t.insert(t.end(), kTrefoil.begin(), kTrefoil.end());
    return t;
}

// ------------------------------------------------------------------------------------------------
// Writhe
// ------------------------------------------------------------------------------------------------

TEST(InvariantsWrithe, SmallPlanarAndReference) {
    EXPECT_EQ(KnotDynamics::compute_writhe({}), 0.0);
    EXPECT_EQ(KnotDynamics::compute_writhe({{1, 2, 3}, {4, 5, 6}}), 0.0);
    std::mt19937_64 g(1);
    Polyline planar = random_points(g, 40, 1.0);
    for (Vec3& p : planar) p[2] = 0.0;
    EXPECT_EQ(KnotDynamics::compute_writhe(planar), 0.0);

    // Independent NumPy evaluation of the same double sum.
    const Polyline X{{0, 0, 0}, {1, 0, 0.2}, {1, 1, -0.3}, {0, 1, 0.5}, {0.2, -0.3, 0.1}, {1.2, 0.4, -0.6},
                     {0.3, 0.9, 0.8}};
    EXPECT_NEAR(KnotDynamics::compute_writhe(X), 0.8744922976780546, 1e-14);
    // A mirror image negates the writhe.
    Polyline mirror = X;
    for (Vec3& p : mirror) p[2] = -p[2];
    EXPECT_NEAR(KnotDynamics::compute_writhe(mirror), -0.8744922976780546, 1e-14);
    // Coincident segment starts are skipped rather than dividing by zero.
    EXPECT_TRUE(std::isfinite(KnotDynamics::compute_writhe({{0, 0, 0}, {1, 0, 0}, {0, 0, 0}, {0, 1, 1}, {2, 0, 1}})));
}

TEST(InvariantsWrithe, BothPathsGiveTheSameBits) {
    std::mt19937_64 g(2);
    for (std::size_t n : {3u, 4u, 5u, 6u, 9u, 64u, 257u}) {
        const Polyline X = random_points(g, n, 1.0);
        const auto w = both_paths([&] { return KnotDynamics::compute_writhe(X); });
        EXPECT_EQ(w.first, w.second) << n;
        const Polyline T = random_points(g, n, 2.0);
        const auto wg = both_paths([&] { return KnotDynamics::writhe_gauss_curve(X, T); });
        EXPECT_EQ(wg.first, wg.second) << n;
        const Polyline Y = random_points(g, n + 3, 1.0);
        const auto lk = both_paths([&] {
            // the unrounded sum is not visible; the two paths must still agree
            return KnotDynamics::compute_linking_number(X, Y);
        });
        EXPECT_EQ(lk.first, lk.second) << n;
    }
    // Repeated points (skipped pairs) inside the four-lane blocks.
    Polyline rep = random_points(g, 30, 1.0);
    for (std::size_t i = 5; i < 30; i += 3) rep[i] = rep[i - 5];
    const auto w = both_paths([&] { return KnotDynamics::compute_writhe(rep); });
    EXPECT_EQ(w.first, w.second);
    const auto wg = both_paths([&] { return KnotDynamics::writhe_gauss_curve(rep, rep); });
    EXPECT_EQ(wg.first, wg.second);
}

TEST(InvariantsWrithe, CenterlineHelicityIsTheWritheAlone) {
    // The reference curve's writhe (independent NumPy value), whatever tangents come with it: they add
    // no twist term.
    const Polyline X{{0, 0, 0}, {1, 0, 0.2}, {1, 1, -0.3}, {0, 1, 0.5}, {0.2, -0.3, 0.1}, {1.2, 0.4, -0.6},
                     {0.3, 0.9, 0.8}};
    std::mt19937_64 g(3);
    for (const std::vector<Vec3>& T : {std::vector<Vec3>{}, random_points(g, 7, 1.0), random_points(g, 2, 5.0)})
        EXPECT_NEAR(KnotDynamics::compute_centerline_helicity(X, T), 0.8744922976780546, 1e-14) << T.size();
    Polyline planar = random_points(g, 40, 1.0);
    for (Vec3& p : planar) p[2] = 0.0;
    EXPECT_EQ(KnotDynamics::compute_centerline_helicity(planar, random_points(g, 40, 1.0)), 0.0);
    EXPECT_EQ(KnotDynamics::compute_centerline_helicity({{0, 0, 0}, {1, 1, 1}}, {{1, 0, 0}}), 0.0);
}

TEST(InvariantsWrithe, GaussFormAgreesWithThePolylineForm) {
    // The same trefoil: tangents from the series at t_i = 2 pi i / N, and a dense closed polyline.
    const std::size_t N = 600;
    std::vector<double> t(N);
    for (std::size_t i = 0; i < N; ++i) t[i] = 2 * M_PI * static_cast<double>(i) / static_cast<double>(N);
    const KnotDynamics::FourierResult r = KnotDynamics::evaluate_fourier_series(trefoil_table(), t);
    const double wg = KnotDynamics::writhe_gauss_curve(r.positions, r.tangents);

    const std::size_t M = 3000;
    std::vector<double> s(M + 1);
    for (std::size_t i = 0; i <= M; ++i) s[i] = 2 * M_PI * static_cast<double>(i % M) / static_cast<double>(M);
    const double wp = KnotDynamics::compute_writhe(KnotDynamics::evaluate_fourier_series(trefoil_table(), s).positions);
    EXPECT_GT(std::fabs(wg), 1.0);
    EXPECT_NEAR(wg, wp, 0.02);
}

TEST(InvariantsWrithe, GaussFormDegenerateInputs) {
    EXPECT_TRUE(std::isnan(KnotDynamics::writhe_gauss_curve({}, {})));
    Polyline planar{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 2, 0}, {-1, 0.5, 0}};
    EXPECT_EQ(KnotDynamics::writhe_gauss_curve(planar, planar), 0.0);
    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::writhe_gauss_curve(planar, {{1, 0, 0}}); },
                                            "writhe_gauss_curve: fewer tangents than points");
}

// ------------------------------------------------------------------------------------------------
// Linking number, twist, reconnection candidates
// ------------------------------------------------------------------------------------------------

TEST(InvariantsLinking, HopfLinkAndSeparatedLoops) {
    const Polyline a = loop(200, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    const Polyline b = loop(200, {1, 0, 0}, {1, 0, 0}, {0, 0, 1});
    const int lk = KnotDynamics::compute_linking_number(a, b);
    EXPECT_EQ(std::abs(lk), 1);
    EXPECT_EQ(KnotDynamics::compute_linking_number(a, reversed(b)), -lk);
    EXPECT_EQ(KnotDynamics::compute_linking_number(reversed(a), b), -lk);
    EXPECT_EQ(KnotDynamics::compute_linking_number(b, a), lk);

    const Polyline far = loop(200, {5, 0, 0}, {1, 0, 0}, {0, 0, 1});
    EXPECT_EQ(KnotDynamics::compute_linking_number(a, far), 0);
    EXPECT_EQ(KnotDynamics::compute_linking_number(a, {}), 0);
    EXPECT_EQ(KnotDynamics::compute_linking_number({{0, 0, 0}}, b), 0);
}

TEST(InvariantsLinking, NonFiniteCoordinatesAreRefused) {
    // One NaN point of a Hopf loop used to give 0; each bad value in either loop, in each coordinate of the
    // first, a middle or the last point, is refused, even where a loop too short to link returns early.
    const Polyline a = loop(64, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    const Polyline b = loop(64, {1, 0, 0}, {1, 0, 0}, {0, 0, 1});
    for (const double bad : {NAN, INFINITY, -INFINITY})
        for (const std::size_t at : {std::size_t{0}, std::size_t{31}, a.size() - 1})
            for (std::size_t c = 0; c < 3; ++c)
                for (const bool in_a : {true, false}) {
                    Polyline p = a, q = b;
                    (in_a ? p : q)[at][c] = bad;
                    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::compute_linking_number(p, q); },
                                                            "compute_linking_number: non-finite coordinate");
                }
    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::compute_linking_number({{0, 0, INFINITY}}, b); },
                                            "compute_linking_number: non-finite coordinate");
    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::compute_linking_number(a, {{NAN, 0, 0}}); },
                                            "compute_linking_number: non-finite coordinate");
    // Finite points whose terms overflow still have no integer: no linking, as before.
    Polyline huge = b;
    for (Vec3& p : huge)
        for (double& x : p) x *= 1e200;
    EXPECT_EQ(KnotDynamics::compute_linking_number(a, huge), 0);
}

TEST(InvariantsTwist, FrameTurningAboutTheTangent) {
    const std::size_t N = 50;
    const double th = 0.1;
    std::vector<Vec3> T(N, Vec3{0, 0, 1}), U(N);
    for (std::size_t m = 0; m < N; ++m) U[m] = {std::cos(th * m), std::sin(th * m), 0.0};
    // Right-handed turn about T: each interior term is -sin(theta).
    EXPECT_NEAR(KnotDynamics::compute_twist(T, U), -(N - 2.0) * std::sin(th) / (2 * M_PI), 1e-12);

    EXPECT_EQ(KnotDynamics::compute_twist(T, std::vector<Vec3>(N, Vec3{0.3, -1, 2})), 0.0);
    EXPECT_EQ(KnotDynamics::compute_twist({{0, 0, 1}, {0, 0, 1}}, {{1, 0, 0}, {0, 1, 0}}), 0.0);
    EXPECT_EQ(KnotDynamics::compute_twist({}, {}), 0.0);
    // Tangents are not normalised: scaling T scales the twist.
    std::vector<Vec3> T3(N, Vec3{0, 0, 3});
    EXPECT_NEAR(KnotDynamics::compute_twist(T3, U), 3 * KnotDynamics::compute_twist(T, U), 1e-12);

    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::compute_twist(T, {{1, 0, 0}}); },
                                            "compute_twist: U shorter than T");
}

TEST(InvariantsReconnection, IndexGapAndThreshold) {
    Polyline p;
    for (int i = 0; i < 6; ++i) p.push_back({10.0 * i, 0, 0});
    p[5] = {0.05, 0, 0};  // close to point 0, five apart in index
    p[4] = {0.0, 0.01, 0};  // close to point 0 but only four apart
    using Pairs = std::vector<std::pair<int, int>>;
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(p, 0.1), (Pairs{{0, 5}}));
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(p, 0.05), Pairs{});  // strict
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(p, 0.0), Pairs{});
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(Polyline(5, Vec3{0, 0, 0}), 1.0), Pairs{});

    const Polyline same(8, Vec3{1, 1, 1});
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(same, 1e-3), (Pairs{{0, 5}, {0, 6}, {0, 7}, {1, 6}, {1, 7}, {2, 7}}));
}

TEST(InvariantsReconnection, NonFiniteCoordinatesAreRefused) {
    // One NaN point used to drop its pairs from the list; each bad value in each coordinate of the first, a
    // middle or the last point is refused, even in a curve too short to have a pair.
    const Polyline same(8, Vec3{1, 1, 1});
    for (const double bad : {NAN, INFINITY, -INFINITY})
        for (const std::size_t at : {std::size_t{0}, std::size_t{3}, same.size() - 1})
            for (std::size_t c = 0; c < 3; ++c) {
                Polyline p = same;
                p[at][c] = bad;
                expect_throw_msg<std::invalid_argument>(
                    [&] { KnotDynamics::detect_reconnection_candidates(p, 1e-3); },
                    "detect_reconnection_candidates: non-finite coordinate");
            }
    expect_throw_msg<std::invalid_argument>(
        [&] { KnotDynamics::detect_reconnection_candidates({{0, NAN, 0}}, 1.0); },
        "detect_reconnection_candidates: non-finite coordinate");
    // The threshold is no coordinate: an infinite one takes every pair, as before.
    EXPECT_EQ(KnotDynamics::detect_reconnection_candidates(same, INFINITY).size(), 6u);
}

// ------------------------------------------------------------------------------------------------
// Fourier series with tangents
// ------------------------------------------------------------------------------------------------

TEST(InvariantsFourierSeries, ConstantTermAndFirstHarmonic) {
    const std::vector<double> t{0.0, 0.7, 2.0, -3.0};
    const auto c = KnotDynamics::evaluate_fourier_series({{1, 0, 2, 0, 3, 0}}, t);
    ASSERT_EQ(c.positions.size(), t.size());
    ASSERT_EQ(c.tangents.size(), t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(c.positions[i], (Vec3{1, 2, 3}));
        EXPECT_EQ(c.tangents[i], (Vec3{0, 0, 0}));
    }
    const auto s = KnotDynamics::evaluate_fourier_series({{0, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0}}, t);
    for (std::size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(s.positions[i][0], std::sin(t[i]));
        EXPECT_EQ(s.tangents[i][0], std::cos(t[i]));
        EXPECT_EQ(s.positions[i][1], 0.0);
    }
    EXPECT_TRUE(KnotDynamics::evaluate_fourier_series({{1, 2, 3, 4, 5, 6}}, {}).positions.empty());
    const auto z = KnotDynamics::evaluate_fourier_series({}, {1.0, 2.0});
    EXPECT_EQ(z.positions, (std::vector<Vec3>(2, Vec3{0, 0, 0})));
    EXPECT_EQ(z.tangents, (std::vector<Vec3>(2, Vec3{0, 0, 0})));
}

TEST(InvariantsFourierSeries, TangentsAreParameterDerivatives) {
    const auto table = trefoil_table();
    const double h = 1e-5;
    for (double t0 : {0.1, 1.3, 4.0}) {
        const auto r = KnotDynamics::evaluate_fourier_series(table, {t0 - h, t0, t0 + h});
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(r.tangents[1][k], (r.positions[2][k] - r.positions[0][k]) / (2 * h), 1e-8);
    }
}

// ------------------------------------------------------------------------------------------------
// Grid helicity
// ------------------------------------------------------------------------------------------------

void expect_zero_zero_nan(const tarq::HelicityInvariants& h) {
    EXPECT_EQ(std::get<0>(h), 0.0);
    EXPECT_EQ(std::get<1>(h), 0.0);
    EXPECT_TRUE(std::isnan(std::get<2>(h)));
}

TEST(InvariantsGridHelicity, GridStepsOnKnownFields) {
    // Velocity of a ring: along its axis at the centre, reversed with the ring's direction.
    Polyline ring, reversed;
    for (int i = 0; i < 64; ++i) {
        const double t = tarq::constants::kTwoPi * i / 64;
        ring.push_back({std::cos(t), std::sin(t), 0.0});
        reversed.push_back({std::cos(-t), std::sin(-t), 0.0});
    }
    const std::vector<Vec3> probes{{0.0, 0.0, 0.0}, {0.0, 0.0, 0.5}};
    const auto u_ring = KnotDynamics::compute_biot_savart_velocity_grid(ring, probes);
    const auto u_rev = KnotDynamics::compute_biot_savart_velocity_grid(reversed, probes);
    ASSERT_EQ(u_ring.size(), 2u);
    for (std::size_t p = 0; p < probes.size(); ++p) {
        EXPECT_NEAR(u_ring[p][0], 0.0, 1e-12);
        EXPECT_NEAR(u_ring[p][1], 0.0, 1e-12);
        EXPECT_GT(std::fabs(u_ring[p][2]), 1e-3);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(u_rev[p][k], -u_ring[p][k], 1e-12);
    }
    EXPECT_GT(std::fabs(u_ring[0][2]), std::fabs(u_ring[1][2]));  // weaker away from the plane

    // Vorticity of the rotation (-y, x, 0) on a 3x3x3 grid: central differences are exact for a
    // linear field, so the centre holds the negated curl (0, 0, -2).
    const double h = 0.4;
    std::vector<Vec3> rotation;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) rotation.push_back({-(j - 1) * h, (i - 1) * h, 0.0});
    const auto w = KnotDynamics::compute_vorticity_grid(rotation, {3, 3, 3}, h);
    ASSERT_EQ(w.size(), 27u);
    EXPECT_EQ(w[13], (Vec3{0.0, 0.0, -2.0}));

    // The interior: margin 1 of a 3x3x3 grid is its centre; margin 0 the whole field in order.
    EXPECT_EQ(KnotDynamics::extract_interior_field(rotation, {3, 3, 3}, 1), std::vector<Vec3>{rotation[13]});
    EXPECT_EQ(KnotDynamics::extract_interior_field(rotation, {3, 3, 3}, 0), rotation);

    // Invariants: H_charge = sum v.w, H_mass = sum |w|^2 r^2, a_mu = (H_charge / H_mass - 1) / 2.
    std::mt19937_64 g(9);
    const std::vector<Vec3> v = random_points(g, 27, 2.0), wv = random_points(g, 27, 2.0);
    std::vector<double> r2;
    double hc = 0.0, hm = 0.0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        r2.push_back(0.25 + 0.01 * static_cast<double>(i));
        hc += (v[i][0] * wv[i][0] + v[i][1] * wv[i][1]) + v[i][2] * wv[i][2];
        hm += ((wv[i][0] * wv[i][0] + wv[i][1] * wv[i][1]) + wv[i][2] * wv[i][2]) * r2[i];
    }
    const auto [Hc, Hm, a_mu] = KnotDynamics::compute_helicity_invariants(v, wv, r2);
    EXPECT_NEAR(Hc, hc, 1e-13 * std::fabs(hc));
    EXPECT_NEAR(Hm, hm, 1e-13 * std::fabs(hm));
    EXPECT_NEAR(a_mu, 0.5 * (hc / hm - 1.0), 1e-13);

    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::extract_interior_field(rotation, {3, 3, 3}, -2); },
                                            "extractInterior: negative margin");
    expect_throw_msg<std::invalid_argument>([&] { KnotDynamics::compute_vorticity_grid(rotation, {3, 3, 4}, 0.4); },
                                            "computeVorticity: field shorter than grid");
}

TEST(InvariantsGridHelicity, MatchesIndependentNumpyEvaluation) {
    // NumPy: sample, centre, segment law on the (asymmetric for even G) grid, periodic negated
    // curl, interior, sums.
    struct Case {
        int G;
        double h;
        int m;
        int n;
        double Hc, Hm, a_mu;
    };
    for (const Case& c : {Case{8, 0.25, 2, 50, -53.826650844417735, 159.89673248799943, -0.6683169193230936},
                          Case{7, 0.3, 1, 40, -179.50279902902295, 35288.97072023693, -0.5025433272119507}}) {
        const auto [hc, hm, a] = KnotDynamics::compute_helicity_from_fourier_block(trefoil_block(), c.G, c.h, c.m, c.n);
        EXPECT_NEAR(hc, c.Hc, 1e-10 * std::fabs(c.Hc)) << c.G;
        EXPECT_NEAR(hm, c.Hm, 1e-10 * std::fabs(c.Hm)) << c.G;
        EXPECT_NEAR(a, c.a_mu, 1e-10) << c.G;
    }
}

TEST(InvariantsGridHelicity, ReversedOrientationKeepsTheInvariants) {
    FourierBlock rev = trefoil_block();
    for (auto* v : {&rev.b_x, &rev.b_y, &rev.b_z})
        for (double& x : *v) x = -x;
    const auto [hc, hm, a] = KnotDynamics::compute_helicity_from_fourier_block(trefoil_block(), 10, 0.3, 2, 80);
    const auto [hc2, hm2, a2] = KnotDynamics::compute_helicity_from_fourier_block(rev, 10, 0.3, 2, 80);
    EXPECT_NEAR(hc2, hc, 1e-9 * std::fabs(hc));
    EXPECT_NEAR(hm2, hm, 1e-9 * std::fabs(hm));
    EXPECT_NEAR(a2, a, 1e-9);
}

TEST(InvariantsGridHelicity, DegenerateInputs) {
    const FourierBlock b = trefoil_block();
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(b, 6, 0.3, 1, 0));
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(b, 6, 0.3, 1, 1));
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(b, 6, 0.3, 3, 30));  // G - 2m = 0
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(FourierBlock{}, 6, 0.3, 1, 30));
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(b, 1, 0.3, 0, 30));
    expect_zero_zero_nan(KnotDynamics::compute_helicity_from_fourier_block(b, 0, 0.3, 0, 30));
}

TEST(InvariantsGridHelicity, WholeGridStepsPollTheInterruptHook) {
    // 2^21 cells: two poll strides of work in every step. Without curve samples the velocity step does
    // nothing, and the pipeline still stops at its first poll.
    struct Stop {};
    tarq::set_interrupt_hook([] { throw Stop{}; });
    const int G = 128;
    const std::vector<Vec3> field(static_cast<std::size_t>(G) * G * G, Vec3{1.0, 2.0, 3.0});
    const tarq::GridShape shape{G, G, G};
    EXPECT_THROW(BiotSavart::computeVorticity(field, shape, 0.1), Stop);
    EXPECT_THROW(BiotSavart::extractInterior(field, shape, 1), Stop);
    EXPECT_THROW(KnotDynamics::compute_helicity_from_fourier_block(trefoil_block(), G, 0.1, 1, 0), Stop);
    tarq::set_interrupt_hook(nullptr);
}

TEST(InvariantsGridHelicity, RejectedArguments) {
    const FourierBlock b = trefoil_block();
    EXPECT_THROW(KnotDynamics::compute_helicity_from_fourier_block(b, 4, 0.3, 1, -1), std::length_error);
    EXPECT_THROW(KnotDynamics::compute_helicity_from_fourier_block(b, -1, 0.3, 0, 10), std::length_error);
    EXPECT_THROW(KnotDynamics::compute_helicity_from_fourier_block(b, std::numeric_limits<int>::min(), 0.3, 0, 10),
                 std::length_error);
    expect_throw_msg<std::invalid_argument>(
        [&] { KnotDynamics::compute_helicity_from_fourier_block(b, 1291, 0.3, 0, 10); },
        "compute_helicity_from_fourier_block: grid_size above 1290");
    expect_throw_msg<std::invalid_argument>(
        [&] { KnotDynamics::compute_helicity_from_fourier_block(b, 4, 0.3, -1, 10); },
        "compute_helicity_from_fourier_block: negative interior_margin");
    // A ragged block is read with zeros for the missing coefficients.
    FourierBlock ragged = b;
    ragged.b_z.clear();
    ragged.a_y.resize(2);
    FourierBlock padded = b;
    padded.b_z.assign(5, 0.0);
    padded.a_y = {b.a_y[0], b.a_y[1], 0, 0, 0};
    EXPECT_EQ(KnotDynamics::compute_helicity_from_fourier_block(ragged, 5, 0.4, 1, 20),
              KnotDynamics::compute_helicity_from_fourier_block(padded, 5, 0.4, 1, 20));
}

}  // namespace
