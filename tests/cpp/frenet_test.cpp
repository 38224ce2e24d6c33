#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/frenet_helicity.hpp"
#include "test_support.hpp"

using tarq::FrenetHelicity;
using tarq::Vec3;

namespace {

void expect_vec_near(const Vec3& got, const Vec3& want, double tol, const std::string& what) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tol) << what << " component " << c;
}

template <class F>
void expect_invalid_argument(F&& f, const std::string& message) {
    test_support::expect_throw_msg<std::invalid_argument>(std::forward<F>(f), message);
}

std::vector<Vec3> circle(double R, int n, double delta) {
    std::vector<Vec3> X;
    for (int i = 0; i < n; ++i) X.push_back({R * std::cos(i * delta), R * std::sin(i * delta), 0.0});
    return X;
}

}  // namespace

TEST(FrenetNormalize, UnitAndZeroVector) {
    const Vec3 u = tarq::normalize({3.0, 0.0, 4.0});
    EXPECT_EQ(u[0], 0.6);
    EXPECT_EQ(u[1], 0.0);
    EXPECT_EQ(u[2], 0.8);
    const Vec3 z = tarq::normalize({0.0, 0.0, 0.0});
    for (double c : z) EXPECT_TRUE(std::isnan(c));
}

// On a regular polygon of a circle the central difference is tangent, the second difference points
// to the centre and the frame is exact; curvature is per index step (sin of the step angle), so it
// does not depend on the radius.
TEST(FrenetFrames, CircleFramesAndCurvature) {
    const int n = 36;
    const double delta = 2.0 * M_PI / n;
    for (double R : {5.0, 0.25}) {
        const std::vector<Vec3> X = circle(R, n, delta);
        std::vector<Vec3> T, N, B;
        FrenetHelicity::compute_frenet_frames(X, T, N, B);
        ASSERT_EQ(T.size(), static_cast<std::size_t>(n));
        ASSERT_EQ(N.size(), static_cast<std::size_t>(n));
        ASSERT_EQ(B.size(), static_cast<std::size_t>(n));
        for (int i = 1; i < n - 1; ++i) {
            const double a = i * delta;
            expect_vec_near(T[i], {-std::sin(a), std::cos(a), 0.0}, 1e-12, "T");
            expect_vec_near(N[i], {-std::cos(a), -std::sin(a), 0.0}, 1e-12, "N");
            expect_vec_near(B[i], {0.0, 0.0, 1.0}, 1e-12, "B");
        }
        EXPECT_EQ(T[0], T[1]);
        EXPECT_EQ(N[0], N[1]);
        EXPECT_EQ(B[0], B[1]);
        EXPECT_EQ(T[n - 1], T[n - 2]);
        EXPECT_EQ(N[n - 1], N[n - 2]);
        EXPECT_EQ(B[n - 1], B[n - 2]);

        std::vector<double> kappa, tau;
        FrenetHelicity::compute_curvature_torsion(T, N, kappa, tau);
        ASSERT_EQ(kappa.size(), static_cast<std::size_t>(n));
        ASSERT_EQ(tau.size(), static_cast<std::size_t>(n));
        for (int i = 2; i < n - 2; ++i) {
            EXPECT_NEAR(kappa[i], std::sin(delta), 1e-12) << i;
            EXPECT_NEAR(tau[i], 0.0, 1e-12) << i;
        }
        // Next to the copied end tangents only half a step of turning is seen.
        for (int i : {0, 1, n - 2, n - 1}) EXPECT_NEAR(kappa[i], std::sin(delta / 2), 1e-12) << i;
        EXPECT_EQ(kappa[0], kappa[1]);
        EXPECT_EQ(kappa[n - 1], kappa[n - 2]);
    }
}

