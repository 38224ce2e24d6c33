// Crossing-number estimate and PD codes from seeded projections of closed polygons.
//
// Both operations are defined by a floating-point test on every pair of non-adjacent edges of a projected
// polygon. Testing all pairs costs O(N^2) per projection, so PairScan enumerates only the pairs for which
// the test can possibly succeed, and the results stay identical to the all-pairs definition:
//
//  * Two edges whose bounding boxes lie more than delta = 2^-20 * extent apart (in x or in y) cannot
//    cross. In floating point they can still *appear* to cross: the orientation and intersection
//    formulas have an error of about 3u * |edge| * extent (u = 2^-53), and four nearly collinear
//    points give sign noise. Working the error bounds through shows that such a spurious acceptance of
//    edges at least delta apart needs lines within ~1.4e-9 rad of each other and offsets within
//    ~3e-9 * extent, for both tests.
//  * So the candidates are: pairs of edges whose boxes come within delta (sweep over x), plus pairs of
//    nearly collinear edges found through a grid over (direction angle, line offset) with cells of
//    2^-23 rad by 2^-23 * extent, far wider than the bound above, plus every pair with a "tiny" edge
//    (shorter than 1e-60 * extent), where underflow voids the relative error bounds.
//  * Zero-length edges never pass either test (all their products are zero) and are skipped.
//  * Projections with non-finite coordinates (finite points can overflow when projected) or an extent outside
//    [1e-60, 1e60] are scanned pair by pair, and so are projections where nearly collinear edges would
//    supply a quarter of all pairs anyway.
// Degenerate inputs (long collinear runs) therefore cost what the definition costs; generic curves cost
// O(N log N + near pairs) per projection.
#include "core/crossings.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/vec3.hpp"
#include "core/knot_dynamics.hpp"

