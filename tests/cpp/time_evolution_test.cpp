#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/biot_savart.hpp"
#include "core/frenet_helicity.hpp"
#include "core/time_evolution.hpp"
#include "test_support.hpp"

using tarq::TimeEvolution;
using tarq::Vec3;

namespace {

struct Ring {
    std::vector<Vec3> X, T;
};

// Unit ring in the xy plane with unit tangents (counter-clockwise).
Ring unit_ring(int n) {
    Ring r;
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * i / n;
        r.X.push_back({std::cos(a), std::sin(a), 0.0});
        r.T.push_back({-std::sin(a), std::cos(a), 0.0});
    }
    return r;
}

void expect_points_near(const std::vector<Vec3>& got, const std::vector<Vec3>& want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[i][c], want[i][c], tol) << "point " << i << " component " << c;
}

}  // namespace

TEST(TimeEvolutionTest, NonPositiveStepsChangeNothing) {
    const Ring r = unit_ring(6);
    const std::vector<Vec3> odd_tangents(6, Vec3{0.0, 2.0, -1.0});
    TimeEvolution te(r.X, odd_tangents, 1.5);
    for (int steps : {0, -3}) {
        te.evolve(0.1, steps);
        EXPECT_EQ(te.get_positions(), r.X);
        EXPECT_EQ(te.get_tangents(), odd_tangents);
    }
}

TEST(TimeEvolutionTest, ZeroStepKeepsPositionsAndRefreshesTangents) {
    const Ring r = unit_ring(8);
    TimeEvolution te(r.X, std::vector<Vec3>(8, Vec3{0.0, 0.0, 3.0}), 1.0);
    te.evolve(0.0, 1);
    EXPECT_EQ(te.get_positions(), r.X);
    std::vector<Vec3> T, N, B;
    tarq::FrenetHelicity::compute_frenet_frames(r.X, T, N, B);
    EXPECT_EQ(te.get_tangents(), T);
    EXPECT_EQ(te.get_tangents()[0], te.get_tangents()[1]);
    EXPECT_EQ(te.get_tangents()[7], te.get_tangents()[6]);
}

// Reference from an independent NumPy implementation of the point-element law and the Euler step
// (8-point unit ring, unit tangents, circulation 1, dt 0.1).
TEST(TimeEvolutionTest, RingMatchesReferenceOverTwoSteps) {
    const Ring r = unit_ring(8);
    TimeEvolution te(r.X, r.T, 1.0);
    te.evolve(0.1, 1);
    // First step: a rigid translation along the axis, v_z = sum_k 1/(4 sin(k pi/8)) / (4 pi).
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_NEAR(te.get_positions()[i][0], r.X[i][0], 1e-15);
        EXPECT_NEAR(te.get_positions()[i][1], r.X[i][1], 1e-15);
        EXPECT_NEAR(te.get_positions()[i][2], 0.022320413206690676, 1e-15);
    }
    te.evolve(0.1, 1);
    const std::vector<Vec3> want = {
        {1.0, 0.0, 0.05199282613441138},
        {0.7071067811865476, 0.7071067811865475, 0.03540891378664389},
        {6.123463026983853e-17, 1.0, 0.041827337925390395},
        {-0.7071067811865475, 0.7071067811865476, 0.04279673013772581},
        {-1.0, 1.224658384169288e-16, 0.04279673013772581},
        {-0.7071067811865477, -0.7071067811865475, 0.041827337925390395},
        {-1.836947295596321e-16, -1.0, 0.035408913786643896},
        {0.7071067811865474, -0.7071067811865477, 0.05199282613441138},
    };
    expect_points_near(te.get_positions(), want, 1e-14);
    // The copied end tangents are not the ring's tangents, which is what tilts the second step.
    const std::vector<Vec3> want_t = {
        {-0.707088514294441, 0.7070885142944411, -0.007187899954794305},
        {-0.707088514294441, 0.7070885142944411, -0.007187899954794305},
        {-0.9999863553216616, 7.850355176386075e-17, 0.005223903760551812},
        {-0.7071066150657871, -0.707106615065787, 0.0006854636459356283},
        {-1.5700920898215889e-16, -0.9999997650697675, -0.0006854636459356283},
        {0.7070971329419671, -0.7070971329419674, -0.005223903760551807},
        {0.9999741667134405, -1.5700518980353652e-16, 0.007187899954794305},
        {0.9999741667134405, -1.5700518980353652e-16, 0.007187899954794305},
    };
    expect_points_near(te.get_tangents(), want_t, 1e-13);
}