// Reference values from an independent NumPy computation of the same discrete definitions
// (helix x = cos t, y = sin t, z = 0.2 t at t = 0.3 i).
TEST(FrenetFrames, HelixMatchesReference) {
    std::vector<Vec3> X;
    for (int i = 0; i < 7; ++i) {
        const double t = 0.3 * i;
        X.push_back({std::cos(t), std::sin(t), 0.2 * t});
    }
    std::vector<Vec3> T, N, B;
    FrenetHelicity::compute_frenet_frames(X, T, N, B);
    const std::vector<Vec3> T_ref = {
        {-0.289611319404651, 0.93623466299257, 0.1989722078177908},
        {-0.289611319404651, 0.93623466299257, 0.1989722078177908},
        {-0.5533525221821477, 0.808833138979091, 0.19897220781779082},
        {-0.7676643921759331, 0.6091809595688863, 0.19897220781779082},
        {-0.9134030883140485, 0.35511245933432434, 0.19897220781779085},
        {-0.977550206916925, 0.06932282072153965, 0.19897220781779082},
        {-0.977550206916925, 0.06932282072153965, 0.19897220781779082},
    };
    const std::vector<Vec3> N_ref = {
        {-0.9553364891256062, -0.2955202066613392, 0.0},  {-0.9553364891256062, -0.2955202066613392, 0.0},
        {-0.8253356149096778, -0.5646424733950361, 0.0},  {-0.6216099682706652, -0.7833269096274826, 0.0},
        {-0.36235775447667407, -0.9320390859672261, 0.0}, {-0.07073720166770076, -0.9974949866040546, 0.0},
        {-0.07073720166770076, -0.9974949866040546, 0.0},
    };
    const std::vector<Vec3> B_ref = {
        {0.05880030797417647, -0.19008541045021876, 0.9800051329029424},
        {0.05880030797417647, -0.19008541045021876, 0.9800051329029424},
        {0.11234815955910855, -0.16421884948923257, 0.9800051329029424},
        {0.15586028465166732, -0.12368310778836114, 0.9800051329029422},
        {0.18544987470737495, -0.07209912242812025, 0.9800051329029422},
        {0.19847377977178632, -0.014074737190675948, 0.9800051329029422},
        {0.19847377977178632, -0.014074737190675948, 0.9800051329029422},
    };
    // The normals' z parts are second differences of a linear function: pure rounding noise.
    for (std::size_t i = 0; i < X.size(); ++i) {
        expect_vec_near(T[i], T_ref[i], 1e-13, "T");
        expect_vec_near(N[i], N_ref[i], 1e-12, "N");
        expect_vec_near(B[i], B_ref[i], 1e-12, "B");
    }
    std::vector<double> kappa, tau;
    FrenetHelicity::compute_curvature_torsion(T, N, kappa, tau);
    const std::vector<double> kappa_ref = {0.14645013687555714, 0.14645013687555714, 0.2896113194046512,
                                           0.28961131940465107, 0.28961131940465096, 0.14645013687555702,
                                           0.14645013687555702};
    const std::vector<double> tau_ref = {0.029400153987088402, 0.029400153987088402, 0.058800307974176486,
                                         0.0588003079741767,   0.05880030797417624,  0.029400153987087643,
                                         0.029400153987087643};
    for (std::size_t i = 0; i < X.size(); ++i) {
        EXPECT_NEAR(kappa[i], kappa_ref[i], 1e-13) << i;
        EXPECT_NEAR(tau[i], tau_ref[i], 1e-11) << i;
    }
}

TEST(FrenetFrames, StraightLineGivesNaNNormals) {
    const std::vector<Vec3> X = {{0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}};
    std::vector<Vec3> T, N, B;
    FrenetHelicity::compute_frenet_frames(X, T, N, B);
    for (std::size_t i = 0; i < X.size(); ++i) {
        expect_vec_near(T[i], {std::sqrt(0.5), std::sqrt(0.5), 0.0}, 1e-15, "T");
        for (int c = 0; c < 3; ++c) {
            EXPECT_TRUE(std::isnan(N[i][c]));
            EXPECT_TRUE(std::isnan(B[i][c]));
        }
    }
}

