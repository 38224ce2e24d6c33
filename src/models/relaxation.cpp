// The particle evaluator's damped relaxation: flat point set, repulsion screening, cell grid, scaling to r_e.
#include "models/ab_initio_mass.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/constants.hpp"
#include "core/simd.hpp"

namespace tarq {

namespace {

using constants::kElectronRadius;

constexpr double kSpring = 25.0;
constexpr double kCentring = 15.0;
constexpr double kRepulsionHi = 0.2 * 0.2;  // 0.04000000000000001, not 0.04
constexpr double kRepulsionLo = 1e-8;
constexpr double kRepulsionCap = 200.0;
constexpr double kDamping = 0.7;

// Flat structure-of-arrays copy of a filament set, so that the pair loop streams contiguous coordinates.
struct FlatSet {
    std::vector<double> x, y, z;
    std::vector<std::size_t> prev, next;

    explicit FlatSet(const FilamentSet& fs) {
        std::size_t total = 0;
        for (const Polyline& p : fs) total += p.size();
        x.resize(total);
        y.resize(total);
        z.resize(total);
        prev.resize(total);
        next.resize(total);
        std::size_t o = 0;
        for (const Polyline& p : fs) {
            const std::size_t n = p.size();
            for (std::size_t i = 0; i < n; ++i) {
                x[o + i] = p[i][0];
                y[o + i] = p[i][1];
                z[o + i] = p[i][2];
                prev[o + i] = o + (i + n - 1) % n;
                next[o + i] = o + (i + 1) % n;
            }
            o += n;
        }
    }

    std::size_t size() const { return x.size(); }

    void centroid(double& cx, double& cy, double& cz) const {
        double sx = 0.0, sy = 0.0, sz = 0.0;
        for (std::size_t g = 0; g < x.size(); ++g) {
            sx += x[g];
            sy += y[g];
            sz += z[g];
        }
        const double cnt = static_cast<double>(x.size());
        cx = sx / cnt;
        cy = sy / cnt;
        cz = sz / cnt;
    }

    void store(FilamentSet& fs) const {
        std::size_t o = 0;
        for (Polyline& p : fs) {
            for (std::size_t i = 0; i < p.size(); ++i) p[i] = {x[o + i], y[o + i], z[o + i]};
            o += p.size();
        }
    }
};

// Adds the repulsion of point m on point g when the pair lies in the window and m is not g or a neighbour of g
// on g's own filament (neighbours on other filaments always repel).
inline void add_repulsion(const FlatSet& s, std::size_t g, std::size_t m, double& fx, double& fy, double& fz) {
    if (m == g || m == s.prev[g] || m == s.next[g]) return;
    const double dx = s.x[g] - s.x[m];
    const double dy = s.y[g] - s.y[m];
    const double dz = s.z[g] - s.z[m];
    const double r2 = (dx * dx + dy * dy) + dz * dz;
    if (r2 < kRepulsionHi && r2 > kRepulsionLo) {
        const double r = std::sqrt(r2);
        const double st = std::min(kRepulsionCap, 0.5 / (r2 * r2));
        fx += (dx / r) * st;
        fy += (dy / r) * st;
        fz += (dz / r) * st;
    }
}

// Screens points [m0, m1) for the window and adds the terms of the candidates in point order. The vector pass
// only selects candidates; each one is recomputed by the scalar rule, so the sum is the same bit for bit.
inline void repulsion_range(const FlatSet& s, std::size_t g, std::size_t m0, std::size_t m1, double& fx,
                            double& fy, double& fz) {
    std::size_t m = m0;
#if TARQ_HAVE_SSE2
    const double* X = s.x.data();
    const double* Y = s.y.data();
    const double* Z = s.z.data();
    const __m128d px = _mm_set1_pd(X[g]);
    const __m128d py = _mm_set1_pd(Y[g]);
    const __m128d pz = _mm_set1_pd(Z[g]);
    const __m128d hi = _mm_set1_pd(kRepulsionHi);
    const __m128d lo = _mm_set1_pd(kRepulsionLo);
    for (; m + 2 <= m1; m += 2) {
        const __m128d dx = _mm_sub_pd(px, _mm_loadu_pd(X + m));
        const __m128d dy = _mm_sub_pd(py, _mm_loadu_pd(Y + m));
        const __m128d dz = _mm_sub_pd(pz, _mm_loadu_pd(Z + m));
        const __m128d r2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)), _mm_mul_pd(dz, dz));
        const int hit = _mm_movemask_pd(_mm_and_pd(_mm_cmplt_pd(r2, hi), _mm_cmpgt_pd(r2, lo)));
        if (hit != 0) {
            if (hit & 1) add_repulsion(s, g, m, fx, fy, fz);
            if (hit & 2) add_repulsion(s, g, m + 1, fx, fy, fz);
        }
    }
