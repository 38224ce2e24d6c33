// The particle evaluator's damped relaxation: flat point set, repulsion screening, cell grid, scaling to r_e.
#include "models/ab_initio_mass.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/constants.hpp"
#include "core/interrupt.hpp"
#include "core/kernel_dispatch.hpp"
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
                            double& fy, double& fz, ParticleEvaluator::RelaxationCounts& counts) {
    counts.screened += m1 - m0;
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
            counts.decided += static_cast<std::uint64_t>((hit & 1) + (hit >> 1));
            if (hit & 1) add_repulsion(s, g, m, fx, fy, fz);
            if (hit & 2) add_repulsion(s, g, m + 1, fx, fy, fz);
        }
    }
#endif
    counts.decided += m1 - m;
    for (; m < m1; ++m) add_repulsion(s, g, m, fx, fy, fz);
}

// How the grid screens its candidates: all three give the same lists.
enum class Screen { kPortable, kAvx2, kAvx512 };

// Grid entries: the points sorted by cell, one array per coordinate, with their point indices. Each column ends in
// padding entries with NaN coordinates, so a full vector load from inside a column's runs stays in the column.
struct GridEntries {
    static constexpr std::size_t kSlack = 8;
    std::vector<double> x, y, z;
    std::vector<std::uint32_t> idx;
};

// What one point screens: nine runs of grid entries (one per column around it, each over the z cells within reach),
// the point itself, and its two neighbours, which the repulsion skips.
struct Query {
    std::size_t begin[9], len[9];
    double px, py, pz;
    std::uint32_t prev, next;
};

// Sorts the (distinct) indices a point's screening found. Up to four go through a fixed network of
// compare-exchanges (no branches on the values; `hits` has room for the padding, which sorts behind them); more,
// as in a crowded start, usually lie close together along the filament and are sorted by marking them in a small
// bitmap.
inline void sort_hits(std::uint32_t* hits, std::size_t nh) {
    if (nh <= 4) {
        for (std::size_t i = nh; i < 4; ++i) hits[i] = UINT32_MAX;
        auto cx = [hits](int a, int b) {
            const std::uint32_t u = hits[a], v = hits[b];
            hits[a] = std::min(u, v);
            hits[b] = std::max(u, v);
        };
        cx(0, 1);
        cx(2, 3);
        cx(0, 2);
        cx(1, 3);
        cx(1, 2);
        return;
    }
    constexpr std::uint32_t kWords = 8;
    std::uint32_t lo = hits[0], hi = hits[0];
    for (std::size_t i = 1; i < nh; ++i) {
        lo = std::min(lo, hits[i]);
        hi = std::max(hi, hits[i]);
    }
    if (hi - lo >= 64 * kWords) {
        std::sort(hits, hits + nh);
        return;
    }
    std::uint64_t bits[kWords] = {};
    for (std::size_t i = 0; i < nh; ++i) bits[(hits[i] - lo) >> 6] |= std::uint64_t{1} << ((hits[i] - lo) & 63);
    std::size_t n = 0;
    for (std::uint32_t w = 0; w <= (hi - lo) >> 6; ++w) {
        for (std::uint64_t word = bits[w]; word != 0; word &= word - 1)
            hits[n++] = lo + (w << 6) + static_cast<std::uint32_t>(__builtin_ctzll(word));
    }
}

// Each screen writes the indices of the entries inside the repulsion window (r^2 computed as in add_repulsion),
// other than the point's neighbours, to `out` without branching on the outcome, and returns their count. `out`
// needs kSlack entries of room beyond the count.
std::size_t screen_portable(const GridEntries& e, const Query& q, std::uint32_t* out) {
    std::size_t n = 0;
    for (int c = 0; c < 9; ++c) {
        for (std::size_t k = q.begin[c]; k < q.begin[c] + q.len[c]; ++k) {
            const double dx = q.px - e.x[k];
            const double dy = q.py - e.y[k];
            const double dz = q.pz - e.z[k];
            const double r2 = (dx * dx + dy * dy) + dz * dz;
            const std::uint32_t m = e.idx[k];
            out[n] = m;
            n += static_cast<std::size_t>((r2 < kRepulsionHi) & (r2 > kRepulsionLo) & (m != q.prev) & (m != q.next));
        }
    }
    return n;
}