// Two points have no interior sample: the outputs are resized and both entries repeat entry 1 as it
// stood after the resize (zero when the resize created it, the caller's value otherwise).
TEST(FrenetFrames, TwoPointsOnlyResizeAndCopy) {
    const std::vector<Vec3> X = {{0, 0, 0}, {1, 0, 0}};
    std::vector<Vec3> T, N, B;
    FrenetHelicity::compute_frenet_frames(X, T, N, B);
    for (const auto* out : {&T, &N, &B}) {
        ASSERT_EQ(out->size(), 2u);
        for (const Vec3& v : *out) EXPECT_EQ(v, (Vec3{0, 0, 0}));
    }
    std::vector<Vec3> T2 = {{9, 9, 9}, {7, 7, 7}, {5, 5, 5}};
    std::vector<Vec3> N2 = {{1, 2, 3}};
    std::vector<Vec3> B2;
    FrenetHelicity::compute_frenet_frames(X, T2, N2, B2);
    EXPECT_EQ(T2, (std::vector<Vec3>{{7, 7, 7}, {7, 7, 7}}));
    EXPECT_EQ(N2, (std::vector<Vec3>{{0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(B2, (std::vector<Vec3>{{0, 0, 0}, {0, 0, 0}}));

    std::vector<double> kappa = {4.0, 3.0, 2.0}, tau;
    FrenetHelicity::compute_curvature_torsion(T2, N2, kappa, tau);
    EXPECT_EQ(kappa, (std::vector<double>{3.0, 3.0}));
    EXPECT_EQ(tau, (std::vector<double>{0.0, 0.0}));
}

// Fewer than two entries: no interior sample and no end rule, the outputs are only resized.
TEST(FrenetFrames, ShortInputOnlyResizes) {
    for (std::size_t n : {0u, 1u}) {
        const std::vector<Vec3> X(n, Vec3{1, 2, 3});
        std::vector<Vec3> T(3, Vec3{9, 9, 9}), N(3, Vec3{9, 9, 9}), B;
        FrenetHelicity::compute_frenet_frames(X, T, N, B);
        EXPECT_EQ(T, std::vector<Vec3>(n, Vec3{9, 9, 9}));
        EXPECT_EQ(N, std::vector<Vec3>(n, Vec3{9, 9, 9}));
        EXPECT_EQ(B, std::vector<Vec3>(n, Vec3{0, 0, 0}));
        std::vector<double> kappa(4, 7.0), tau;
        FrenetHelicity::compute_curvature_torsion(X, X, kappa, tau);
        EXPECT_EQ(kappa, std::vector<double>(n, 7.0));
        EXPECT_EQ(tau, std::vector<double>(n, 0.0));
    }
}

TEST(FrenetFrames, RejectsTooShortOrMismatchedInput) {
    std::vector<Vec3> T, N, B;
    std::vector<double> kappa, tau;
    const std::vector<Vec3> three = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const std::vector<Vec3> two = {{1, 0, 0}, {0, 1, 0}};
    expect_invalid_argument([&] { FrenetHelicity::compute_curvature_torsion(three, two, kappa, tau); },
                            "compute_curvature_torsion: N must have at least as many entries as T");
    expect_invalid_argument([&] { FrenetHelicity::compute_helicity(three, two); },
                            "compute_helicity: w must have at least as many entries as v");
    expect_invalid_argument([&] { FrenetHelicity::rk4_integrate(three, two, 1.0, 1.0); },
                            "rk4_integrate: V must have at least as many entries as X");
    expect_invalid_argument([&] { FrenetHelicity::evolve_vortex_knot(three, two, 1.0, 1.0); },
                            "evolve_vortex_knot: V must have at least as many entries as X");
}

TEST(FrenetHelicityMean, SinglePrecisionAccumulation) {
    // A float running sum absorbs each +4 next to 1e8 (spacing 8); a double sum would give 20000004.
    std::vector<Vec3> v, w;
    for (double d : {1e8, 4.0, 4.0, 4.0, 4.0}) {
        v.push_back({d, 0, 0});
        w.push_back({1, 0, 0});
    }
    EXPECT_EQ(FrenetHelicity::compute_helicity(v, w), 2.0e7f);

    const std::vector<Vec3> e(3, Vec3{1, 0, 0});
    EXPECT_EQ(FrenetHelicity::compute_helicity(e, e), 1.0f);
    EXPECT_EQ(FrenetHelicity::compute_helicity({{1, 2, 3}}, {{1, 1, 1}}), 6.0f);
    const float p = FrenetHelicity::compute_helicity({{0.1, 0, 0}}, {{3, 0, 0}});
    EXPECT_EQ(p, static_cast<float>(0.1 * 3.0));
    EXPECT_NE(static_cast<double>(p), 0.3);
    // Extra entries of w are ignored.
    EXPECT_EQ(FrenetHelicity::compute_helicity({{2, 0, 0}}, {{1, 0, 0}, {5, 5, 5}}), 2.0f);
    EXPECT_TRUE(std::isnan(FrenetHelicity::compute_helicity({}, {})));
}

TEST(FrenetStep, BothNamesTakeOneEulerStep) {
    const std::vector<Vec3> X = {{1, 2, 3}, {-0.5, 0.25, 8}};
    const std::vector<Vec3> V = {{0.1, -0.2, 0.3}, {4, 5, 6}, {100, 100, 100}};
    struct Case {
        double a, b;
        std::vector<Vec3> want;
    };
    const std::vector<Case> cases = {
        {2.0, 0.5, {{1.1, 1.8, 3.3}, {3.5, 5.25, 14}}},
        {0.0, 7.0, X},
        {3.0, 0.0, X},
    };
    for (const Case& c : cases) {
        const auto r1 = FrenetHelicity::rk4_integrate(X, V, c.a, c.b);
        const auto r2 = FrenetHelicity::evolve_vortex_knot(X, V, c.a, c.b);
        EXPECT_EQ(r1, r2);
        ASSERT_EQ(r1.size(), X.size());
        for (std::size_t i = 0; i < X.size(); ++i) {
            for (int k = 0; k < 3; ++k) EXPECT_EQ(r1[i][k], V[i][k] * (c.a * c.b) + X[i][k]);
            expect_vec_near(r1[i], c.want[i], 1e-15, "step");
        }
    }
    EXPECT_TRUE(FrenetHelicity::rk4_integrate({}, {}, 1.0, 1.0).empty());
}
