// Geometric descriptors of Fourier blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/fourier_knot.hpp"
#include "core/knot_dynamics.hpp"

using tarq::FourierBlock;
using tarq::FourierKnot;
using tarq::Polyline;
using tarq::Vec3;

namespace {

FourierBlock circle_block(double R) {
    FourierBlock b;
    b.a_x = {R};
    b.b_x = {0};
    b.a_y = {0};
    b.b_y = {R};
    b.a_z = {0};
    b.b_z = {0};
    return b;
}

// x = sin t + 2 sin 2t, y = cos t - 2 cos 2t, z = -sin 3t.
FourierBlock trefoil_block() {
    FourierBlock b;
    b.a_x = {0, 0, 0};
    b.b_x = {1, 2, 0};
    b.a_y = {1, -2, 0};
    b.b_y = {0, 0, 0};
    b.a_z = {0, 0, 0};
    b.b_z = {0, 0, -1};
    return b;
}

std::vector<double> uniform_params(int n) {
    std::vector<double> t;
    for (int i = 0; i < n; ++i) t.push_back(2 * M_PI * i / n);
    return t;
}

void expect_vec(const Vec3& got, const Vec3& want, double tol) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], tol) << "component " << k;
}

}  // namespace

TEST(DescriptorsExact, CircleOfRadiusTwo) {
    const FourierBlock c = circle_block(2.0);
    const auto [r, d1, d2, d3] = FourierKnot::evaluate_with_derivatives(c, 0.0);
    expect_vec(r, {2, 0, 0}, 0.0);
    expect_vec(d1, {0, 2, 0}, 0.0);
    expect_vec(d2, {-2, 0, 0}, 0.0);
    expect_vec(d3, {0, -2, 0}, 0.0);
    for (double k : FourierKnot::curvature_exact(c, {0.0, 0.7, 2.0, -5.0}, 1e-12)) EXPECT_NEAR(k, 0.5, 1e-15);
    EXPECT_TRUE(FourierKnot::curvature_exact(c, {}, 1e-12).empty());
    for (int n : {-3, 1, 20, 100}) {
        EXPECT_NEAR(FourierKnot::length_exact(c, n), 4 * M_PI, 1e-12) << n;
        EXPECT_NEAR(FourierKnot::bending_energy_exact(c, n, 1e-12), M_PI, 1e-12) << n;
    }
    EXPECT_EQ(FourierKnot::mode_energies(c), std::vector<double>{8.0});

    const FourierKnot::GeometricDescriptors d = FourierKnot::describe_fourier_block(c, 64, 4);
    EXPECT_NEAR(d.L, 4 * M_PI, 1e-12);
    EXPECT_NEAR(d.bending_energy, M_PI, 1e-12);
    EXPECT_NEAR(d.min_self_distance, 4 * std::sin(5 * M_PI / 64), 1e-14);  // chord across a gap of 5
    EXPECT_EQ(d.writhe, 0.0);
    EXPECT_EQ(d.mode_energy, std::vector<double>{8.0});
}

TEST(DescriptorsExact, DerivativesAgreeWithSamplesAndDifferences) {
    const FourierBlock b = trefoil_block();
    const double h = 1e-5;
    for (double s : {0.0, 0.4, 2.5, 5.9}) {
        const auto [r, d1, d2, d3] = FourierKnot::evaluate_with_derivatives(b, s);
        const Polyline p = FourierKnot::evaluate(b, {s - h, s, s + h});
        expect_vec(r, p[1], 1e-14);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(d1[k], (p[2][k] - p[0][k]) / (2 * h), 1e-8);
            EXPECT_NEAR(d2[k], (p[2][k] - 2 * p[1][k] + p[0][k]) / (h * h), 1e-4);
        }
        const auto lo = FourierKnot::evaluate_with_derivatives(b, s - h);
        const auto hi = FourierKnot::evaluate_with_derivatives(b, s + h);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(d3[k], (std::get<2>(hi)[k] - std::get<2>(lo)[k]) / (2 * h), 1e-7);
    }
}