#if TARQ_HAVE_X86_SIMD

__attribute__((target("avx2"))) std::size_t screen_avx2(const GridEntries& e, const Query& q, std::uint32_t* out) {
    const __m256d vx = _mm256_set1_pd(q.px), vy = _mm256_set1_pd(q.py), vz = _mm256_set1_pd(q.pz);
    const __m256d hi = _mm256_set1_pd(kRepulsionHi), lo = _mm256_set1_pd(kRepulsionLo);
    const double* X = e.x.data();
    const double* Y = e.y.data();
    const double* Z = e.z.data();
    const std::uint32_t* I = e.idx.data();
    std::size_t n = 0;
    // Four entries from k; as in the eight-lane screen, those past the run's end cannot pass.
    auto chunk = [&](std::size_t k) __attribute__((target("avx2"))) {
        const __m256d dx = _mm256_sub_pd(vx, _mm256_loadu_pd(X + k));
        const __m256d dy = _mm256_sub_pd(vy, _mm256_loadu_pd(Y + k));
        const __m256d dz = _mm256_sub_pd(vz, _mm256_loadu_pd(Z + k));
        const __m256d r2 =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
        const __m256d in = _mm256_and_pd(_mm256_cmp_pd(r2, hi, _CMP_LT_OQ), _mm256_cmp_pd(r2, lo, _CMP_GT_OQ));
        const unsigned hit = static_cast<unsigned>(_mm256_movemask_pd(in));
        for (unsigned l = 0; l < 4; ++l) {
            const std::uint32_t m = I[k + l];
            out[n] = m;
            n += ((hit >> l) & 1u) & static_cast<unsigned>(m != q.prev) & static_cast<unsigned>(m != q.next);
        }
    };
    for (int c = 0; c < 9; ++c) {
        const std::size_t b = q.begin[c], len = q.len[c];
        chunk(b);
        for (std::size_t k = 4; k < len; k += 4) chunk(b + k);
    }
    return n;
}

// Sorts eight unsigned lanes, ascending: the six layers of a bitonic network, each lane taking the smaller or the
// larger of itself and its partner.
__attribute__((target("avx2"))) inline __m256i sort8_epu32(__m256i v) {
    auto layer = [](__m256i x, __m256i partner_of, auto upper_lanes) __attribute__((target("avx2"))) {
        const __m256i y = _mm256_permutevar8x32_epi32(x, partner_of);
        return _mm256_blend_epi32(_mm256_min_epu32(x, y), _mm256_max_epu32(x, y), decltype(upper_lanes)::value);
    };
    using A = std::integral_constant<int, 0xAA>;
    using C = std::integral_constant<int, 0xCC>;
    using F = std::integral_constant<int, 0xF0>;
    const __m256i pairs = _mm256_setr_epi32(1, 0, 3, 2, 5, 4, 7, 6);
    v = layer(v, pairs, A{});
    v = layer(v, _mm256_setr_epi32(3, 2, 1, 0, 7, 6, 5, 4), C{});
    v = layer(v, pairs, A{});
    v = layer(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0), F{});
    v = layer(v, _mm256_setr_epi32(2, 3, 0, 1, 6, 7, 4, 5), C{});
    v = layer(v, pairs, A{});
    return v;
}

// The screening test of eight entries from k for one point (its coordinates and neighbours broadcast): which lie
// inside the window, other than the neighbours; `ids` receives their point indices. Entries past a run's end are
// further up the same column, or its padding: none can pass, so no lane mask is needed.
struct Probe8 {
    __m512d x, y, z;
    __m256i prev, next;
};

__attribute__((target("avx512f,avx512vl"))) inline Probe8 probe8(const Query& q) {
    return {_mm512_set1_pd(q.px), _mm512_set1_pd(q.py), _mm512_set1_pd(q.pz),
            _mm256_set1_epi32(static_cast<int>(q.prev)), _mm256_set1_epi32(static_cast<int>(q.next))};
}

