// libFuzzer target: the pruned crossing scan of estimate_crossing_number against the pair-by-pair count,
// and pd_from_curve for well-formed codes, on polygons decoded from arbitrary bytes; polygons with a
// non-finite coordinate must be refused by both.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

#include "../cpp/crossings_reference.hpp"
#include "core/knot_dynamics.hpp"

namespace {

constexpr std::size_t kMaxPoints = 400;

// The first byte picks the coordinate kind: small integers (collinear runs, shared vertices, touching
// edges), fine fixed-point values, or raw doubles (NaN, infinities, extremes).
tarq::Polyline decode(const std::uint8_t* data, std::size_t size) {
    tarq::Polyline points;
    if (size == 0) return points;
    const int kind = data[0] % 3;
    ++data;
    --size;
    const std::size_t width = kind == 0 ? 1 : kind == 1 ? 2 : 8;
    for (std::size_t at = 0; at + 3 * width <= size && points.size() < kMaxPoints; at += 3 * width) {
        tarq::Vec3 p{};
        for (int c = 0; c < 3; ++c) {
            const std::uint8_t* b = data + at + static_cast<std::size_t>(c) * width;
            if (kind == 0) {
                p[c] = static_cast<double>(static_cast<std::int8_t>(b[0]) % 5);
            } else if (kind == 1) {
                std::int16_t v;
                std::memcpy(&v, b, 2);
                p[c] = static_cast<double>(v) / 256.0;
            } else {
                std::memcpy(&p[c], b, 8);
            }
        }
        points.push_back(p);
    }
    return points;
}

void check_pd(const tarq::PDCode& pd) {
    const int labels = static_cast<int>(2 * pd.size());
    std::map<int, int> seen;
    for (const auto& row : pd)
        for (int label : row) {
            if (label < 1 || label > labels) std::abort();
            ++seen[label];
        }
    for (const auto& kv : seen)
        if (kv.second != 2) std::abort();
}

bool all_finite(const tarq::Polyline& points) {
    for (const tarq::Vec3& p : points)
        for (const double c : p)
            if (!std::isfinite(c)) return false;
    return true;
}

// f must throw std::invalid_argument.
template <class F>
void expect_refused(F&& f) {
    try {
        f();
    } catch (const std::invalid_argument&) {
        return;
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tarq::Polyline points = decode(data, size);
    const int directions = size > 0 ? 1 + data[size - 1] % 3 : 1;
    if (!all_finite(points)) {
        expect_refused([&] { tarq::KnotDynamics::estimate_crossing_number(points, directions, 7); });
        if (points.size() >= 4) expect_refused([&] { tarq::KnotDynamics::pd_from_curve(points, 2, 7, 1.0, 1e-6); });
        return 0;
    }
    if (tarq::KnotDynamics::estimate_crossing_number(points, directions, 7) !=
        crossings_reference::brute_estimate(points, directions, 7))
        std::abort();
    if (points.size() >= 4) {
        try {
            check_pd(tarq::KnotDynamics::pd_from_curve(points, 2, 7, 1.0, 1e-6));
        } catch (const std::runtime_error&) {
            // no projection gave a code
        }
    }
    return 0;
}