#endif
    for (; m < m1; ++m) add_repulsion(s, g, m, fx, fy, fz);
}

// Uniform cell grid over the points, rebuilt every iteration, that lists for each point the few others that can
// lie inside the repulsion window. Cells are a little wider than the window radius, so every pair that passes the
// window test sits in the same or an adjacent cell (rounding in the cell coordinates is far below the margin).
// Candidates are marked in a bitmap over point indices and visited in ascending index order, and each one is
// decided by the same scalar rule as in the full scan: the forces are the same bit for bit, whichever path runs.
class CellGrid {
public:
    static constexpr std::size_t kCellBudgetPerPoint = 8;

    explicit CellGrid(std::size_t total)
        : max_cells_(kCellBudgetPerPoint * total + 64),
          cell_of_(total),
          start_(max_cells_ + 1),
          items_(total),
          bits_((total + 63) / 64, 0) {}

    // False when the grid cannot help (non-finite coordinates, or everything in one cell); then scan all points.
    bool build(const FlatSet& s) {
        const std::size_t total = s.size();
        double lo[3] = {s.x[0], s.y[0], s.z[0]}, hi[3] = {lo[0], lo[1], lo[2]};
        for (std::size_t g = 0; g < total; ++g) {
            const double c[3] = {s.x[g], s.y[g], s.z[g]};
            for (int a = 0; a < 3; ++a) {
                if (!std::isfinite(c[a])) return false;
                lo[a] = std::min(lo[a], c[a]);
                hi[a] = std::max(hi[a], c[a]);
            }
        }
        for (int a = 0; a < 3; ++a) {
            if (!std::isfinite(hi[a] - lo[a])) return false;
        }
        // Cells at least the window radius wide, coarsened until their count stays within the budget.
        double h = 0.2 * 1.01;
        std::size_t n[3];
        for (;;) {
            double cells = 1.0;
            double na[3];
            for (int a = 0; a < 3; ++a) {
                na[a] = std::floor((hi[a] - lo[a]) / h) + 1.0;
                cells *= na[a];
            }
            if (cells <= static_cast<double>(max_cells_)) {
                for (int a = 0; a < 3; ++a) n[a] = static_cast<std::size_t>(na[a]);
                break;
            }
            h *= 2.0;
        }
        if (n[0] * n[1] * n[2] == 1) return false;
        for (int a = 0; a < 3; ++a) {
            lo_[a] = lo[a];
            n_[a] = n[a];
        }
        h_ = h;
        const std::size_t ncell = n[0] * n[1] * n[2];
        std::fill(start_.begin(), start_.begin() + static_cast<std::ptrdiff_t>(ncell) + 1, std::size_t{0});
        for (std::size_t g = 0; g < total; ++g) {
            std::size_t ix, iy, iz;
            coords(s.x[g], s.y[g], s.z[g], ix, iy, iz);
            cell_of_[g] = (ix * n_[1] + iy) * n_[2] + iz;
            ++start_[cell_of_[g] + 1];
        }
        for (std::size_t c = 0; c < ncell; ++c) start_[c + 1] += start_[c];
        for (std::size_t g = 0; g < total; ++g) items_[start_[cell_of_[g]]++] = g;
        for (std::size_t c = ncell; c > 0; --c) start_[c] = start_[c - 1];
        start_[0] = 0;
        return true;
    }

    // Repulsion on point g from its candidates, in ascending point order.
    void repulsion_on(const FlatSet& s, std::size_t g, double& fx, double& fy, double& fz) {
        std::size_t ix, iy, iz;
        coords(s.x[g], s.y[g], s.z[g], ix, iy, iz);
        const std::size_t x0 = ix > 0 ? ix - 1 : 0, x1 = std::min(ix + 1, n_[0] - 1);
        const std::size_t y0 = iy > 0 ? iy - 1 : 0, y1 = std::min(iy + 1, n_[1] - 1);
        const std::size_t z0 = iz > 0 ? iz - 1 : 0, z1 = std::min(iz + 1, n_[2] - 1);
        std::size_t count = 0;
        for (std::size_t a = x0; a <= x1; ++a)
            for (std::size_t b = y0; b <= y1; ++b) {
                const std::size_t row = (a * n_[1] + b) * n_[2];
                count += start_[row + z1 + 1] - start_[row + z0];
            }
        // Crowded neighbourhoods are cheaper to scan in full.
        if (4 * count > s.size()) {
            repulsion_range(s, g, 0, s.size(), fx, fy, fz);
            return;
        }
        std::size_t wlo = bits_.size(), whi = 0;
        for (std::size_t a = x0; a <= x1; ++a)
            for (std::size_t b = y0; b <= y1; ++b) {
                const std::size_t row = (a * n_[1] + b) * n_[2];
                for (std::size_t k = start_[row + z0]; k < start_[row + z1 + 1]; ++k) {
                    const std::size_t m = items_[k];
                    bits_[m >> 6] |= std::uint64_t{1} << (m & 63);
                    wlo = std::min(wlo, m >> 6);
                    whi = std::max(whi, m >> 6);
                }
            }
        for (std::size_t w = wlo; w <= whi && w < bits_.size(); ++w) {
            std::uint64_t word = bits_[w];
            bits_[w] = 0;
            while (word != 0) {
                const std::size_t m = (w << 6) + static_cast<std::size_t>(__builtin_ctzll(word));
                word &= word - 1;
                add_repulsion(s, g, m, fx, fy, fz);
            }
        }
    }

private:
    void coords(double x, double y, double z, std::size_t& ix, std::size_t& iy, std::size_t& iz) const {
        ix = std::min(static_cast<std::size_t>((x - lo_[0]) / h_), n_[0] - 1);
        iy = std::min(static_cast<std::size_t>((y - lo_[1]) / h_), n_[1] - 1);
        iz = std::min(static_cast<std::size_t>((z - lo_[2]) / h_), n_[2] - 1);
    }