__attribute__((target("avx512f,avx512vl"))) inline __mmask8 window8(const GridEntries& e, std::size_t k,
                                                                   const Probe8& p, __m256i& ids) {
    const __m512d hi = _mm512_set1_pd(kRepulsionHi), lo = _mm512_set1_pd(kRepulsionLo);
    const __m512d dx = _mm512_sub_pd(p.x, _mm512_loadu_pd(e.x.data() + k));
    const __m512d dy = _mm512_sub_pd(p.y, _mm512_loadu_pd(e.y.data() + k));
    const __m512d dz = _mm512_sub_pd(p.z, _mm512_loadu_pd(e.z.data() + k));
    const __m512d r2 =
        _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy)), _mm512_mul_pd(dz, dz));
    ids = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e.idx.data() + k));
    const __mmask8 in_hi = _mm512_cmp_pd_mask(r2, hi, _CMP_LT_OQ);
    const __mmask8 in_lo = _mm512_cmp_pd_mask(r2, lo, _CMP_GT_OQ);
    const __mmask8 not_nb = _mm256_cmpneq_epu32_mask(ids, p.prev) & _mm256_cmpneq_epu32_mask(ids, p.next);
    return static_cast<__mmask8>(in_hi & in_lo & not_nb);
}

// Eight lanes. The passing indices are compressed and appended to one register, which is sorted there; only a
// point with more than eight of them goes through memory. Returns the indices sorted.
__attribute__((target("avx512f,avx512vl"))) std::size_t screen_avx512(const GridEntries& e, const Query& q,
                                                                      std::uint32_t* out) {
    const Probe8 probe = probe8(q);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i acc = _mm256_set1_epi32(-1);  // unused lanes hold UINT32_MAX and sort last
    std::size_t n = 0;
    bool spilled = false;
    auto chunk = [&](std::size_t k) __attribute__((target("avx512f,avx512vl"))) {
        __m256i ids;
        const __mmask8 in = window8(e, k, probe, ids);
        const __m256i found = _mm256_maskz_compress_epi32(in, ids);
        const std::size_t c = static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(in)));
        if (!spilled && n + c <= 8) {
            // Lanes n .. n+c-1 of acc take found[0 .. c-1].
            const __mmask8 lanes = static_cast<__mmask8>(((1u << c) - 1u) << n);
            const __m256i from = _mm256_sub_epi32(iota, _mm256_set1_epi32(static_cast<int>(n)));
            acc = _mm256_mask_permutexvar_epi32(acc, lanes, from, found);
        } else {
            if (!spilled) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), acc);
            spilled = true;
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + n), found);
        }
        n += c;
    };
    for (int c = 0; c < 9; ++c) {
        const std::size_t b = q.begin[c], len = q.len[c];
        chunk(b);
        for (std::size_t k = 8; k < len; k += 8) chunk(b + k);
    }
    if (spilled) {
        sort_hits(out, n);
    } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), sort8_epu32(acc));
    }
    return n;
}

// Three points at once, for the common case where none finds more than eight indices: their chains of work are
// independent and interleave (one point's chain alone leaves the core waiting). Returns false when any would need
// more room; the caller then screens the points one by one, and what was written to `out` is overwritten.
// Otherwise each point's indices are sorted in its register and written to `out`, the three counts one after
// another (`out` needs room for their sum + 8).
__attribute__((target("avx512f,avx512vl"))) bool screen_three_avx512(const GridEntries& e, const Query& q0,
                                                                    const Query& q1, const Query& q2,
                                                                    std::uint32_t* out, std::size_t& n0,
                                                                    std::size_t& n1, std::size_t& n2) {
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    struct Lane {
        Probe8 probe;
        __m256i acc;
        std::size_t n;
    };
    // Unused lanes of acc hold UINT32_MAX and sort last.
    Lane a{probe8(q0), _mm256_set1_epi32(-1), 0};
    Lane b{probe8(q1), _mm256_set1_epi32(-1), 0};
    Lane d{probe8(q2), _mm256_set1_epi32(-1), 0};
    bool fits = true;
    auto chunk = [&](Lane& l, std::size_t k) __attribute__((target("avx512f,avx512vl"))) {
        __m256i ids;
        const __mmask8 in = window8(e, k, l.probe, ids);
        const __m256i found = _mm256_maskz_compress_epi32(in, ids);
        const std::size_t c = static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(in)));
        fits &= l.n + c <= 8;
        const __mmask8 lanes = static_cast<__mmask8>(((1u << c) - 1u) << (l.n & 7));
        const __m256i from = _mm256_sub_epi32(iota, _mm256_set1_epi32(static_cast<int>(l.n)));
        l.acc = _mm256_mask_permutexvar_epi32(l.acc, lanes, from, found);
        l.n += c;
    };
    for (int c = 0; c < 9; ++c) {
        chunk(a, q0.begin[c]);
        chunk(b, q1.begin[c]);
        chunk(d, q2.begin[c]);
    }
    for (int c = 0; c < 9; ++c) {
        for (std::size_t k = 8; k < q0.len[c]; k += 8) chunk(a, q0.begin[c] + k);
        for (std::size_t k = 8; k < q1.len[c]; k += 8) chunk(b, q1.begin[c] + k);
        for (std::size_t k = 8; k < q2.len[c]; k += 8) chunk(d, q2.begin[c] + k);
    }
    if (!fits) return false;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), sort8_epu32(a.acc));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + a.n), sort8_epu32(b.acc));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + a.n + b.n), sort8_epu32(d.acc));
    n0 = a.n;
    n1 = b.n;
    n2 = d.n;
    return true;
}