TEST(DescriptorsExact, TrefoilLengthBendingAndFloors) {
    const FourierBlock b = trefoil_block();
    // Converged values of the integrals (independent NumPy quadrature with 200000 nodes).
    EXPECT_NEAR(FourierKnot::length_exact(b, 512), 28.82629019894428, 1e-11);
    EXPECT_NEAR(FourierKnot::bending_energy_exact(b, 512, 1e-12), 7.846119208542785, 1e-10);
    EXPECT_EQ(FourierKnot::length_exact(b, 1), FourierKnot::length_exact(b, 16));
    EXPECT_NE(FourierKnot::length_exact(b, 17), FourierKnot::length_exact(b, 16));
    EXPECT_EQ(FourierKnot::bending_energy_exact(b, 20, 1e-9), FourierKnot::bending_energy_exact(b, 32, 1e-9));
    EXPECT_EQ(FourierKnot::min_self_distance_exactish(b, 10, 4), FourierKnot::min_self_distance_exactish(b, 64, 4));
    EXPECT_EQ(FourierKnot::mode_energies(b), (std::vector<double>{2.0, 8.0, 1.0}));

    struct Case {
        int nsamples, samples, terms;
    };
    for (const Case c : {Case{100, 100, 512}, Case{200, 200, 800}, Case{10, 64, 512}, Case{-5, 64, 512}}) {
        const auto d = FourierKnot::describe_fourier_block(b, c.nsamples, 4);
        EXPECT_EQ(d.L, FourierKnot::length_exact(b, c.terms)) << c.nsamples;
        EXPECT_EQ(d.bending_energy, FourierKnot::bending_energy_exact(b, c.terms, 1e-12)) << c.nsamples;
        EXPECT_EQ(d.min_self_distance, FourierKnot::min_self_distance_exactish(b, c.samples, 4)) << c.nsamples;
        // Writhe of the samples as they come, read as an open sequence.
        const Polyline samples = FourierKnot::evaluate(b, uniform_params(c.samples));
        EXPECT_EQ(d.writhe, tarq::KnotDynamics::compute_writhe(samples)) << c.nsamples;
        EXPECT_EQ(d.mode_energy, FourierKnot::mode_energies(b));
    }
    EXPECT_NEAR(FourierKnot::min_self_distance_exactish(b, 128, 4), 0.9462207649931934, 1e-14);
}

TEST(DescriptorsExact, EmptyAndRaggedBlocks) {
    const FourierBlock empty;
    const auto [r, d1, d2, d3] = FourierKnot::evaluate_with_derivatives(empty, 1.3);
    for (const Vec3& v : {r, d1, d2, d3}) expect_vec(v, {0, 0, 0}, 0.0);
    EXPECT_EQ(FourierKnot::length_exact(empty, 50), 0.0);
    EXPECT_EQ(FourierKnot::bending_energy_exact(empty, 50, 1e-12), 0.0);
    EXPECT_TRUE(std::isnan(FourierKnot::bending_energy_exact(empty, 50, 0.0)));  // 0/0 at zero speed
    EXPECT_TRUE(std::isnan(FourierKnot::curvature_exact(empty, {0.5}, -1.0)[0]));
    EXPECT_TRUE(FourierKnot::mode_energies(empty).empty());
    const auto d = FourierKnot::describe_fourier_block(empty, 64, 4);
    EXPECT_EQ(d.L, 0.0);
    EXPECT_EQ(d.bending_energy, 0.0);
    EXPECT_EQ(d.min_self_distance, 0.0);
    EXPECT_EQ(d.writhe, 0.0);
    EXPECT_TRUE(d.mode_energy.empty());

    // b_y holds a second harmonic that the other arrays lack: it still counts, missing entries are 0.
    FourierBlock ragged = circle_block(1.0);
    ragged.b_y = {1.0, 0.5};
    const double s = 0.3;
    const auto [rr, rd1, rd2, rd3] = FourierKnot::evaluate_with_derivatives(ragged, s);
    EXPECT_NEAR(rr[1], std::sin(s) + 0.5 * std::sin(2 * s), 1e-15);
    EXPECT_NEAR(rd1[1], std::cos(s) + 1.0 * std::cos(2 * s), 1e-15);
    EXPECT_NEAR(rd2[1], -std::sin(s) - 2.0 * std::sin(2 * s), 1e-15);
    EXPECT_NEAR(rd3[1], -std::cos(s) - 4.0 * std::cos(2 * s), 1e-15);
    EXPECT_EQ(FourierKnot::mode_energies(ragged), (std::vector<double>{2.0, 0.25}));
}

TEST(DescriptorsSelfDistance, SampledPointSequences) {
    const Polyline square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    struct Case {
        const char* name;
        Polyline points;
        int window;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"square, diagonals only", square, 1, std::sqrt(2.0)},
        {"square, window half the size", square, 2, 0.0},
        {"square, every pair", square, 0, 1.0},
        {"square, negative window", square, -7, 1.0},
        {"three points", {{0, 0, 0}, {5, 0, 0}, {0, 5, 0}}, -1, 0.0},
        {"a NaN distance is ignored",
         {{0, 0, 0}, {1, 0, 0}, {nan, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}, 1, 2.0},
        {"infinite distances only", {{0, 0, 0}, {1, 0, 0}, {INFINITY, 0, 0}, {INFINITY, 1, 0}}, 1, 0.0},
        {"coincident far points", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 0}, {5, 5, 5}, {6, 6, 6}}, 2, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FourierKnot::min_self_distance_sampled(c.points, c.window), c.expected) << c.name;
}