namespace tarq {
namespace {

using Point2 = std::pair<double, double>;

constexpr double kSweepMargin = 0x1p-20;  // box separation that rules out a false crossing, x extent
constexpr double kLineAngle = 0x1p-23;    // cell width in direction angle [rad]
constexpr double kLineOffset = 0x1p-23;   // cell width in line offset, x extent
constexpr double kTinyEdge = 1e-60;       // relative edge length below which error bounds need care
constexpr double kMinExtent = 1e-60;
constexpr double kMaxExtent = 1e60;
using constants::kPi;

using vec3::cross;
using vec3::dot;

struct EdgeBox {
    double xlo, xhi, ylo, yhi;
};

// Grid cell (angle row in the high word, offset column in the low word) of one edge's line.
struct LineKey {
    std::uint64_t cell;
    std::uint32_t edge;
    bool original;  // false for the copy shifted by pi that closes the angle circle
};

bool key_less(const LineKey& a, const LineKey& b) { return a.cell < b.cell || (a.cell == b.cell && a.edge < b.edge); }

// Angle cells run from -1 to about pi / 2^-23 + 1 and offset cells stay within +-2^22 + 1 (every vertex lies
// within extent / 2 of the centre), so both fit 32 bits after a bias.
constexpr std::int64_t kRowBias = 2;
constexpr std::int64_t kColumnBias = std::int64_t{1} << 31;

inline std::uint64_t pack_cell(std::int64_t row, std::int64_t column) {
    return (static_cast<std::uint64_t>(row + kRowBias) << 32) | static_cast<std::uint64_t>(column + kColumnBias);
}
inline std::uint64_t row_of(std::uint64_t cell) { return cell >> 32; }

enum EdgeKind : std::uint8_t { kZeroEdge = 0, kTiny = 1, kRegular = 2 };

// Enumerates, once each, a superset of the edge pairs (i, j), i + 2 <= j, (i, j) != (0, m - 1), for which
// the crossing tests of this file can succeed. Buffers are kept between projections.
class PairScan {
public:
    template <class Fn>
    void run(const Point2* q, std::size_t m, Fn&& fn) {
        if (m < 4) return;
        double xmin = std::numeric_limits<double>::infinity(), xmax = -xmin, ymin = xmin, ymax = -xmin;
        bool finite = true;
        for (std::size_t k = 0; k < m; ++k) {
            poller_.tick();
            const double x = q[k].first, y = q[k].second;
            if (!std::isfinite(x) || !std::isfinite(y)) {
                finite = false;
                break;
            }
            xmin = std::min(xmin, x);
            xmax = std::max(xmax, x);
            ymin = std::min(ymin, y);
            ymax = std::max(ymax, y);
        }
        if (!finite || m > std::numeric_limits<std::uint32_t>::max()) return all_pairs(m, fn);
        const double extent = 2.0 * std::max(xmax - xmin, ymax - ymin);  // >= every vertex distance
        if (extent == 0.0) return;  // all vertices coincide: every edge has zero length
        if (!(extent >= kMinExtent && extent <= kMaxExtent)) return all_pairs(m, fn);

        const double delta = kSweepMargin * extent;
        const double tiny = kTinyEdge * extent;
        const double rho_cell = kLineOffset * extent;
        const double cx = xmin + 0.5 * (xmax - xmin), cy = ymin + 0.5 * (ymax - ymin);

        box_.resize(m);
        kind_.resize(m);
        order_.clear();
        lines_.clear();
        tiny_.clear();
        for (std::size_t k = 0; k < m; ++k) {
            poller_.tick();
            const Point2& a = q[k];
            const Point2& b = q[k + 1 == m ? 0 : k + 1];
            box_[k] = {std::min(a.first, b.first), std::max(a.first, b.first), std::min(a.second, b.second),
                       std::max(a.second, b.second)};
            double dx = b.first - a.first, dy = b.second - a.second;
            if (dx == 0.0 && dy == 0.0) {
                kind_[k] = kZeroEdge;
                continue;
            }
            if (std::max(std::abs(dx), std::abs(dy)) < tiny) {
                kind_[k] = kTiny;
                tiny_.push_back(static_cast<std::uint32_t>(k));
                continue;
            }
            kind_[k] = kRegular;
            order_.push_back({box_[k].xlo, static_cast<std::uint32_t>(k)});
            // Undirected line: direction angle in [0, pi), offset of the line from the box centre.
            if (dy < 0.0 || (dy == 0.0 && dx < 0.0)) {
                dx = -dx;
                dy = -dy;
            }
            const double phi = std::atan2(dy, dx);
            const double len = std::sqrt(dx * dx + dy * dy);
            const double rho = (-dy * (a.first - cx) + dx * (a.second - cy)) / len;
            const auto edge = static_cast<std::uint32_t>(k);
            lines_.push_back({pack_cell(cell(phi, kLineAngle), cell(rho, rho_cell)), edge, true});
            // Directions near 0 and near pi are neighbours; the flipped direction negates the offset.
            if (phi < kLineAngle)
                lines_.push_back({pack_cell(cell(phi + kPi, kLineAngle), cell(-rho, rho_cell)), edge, false});
            if (phi > kPi - kLineAngle)
                lines_.push_back({pack_cell(cell(phi - kPi, kLineAngle), cell(-rho, rho_cell)), edge, false});
        }

        std::sort(lines_.begin(), lines_.end(), key_less);
        // Long collinear runs put most pairs into a few cells; then the plain loop is the cheaper way to
        // the same result.
        const auto all = static_cast<std::uint64_t>(m) * static_cast<std::uint64_t>(m - 1) / 2;
        if (collinear_candidates(all / 4) > all / 4) return all_pairs(m, fn);

        auto emit = [&](std::size_t a, std::size_t b) {
            const std::size_t i = std::min(a, b), j = std::max(a, b);
            if (j >= i + 2 && !(i == 0 && j == m - 1)) fn(i, j);
        };
        auto near = [&](std::size_t a, std::size_t b) {
            const EdgeBox& A = box_[a];
            const EdgeBox& B = box_[b];
            return B.xlo <= A.xhi + delta && A.xlo <= B.xhi + delta && B.ylo <= A.yhi + delta &&
                   A.ylo <= B.yhi + delta;
        };

        // 1. Boxes within delta: sweep over x, then compare y.
        std::sort(order_.begin(), order_.end());
        for (std::size_t p = 0; p < order_.size(); ++p) {
            const std::size_t a = order_[p].second;
            const double reach = box_[a].xhi + delta;
            for (std::size_t r = p + 1; r < order_.size() && order_[r].first <= reach; ++r) {
                poller_.tick();
                const std::size_t b = order_[r].second;
                if (box_[b].ylo <= box_[a].yhi + delta && box_[a].ylo <= box_[b].yhi + delta) emit(a, b);
            }
        }

        // 2. Nearly collinear edges farther apart: neighbouring (angle, offset) cells. A pair within the
        //    cell widths is found from both edges' queries; it is taken from the smaller index only.
        for_each_line_neighbour([&](std::size_t a, const LineKey* first, const LineKey* last) {
            for (const LineKey* it = first; it != last; ++it) {
                poller_.tick();
                const std::size_t b = it->edge;
                if (b > a && !near(a, b)) emit(a, b);
            }
        });

        // 3. Tiny edges against every edge of non-zero length.
        for (const std::uint32_t t : tiny_) {
            poller_.tick(m);
            for (std::size_t s = 0; s < m; ++s) {
                if (s == t || kind_[s] == kZeroEdge) continue;
                if (kind_[s] == kRegular || s > t) emit(t, s);
            }
        }
    }

private:
    // Calls visit(a, first, last) for every original line entry of edge a that has entries in neighbouring
    // cells; [first, last) is one row of up to three cells (its own entry included).
    template <class Visit>
    void for_each_line_neighbour(Visit&& visit) const {
        const std::size_t nl = lines_.size();
        const LineKey* base = lines_.data();
        for (std::size_t p = 0; p < nl; ++p) {
            poller_.tick();
            const LineKey& key = lines_[p];
            if (!key.original) continue;
            const std::uint64_t row = row_of(key.cell);
            // Usually no other line has a direction within two angle cells: nothing to look up.
            if ((p == 0 || row_of(lines_[p - 1].cell) + 1 < row) &&
                (p + 1 == nl || row_of(lines_[p + 1].cell) > row + 1))
                continue;
            for (std::uint64_t r = row - 1; r <= row + 1; ++r) {
                const std::uint64_t shifted = key.cell + ((r - row) << 32);  // wraps for r = row - 1
                const LineKey lo{shifted - 1, 0, true};
                const LineKey hi{shifted + 1, std::numeric_limits<std::uint32_t>::max(), true};
                const LineKey* first = std::lower_bound(base, base + nl, lo, key_less);
                const LineKey* last = std::upper_bound(first, base + nl, hi, key_less);
                visit(static_cast<std::size_t>(key.edge), first, last);
            }
        }
    }