#endif  // TARQ_HAVE_X86_SIMD

// Pairs (g, m) inside the repulsion window, grouped by g, each group in ascending m, and the three components of
// their repulsion terms. The index arrays run kSlack entries past `capacity` for the screens' full-vector stores.
struct PairList {
    std::vector<std::uint32_t> g, m;
    std::vector<double> tx, ty, tz;
    std::size_t n = 0, capacity = 0;

    explicit PairList(std::size_t cap)
        : g(cap + GridEntries::kSlack), m(cap + GridEntries::kSlack), tx(cap), ty(cap), tz(cap), capacity(cap) {}
};

// add_repulsion's term for pairs [k0, k1) of the list, in whichever lanes: the same operations give the same bits.
void pair_terms_portable(const FlatSet& s, PairList& p, std::size_t k0, std::size_t k1) {
    for (std::size_t k = k0; k < k1; ++k) {
        const std::size_t g = p.g[k], m = p.m[k];
        const double dx = s.x[g] - s.x[m];
        const double dy = s.y[g] - s.y[m];
        const double dz = s.z[g] - s.z[m];
        const double r2 = (dx * dx + dy * dy) + dz * dz;
        const double r = std::sqrt(r2);
        const double st = std::min(kRepulsionCap, 0.5 / (r2 * r2));
        p.tx[k] = (dx / r) * st;
        p.ty[k] = (dy / r) * st;
        p.tz[k] = (dz / r) * st;
    }
}

#if TARQ_HAVE_X86_SIMD

__attribute__((target("avx2"))) inline __m256d gather4(const std::vector<double>& v, __m128i i) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), v.data(), i, all, 8);
}

__attribute__((target("avx2"))) std::size_t pair_terms_avx2(const FlatSet& s, PairList& p) {
    const __m256d half = _mm256_set1_pd(0.5), cap = _mm256_set1_pd(kRepulsionCap);
    std::size_t k = 0;
    for (; k + 4 <= p.n; k += 4) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.g.data() + k));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p.m.data() + k));
        const __m256d dx = _mm256_sub_pd(gather4(s.x, g), gather4(s.x, m));
        const __m256d dy = _mm256_sub_pd(gather4(s.y, g), gather4(s.y, m));
        const __m256d dz = _mm256_sub_pd(gather4(s.z, g), gather4(s.z, m));
        const __m256d r2 =
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)), _mm256_mul_pd(dz, dz));
        const __m256d r = _mm256_sqrt_pd(r2);
        // min(cap, v) as std::min takes it: v when v < cap, else cap.
        const __m256d st = _mm256_min_pd(_mm256_div_pd(half, _mm256_mul_pd(r2, r2)), cap);
        _mm256_storeu_pd(p.tx.data() + k, _mm256_mul_pd(_mm256_div_pd(dx, r), st));
        _mm256_storeu_pd(p.ty.data() + k, _mm256_mul_pd(_mm256_div_pd(dy, r), st));
        _mm256_storeu_pd(p.tz.data() + k, _mm256_mul_pd(_mm256_div_pd(dz, r), st));
    }
    return k;
}

__attribute__((target("avx512f"))) inline __m512d gather8(const std::vector<double>& v, __m256i i) {
    return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, i, v.data(), 8);
}