// The first step uses the tangents as given: scaling them, or the circulation, scales every
// displacement of that step.
TEST(TimeEvolutionTest, FirstStepScalesWithCirculationAndTangents) {
    const Ring r = unit_ring(10);
    std::vector<Vec3> doubled_t = r.T;
    for (Vec3& t : doubled_t)
        for (double& c : t) c *= 2.0;
    TimeEvolution base(r.X, r.T, 1.0);
    TimeEvolution strong(r.X, r.T, 2.0);
    TimeEvolution long_t(r.X, doubled_t, 1.0);
    for (TimeEvolution* te : {&base, &strong, &long_t}) te->evolve(0.05, 1);
    for (std::size_t i = 0; i < r.X.size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const double d = base.get_positions()[i][c] - r.X[i][c];
            EXPECT_NEAR(strong.get_positions()[i][c] - r.X[i][c], 2.0 * d, 1e-15);
            EXPECT_NEAR(long_t.get_positions()[i][c] - r.X[i][c], 2.0 * d, 1e-15);
        }
    }
    EXPECT_GT(base.get_positions()[0][2], 0.0);
}

TEST(TimeEvolutionTest, ShortFilaments) {
    // One point: its own element is excluded, so it never moves; its tangent list shrinks to one entry.
    TimeEvolution one({{1.0, 2.0, 3.0}}, {{0.0, 0.0, 1.0}, {5.0, 5.0, 5.0}}, 1.0);
    one.evolve(0.5, 3);
    EXPECT_EQ(one.get_positions(), (std::vector<Vec3>{{1.0, 2.0, 3.0}}));
    EXPECT_EQ(one.get_tangents(), (std::vector<Vec3>{{0.0, 0.0, 1.0}}));

    // Two points: no interior sample, so both tangents repeat the second one.
    TimeEvolution two({{0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}}, {{0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}, 1.0);
    two.evolve(0.1, 1);
    EXPECT_EQ(two.get_tangents(), (std::vector<Vec3>{{0.0, 0.0, 1.0}, {0.0, 0.0, 1.0}}));
    // Point 0 feels point 1's element: (0,0,1) x (-1,0,0) / (4 pi) = (0,-1,0) / (4 pi).
    EXPECT_NEAR(two.get_positions()[0][1], -0.1 / (4.0 * M_PI), 1e-16);
    EXPECT_EQ(two.get_positions()[0][0], 0.0);
    // Point 1 feels point 0's element: (0,1,0) x (1,0,0) / (4 pi) = (0,0,-1) / (4 pi).
    EXPECT_EQ(two.get_positions()[1][0], 1.0);
    EXPECT_NEAR(two.get_positions()[1][2], -0.1 / (4.0 * M_PI), 1e-16);

    TimeEvolution none({}, {{1.0, 0.0, 0.0}}, 1.0);
    none.evolve(0.1, 2);
    EXPECT_TRUE(none.get_positions().empty());
    EXPECT_TRUE(none.get_tangents().empty());
}

TEST(TimeEvolutionTest, ExtraTangentsAreDroppedAfterAStep) {
    const Ring r = unit_ring(5);
    std::vector<Vec3> t = r.T;
    t.push_back({9.0, 9.0, 9.0});
    TimeEvolution te(r.X, t, 1.0);
    EXPECT_EQ(te.get_tangents().size(), 6u);
    te.evolve(0.01, 1);
    EXPECT_EQ(te.get_tangents().size(), 5u);
}

TEST(TimeEvolutionTest, RejectsFewerTangentsThanPositions) {
    const Ring r = unit_ring(4);
    std::vector<Vec3> t(r.T.begin(), r.T.end() - 1);
    test_support::expect_throw_msg<std::invalid_argument>([&] { TimeEvolution te(r.X, t, 1.0); },
                                                         "TimeEvolution: need at least as many tangents as positions");
}

// The velocities of a step come from the all-points kernels: every path gives the bits of the per-point law.
TEST(TimeEvolutionTest, StepsAreTheSameBitsOnEveryPath) {
    for (int n : {7, 45}) {
        std::vector<Vec3> X, T;
        for (int i = 0; i < n; ++i) {
            const double s = 2.0 * M_PI * i / n;
            X.push_back(
                {std::sin(s) + 2.0 * std::sin(2.0 * s), std::cos(s) - 2.0 * std::cos(2.0 * s), -std::sin(3.0 * s)});
            T.push_back({std::cos(s), -std::sin(s), 0.5});
        }
        std::vector<Vec3> want = X;
        for (int j = 0; j < n; ++j) {
            const Vec3 v = tarq::BiotSavart::velocity(X[j], X, T, 1.25);
            for (int c = 0; c < 3; ++c) want[j][c] = v[c] * 0.01 + X[j][c];
        }
        const auto runs = test_support::every_path([&] {
            TimeEvolution te(X, T, 1.25);
            te.evolve(0.01, 1);
            std::vector<Vec3> one = te.get_positions();
            te.evolve(0.01, 2);
            return std::make_pair(one, te.get_positions());
        });
        for (const auto& r : runs) {
            EXPECT_EQ(r.second.first, want) << r.first << " n=" << n;
            EXPECT_EQ(r.second.second, runs.back().second.second) << r.first << " n=" << n;
        }
    }
}