    // Number of entries the neighbour lookups would visit, counted up to just past limit.
    std::uint64_t collinear_candidates(std::uint64_t limit) const {
        std::uint64_t total = 0;
        for_each_line_neighbour([&](std::size_t, const LineKey* first, const LineKey* last) {
            if (total <= limit) total += static_cast<std::uint64_t>(last - first);
        });
        return total;
    }

    static std::int64_t cell(double v, double width) { return static_cast<std::int64_t>(std::floor(v / width)); }

    template <class Fn>
    void all_pairs(std::size_t m, Fn& fn) {
        for (std::size_t i = 0; i < m; ++i) {
            poller_.tick(m - i);
            for (std::size_t j = i + 2; j < m; ++j)
                if (!(i == 0 && j == m - 1)) fn(i, j);
        }
    }

    std::vector<EdgeBox> box_;
    std::vector<std::uint8_t> kind_;
    std::vector<std::pair<double, std::uint32_t>> order_;  // (x low, edge)
    std::vector<LineKey> lines_;
    std::vector<std::uint32_t> tiny_;
    // A single projection of a degenerate or dense curve visits O(N^2) pairs; the lookups of the const
    // neighbour walk count too.
    mutable InterruptPoller poller_{kPollWork};
};

// Strict proper crossing of edges k and l of the projected polygon (touching and overlaps do not count).
bool proper_crossing(const Point2* q, std::size_t n, std::size_t k, std::size_t l) {
    const Point2& A = q[k];
    const Point2& B = q[k + 1 == n ? 0 : k + 1];
    const Point2& P = q[l];
    const Point2& Q = q[l + 1 == n ? 0 : l + 1];
    const double abx = B.first - A.first, aby = B.second - A.second;
    const double pqx = Q.first - P.first, pqy = Q.second - P.second;
    const double o1 = abx * (P.second - A.second) - aby * (P.first - A.first);
    const double o2 = abx * (Q.second - A.second) - aby * (Q.first - A.first);
    const double o3 = pqx * (A.second - P.second) - pqy * (A.first - P.first);
    const double o4 = pqx * (B.second - P.second) - pqy * (B.first - P.first);
    return o1 * o2 < 0.0 && o3 * o4 < 0.0;
}

struct CrossingGeom {
    std::int64_t seg_a;
    std::int64_t seg_b;
    double t_a;
    double t_b;
    bool a_over;
};

struct Event {
    double pos;
    std::int64_t crossing;
    bool over;
    int label_in;
    int label_out;
};

struct PdWorkspace {
    PairScan scan;
    std::vector<CrossingGeom> crossings;
    std::vector<Event> events;
    std::vector<int> label_count;
};

// Fills ws.crossings with the accepted crossings of one projection. Returns false when a crossing of the
// projection was rejected for its angle or its depth gap: a code without it would describe another curve.
bool collect_crossings(const Point2* P2, const double* depth, std::size_t M, double min_angle_deg,
                       double depth_tol, PdWorkspace& ws) {
    std::vector<CrossingGeom>& found = ws.crossings;
    found.clear();
    bool none_rejected = true;
    ws.scan.run(P2, M, [&](std::size_t i, std::size_t j) {
        const std::size_t i1 = i + 1 == M ? 0 : i + 1;
        const std::size_t j1 = j + 1 == M ? 0 : j + 1;
        const double x1 = P2[i].first, y1 = P2[i].second, x2 = P2[i1].first, y2 = P2[i1].second;
        const double x3 = P2[j].first, y3 = P2[j].second, x4 = P2[j1].first, y4 = P2[j1].second;
        const double den = (x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4);
        if (std::abs(den) < 1e-12) return;  // parallel
        const double t = ((x1 - x3) * (y3 - y4) - (y1 - y3) * (x3 - x4)) / den;
        const double w = ((x1 - x3) * (y1 - y2) - (x1 - x2) * (y1 - y3)) / den;
        if (!(1e-12 < t && t < 0.999999999999 && 1e-12 < w && w < 0.999999999999)) return;
        const double za = depth[i] + t * (depth[i1] - depth[i]);
        const double zb = depth[j] + w * (depth[j1] - depth[j]);
        if (std::abs(za - zb) < depth_tol) {
            none_rejected = false;
            return;
        }
        const double ex = x2 - x1, ey = y2 - y1, fx = x4 - x3, fy = y4 - y3;
        const double gamma = (ex * fx + ey * fy) / ((std::hypot(ex, ey) + 1e-18) * (std::hypot(fx, fy) + 1e-18));
        const double mu = (-1.0 < gamma && gamma < 1.0) ? std::abs(gamma) : 1.0;
        const double angle = std::acos(mu) * 180.0 / kPi;
        if (angle < min_angle_deg) {
            none_rejected = false;
            return;
        }
        found.push_back({static_cast<std::int64_t>(i), static_cast<std::int64_t>(j), t, w, za > zb});
    });
    return none_rejected;
}

// The code of the crossings in ws.crossings, M the number of projected vertices.
PDCode pd_from_crossings(std::size_t M, PdWorkspace& ws) {
    std::vector<CrossingGeom>& found = ws.crossings;
    if (found.empty()) throw std::runtime_error("No crossings detected (projection not generic).");
    std::sort(found.begin(), found.end(), [](const CrossingGeom& a, const CrossingGeom& b) {
        return a.seg_a < b.seg_a || (a.seg_a == b.seg_a && a.seg_b < b.seg_b);
    });
    const std::size_t K = found.size();
    if (K > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2))
        throw std::runtime_error("build_pd_from_projection: too many crossings");
    const int E = static_cast<int>(2 * K);

