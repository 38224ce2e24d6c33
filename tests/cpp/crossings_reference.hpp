// Crossing count of seeded projections written from the definition, pair by pair with no pruning: the
// reference for the crossing scan's tests and its fuzz target.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/crossings.hpp"
#include "core/types.hpp"

namespace crossings_reference {

using tarq::Polyline;
using tarq::Vec3;
using P2List = std::vector<std::pair<double, double>>;

inline Vec3 cross3(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double dot3(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double cr2(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

inline std::int64_t brute_count(const P2List& q) {
    const std::size_t n = q.size();
    std::int64_t count = 0;
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t l = k + 2; l < n; ++l) {
            if (k == 0 && l == n - 1) continue;
            const auto A = q[k], B = q[(k + 1) % n], P = q[l], Q = q[(l + 1) % n];
            const double o1 = cr2(B.first - A.first, B.second - A.second, P.first - A.first, P.second - A.second);
            const double o2 = cr2(B.first - A.first, B.second - A.second, Q.first - A.first, Q.second - A.second);
            const double o3 = cr2(Q.first - P.first, Q.second - P.second, A.first - P.first, A.second - P.second);
            const double o4 = cr2(Q.first - P.first, Q.second - P.second, B.first - P.first, B.second - P.second);
            if (o1 * o2 < 0 && o3 * o4 < 0) ++count;
        }
    return count;
}

inline P2List project_estimate(const Polyline& r, tarq::SeededNormalStream& s) {
    const double gx = s.next(), gy = s.next(), gz = s.next();
    const double l = std::sqrt(gx * gx + gy * gy + gz * gz) + 1e-12;
    const Vec3 d{gx / l, gy / l, gz / l};
    const Vec3 h = std::abs(d[0]) > 0.9 ? Vec3{0, 1, 0} : Vec3{1, 0, 0};
    const Vec3 c = cross3(d, h);
    const double cl = std::sqrt(dot3(c, c)) + 1e-12;
    const Vec3 e1{c[0] / cl, c[1] / cl, c[2] / cl};
    const Vec3 e2 = cross3(d, e1);
    P2List q;
    for (const Vec3& p : r) q.push_back({dot3(p, e1), dot3(p, e2)});
    return q;
}

inline int brute_estimate(const Polyline& r, int directions, int seed) {
    tarq::SeededNormalStream s(static_cast<std::uint32_t>(seed));
    std::int64_t best = static_cast<std::int64_t>(r.size()) * static_cast<std::int64_t>(r.size());
    for (int k = 0; k < directions; ++k) {
        const P2List q = project_estimate(r, s);
        best = std::min(best, brute_count(q));
    }
    return static_cast<int>(best);
}

}  // namespace crossings_reference