__attribute__((target("avx512f"))) std::size_t pair_terms_avx512(const FlatSet& s, PairList& p) {
    const __m512d half = _mm512_set1_pd(0.5), cap = _mm512_set1_pd(kRepulsionCap);
    std::size_t k = 0;
    for (; k + 8 <= p.n; k += 8) {
        const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.g.data() + k));
        const __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p.m.data() + k));
        const __m512d dx = _mm512_sub_pd(gather8(s.x, g), gather8(s.x, m));
        const __m512d dy = _mm512_sub_pd(gather8(s.y, g), gather8(s.y, m));
        const __m512d dz = _mm512_sub_pd(gather8(s.z, g), gather8(s.z, m));
        const __m512d r2 =
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(dx, dx), _mm512_mul_pd(dy, dy)), _mm512_mul_pd(dz, dz));
        const __m512d r = _mm512_mask_sqrt_pd(r2, 0xFF, r2);
        const __m512d st = _mm512_mask_min_pd(cap, 0xFF, _mm512_div_pd(half, _mm512_mul_pd(r2, r2)), cap);
        _mm512_storeu_pd(p.tx.data() + k, _mm512_mul_pd(_mm512_div_pd(dx, r), st));
        _mm512_storeu_pd(p.ty.data() + k, _mm512_mul_pd(_mm512_div_pd(dy, r), st));
        _mm512_storeu_pd(p.tz.data() + k, _mm512_mul_pd(_mm512_div_pd(dz, r), st));
    }
    return k;
}

#endif  // TARQ_HAVE_X86_SIMD

// Adds the terms of every listed pair to its point's force, in list order (each point's terms in ascending m,
// after its spring and centring terms), and empties the list.
void flush_pairs(const FlatSet& s, PairList& p, Screen screen, double* fx, double* fy, double* fz) {
    std::size_t done = 0;
#if TARQ_HAVE_X86_SIMD
    if (screen == Screen::kAvx512) done = pair_terms_avx512(s, p);
    if (screen == Screen::kAvx2) done = pair_terms_avx2(s, p);
#else
    (void)screen;
#endif
    pair_terms_portable(s, p, done, p.n);
    for (std::size_t k = 0; k < p.n; ++k) {
        const std::size_t g = p.g[k];
        fx[g] += p.tx[k];
        fy[g] += p.ty[k];
        fz[g] += p.tz[k];
    }
    p.n = 0;
}

// Cell grid over the points, rebuilt every iteration, that gives for each point the few others that can lie inside
// the repulsion window. Columns in x and y are a little wider than the window radius, so every pair that passes
// the window test sits in the same or an adjacent column; along z the cells are a quarter of that, and the points
// of a column are stored cell after cell, so the cells that the window's chord spans in a column form one
// contiguous run of entries (about 28 candidates per point in a relaxed knot, against 38 in 27 cubic cells). The runs
// are screened without branches, the indices that pass are sorted, and their terms are computed by the scalar rule's
// operations in vector lanes and added in index order: the forces are the same bit for bit, whichever path runs.
// The margins (1% of the radius, plus a rounding slack proportional to the coordinates) are far above the rounding
// of the cell coordinates.
class CellGrid {
public:
    static constexpr std::size_t kCellBudgetPerPoint = 16;
    static constexpr double kReach = 0.2 * 1.01;  // window radius with its margin
    // Entries of padding after each column: a vector load that starts inside a column's runs ends inside it.
    static constexpr std::size_t kColumnPad = 8;

    explicit CellGrid(std::size_t total)
        : max_cells_(kCellBudgetPerPoint * total + 64), cell_of_(total), pairs_(4 * total + total / 4 + 64) {
    }