    std::vector<Event>& ev = ws.events;
    ev.clear();
    ev.reserve(2 * K);
    const double md = static_cast<double>(M);
    InterruptPoller poller(kPollWork);
    for (std::size_t c = 0; c < K; ++c) {
        poller.tick();
        const CrossingGeom& g = found[c];
        const auto ci = static_cast<std::int64_t>(c);
        ev.push_back({(static_cast<double>(g.seg_a) + g.t_a) / md, ci, g.a_over, 0, 0});
        ev.push_back({(static_cast<double>(g.seg_b) + g.t_b) / md, ci, !g.a_over, 0, 0});
    }
    // Equal positions occur only in non-generic projections; keeping the creation order makes them
    // reproducible on every standard library.
    std::stable_sort(ev.begin(), ev.end(), [](const Event& a, const Event& b) { return a.pos < b.pos; });

    PDCode rows(K, std::array<int, 4>{0, 0, 0, 0});
    for (std::size_t k = 0; k < ev.size(); ++k) {
        poller.tick();
        Event& e = ev[k];
        e.label_out = static_cast<int>(k) + 1;
        e.label_in = k == 0 ? E : static_cast<int>(k);
        std::array<int, 4>& row = rows[static_cast<std::size_t>(e.crossing)];
        row[e.over ? 1 : 0] = e.label_in;
        row[e.over ? 3 : 2] = e.label_out;
    }

