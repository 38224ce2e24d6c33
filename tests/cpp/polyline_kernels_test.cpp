// Closed-polyline energy kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/polyline_kernels.hpp"

namespace {

using Rows = std::vector<double>;  // N rows of x, y, z

std::size_t count(const Rows& r) { return r.size() / 3; }

double length(const Rows& r) { return tarq::trefoil_polyline_length(r.data(), count(r)); }
double neumann(const Rows& r, double a) { return tarq::trefoil_neumann_self_energy(r.data(), count(r), a); }
double writhe(const Rows& r, double rc) { return tarq::trefoil_writhe_reg(r.data(), count(r), rc); }
double menger(const Rows& r) { return tarq::trefoil_curvature_penalty_menger(r.data(), count(r)); }
double repulsion(const Rows& r, double rc) { return tarq::trefoil_core_repulsion(r.data(), count(r), rc); }

// A non-planar hexagon; reference values from an independent NumPy evaluation of the formulas (ordered
// pair sums), agreeing to rounding.
const Rows kHexagon{0, 0, 0, 1, 0, 0.3, 1.2, 1, -0.2, 0.1, 1.3, 0.5, -0.4, 0.6, -0.1, 0.3, -0.5, 0.8};

Rows regular_polygon(int n, double R) {
    Rows r;
    for (int k = 0; k < n; ++k) {
        const double t = 2 * M_PI * k / n;
        r.insert(r.end(), {R * std::cos(t), R * std::sin(t), 0.0});
    }
    return r;
}

}  // namespace

TEST(PolylineKernels, ReferenceHexagon) {
    EXPECT_NEAR(neumann(kHexagon, 0.1), -4.210748305596355, 1e-13);
    EXPECT_NEAR(writhe(kHexagon, 0.05), -0.13756272501539776, 1e-14);
    EXPECT_NEAR(length(kHexagon), 7.1407774296838795, 1e-14);
    EXPECT_NEAR(menger(kHexagon), 10.989689548268782, 1e-12);
    EXPECT_NEAR(repulsion(kHexagon, 0.8), 13007.933169149861, 1e-9);
}

TEST(PolylineKernels, TooFewVerticesGiveZero) {
    const Rows one{1, 2, 3}, three{0, 0, 0, 1, 0, 0, 0, 1, 0};
    for (const Rows* r : {static_cast<const Rows*>(nullptr), &one}) {
        const double* p = r ? r->data() : nullptr;
        const std::size_t n = r ? count(*r) : 0;
        EXPECT_EQ(tarq::trefoil_neumann_self_energy(p, n, 1.0), 0.0);
        EXPECT_EQ(tarq::trefoil_core_repulsion(p, n, 1.0), 0.0);
        EXPECT_EQ(tarq::trefoil_polyline_length(p, n), 0.0);
        EXPECT_EQ(tarq::trefoil_writhe_reg(p, n, 1.0), 0.0);
        EXPECT_EQ(tarq::trefoil_curvature_penalty_menger(p, n), 0.0);
    }
    // Three vertices: the only candidate repulsion pair (0, 2) are neighbours across the closing edge.
    EXPECT_EQ(repulsion(three, 1e3), 0.0);
}

TEST(PolylineKernels, TwoVertices) {
    const Rows two{0, 0, 0, 0, 2, 0};  // distance 2
    EXPECT_DOUBLE_EQ(length(two), 4.0);
    EXPECT_DOUBLE_EQ(neumann(two, 1.0), -8.0 / std::sqrt(5.0));  // edge 0 against its reverse
    EXPECT_EQ(writhe(two, 0.1), 0.0);
    EXPECT_EQ(menger(two), 0.0);  // c = 0
    EXPECT_EQ(repulsion(two, 1.0), 0.0);
}

TEST(PolylineKernels, RepulsionThresholdAndNeighbours) {
    // Pair (0, 2) at distance d, pair (1, 3) 100 apart, pair (0, 3) excluded as neighbours.
    auto poly = [](double d) { return Rows{0, 0, 0, 100, 0, 0, d, 0, 0, 100, 100, 0}; };
    EXPECT_EQ(repulsion(poly(20.0), 1.0), 0.0);  // x = 0.1 is not above 0.1
    EXPECT_DOUBLE_EQ(repulsion(poly(19.9), 1.0), std::pow(2.0 / 19.9, 12.0));
    // Coincident non-neighbours: the distance is clamped at 1e-30.
    const Rows pinched{0, 0, 0, 1, 0, 0, 0, 0, 0, -1, 5, 0};
    EXPECT_DOUBLE_EQ(repulsion(pinched, 1e-16), std::pow(2e-16 / 1e-30, 12.0));
}

TEST(PolylineKernels, MengerOnRegularPolygonAndCoincidentNeighbours) {
    const Rows p = regular_polygon(12, 3.0);
    EXPECT_NEAR(menger(p), length(p) / 9.0, 1e-12);
    EXPECT_NEAR(length(p), 12 * 2 * 3.0 * std::sin(M_PI / 12), 1e-13);
    Rows doubled = p;
    doubled.insert(doubled.begin() + 6, p.begin() + 3, p.begin() + 6);  // vertex 1 repeated
    const double v = menger(doubled);
    EXPECT_TRUE(std::isfinite(v));
    // Vertex 1 and its twin have kappa = 0; every other vertex keeps 1/R and its weight, so only the
    // term side / R^2 of vertex 1 is lost.
    EXPECT_NEAR(v, (length(p) - 2 * 3.0 * std::sin(M_PI / 12)) / 9.0, 1e-12);
}

TEST(PolylineKernels, WritheOfPlanarAndMirroredCurves) {
    EXPECT_EQ(writhe(regular_polygon(9, 2.0), 0.01), 0.0);
    Rows mirrored = kHexagon;
    for (std::size_t k = 2; k < mirrored.size(); k += 3) mirrored[k] = -mirrored[k];
    EXPECT_EQ(writhe(mirrored, 0.05), -writhe(kHexagon, 0.05));
    // Unregularised, two edges starting at one point divide by zero.
    const Rows pinched{0, 0, 0, 1, 0, 1, 0, 0, 0, -1, 1, 0};
    EXPECT_FALSE(std::isfinite(neumann(pinched, 0.0)));
}
