// Field kernels: point dipoles and wires on grids, the wire's vector potential and the periodic curl,
// against literal reference loops on both kernel paths.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "models/field_kernels.hpp"
#include "test_support.hpp"

namespace {

using tarq::FieldKernels;
using tarq::Polyline;
using tarq::Vec3;
using test_support::both_paths;

constexpr double kPi = 3.141592653589793;
constexpr double kInv4Pi = 0.07957747154594767;

struct Grid {
    std::vector<double> x, y, z;
    std::size_t size() const { return x.size(); }
};

Grid random_grid(std::mt19937_64& g, std::size_t n, double scale) {
    std::uniform_real_distribution<double> u(-scale, scale);
    Grid out;
    for (std::size_t j = 0; j < n; ++j) {
        out.x.push_back(u(g));
        out.y.push_back(u(g));
        out.z.push_back(u(g));
    }
    return out;
}

struct Field {
    std::vector<double> x, y, z;
    explicit Field(std::size_t n, double fill = 0.0) : x(n, fill), y(n, fill), z(n, fill) {}
    bool operator==(const Field& o) const { return x == o.x && y == o.y && z == o.z; }
};

Field dipoles_on(const Grid& g, const std::vector<Vec3>& pos, const std::vector<Vec3>& mom, Field f) {
    FieldKernels::dipole_ring_field_grid(g.x.data(), g.y.data(), g.z.data(), g.size(), pos, mom, f.x.data(),
                                         f.y.data(), f.z.data());
    return f;
}

Field wire_on(const Grid& g, const Polyline& wire, double current, Field f) {
    FieldKernels::biot_savart_wire_grid(g.x.data(), g.y.data(), g.z.data(), g.size(), wire, current, f.x.data(),
                                        f.y.data(), f.z.data());
    return f;
}

Field potential_on(const Grid& g, const Polyline& wire, double current) {
    Field f(g.size());
    FieldKernels::wire_vector_potential_grid(g.x.data(), g.y.data(), g.z.data(), g.size(), wire, current,
                                             f.x.data(), f.y.data(), f.z.data());
    return f;
}

// The formulas written out term by term: sources outer, points inner.
Field dipoles_reference(const Grid& g, const std::vector<Vec3>& pos, const std::vector<Vec3>& mom) {
    Field f(g.size());
    for (std::size_t i = 0; i < std::min(pos.size(), mom.size()); ++i) {
        for (std::size_t j = 0; j < g.size(); ++j) {
            const double rx = g.x[j] - pos[i][0], ry = g.y[j] - pos[i][1], rz = g.z[j] - pos[i][2];
            const Vec3& m = mom[i];
            const double d2 = (rx * rx + ry * ry) + rz * rz;
            const double rho = std::sqrt(d2);
            double bx = 0.0, by = 0.0, bz = 0.0;
            if (!(rho < 1e-12)) {
                const double s = 3.0 * ((m[0] * rx + m[1] * ry) + m[2] * rz) / d2;
                const double w = 1.0 / (d2 * rho);
                bx = (s * rx - m[0]) * kInv4Pi * w;
                by = (s * ry - m[1]) * kInv4Pi * w;
                bz = (s * rz - m[2]) * kInv4Pi * w;
            }
            f.x[j] += bx;
            f.y[j] += by;
            f.z[j] += bz;
        }
    }
    return f;
}

Field wire_reference(const Grid& g, const Polyline& P, double current) {
    Field f(g.size());
    const double k = current * kInv4Pi;
    for (std::size_t s = 0; s + 1 < P.size(); ++s) {
        const Vec3 mid = {(P[s][0] + P[s + 1][0]) * 0.5, (P[s][1] + P[s + 1][1]) * 0.5, (P[s][2] + P[s + 1][2]) * 0.5};
        const Vec3 dl = {P[s + 1][0] - P[s][0], P[s + 1][1] - P[s][1], P[s + 1][2] - P[s][2]};
        for (std::size_t j = 0; j < g.size(); ++j) {
            const double rx = g.x[j] - mid[0], ry = g.y[j] - mid[1], rz = g.z[j] - mid[2];
            const double d2 = (rx * rx + ry * ry) + rz * rz;
            if (std::sqrt(d2) < 1e-12) continue;
            const double w = 1.0 / (d2 * std::sqrt(d2));
            f.x[j] += (dl[1] * rz - dl[2] * ry) * k * w;
            f.y[j] += (dl[2] * rx - dl[0] * rz) * k * w;
            f.z[j] += (dl[0] * ry - dl[1] * rx) * k * w;
        }
    }
    return f;
}

Field potential_reference(const Grid& g, const Polyline& P, double current) {
    Field f(g.size());
    const double k = current * kInv4Pi;
    for (std::size_t j = 0; j < g.size(); ++j) {
        double sx = 0.0, sy = 0.0, sz = 0.0;
        for (std::size_t s = 0; s + 1 < P.size(); ++s) {
            const double dx = g.x[j] - (P[s][0] + P[s + 1][0]) * 0.5;
            const double dy = g.y[j] - (P[s][1] + P[s + 1][1]) * 0.5;
            const double dz = g.z[j] - (P[s][2] + P[s + 1][2]) * 0.5;
            const double d = std::sqrt((dx * dx + dy * dy) + dz * dz);
            if (d < 1e-12) continue;
            sx += (P[s + 1][0] - P[s][0]) / d;
            sy += (P[s + 1][1] - P[s][1]) / d;
            sz += (P[s + 1][2] - P[s][2]) / d;
        }
        f.x[j] = k * sx;
        f.y[j] = k * sy;
        f.z[j] = k * sz;
    }
    return f;
}

Grid grid_of(std::initializer_list<Vec3> pts) {
    Grid g;
    for (const Vec3& p : pts) {
        g.x.push_back(p[0]);
        g.y.push_back(p[1]);
        g.z.push_back(p[2]);
    }
    return g;
}

TEST(FieldKernelsDipole, AxialTransverseAndFloor) {
    struct Case {
        Vec3 r, m, expected;
    };
    const Case cases[] = {
        {{1, 0, 0}, {1, 0, 0}, {1 / (2 * kPi), 0, 0}},
        {{2, 0, 0}, {1, 0, 0}, {1 / (16 * kPi), 0, 0}},
        {{0, 2, 0}, {1, 0, 0}, {-1 / (32 * kPi), 0, 0}},
        {{0, 0, 0}, {1, 2, 3}, {0, 0, 0}},
        {{1e-13, 0, 0}, {1, 0, 0}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const Vec3 b = FieldKernels::dipole_field_at_point(c.r, c.m);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[k], c.expected[k], 1e-16) << c.r[0] << " " << c.r[1];
    }
    EXPECT_EQ(FieldKernels::dipole_field_at_point({1, 0, 0}, {1, 0, 0})[0], 0.15915494309189535);
    // A NaN distance is not below the floor: it reaches the result.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(FieldKernels::dipole_field_at_point({nan, 0, 0}, {1, 0, 0})[0]));
}

TEST(FieldKernelsDipole, GridBitEqualToReferenceOnBothPaths) {
    std::mt19937_64 rng(11);
    // More points than one cache block and not a multiple of the lane count.
    const Grid g = random_grid(rng, 4103, 2.0);
    const auto pos = test_support::random_points(rng, 7, 2.0);
    const auto mom = test_support::random_points(rng, 7, 1.0);
    const Field ref = dipoles_reference(g, pos, mom);
    const auto r = both_paths([&] { return dipoles_on(g, pos, mom, Field(g.size())); });
    EXPECT_TRUE(r.first == ref);
    EXPECT_TRUE(r.second == ref);
}

TEST(FieldKernelsDipole, ShorterSequenceSetsTheCountAndOutputsAccumulate) {
    std::mt19937_64 rng(12);
    const Grid g = random_grid(rng, 9, 1.0);
    const auto pos = test_support::random_points(rng, 3, 2.0);
    const auto mom = test_support::random_points(rng, 2, 1.0);
    const std::vector<Vec3> pos2(pos.begin(), pos.begin() + 2);
    EXPECT_TRUE(dipoles_on(g, pos, mom, Field(9)) == dipoles_on(g, pos2, mom, Field(9)));
    // The kernel adds to what the outputs hold: a second call with one dipole doubles the field.
    const std::vector<Vec3> pos1(pos.begin(), pos.begin() + 1);
    const Field once = dipoles_on(g, pos1, mom, Field(9));
    const Field twice = dipoles_on(g, pos1, mom, once);
    for (std::size_t j = 0; j < 9; ++j) {
        EXPECT_EQ(twice.x[j], once.x[j] + once.x[j]);
        EXPECT_EQ(twice.z[j], once.z[j] + once.z[j]);
    }
    // No dipoles or no points: the outputs stay as they were.
    EXPECT_TRUE(dipoles_on(g, {}, mom, Field(9, -0.0)) == Field(9, -0.0));
    FieldKernels::dipole_ring_field_grid(nullptr, nullptr, nullptr, 0, pos, mom, nullptr, nullptr, nullptr);
}

TEST(FieldKernelsWire, StraightSegmentMidpointAndShortWires) {
    const Polyline wire = {{-1, 0, 0}, {1, 0, 0}};
    const Grid g = grid_of({{0, 1, 0}, {0, 0, 0}});
    const auto r = both_paths([&] { return wire_on(g, wire, 1.0, Field(2, -0.0)); });
    for (const Field& f : {r.first, r.second}) {
        EXPECT_EQ(f.z[0], 1 / (2 * kPi));
        EXPECT_EQ(f.x[0], 0.0);
        // The point at the midpoint is skipped: its -0.0 stays.
        EXPECT_TRUE(std::signbit(f.x[1]) && std::signbit(f.y[1]) && std::signbit(f.z[1]));
    }
    EXPECT_TRUE(wire_on(g, {{0, 0, 1}}, 1.0, Field(2, 5.0)) == Field(2, 5.0));
    EXPECT_TRUE(wire_on(g, {}, 1.0, Field(2, 5.0)) == Field(2, 5.0));
}

TEST(FieldKernelsWire, OpenWireAndBitEqualPaths) {
    std::mt19937_64 rng(13);
    const Grid g = random_grid(rng, 2057, 2.0);
    const Polyline tri = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Polyline closed = tri;
    closed.push_back(tri[0]);
    const Field open_field = wire_on(g, tri, 1.0, Field(g.size()));
    EXPECT_FALSE(open_field == wire_on(g, closed, 1.0, Field(g.size())));
    EXPECT_TRUE(open_field == wire_reference(g, tri, 1.0));

    const auto wire = test_support::random_points(rng, 25, 1.5);
    const Field ref = wire_reference(g, wire, -2.5);
    const auto r = both_paths([&] { return wire_on(g, wire, -2.5, Field(g.size())); });
    EXPECT_TRUE(r.first == ref);
    EXPECT_TRUE(r.second == ref);
}

TEST(FieldKernelsPotential, StraightSegmentAndBitEqualPaths) {
    const Polyline wire = {{-1, 0, 0}, {1, 0, 0}};
    const Field f = potential_on(grid_of({{0, 1, 0}, {0, 0, 0}}), wire, 1.0);
    EXPECT_EQ(f.x[0], 1 / (2 * kPi));
    EXPECT_EQ(f.y[0], 0.0);
    EXPECT_EQ(f.x[1], 0.0);  // at the midpoint: nothing from that segment

    std::mt19937_64 rng(14);
    const Grid g = random_grid(rng, 1031, 2.0);
    const auto P = test_support::random_points(rng, 40, 1.5);
    const Field ref = potential_reference(g, P, 0.5);
    const auto r = both_paths([&] { return potential_on(g, P, 0.5); });
    EXPECT_TRUE(r.first == ref);
    EXPECT_TRUE(r.second == ref);
    // Fewer than two points: the outputs are left as they were.
    EXPECT_TRUE(potential_on(g, {{1, 2, 3}}, 1.0) == Field(g.size()));
}

// Field (u, v, w) at (i, j, k) of an nx x ny x nz grid.
struct Sampled {
    std::size_t nx, ny, nz;
    std::vector<double> v;
    double at(long i, long j, long k, int c) const {
        const auto w = [](long a, std::size_t n) { return static_cast<std::size_t>((a % long(n) + long(n)) % long(n)); };
        return v[((w(i, nx) * ny + w(j, ny)) * nz + w(k, nz)) * 3 + c];
    }
};

TEST(FieldKernelsCurl, PeriodicCentralDifferences) {
    std::mt19937_64 rng(15);
    std::uniform_real_distribution<double> u(-1, 1);
    Sampled s{4, 3, 5, {}};
    s.v.resize(4 * 3 * 5 * 3);
    for (double& x : s.v) x = u(rng);
    std::vector<double> out(s.v.size());
    const double h = 0.3, h2 = h + h;
    FieldKernels::curl3d_central(s.v.data(), 4, 3, 5, h, out.data());
    for (long i = 0; i < 4; ++i)
        for (long j = 0; j < 3; ++j)
            for (long k = 0; k < 5; ++k) {
                const double* c = &out[((i * 3 + j) * 5 + k) * 3];
                EXPECT_EQ(c[0], (s.at(i, j + 1, k, 2) - s.at(i, j - 1, k, 2)) / h2 -
                                    (s.at(i, j, k + 1, 1) - s.at(i, j, k - 1, 1)) / h2);
                EXPECT_EQ(c[1], (s.at(i, j, k + 1, 0) - s.at(i, j, k - 1, 0)) / h2 -
                                    (s.at(i + 1, j, k, 2) - s.at(i - 1, j, k, 2)) / h2);
                EXPECT_EQ(c[2], (s.at(i + 1, j, k, 1) - s.at(i - 1, j, k, 1)) / h2 -
                                    (s.at(i, j + 1, k, 0) - s.at(i, j - 1, k, 0)) / h2);
            }
    // Extent 1 on every axis: every neighbour is the point itself.
    const double one[3] = {1.0, 2.0, 3.0};
    double c1[3] = {9, 9, 9};
    FieldKernels::curl3d_central(one, 1, 1, 1, h, c1);
    EXPECT_EQ(c1[0], 0.0);
    EXPECT_EQ(c1[1], 0.0);
    EXPECT_EQ(c1[2], 0.0);
}

}  // namespace