    std::vector<int>& seen = ws.label_count;
    seen.assign(static_cast<std::size_t>(E) + 1, 0);
    bool valid = true;
    for (const auto& row : rows) {
        poller.tick();
        for (const int label : row) {
            if (label < 1 || label > E) {
                valid = false;
                continue;
            }
            ++seen[static_cast<std::size_t>(label)];
        }
    }
    for (int label = 1; label <= E && valid; ++label) valid = seen[static_cast<std::size_t>(label)] == 2;
    if (!valid) throw std::runtime_error("PD validation failed (labels must appear exactly twice).");
    return rows;
}

[[noreturn]] void throw_non_finite(const char* op) {
    throw std::invalid_argument(std::string(op) + ": non-finite coordinate");
}

}  // namespace

void require_finite_points(const char* op, const Polyline& points) {
    InterruptPoller poller(kPollWork);
    for (const Vec3& p : points) {
        poller.tick();
        if (!(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))) throw_non_finite(op);
    }
}

PDCode build_pd_from_projection(const std::vector<std::pair<double, double>>& P2, const std::vector<double>& depth,
                                double min_angle_deg, double depth_tol) {
    if (P2.size() != depth.size())
        throw std::invalid_argument("build_pd_from_projection: P2 and depth differ in length");
    for (std::size_t k = 0; k < P2.size(); ++k)
        if (!(std::isfinite(P2[k].first) && std::isfinite(P2[k].second) && std::isfinite(depth[k])))
            throw_non_finite("build_pd_from_projection");
    PdWorkspace ws;
    collect_crossings(P2.data(), depth.data(), P2.size(), min_angle_deg, depth_tol, ws);
    return pd_from_crossings(P2.size(), ws);
}

double hyperbolic_volume_from_pd(const PDCode& /*pd*/) { return 0.0; }