    // False when the grid cannot help (non-finite coordinates, everything in one cell, or more points than its
    // indices hold); then scan all points.
    bool build(const FlatSet& s) {
        const std::size_t total = s.size();
        if (total > INT32_MAX) return false;  // the vector gathers take signed 32-bit indices
        double lo[3], hi[3];
        for (int a = 0; a < 3; ++a) {
            // One pass per axis, without branches: the bounds, and whether any coordinate is infinite or NaN
            // (all exponent bits set).
            const std::vector<double>& v = a == 0 ? s.x : a == 1 ? s.y : s.z;
            double l = v[0], u = v[0];
            std::uint64_t special = 0;
            for (std::size_t g = 0; g < total; ++g) {
                const double c = v[g];
                l = c < l ? c : l;
                u = c > u ? c : u;
                std::uint64_t bits;
                std::memcpy(&bits, &c, sizeof bits);
                special |= static_cast<std::uint64_t>((bits & 0x7ff0000000000000ULL) == 0x7ff0000000000000ULL);
            }
            if (special != 0) return false;
            lo[a] = l;
            hi[a] = u;
        }
        double mag = 0.0;
        for (int a = 0; a < 3; ++a) {
            if (!std::isfinite(hi[a] - lo[a])) return false;
            mag = std::max(mag, std::max(std::fabs(lo[a]), std::fabs(hi[a])));
        }
        // Columns at least the window radius wide and z cells a quarter of that; the z cells are coarsened first,
        // then the columns, until the cell count stays within the budget.
        double h = kReach;
        int zdiv = 4;
        std::size_t n[3];
        for (;;) {
            const double hz = h / zdiv;
            // Two empty border columns along x and y.
            const double na[3] = {std::floor((hi[0] - lo[0]) / h) + 3.0, std::floor((hi[1] - lo[1]) / h) + 3.0,
                                  std::floor((hi[2] - lo[2]) / hz) + 1.0};
            // Each column also ends in a cell of padding entries.
            if (na[0] * na[1] * (na[2] + 1.0) <= static_cast<double>(max_cells_)) {
                for (int a = 0; a < 3; ++a) n[a] = static_cast<std::size_t>(na[a]);
                break;
            }
            if (zdiv > 1) {
                zdiv /= 2;
            } else {
                h *= 2.0;
            }
        }
        if (n[0] * n[1] * n[2] == 9) return false;  // one column of one cell: nothing to gain
        const std::size_t ncol = n[0] * n[1];
        const std::size_t stride = n[2] + 1;
        const std::size_t ncell = ncol * stride;
        for (int a = 0; a < 3; ++a) {
            lo_[a] = lo[a];
            n_[a] = n[a];
        }
        inv_h_ = 1.0 / h;
        inv_hz_ = 1.0 / (h / zdiv);
        // The window radius with its margin, plus the rounding of the z range's ends (with a wide safety factor).
        reach_ = kReach + (mag + 4.0 * h) * 0x1p-44;
        stride_ = stride;
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                offset_[3 * a + b] = ((a - 1) * static_cast<std::ptrdiff_t>(n[1]) + (b - 1)) *
                                     static_cast<std::ptrdiff_t>(stride);
        const std::size_t entries = total + kColumnPad * ncol + GridEntries::kSlack;
        if (e_.x.size() < entries) {
            e_.x.resize(entries);
            e_.y.resize(entries);
            e_.z.resize(entries);
            e_.idx.resize(entries);
        }
        if (start_.size() < ncell + 2) start_.resize(ncell + 2);
        std::memset(start_.data(), 0, (ncell + 2) * sizeof(std::uint32_t));
        for (std::size_t g = 0; g < total; ++g) {
            const std::size_t c = (col(s.x[g], 0) * n_[1] + col(s.y[g], 1)) * stride + zcell(s.z[g]);
            cell_of_[g] = static_cast<std::uint32_t>(c);
            ++start_[c + 2];
        }
        for (std::size_t c = 0; c < ncol; ++c) start_[c * stride + n[2] + 2] = kColumnPad;
        for (std::size_t c = 2; c < ncell + 2; ++c) start_[c] += start_[c - 1];
        // start_[c + 1] is the next free entry of cell c while filling; afterwards start_[c] is where cell c begins
        // and start_[c + 1] where it ends.
        for (std::size_t g = 0; g < total; ++g) {
            const std::size_t k = start_[cell_of_[g] + 1]++;
            e_.x[k] = s.x[g];
            e_.y[k] = s.y[g];
            e_.z[k] = s.z[g];
            e_.idx[k] = static_cast<std::uint32_t>(g);
        }
        // The padding: NaN coordinates fail every window test.
        const double nan = std::nan("");
        for (std::size_t c = 0; c < ncol; ++c) {
            const std::size_t k0 = start_[c * stride + n[2] + 1];
            for (std::size_t k = k0; k < k0 + kColumnPad; ++k) {
                e_.x[k] = e_.y[k] = e_.z[k] = nan;
                e_.idx[k] = 0;
            }
            start_[c * stride + n[2] + 1] = static_cast<std::uint32_t>(k0 + kColumnPad);
        }
        for (std::size_t k = total + kColumnPad * ncol; k < entries; ++k) {
            e_.x[k] = e_.y[k] = e_.z[k] = nan;
            e_.idx[k] = 0;
        }
        return true;
    }

