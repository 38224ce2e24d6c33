#include "ab_initio_mass.hpp"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../catalogue/embedded_knots.hpp"
#include "../core/biot_savart.hpp"
#include "../core/frenet_helicity.hpp"
#include "time_field.hpp"

// ---------------------------------------------------------------------------------------------------------------
// Load-time constants. PHI is defined before the dictionary so that it is set first; both are ready before the
// module's init function runs.

namespace TARQ {
namespace Constants {
const long double PHI = (1.0L + std::sqrt(5.0L)) * 0.5L;
}  // namespace Constants
}  // namespace TARQ

static const std::map<std::string, TARQKnotInvariants> TARQ_MASTER_DICTIONARY = {
    {"Knot 10_1 (Twist)", {3.0, 1, 1, {-1, -2, 3, -4, 5, -4, -3, 2, -4, 1, -5, 6, -7, -6, 5, -4, -3, 2, -4, -5,
                                       6, 7, -8, -7, -6, 5, -4, -3, -4, -5, 6, 5, 7, -4, 8, 3, 5, -2, -6, 3}}},
    {"Knot 11_1 (Torus)", {2.0, 5, 1, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 12a1202", {3.0, 3, 1, {1, 2, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2}}},
    {"Knot 15a331", {3.0, 4, 1, {1, 2, 1, 2, 1, 2, 1, 1, 1, 2, 1, 1, 1, 2, 1}}},
    {"Knot 3_1 (Trefoil)", {2.0, 1, 1, {-1, -1, -1}}},
    {"Knot 4_1 (Figure-Eight)", {3.0, 1, 1, {1, -2, 1, -2}}},
    {"Knot 5_1 (Torus)", {2.0, 2, 1, {-1, -1, -1, -1, -1}}},
    {"Knot 5_2 (Twist)", {3.0, 1, 1, {-1, 2, -3, 2, 2, 1, 2, 3, 2}}},
    {"Knot 6_1 (Twist)", {3.0, 1, 1, {-1, 2, -3, 4, -3, 2, 1, -3, 2, -4, 3, 2}}},
    {"Knot 6_2", {3.0, 1, 1, {1, -2, 1, 1, 1, -2}}},
    {"Knot 6_3", {3.0, 1, 1, {1, -2, 1, -2, -2, 1}}},
    {"Knot 7_1 (Torus)", {2.0, 3, 1, {-1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 7_2 (Twist)", {3.0, 1, 1, {-1, -1, -1, -2, 1, -2, -3, 2, -3}}},
    {"Knot 8_1 (Twist)", {3.0, 1, 1, {-1, -2, 3, -4, 3, 5, 2, -6, 1, 3, -4, 3, 5, -2, -4, 3, -4, -5, 4, 6, -5, 4,
                                      3, 2}}},
    {"Knot 8_12", {3.0, 2, 1, {-1, 2, -3, 2, 1, 2, -3, 4, -3, 2, -3, -4}}},
    {"Knot 8_17", {3.0, 1, 1, {-1, 2, -1, -1, 2, 2, -1, 2}}},
    {"Knot 8_19 (T_3,4)", {3.0, 3, 1, {1, 2, 1, 2, 1, 1, 2, 1}}},
    {"Knot 8_2", {3.0, 2, 1, {-1, 2, -1, -1, -1, -1, -1, 2}}},
    {"Knot 8_21", {3.0, 2, 1, {1, 2, -1, -2, 1, 2, 1, 2}}},
    {"Knot 8_9", {3.0, 1, 1, {-1, 2, 2, 2, -1, -1, -1, 2}}},
    {"Knot 9_1 (Torus)", {2.0, 4, 1, {-1, -1, -1, -1, -1, -1, -1, -1, -1}}},
    {"Knot 9_2 (Twist)", {2.0, 1, 1, {-1, -1, -1, -2, 1, -2, -3, 2, -3, -4, 3, -4}}},
    {"Link 2^2_1 (Hopf Link)", {2.0, 0, 2, {-1, -1}}},
    {"Link 4^2_1 (Solomon's)", {2.0, 1, 2, {-1, -1, -1, -1}}},
    {"Link 5^2_1 (Whitehead)", {3.0, 1, 2, {-1, -1, 2, -1, 2}}},
    {"Link 6^2_1", {3.0, 1, 2, {1, -2, 1, -2, 1, -2}}},
    {"Link 6^3_1", {3.0, 0, 3, {-1, 2, 2, -1, 2, 2}}},
    {"Link 6^3_2 (Borromean)", {3.0, 1, 3, {-1, 2, -1, 2, -1, 2}}},
    {"Link 6^3_3", {3.0, 1, 3, {-1, 2, 2, -1, -2, -2}}},
    {"Link 8^2_1", {3.0, 2, 2, {-1, 2, -3, 4, -5, 4, 6, 3, 7, -2, 1, 3, -2, 3, 4, 5, 4, -3, 2, 4, -5, -6, 5, 4, -3,
                                4, -5, 6, -7, -6, 5, 4}}},
    {"Unknot", {1.0, 0, 1, {1}}},
    {"Unlink", {1.0, 0, 2, {1, -1}}},
};

namespace tarq {

// ---------------------------------------------------------------------------------------------------------------
// Zoo evaluator

namespace {

// M0 b phi^(-2g) c^2 / MeV, every step rounded in extended precision.
double golden_mass_mev(double b, std::int32_t g) {
    const long double M0 = 1.00569529987773389713e-54L;
    const long double c2 = 89875517873681764.0L;
    const double mev_J = 1.602176634e-13;
    const long double t1 = M0 * static_cast<long double>(b);
    const long double p = std::pow(TARQ::Constants::PHI, static_cast<long double>(-2 * g));
    const long double t2 = p * t1;
    const long double t3 = t2 * c2;
    const long double t4 = t3 / static_cast<long double>(mev_J);
    return static_cast<double>(t4);
}

}  // namespace

std::vector<ZooEvaluator::Result> ZooEvaluator::evaluate_all_golden_nls() {
    std::vector<Result> out;
    for (const auto& entry : TARQ_MASTER_DICTIONARY) {
        const TARQKnotInvariants& inv = entry.second;
        out.push_back(Result{entry.first, golden_mass_mev(inv.bridge_b, inv.genus_g), inv.bridge_b, inv.genus_g});
    }
    return out;
}

double ZooEvaluator::get_entry_mass(const std::string& identifier) {
    const auto it = TARQ_MASTER_DICTIONARY.find(identifier);
    if (it == TARQ_MASTER_DICTIONARY.end()) return -1.0;
    return golden_mass_mev(it->second.bridge_b, it->second.genus_g);
}

// ---------------------------------------------------------------------------------------------------------------
// Particle evaluator: constants

namespace {

constexpr double kElectronRadius = 2.81794034e-15;     // r_e [m]
constexpr double kCoreTension = 14.5267535;           // F_max / 2 [J/m]
constexpr double kMeV = 1.602176634e-13;              // [J]
constexpr double kRc = 1.40897017e-15;                // core radius [m]
constexpr double kKernelCoeff = 7.705979316274285e-10;  // r_c v_swirl / 2
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPiRc2 = 6.236680122475321e-30;
constexpr double kSwirlSpeed = 1093845.63;

constexpr double kSpring = 25.0;
constexpr double kCentring = 15.0;
constexpr double kRepulsionHi = 0.2 * 0.2;  // 0.04000000000000001, not 0.04
constexpr double kRepulsionLo = 1e-8;
constexpr double kRepulsionCap = 200.0;
constexpr double kDamping = 0.7;

constexpr int kMaxHarmonic = 19;

bool read_file(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

// Catalogue first, then $TARQ_IDEAL_DATABASE, then the fixed relative paths; the first source that yields ends it.
std::string find_database_text() {
    {
        const KnotFileMap files = get_embedded_knot_files();
        for (const auto& kv : files) {
            if (kv.first.find("ideal_database.txt") != std::string::npos) {
                if (!kv.second.empty()) return kv.second;
                break;
            }
        }
    }
    std::string text;
    const char* env = std::getenv("TARQ_IDEAL_DATABASE");
    if (env != nullptr && env[0] != '\0' && read_file(env, text)) return text;
    static const char* const kPaths[] = {
        "ideal_database.txt",
        "Front-End/knot_fseries/ideal_database.txt",
        "../Front-End/knot_fseries/ideal_database.txt",
        "../../Front-End/knot_fseries/ideal_database.txt",
    };
    for (const char* p : kPaths) {
        if (read_file(p, text)) return text;
    }
    return std::string();
}

// One component: Coeff rows into harmonic tables 0..19, then `resolution` samples without the end point.
Polyline build_component(const std::string& text, int resolution) {
    Vec3 A[kMaxHarmonic + 1] = {};
    Vec3 B[kMaxHarmonic + 1] = {};
    int maxI = 0;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t c = text.find("<Coeff", pos);
        if (c == std::string::npos) break;
        const std::size_t e = text.find("/>", c);
        if (e == std::string::npos) break;
        const std::string row = text.substr(c, e - c);
        int I = 1;
        const std::size_t ip = row.find("I=\"");
        if (ip != std::string::npos) I = std::stoi(row.substr(ip + 3), nullptr, 10);
        const std::size_t ap = row.find("A=\"");
        const std::size_t bp = row.find("B=\"");
        if (ap != std::string::npos && bp != std::string::npos) {
            double a[3] = {0.0, 0.0, 0.0};
            double b[3] = {0.0, 0.0, 0.0};
            std::sscanf(row.c_str() + ap + 3, "%lf,%lf,%lf", &a[0], &a[1], &a[2]);
            std::sscanf(row.c_str() + bp + 3, "%lf,%lf,%lf", &b[0], &b[1], &b[2]);
            // Indices outside the tables (above 19, or negative) are dropped.
            if (I >= 0 && I <= kMaxHarmonic) {
                A[I] = {a[0], a[1], a[2]};
                B[I] = {b[0], b[1], b[2]};
                maxI = std::max(maxI, I);
            }
        }
        pos = e + 2;
    }

    // A negative resolution converts to a huge count, which the vector rejects with std::length_error.
    Polyline pts(static_cast<std::size_t>(static_cast<long long>(resolution)));
    const double dres = static_cast<double>(resolution);
    for (int k = 0; k < resolution; ++k) {
        const double t = (static_cast<double>(k) * kTwoPi) / dres;
        Vec3 p = A[0];
        for (int j = 1; j <= maxI; ++j) {
            const double cj = std::cos(static_cast<double>(j) * t);
            const double sj = std::sin(static_cast<double>(j) * t);
            p[0] = p[0] + (cj * A[j][0] + sj * B[j][0]);
            p[1] = p[1] + (cj * A[j][1] + sj * B[j][1]);
            p[2] = p[2] + (cj * A[j][2] + sj * B[j][2]);
        }
        pts[static_cast<std::size_t>(k)] = p;
    }
    return pts;
}

double closed_length(const Polyline& p) {
    const std::size_t n = p.size();
    double L = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const Vec3& a = p[k];
        const Vec3& b = p[(k + 1) % n];
        const double dx = b[0] - a[0];
        const double dy = b[1] - a[1];
        const double dz = b[2] - a[2];
        L += std::sqrt((dx * dx + dy * dy) + dz * dz);
    }
    return L;
}

// ceil(d_excl / mean segment) as an int; NaN or values beyond the int range saturate to INT_MAX.
int exclusion_count(double d_excl, double L, std::size_t n) {
    const double m = std::ceil(d_excl / std::max(1e-30, L / static_cast<double>(n)));
    if (!(m < static_cast<double>(INT_MAX))) return INT_MAX;
    if (m < 2.0) return 1;
    return static_cast<int>(m);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Construction

ParticleEvaluator::ParticleEvaluator(const std::string& knot_ab_id, int resolution) {
    const std::string db = find_database_text();
    if (db.empty()) throw std::runtime_error("[!] TARQcore: ideal_database.txt niet gevonden.");
    if (!extract_and_build_filament(db, knot_ab_id, resolution)) {
        throw std::runtime_error("[!] TARQcore: Knoop ID " + knot_ab_id + " niet gevonden in database.");
    }
}

ParticleEvaluator::ParticleEvaluator(const FilamentSet& input_filaments) : filaments(input_filaments) {}

bool ParticleEvaluator::extract_and_build_filament(const std::string& db_text, const std::string& knot_ab_id,
                                                   int resolution) {
    const std::string key = "<AB Id=\"" + knot_ab_id + "\"";
    const std::size_t start = db_text.find(key);
    if (start == std::string::npos) return false;
    const std::size_t stop = db_text.find("</AB>", start);
    if (stop == std::string::npos) return false;
    const std::string entry = db_text.substr(start, stop - start);
    filaments.clear();

    std::size_t cpos = entry.find("<Component");
    if (cpos == std::string::npos) {
        filaments.push_back(build_component(entry, resolution));
    } else {
        for (;;) {
            const std::size_t cend = entry.find("</Component>", cpos);
            if (cend == std::string::npos) break;
            filaments.push_back(build_component(entry.substr(cpos, cend - cpos), resolution));
            cpos = entry.find("<Component", cend);
            if (cpos == std::string::npos) break;
        }
    }
    return !filaments.empty();
}

// ---------------------------------------------------------------------------------------------------------------
// Relaxation

namespace {

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
#if defined(__SSE2__)
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

// ---------------------------------------------------------------------------------------------------------------
// Lengths, energies, masses

double ParticleEvaluator::total_length() const {
    double L = 0.0;
    for (const Polyline& p : filaments) {
        const std::size_t n = p.size();
        for (std::size_t k = 0; k < n; ++k) {
            const Vec3& a = p[k];
            const Vec3& b = p[(k + 1) % n];
            const double dx = b[0] - a[0];
            const double dy = b[1] - a[1];
            const double dz = b[2] - a[2];
            L += std::sqrt((dx * dx + dy * dy) + dz * dz);
        }
    }
    return L;
}

double ParticleEvaluator::get_dimless_ropelength(double stretch_lambda) const {
    return (total_length() / kElectronRadius) / (stretch_lambda * stretch_lambda);
}

double ParticleEvaluator::get_physical_length_m() const { return (total_length() / kElectronRadius) * kElectronRadius; }

double ParticleEvaluator::compute_core_energy_J() const { return get_physical_length_m() * kCoreTension; }

double ParticleEvaluator::compute_tail_energy_J(bool include_tail) const {
    return include_tail ? compute_tail_energy_surrogate_J() : 0.0;
}

double ParticleEvaluator::get_mass_mev_ab_initio(bool include_tail) const {
    const double e_core = compute_core_energy_J();
    const double e_tail = include_tail ? compute_tail_energy_surrogate_J() : 0.0;
    return (e_core + e_tail) / kMeV;
}

double ParticleEvaluator::get_core_mass_mev_only() const { return compute_core_energy_J() / kMeV; }

// ---------------------------------------------------------------------------------------------------------------
// Vector helpers

Vec3 ParticleEvaluator::v_add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

Vec3 ParticleEvaluator::v_mul(const Vec3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }

double ParticleEvaluator::v_dot(const Vec3& a, const Vec3& b) { return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]; }

Vec3 ParticleEvaluator::v_cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double ParticleEvaluator::v_norm(const Vec3& a) { return std::sqrt(a[2] * a[2] + (a[0] * a[0] + a[1] * a[1])); }

Vec3 ParticleEvaluator::v_unit(const Vec3& a) {
    const double n = v_norm(a);
    if (n < 1e-30) return {1.0, 0.0, 0.0};
    return v_mul(a, 1.0 / n);
}

// ---------------------------------------------------------------------------------------------------------------
// Tail surrogate

void ParticleEvaluator::local_frame_at_index(std::size_t f, std::size_t i, Vec3& T, Vec3& N, Vec3& B) const {
    if (f >= filaments.size() || filaments[f].size() <= 2) {
        T = {1.0, 0.0, 0.0};
        N = {0.0, 1.0, 0.0};
        B = {0.0, 0.0, 1.0};
        return;
    }
    const Polyline& P = filaments[f];
    const std::size_t n = P.size();
    const std::size_t prev = (i + n - 1) % n;
    const std::size_t next = (i + 1) % n;
    T = v_unit(P[next] - P[prev]);
    const Vec3 axis = (std::fabs(T[2]) < 0.9) ? Vec3{0.0, 0.0, 1.0} : Vec3{0.0, 1.0, 0.0};
    N = v_unit(v_cross(axis, T));
    B = v_unit(v_cross(T, N));
    N = v_cross(B, T);
}

Vec3 ParticleEvaluator::induced_velocity(const Vec3& X, std::size_t f, std::size_t i, double d_excl,
                                         const std::vector<double>& lengths) const {
    Vec3 v = {0.0, 0.0, 0.0};
    const int ii = static_cast<int>(i);
    for (std::size_t g = 0; g < filaments.size(); ++g) {
        const Polyline& P = filaments[g];
        const std::size_t ng = P.size();
        if (ng < 2) continue;
        const int m = exclusion_count(d_excl, lengths[g], ng);
        const int n_int = static_cast<int>(ng);
        for (std::size_t j = 0; j < ng; ++j) {
            if (g == f) {
                const int dist = std::abs(static_cast<int>(j) - ii);
                const int cyc = std::min(n_int - dist, dist);
                if (!(cyc > m)) continue;
            }
            const Vec3& a = P[j];
            const Vec3& b = P[(j + 1) % ng];
            const Vec3 r = v_add(v_mul(v_add(a, b), -0.5), X);
            const double t = ((r[0] * r[0] + r[1] * r[1]) + r[2] * r[2]) + 1e-24;
            const double k = (1.0 / (std::sqrt(t) * t)) * kKernelCoeff;
            const Vec3 dl = b - a;
            v = v_add(v, v_mul(v_cross(dl, r), k));
        }
    }
    return v;
}

Vec3 ParticleEvaluator::induced_velocity_bs_surrogate(const Vec3& X, std::size_t f, std::size_t i,
                                                      double d_excl) const {
    std::vector<double> lengths(filaments.size(), 0.0);
    for (std::size_t g = 0; g < filaments.size(); ++g) lengths[g] = closed_length(filaments[g]);
    return induced_velocity(X, f, i, d_excl, lengths);
}

double ParticleEvaluator::compute_tail_energy_surrogate_J() const {
    const TailApproxConfig& cfg = tail_config;
    if (!cfg.enabled || filaments.empty()) return 0.0;
    const int nr = cfg.radial_samples >= 2 ? cfg.radial_samples : 1;
    const int na = cfg.azimuth_samples >= 2 ? cfg.azimuth_samples : 1;
    // Written so that a NaN factor falls back to the lower bound.
    const double f_min = (cfg.r_min_factor > 1.01) ? cfg.r_min_factor : 1.01;
    const double r_min = f_min * kRc;
    const double r_out_cand = cfg.r_max_factor * kRc;
    const double r_max = (r_out_cand > 1.1 * r_min) ? r_out_cand : 1.1 * r_min;

    std::vector<double> edges(static_cast<std::size_t>(nr) + 1);
    for (int s = 0; s <= nr; ++s) {
        edges[static_cast<std::size_t>(s)] =
            (static_cast<double>(s) / static_cast<double>(nr)) * (r_max - r_min) + r_min;
    }

    // Lengths do not change during the sum; computing them once gives the same values as per sample.
    std::vector<double> lengths(filaments.size(), 0.0);
    for (std::size_t g = 0; g < filaments.size(); ++g) lengths[g] = closed_length(filaments[g]);

    double E = 0.0;
    std::vector<double> ds;
    for (std::size_t f = 0; f < filaments.size(); ++f) {
        const Polyline& P = filaments[f];
        const std::size_t n = P.size();
        if (n < 3) continue;
        ds.assign(n, 0.0);
        double L_f = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const Vec3 d = P[(k + 1) % n] - P[k];
            ds[k] = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
            L_f += ds[k];
        }
        const double d_excl = (L_f / static_cast<double>(n)) * cfg.exclusion_ds_factor;
        for (std::size_t i = 0; i < n; ++i) {
            Vec3 T, N, B;
            local_frame_at_index(f, i, T, N, B);
            for (int s = 0; s < nr; ++s) {
                const double r_in = edges[static_cast<std::size_t>(s)];
                const double r_out = edges[static_cast<std::size_t>(s) + 1];
                const double rho = (r_in + r_out) * 0.5;
                double S = 0.0;
                for (int a = 0; a < na; ++a) {
                    const double phi = ((static_cast<double>(a) + 0.5) * kTwoPi) / static_cast<double>(na);
                    const Vec3 X = v_add(v_add(P[i], v_mul(N, rho * std::cos(phi))), v_mul(B, rho * std::sin(phi)));
                    const Vec3 v = induced_velocity(X, f, i, d_excl, lengths);
                    S += (v[0] * v[0] + v[1] * v[1]) + v[2] * v[2];
                }
                E += ((S / static_cast<double>(na)) * 3.435e-7) * (((r_out * r_out - r_in * r_in) * kPi) * ds[i]);
            }
        }
    }
    return E;
}

void ParticleEvaluator::set_tail_approx_config(const TailApproxConfig& config) { tail_config = config; }

ParticleEvaluator::TailApproxConfig ParticleEvaluator::get_tail_approx_config() const { return tail_config; }

// ---------------------------------------------------------------------------------------------------------------
// Relativistic metrics

ParticleEvaluator::RelativisticMetrics ParticleEvaluator::compute_relativistic_metrics(double circulation) const {
    RelativisticMetrics out{0.0, {}, 1.0};
    if (filaments.empty() || filaments[0].empty()) return out;
    const Polyline& X = filaments[0];
    const std::size_t n = X.size();
    std::vector<Vec3> T, N, B;
    if (n >= 2) {
        FrenetHelicity::compute_frenet_frames(X, T, N, B);
    } else {
        // A single point has no direction: a zero tangent, so it induces no flow.
        T.assign(n, Vec3{0.0, 0.0, 0.0});
    }
    std::vector<Vec3> v, w(n);
    BiotSavart::velocities_at_points(X, T, circulation, v);
    const double wscale = circulation / kPiRc2;
    for (std::size_t i = 0; i < n; ++i) w[i] = v_mul(T[i], wscale);
    out.helicity = static_cast<double>(FrenetHelicity::compute_helicity(v, w));
    out.time_dilation_map = TimeField::compute_time_dilation_map_sqrt(v, kSwirlSpeed);
    double sum = 0.0;
    for (double d : out.time_dilation_map) sum += d;
    out.core_time_dilation = sum / static_cast<double>(n);
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Canonical derivation

void ParticleEvaluator::print_canonical_derivation() {
    std::ostream& os = std::cout;
    os << "\n==================================================================\n";
    os << "TARQ CANON: DYNAMIC CLOSURE OF CORE DENSITY\n";
    os << "==================================================================\n";
    os << "The effective mass density of the vortex core (rho_core) is strictly\n";
    os << "derived as a dynamic closure relation. The maximum tangential tension\n";
    os << "(F_max) perfectly balances the hydrodynamic inertia of the fluid.\n\n";
    os << "Formula: rho_core = F_max / (pi * r_c^2 * ||v_swirl||^2)\n\n";
    os << "[*] Core Primitives:\n";
    os.unsetf(std::ios_base::floatfield);
    os.precision(8);
    os << "    F_max   = " << 29.053507 << " N\n";
    os.setf(std::ios_base::scientific, std::ios_base::floatfield);
    os.precision(8);
    os << "    r_c     = " << 1.40897017e-15 << " m\n";
    os << "    v_swirl = " << 1093845.63 << " m/s\n\n";
    os << "[*] Derived Invariant Densities:\n";
    os.setf(std::ios_base::scientific, std::ios_base::floatfield);
    os.precision(16);
    os << "    rho_core = " << 3.8934358266918687e18 << " kg/m^3\n";
    os << "    rho_E    = " << 3.49924561231878e35 << " J/m^3\n";
    os << "==================================================================\n\n";
}

}  // namespace tarq