    std::size_t max_cells_;
    std::vector<std::size_t> cell_of_, start_, items_;
    std::vector<std::uint64_t> bits_;
    double lo_[3] = {0.0, 0.0, 0.0};
    double h_ = 1.0;
    std::size_t n_[3] = {1, 1, 1};
};

// Below this many points the full scan is as fast as the grid.
constexpr std::size_t kGridMinPoints = 256;

}  // namespace

void ParticleEvaluator::relax_hamiltonian(int iterations, double timestep, const std::function<void()>& check) {
    if (filaments.empty()) return;
    FlatSet s(filaments);
    const std::size_t total = s.size();
    std::vector<double> vx(total, 0.0), vy(total, 0.0), vz(total, 0.0);
    std::vector<double> fx(total), fy(total), fz(total);
    CellGrid grid(total);

    for (int it = 0; it < iterations; ++it) {
        if (check) check();
        double cx, cy, cz;
        s.centroid(cx, cy, cz);
        const bool use_grid = total >= kGridMinPoints && grid.build(s);
        for (std::size_t g = 0; g < total; ++g) {
            const std::size_t pv = s.prev[g];
            const std::size_t nx = s.next[g];
            double Fx = kSpring * ((s.x[nx] - s.x[g]) + (s.x[pv] - s.x[g]));
            double Fy = kSpring * ((s.y[nx] - s.y[g]) + (s.y[pv] - s.y[g]));
            double Fz = kSpring * ((s.z[nx] - s.z[g]) + (s.z[pv] - s.z[g]));
            Fx = kCentring * (cx - s.x[g]) + Fx;
            Fy = kCentring * (cy - s.y[g]) + Fy;
            Fz = kCentring * (cz - s.z[g]) + Fz;
            if (use_grid) {
                grid.repulsion_on(s, g, Fx, Fy, Fz);
            } else {
                repulsion_range(s, g, 0, total, Fx, Fy, Fz);
            }
            fx[g] = Fx;
            fy[g] = Fy;
            fz[g] = Fz;
        }
        for (std::size_t g = 0; g < total; ++g) {
            vx[g] = kDamping * (vx[g] + fx[g] * timestep);
            vy[g] = kDamping * (vy[g] + fy[g] * timestep);
            vz[g] = kDamping * (vz[g] + fz[g] * timestep);
            s.x[g] = s.x[g] + vx[g] * timestep;
            s.y[g] = s.y[g] + vy[g] * timestep;
            s.z[g] = s.z[g] + vz[g] * timestep;
        }
    }

    // Scale about the centroid so that the farthest point sits at r_e. A set that is already small (in metres)
    // is scaled the same way; only a radius of zero, or one too small to divide by, takes the fallback scale.
    double cx, cy, cz;
    s.centroid(cx, cy, cz);
    double max_d2 = 0.0;
    for (std::size_t g = 0; g < total; ++g) {
        const double dx = s.x[g] - cx;
        const double dy = s.y[g] - cy;
        const double dz = s.z[g] - cz;
        const double d2 = (dx * dx + dy * dy) + dz * dz;
        if (d2 > max_d2) max_d2 = d2;
    }
    const double R = std::sqrt(max_d2);
    const double ratio = kElectronRadius / R;
    const double scale = (R == 0.0 || !std::isfinite(ratio)) ? 2.81794034e-9 : ratio;
    for (std::size_t g = 0; g < total; ++g) {
        s.x[g] = (s.x[g] - cx) * scale + cx;
        s.y[g] = (s.y[g] - cy) * scale + cy;
        s.z[g] = (s.z[g] - cz) * scale + cz;
    }
    s.store(filaments);
}

}  // namespace tarq