int KnotDynamics::estimate_crossing_number(const Polyline& r, int directions, int seed) {
    require_finite_points("estimate_crossing_number", r);
    const std::size_t n = r.size();
    // N*N in 64 bits; a start value beyond int saturates at INT_MAX.
    const auto n64 = static_cast<std::uint64_t>(n);
    std::uint64_t best = n64 <= 0xFFFFFFFFu ? n64 * n64 : std::numeric_limits<std::uint64_t>::max();
    SeededNormalStream stream(static_cast<std::uint32_t>(seed));
    std::vector<Point2> q;
    PairScan scan;
    InterruptPoller poller(kPollWork);
    for (int step = 0; step < directions; ++step) {
        poller.tick(n64 + 16);
        const double gx = stream.next();
        const double gy = stream.next();
        const double gz = stream.next();
        const double len = std::sqrt(gx * gx + gy * gy + gz * gz) + 1e-12;
        const Vec3 d{gx / len, gy / len, gz / len};
        if (n == 0) {
            best = 0;
            continue;
        }
        const Vec3 h = std::abs(d[0]) > 0.9 ? Vec3{0.0, 1.0, 0.0} : Vec3{1.0, 0.0, 0.0};
        const Vec3 c = cross(d, h);
        const double cl = std::sqrt(dot(c, c)) + 1e-12;
        const Vec3 e1{c[0] / cl, c[1] / cl, c[2] / cl};
        const Vec3 e2 = cross(d, e1);
        q.resize(n);
        for (std::size_t k = 0; k < n; ++k) q[k] = {dot(r[k], e1), dot(r[k], e2)};
        std::uint64_t count = 0;
        scan.run(q.data(), n, [&](std::size_t k, std::size_t l) {
            if (proper_crossing(q.data(), n, k, l)) ++count;
        });
        best = std::min(best, count);
    }
    const auto cap = static_cast<std::uint64_t>(std::numeric_limits<int>::max());
    return static_cast<int>(std::min(best, cap));
}

PDCode KnotDynamics::pd_from_curve(const Polyline& P3, int tries, unsigned seed, double min_angle_deg,
                                   double depth_tol) {
    const std::size_t n = P3.size();
    if (n < 4) throw std::invalid_argument("pd_from_curve: need at least 4 points");
    require_finite_points("pd_from_curve", P3);
    SeededNormalStream stream(static_cast<std::uint32_t>(seed));
    std::vector<Point2> P2(n);
    std::vector<double> depth(n);
    PdWorkspace ws;
    PDCode result;
    std::int64_t best = -1;
    InterruptPoller poller(kPollWork);
    for (int attempt = 0; attempt < tries; ++attempt) {
        poller.tick(static_cast<std::uint64_t>(n) + 16);
        // Each try starts with an empty cache: it uses two polar pairs and drops the last member.
        stream.clear_cache();
        const double gx = stream.next();
        const double gy = stream.next();
        const double gz = stream.next();
        const double len = std::sqrt(gx * gx + gy * gy + gz * gz) + 1e-18;
        const Vec3 nv{gx / len, gy / len, gz / len};
        const Vec3 a = std::abs(nv[0]) < 0.9 ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
        const Vec3 na = cross(nv, a);
        const double nal = std::sqrt(dot(na, na)) + 1e-18;
        const Vec3 u{na[0] / nal, na[1] / nal, na[2] / nal};
        const Vec3 v = cross(nv, u);
        for (std::size_t k = 0; k < n; ++k) {
            P2[k] = {dot(P3[k], u), dot(P3[k], v)};
            depth[k] = dot(P3[k], nv);
        }
        // A projection that loses a real crossing to the angle or depth test is no candidate either.
        if (!collect_crossings(P2.data(), depth.data(), n, min_angle_deg, depth_tol, ws)) continue;
        try {
            PDCode code = pd_from_crossings(n, ws);
            if (static_cast<std::int64_t>(code.size()) > best) {
                best = static_cast<std::int64_t>(code.size());
                result = std::move(code);
            }
        } catch (const std::exception&) {
            // A projection without usable crossings is simply not a candidate. An interrupt, which derives
            // from no standard exception, passes.
        }
    }
    if (best < 0) throw std::runtime_error("Failed to extract PD from any projection.");
    return result;
}

}  // namespace tarq