    // Adds the repulsion on every point to its force (which holds the spring and centring terms), each point's
    // terms in ascending order of the repelling point. Screening runs over all points first, with no branch on
    // what it finds; the terms of the pairs it lists are then computed in vector lanes and added in list order.
    void add_repulsion_all(const FlatSet& s, Screen screen, double* fx, double* fy, double* fz,
                           ParticleEvaluator::RelaxationCounts& counts) {
        const std::size_t total = s.size();
        PairList& p = pairs_;
        p.n = 0;
        auto query = [&s](std::size_t g) {
            Query q;
            q.px = s.x[g];
            q.py = s.y[g];
            q.pz = s.z[g];
            q.prev = static_cast<std::uint32_t>(s.prev[g]);
            q.next = static_cast<std::uint32_t>(s.next[g]);
            return q;
        };
        // Appends point g's sorted indices, already in place at the list's end.
        auto commit = [&p, &counts](std::size_t g, std::size_t nh) {
            std::uint32_t* owner = p.g.data() + p.n;
            for (std::size_t i = 0; i < 8; ++i) owner[i] = static_cast<std::uint32_t>(g);
            for (std::size_t i = 8; i < nh; ++i) owner[i] = static_cast<std::uint32_t>(g);
            p.n += nh;
            counts.decided += nh;
        };
        // One point; a crowded neighbourhood takes the full scan, which adds its terms at once.
        auto one = [&](std::size_t g, Query& q, std::size_t count) {
            if (4 * count > total) {
                repulsion_range(s, g, 0, total, fx[g], fy[g], fz[g], counts);
                return;
            }
            counts.screened += count;
            if (p.n + count > p.capacity) flush_pairs(s, p, screen, fx, fy, fz);
            std::uint32_t* hits = p.m.data() + p.n;
            std::size_t nh;
            switch (screen) {
#if TARQ_HAVE_X86_SIMD
                case Screen::kAvx512:
                    nh = screen_avx512(e_, q, hits);  // sorted already
                    break;
                case Screen::kAvx2:
                    nh = screen_avx2(e_, q, hits);
                    sort_hits(hits, nh);
                    break;
#endif
                default:
                    nh = screen_portable(e_, q, hits);
                    sort_hits(hits, nh);
                    break;
            }
            commit(g, nh);
        };
        // Crowded neighbourhoods make this quadratic in the points: poll by the candidates visited.
        InterruptPoller poller(kPollWork);
        std::size_t g = 0;
#if TARQ_HAVE_X86_SIMD
        if (screen == Screen::kAvx512) {
            for (; g + 3 <= total; g += 3) {
                Query q0 = query(g), q1 = query(g + 1), q2 = query(g + 2);
                const std::size_t c0 = find_runs(q0), c1 = find_runs(q1), c2 = find_runs(q2);
                poller.tick(c0 + c1 + c2 + 3);
                std::size_t n0, n1, n2;
                if (4 * std::max(std::max(c0, c1), c2) > total || p.n + c0 + c1 + c2 > p.capacity ||
                    !screen_three_avx512(e_, q0, q1, q2, p.m.data() + p.n, n0, n1, n2)) {
                    one(g, q0, c0);
                    one(g + 1, q1, c1);
                    one(g + 2, q2, c2);
                    continue;
                }
                counts.screened += c0 + c1 + c2;
                commit(g, n0);
                commit(g + 1, n1);
                commit(g + 2, n2);
            }
        }
#endif
        for (; g < total; ++g) {
            Query q = query(g);
            const std::size_t count = find_runs(q);
            poller.tick(count + 1);
            one(g, q, count);
        }
        flush_pairs(s, p, screen, fx, fy, fz);
    }

private:
    // Column index along axis a (0 or 1), counting the empty border column, and z cell index; the same rounding
    // for the points and the queries. The arguments lie within a window radius of the grid, so the products are
    // small and convert as signed integers (one instruction, unlike the unsigned conversion).
    std::size_t col(double v, int a) const {
        const auto i = static_cast<std::int64_t>((v - lo_[a]) * inv_h_);
        return std::min(static_cast<std::size_t>(i), n_[a] - 3) + 1;
    }
    std::size_t zcell(double v) const {
        const auto i = static_cast<std::int64_t>(std::max(v - lo_[2], 0.0) * inv_hz_);
        return std::min(static_cast<std::size_t>(i), n_[2] - 1);
    }

    // The runs of the nine columns around the query point, each over the z cells within reach of it; returns their
    // total length. The border columns are empty, so every point has all nine neighbours and nothing branches.
    std::size_t find_runs(Query& q) const {
        const std::size_t ix = col(q.px, 0), iy = col(q.py, 1);
        const std::size_t centre = (ix * n_[1] + iy) * stride_;
        const std::uint32_t* first = start_.data() + centre + zcell(q.pz - reach_);
        const std::uint32_t* last = start_.data() + centre + zcell(q.pz + reach_) + 1;
        std::size_t count = 0;
        for (int c = 0; c < 9; ++c) {
            const std::ptrdiff_t o = offset_[c];
            q.begin[c] = first[o];
            q.len[c] = last[o] - first[o];
            count += q.len[c];
        }
        return count;
    }

    std::size_t max_cells_;
    std::vector<std::uint32_t> cell_of_;
    std::vector<std::uint32_t> start_;
    PairList pairs_;
    GridEntries e_;
    double lo_[3] = {0.0, 0.0, 0.0};
    double inv_h_ = 1.0, inv_hz_ = 1.0, reach_ = kReach;
    std::size_t n_[3] = {3, 3, 1};
    std::size_t stride_ = 2;  // cells per column: the z cells and the padding
    std::ptrdiff_t offset_[9] = {};  // from a column's first cell to the same cell of each neighbouring column
};

// Below this many points the full scan is as fast as the grid.
constexpr std::size_t kGridMinPoints = 256;

}  // namespace

void ParticleEvaluator::relax_hamiltonian(int iterations, double timestep, const std::function<void()>& check,
                                          RelaxationCounts* counts) {
    if (filaments.empty()) return;
    FlatSet s(filaments);
    const std::size_t total = s.size();
    std::vector<double> vx(total, 0.0), vy(total, 0.0), vz(total, 0.0);
    std::vector<double> fx(total), fy(total), fz(total);
    CellGrid grid(total);
    RelaxationCounts tally;
    InterruptPoller poller(kPollWork);
    Screen screen = Screen::kPortable;
    if (kernel_dispatch::simd_available()) screen = Screen::kAvx2;
    if (kernel_dispatch::avx512_available() && __builtin_cpu_supports("avx512vl")) screen = Screen::kAvx512;

    for (int it = 0; it < iterations; ++it) {
        if (check) check();
        double cx, cy, cz;
        s.centroid(cx, cy, cz);
        const bool use_grid = total >= kGridMinPoints && grid.build(s);
        for (std::size_t g = 0; g < total; ++g) {
            const std::size_t pv = s.prev[g];
            const std::size_t nx = s.next[g];
            const double Fx = kSpring * ((s.x[nx] - s.x[g]) + (s.x[pv] - s.x[g]));
            const double Fy = kSpring * ((s.y[nx] - s.y[g]) + (s.y[pv] - s.y[g]));
            const double Fz = kSpring * ((s.z[nx] - s.z[g]) + (s.z[pv] - s.z[g]));
            fx[g] = kCentring * (cx - s.x[g]) + Fx;
            fy[g] = kCentring * (cy - s.y[g]) + Fy;
            fz[g] = kCentring * (cz - s.z[g]) + Fz;
        }
        if (use_grid) {
            grid.add_repulsion_all(s, screen, fx.data(), fy.data(), fz.data(), tally);
        } else {
            for (std::size_t g = 0; g < total; ++g) {
                repulsion_range(s, g, 0, total, fx[g], fy[g], fz[g], tally);
                poller.tick(total);
            }
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
        poller.tick();
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
        poller.tick();
        s.x[g] = (s.x[g] - cx) * scale + cx;
        s.y[g] = (s.y[g] - cy) * scale + cy;
        s.z[g] = (s.z[g] - cz) * scale + cz;
    }
    s.store(filaments);
    if (counts) *counts = tally;
}

}  // namespace tarq
