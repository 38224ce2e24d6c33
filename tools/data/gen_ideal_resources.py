#!/usr/bin/env python3
"""Writes the ideal-database resource files (resources/) and their manifest.

Generation time only: needs NumPy and the knot tables of `database-knotinfo`
(pip install database-knotinfo).  Neither the build nor the module needs them:
the outputs are committed.  The run is deterministic: every choice draws from a
generator seeded by the file or entry name.

Every curve is the closure of the braid word that the knot tables give for the
knot or link its identifier names, laid out around the z axis, scaled to the
coefficient and radius bounds of the formats, and checked afterwards: the
written coefficients (or points) are projected, their crossings found and the
component count, pairwise linking numbers and the Alexander polynomial compared
with the table.  The outcome of every check is recorded in the manifest.

Usage: gen_ideal_resources.py [--resources DIR] [--manifest FILE] [--only ideal|markup|points]
"""

import argparse
import hashlib
import json
import math
import os
import re
import struct
import sys
from fractions import Fraction

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_ideal_resources as prof  # noqa: E402

MASTER_SEED = "tarq-ideal-v1"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))


# ---------------------------------------------------------------------------
# Deterministic random numbers (splitmix64), independent of Python's own RNG
# ---------------------------------------------------------------------------

class Rng:
    def __init__(self, key):
        h = hashlib.sha256((MASTER_SEED + "|" + key).encode()).digest()
        self.state = struct.unpack("<Q", h[:8])[0]

    def next64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def uniform(self, a=0.0, b=1.0):
        return a + (b - a) * ((self.next64() >> 11) / float(1 << 53))

    def randint(self, a, b):
        return a + self.next64() % (b - a + 1)

    def normal(self):
        u1 = max(self.uniform(), 1e-300)
        u2 = self.uniform()
        return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)

    def rotation(self):
        q = np.array([self.normal() for _ in range(4)])
        q /= np.linalg.norm(q)
        a, b, c, d = q
        return np.array([[a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c)],
                         [2 * (b * c + a * d), a * a - b * b + c * c - d * d, 2 * (c * d - a * b)],
                         [2 * (b * d - a * c), 2 * (c * d + a * b), a * a - b * b - c * c + d * d]])


# ---------------------------------------------------------------------------
# Knot and link tables
# ---------------------------------------------------------------------------

class Tables:
    def __init__(self):
        import database_knotinfo as dk
        from database_knotinfo import link_list
        try:
            from importlib.metadata import version
            self.version = version("database-knotinfo")
        except Exception:
            self.version = getattr(dk, "__version__", "unknown")
        self.knots = {x["name"]: x for x in link_list()[1:]}
        self.links = {}
        for x in link_list(proper_links=True)[1:]:
            base = x["name"].split("{")[0]
            self.links.setdefault(base, x)

    def knot(self, name):
        """Table record of a knot: (table name, braid strands, word, Conway polynomial, Conway notation)."""
        x = self.knots[name]
        w = json.loads(x["braid_notation"])
        if w and isinstance(w[0], list):
            w = w[0]
        return {"table": name, "strands": max(abs(a) for a in w) + 1, "word": w, "components": 1,
                "conway_poly": parse_poly(x["conway_polynomial"]), "conway": x["conway_notation"],
                "crossings": int(x["crossing_number"]), "linking": []}

    def link(self, name):
        x = self.links[name]
        m = re.match(r"\{(\d+),\s*\{([-\d,\s]*)\}\}", x["braid_notation"].strip())
        n = int(m.group(1))
        w = [int(v) for v in m.group(2).split(",") if v.strip()]
        lm = json.loads(x["linking_matrix"].replace("{", "[").replace("}", "]"))
        lk = sorted(lm[i][j] for i in range(len(lm)) for j in range(i + 1, len(lm)))
        return {"table": x["name"], "strands": n, "word": w, "components": int(x["components"]),
                "conway_poly": parse_poly(x["conway_polynomial"]), "conway": "",
                "crossings": int(x["crossing_number"]), "linking": lk}


def parse_poly(s, var="z"):
    s = s.replace(" ", "")
    p = {}
    if s in ("", "0"):
        return p
    for t in re.findall(r"[+-]?[^+-]+", s):
        sg = -1 if t.startswith("-") else 1
        t = t.lstrip("+-")
        if var in t:
            if "*" in t and not t.startswith(var):
                coef, rest = t.split("*", 1)
                coef = int(coef)
            else:
                coef, rest = 1, t
            e = int(rest.split("^")[1]) if "^" in rest else 1
        else:
            coef, e = int(t), 0
        p[e] = p.get(e, 0) + sg * coef
    return p


def ab_table_name(eid):
    """Knot-table name of an AB identifier c:1:i.  The AB numbering of ten-crossing knots is the
    classical one with 166 entries; the tables drop the duplicate of the Perko pair (10_161 =
    10_162), so indices from 162 on move down by one."""
    c, _, i = (int(v) for v in eid.split(":"))
    if c == 10 and i >= 162:
        i -= 1
    return "%d_%d" % (c, i)


def conway_from_table(s, crossings):
    s = s.strip().strip("[]").strip().replace(";", ",")
    if s.isdigit() and int(s) == crossings:
        return s
    return re.sub(r"(?<=\d)(?=\d)", " ", s)


# ---------------------------------------------------------------------------
# Curves: closed braids around the z axis
# ---------------------------------------------------------------------------

def braid_columns(word):
    """Places letters in columns: a letter goes to the first column after every earlier letter
    that shares a strand slot with it, so commuting crossings sit side by side."""
    last = {}
    cols = []
    for a in word:
        i = abs(a)
        c = max(last.get(i - 1, -1), last.get(i, -1), last.get(i + 1, -1)) + 1
        cols.append(c)
        last[i] = c
    return cols, (max(cols) + 1 if cols else 1)


def braid_closure(word, n, samples_per_lap=512, rin_factor=1.15, h=0.45, delta=1.0):
    """Closed braid: strand slots at radii around the z axis, one crossing column per angular
    sector; returns the components as (M, 3) arrays sampled uniformly in angle, and their laps."""
    cols, ncol = braid_columns(word)
    rin = max(1.2 * delta, rin_factor * ncol * delta / (2 * math.pi))
    r0 = rin + (n - 1) / 2 * delta
    width = math.pi / ncol * 0.92
    th = np.arange(samples_per_lap) * (2 * math.pi / samples_per_lap)
    comps, laps_of = [], []
    seen = set()
    for s0 in range(n):
        if s0 in seen:
            continue
        laps = []
        s = s0
        while True:
            seen.add(s)
            rad = np.full(th.shape, float(s))
            z = np.zeros(th.shape)
            cur = s
            for a, c in zip(word, cols):
                i = abs(a)
                tc = 2 * math.pi * (c + 0.5) / ncol
                if cur == i - 1:
                    nxt, up = i, a > 0
                elif cur == i:
                    nxt, up = i - 1, a < 0
                else:
                    continue
                tau = np.clip((th - (tc - width)) / (2 * width), 0.0, 1.0)
                mask = th >= tc - width
                rad = np.where(mask, cur + (nxt - cur) * (1 - np.cos(np.pi * tau)) / 2, rad)
                inside = (th >= tc - width) & (th <= tc + width)
                z = z + np.where(inside, np.sin(np.pi * tau) ** 2 * (h if up else -h), 0.0)
                cur = nxt
            r = r0 + (rad - (n - 1) / 2) * delta
            laps.append(np.stack([r * np.cos(th), r * np.sin(th), z], axis=1))
            s = cur
            if s == s0:
                break
        comps.append(np.concatenate(laps, axis=0))
        laps_of.append(len(laps))
    return comps, laps_of


def fourier(points, kmax):
    """Coefficients (a_k, b_k), k = 0..kmax, of a curve sampled uniformly over one period."""
    m = len(points)
    f = np.fft.rfft(points, axis=0)
    a = 2.0 * f.real / m
    b = -2.0 * f.imag / m
    a[0] = f[0].real / m
    b[0] = 0.0
    return a[:kmax + 1], b[:kmax + 1]


def eval_series(idx, a, b, m):
    """Points of sum_k a_k cos(k t) + b_k sin(k t) at m uniform parameter values (index 0 = offset)."""
    idx = np.asarray(idx, dtype=int)
    a = np.asarray(a, dtype=float).reshape(len(idx), -1)
    b = np.asarray(b, dtype=float).reshape(len(idx), -1)
    if len(idx) and idx.max() < m // 2:
        spec = np.zeros((m // 2 + 1, a.shape[1]), dtype=complex)
        spec[idx] = (a - 1j * b) * (m / 2.0)
        spec[0] = 0.0
        out = np.fft.irfft(spec, n=m, axis=0)
        if 0 in set(idx.tolist()):
            out = out + a[list(idx).index(0)]
        return out
    t = np.arange(m) * (2 * math.pi / m)
    c = np.cos(np.outer(t, idx.astype(float)))
    s = np.sin(np.outer(t, idx.astype(float)))
    return c @ a + s @ b


def polyline_length(p):
    return float(np.sum(np.linalg.norm(np.roll(p, -1, axis=0) - p, axis=1)))


def series_length(idx, a, b, m=4096):
    """Length of a Fourier curve: polygon lengths at m and 2m points, extrapolated (error ~ 1/m^2)."""
    l1 = polyline_length(eval_series(idx, a, b, m))
    l2 = polyline_length(eval_series(idx, a, b, 2 * m))
    return (4.0 * l2 - l1) / 3.0


# ---------------------------------------------------------------------------
# Type check of a written curve: crossings of a projection, linking numbers,
# Alexander polynomial (evaluated exactly at t = s^2 and compared with the
# table's Conway polynomial at z = s - 1/s, up to a unit +-t^k)
# ---------------------------------------------------------------------------

def candidate_pairs(a2, b2):
    """Index pairs (i < j in the sense of one unordered visit) of segments whose midpoints lie in the
    same or neighbouring cells of a grid as wide as the longest segment: only those can cross."""
    mid = 0.5 * (a2 + b2)
    cell = float(np.max(np.linalg.norm(b2 - a2, axis=1))) * 1.001 + 1e-12
    cx = np.floor(mid[:, 0] / cell).astype(np.int64)
    cy = np.floor(mid[:, 1] / cell).astype(np.int64)
    big = np.int64(1 << 21)
    key = (cx + big) * (4 * big) + (cy + big)
    order = np.argsort(key, kind="stable")
    skey = key[order]
    out_i, out_j = [], []
    for dx, dy in ((0, 0), (1, -1), (1, 0), (1, 1), (0, 1)):
        target = key + dx * (4 * big) + dy
        lo = np.searchsorted(skey, target, side="left")
        hi = np.searchsorted(skey, target, side="right")
        cnt = hi - lo
        ii = np.repeat(np.arange(len(key)), cnt)
        start = np.repeat(lo - np.concatenate([[0], np.cumsum(cnt)[:-1]]), cnt)
        jj = order[np.arange(len(ii)) + start]
        if dx == 0 and dy == 0:
            keep = jj > ii
            ii, jj = ii[keep], jj[keep]
        out_i.append(ii)
        out_j.append(jj)
    return np.concatenate(out_i), np.concatenate(out_j)


def diagram_crossings(polys, rot):
    """Crossings of the projection along the third axis of `rot`: (over component, position along it,
    under component, position along it, sign); positions are segment index + fraction."""
    P = [p @ rot.T for p in polys]
    A = np.concatenate(P)
    B = np.concatenate([np.roll(p, -1, axis=0) for p in P])
    comp = np.concatenate([np.full(len(p), k) for k, p in enumerate(P)])
    idx = np.concatenate([np.arange(len(p)) for p in P])
    clen = np.array([len(p) for p in P])[comp]
    a2, d2 = A[:, :2], (B - A)[:, :2]
    ii, jj = candidate_pairs(a2, B[:, :2])
    same = comp[ii] == comp[jj]
    dk = np.abs(idx[ii] - idx[jj])
    keep = ~(same & ((dk <= 1) | (dk == clen[ii] - 1)))
    ii, jj = ii[keep], jj[keep]
    di, dj = d2[ii], d2[jj]
    w = a2[jj] - a2[ii]
    den = di[:, 0] * dj[:, 1] - di[:, 1] * dj[:, 0]
    with np.errstate(divide="ignore", invalid="ignore"):
        u = (w[:, 0] * dj[:, 1] - w[:, 1] * dj[:, 0]) / den
        v = (w[:, 0] * di[:, 1] - w[:, 1] * di[:, 0]) / den
    ok = (u >= 0) & (u < 1) & (v >= 0) & (v < 1) & (np.abs(den) > 1e-14)
    out = []
    sel = np.nonzero(ok)[0]
    # a stable order, whatever order the grid visited the pairs in
    sel = sel[np.lexsort((jj[sel], ii[sel]))]
    for q in sel:
        i, j = ii[q], jj[q]
        if i > j:
            i, j = j, i
            uu, vv = v[q], u[q]
        else:
            uu, vv = u[q], v[q]
        zi = A[i, 2] + uu * (B[i, 2] - A[i, 2])
        zj = A[j, 2] + vv * (B[j, 2] - A[j, 2])
        if zi > zj:
            o, un, po, pu = i, j, uu, vv
        else:
            o, un, po, pu = j, i, vv, uu
        cr = d2[o, 0] * d2[un, 1] - d2[o, 1] * d2[un, 0]
        out.append((int(comp[o]), idx[o] + po, int(comp[un]), idx[un] + pu, 1 if cr > 0 else -1))
    return out


def bareiss_det(m):
    n = len(m)
    if n == 0:
        return 1
    m = [row[:] for row in m]
    sign, prev = 1, 1
    for k in range(n - 1):
        if m[k][k] == 0:
            for r in range(k + 1, n):
                if m[r][k] != 0:
                    m[k], m[r] = m[r], m[k]
                    sign = -sign
                    break
            else:
                return 0
        pk = m[k][k]
        for i in range(k + 1, n):
            mi, mik = m[i], m[i][k]
            mk = m[k]
            for j in range(k + 1, n):
                mi[j] = (mi[j] * pk - mik * mk[j]) // prev
        prev = pk
    return sign * m[n - 1][n - 1]


def check_type(polys, rec, rot, svals=(2, 3, 5)):
    """-> dict with the component count, linking numbers and Alexander outcome of one projection."""
    X = diagram_crossings(polys, rot)
    nc = len(polys)
    lk = {}
    for co, _, cu, _, sg in X:
        if co != cu:
            key = (min(co, cu), max(co, cu))
            lk[key] = lk.get(key, 0) + sg
    lks = sorted(lk.get((i, j), 0) // 2 for i in range(nc) for j in range(i + 1, nc))
    want = rec["linking"]
    lk_ok = (lks == sorted(want)) or ([-v for v in lks] == sorted(want)) or \
        (sorted(-v for v in lks) == sorted(want)) if nc > 1 else True
    res = {"components": nc, "components_ok": nc == rec["components"], "linking": lks, "linking_ok": lk_ok,
           "crossings": len(X), "alexander_ok": False}
    unders = {c: sorted((pu, k) for k, (_, _, cu, pu, _) in enumerate(X) if cu == c) for c in range(nc)}
    if any(not unders[c] for c in range(nc)):
        res["alexander_ok"] = None
        return res
    starts, ids, inc, outg = {}, {}, {}, {}
    na = 0
    for c in range(nc):
        u = unders[c]
        starts[c] = [p for p, _ in u]
        ids[c] = list(range(na, na + len(u)))
        for m_, (_, k) in enumerate(u):
            outg[k] = ids[c][m_]
            inc[k] = ids[c][m_ - 1]
        na += len(u)

    def arc_at(c, pos):
        k = int(np.searchsorted(starts[c], pos)) - 1
        return ids[c][k] if k >= 0 else ids[c][-1]

    over = [arc_at(co, po) for co, po, _, _, _ in X]
    e0 = None
    ok = True
    for s in svals:
        t = s * s
        M = [[0] * na for _ in range(len(X))]
        for k, (_, _, _, _, sg) in enumerate(X):
            M[k][over[k]] += 1 - t
            if sg > 0:
                M[k][inc[k]] += t
                M[k][outg[k]] -= 1
            else:
                M[k][inc[k]] -= 1
                M[k][outg[k]] += t
        det = bareiss_det([row[1:] for row in M[1:]])
        z = Fraction(s) - Fraction(1, s)
        tv = sum(Fraction(c) * z ** e for e, c in rec["conway_poly"].items())
        if tv == 0:
            continue
        r = abs(Fraction(det) / tv)
        if r == 0:
            ok = False
            break
        e = 0
        while r < 1 and r.denominator % s == 0:
            r *= s
            e -= 1
        while r > 1 and r.numerator % s == 0:
            r /= s
            e += 1
        if r != 1 or (e0 is not None and e != e0):
            ok = False
            break
        e0 = e
    res["alexander_ok"] = ok
    return res


def verify(polys, rec, key):
    """Up to three projections; the first that sees every component from below decides."""
    rng = Rng("projection|" + key)
    res = None
    for _ in range(3):
        res = check_type(polys, rec, rng.rotation())
        if res["alexander_ok"] is not None:
            break
    res["verified"] = bool(res["components_ok"] and res["linking_ok"] and res["alexander_ok"])
    return res


# ---------------------------------------------------------------------------
# Number formats
# ---------------------------------------------------------------------------

def f96(v):
    return "%9.6f" % v


def triple(v):
    return ",".join(f96(x) for x in v)


def row_line(i, a, b):
    """a and b are the written triples (strings)."""
    return '  <Coeff I="%3d" A="%s" B="%s" />' % (i, a, b)


def parse_triple(s):
    return [float(x) for x in s.split(",")]


# ---------------------------------------------------------------------------
# Markup entries
# ---------------------------------------------------------------------------

class Group:
    """One closed curve of an entry: rows from `start` (0 with an offset row, 1 without) up to `last`,
    with `skips` indices left out."""

    def __init__(self, start, last, skips):
        self.start, self.last, self.skips = start, last, skips
        self.rows = []          # list of (index, A string triple, B string triple)
        self.length = 0.0

    @property
    def nrows(self):
        return self.last - self.start + 1 - self.skips


def build_groups(rec, groups, key, fixed_length=None):
    """Fills the rows of the groups (one per component) of an entry from its braid closure."""
    attempts = [(1.15, 0.45), (1.5, 0.45), (2.0, 0.5), (2.6, 0.5)]
    result = None
    for attempt, (rin, h) in enumerate(attempts):
        comps, laps = braid_closure(rec["word"], rec["strands"], samples_per_lap=1024, rin_factor=rin, h=h)
        if len(comps) != len(groups):
            raise SystemExit("%s: braid closes to %d components, expected %d" % (key, len(comps), len(groups)))
        kmax = max(g.last for g in groups)
        coefs = [fourier(c, kmax) for c in comps]
        # One scale for the whole entry: the strand spacing becomes about one diameter unless the
        # coefficient bound (|v| < 3) or the nine-character length field asks for less.
        maxabs = max(max(np.max(np.abs(a[1:])), np.max(np.abs(b[1:])), np.max(np.abs(a[0]))) for a, b in coefs)
        lengths = [polyline_length(c) for c in comps]
        scale = min(1.0, 2.95 / maxabs, 99.0 / max(lengths))
        if fixed_length is not None:
            scale = fixed_length / lengths[0]
            if scale * maxabs >= 2.95:
                raise SystemExit("%s: fixed length exceeds the coefficient bound" % key)
        polys = []
        for g, (a, b) in zip(groups, coefs):
            a, b = a * scale, b * scale
            norms = np.sqrt(np.sum(a * a, axis=1) + np.sum(b * b, axis=1))
            cand = list(range(g.start + 1, g.last))
            cand.sort(key=lambda k: (norms[k], k))
            drop = set(cand[:g.skips])
            g.rows = []
            for k in range(g.start, g.last + 1):
                if k in drop:
                    continue
                bb = b[k] if k > 0 else np.zeros(3)
                g.rows.append((k, triple(a[k]), triple(bb)))
            idx = [r[0] for r in g.rows]
            aa = np.array([parse_triple(r[1]) for r in g.rows])
            bb = np.array([parse_triple(r[2]) for r in g.rows])
            g.length = series_length(idx, aa, bb)
            polys.append(eval_series(idx, aa, bb, max(512, 256 * laps[len(polys)])))
        res = verify(polys, rec, key)
        res["attempt"] = attempt
        res["scale"] = round(float(scale), 6)
        result = res
        if res["verified"]:
            break
    return result


def allocate_rows(groups, total, rng_key, min_rows, ab_cap=False):
    """Adjusts the skip counts, round robin, until the groups hold `total` rows."""
    cur = sum(g.nrows for g in groups)
    order = list(range(len(groups)))
    rng = Rng("alloc|" + rng_key)
    for i in range(len(order) - 1, 0, -1):
        j = rng.randint(0, i)
        order[i], order[j] = order[j], order[i]
    guard = 0
    while cur != total:
        moved = False
        for k in order:
            g = groups[k]
            if getattr(g, "pinned", False):
                continue
            if cur < total and g.skips > 0 and (not ab_cap or g.nrows < 253):
                g.skips -= 1
                cur += 1
                moved = True
            elif cur > total and g.nrows > min_rows and g.skips < prof.MAX_SKIP and g.last - g.start - 1 > g.skips:
                g.skips += 1
                cur -= 1
                moved = True
            if cur == total:
                break
        guard += 1
        if not moved or guard > 10000:
            raise SystemExit("row allocation for %s cannot reach %d (at %d)" % (rng_key, total, cur))


def draw_skips(rng, mean, zero_share):
    if rng.uniform() < zero_share:
        return 0
    return min(prof.MAX_SKIP, 1 + int(-math.log(max(rng.uniform(), 1e-12)) * (mean - 1)))


# ---------------------------------------------------------------------------
# Conway strings and the byte budgets
# ---------------------------------------------------------------------------

CONWAY_EXAMPLES = {"3", "2 2", "9 2", ".2 1", "2,2,2-", "8*2:.-2 0"}


def compact_to(conways, keys, target):
    """Removes blanks, one at a time and longest strings first, until the strings under `keys`
    add up to `target` characters.  Knot-table notation without the blanks is still valid notation."""
    cur = sum(len(conways[k]) for k in keys)
    if cur < target:
        raise SystemExit("Conway strings are %d characters short of the budget" % (target - cur))
    while cur > target:
        cands = [k for k in keys if " " in conways[k] and conways[k] not in CONWAY_EXAMPLES]
        if not cands:
            raise SystemExit("no blank left to remove from the Conway strings")
        cands.sort(key=lambda k: (-len(conways[k]), keys.index(k)))
        for k in cands:
            s = conways[k]
            j = s.rfind(" ")
            conways[k] = s[:j] + s[j + 1:]
            cur -= 1
            if cur == target:
                break


def synth_conway(crossings, length, rng, nonalt):
    """A Conway-style string of exactly `length` characters for a link with `crossings` crossings:
    a composition of the crossing number into tangles, with the marks of the notation ('.', '-')."""
    if nonalt:
        decos = [("", "-"), (".", "-")] if length % 2 == 0 else [(".", "-"), ("", "-+")]
        decos = [d for d in decos if (length - len(d[0]) - len(d[1])) % 2 == 1]
    else:
        decos = [("", "")] if length % 2 == 1 else [(".", ""), ("", "-")]
    for pre, post in decos:
        k = (length - len(pre) - len(post) + 1) // 2
        if not 1 <= k <= crossings or k * 9 < crossings:
            continue
        for _ in range(100):
            parts = [1] * k
            for _ in range(crossings - k):
                parts[rng.randint(0, k - 1)] += 1
            if max(parts) <= 9:
                break
        seps = [("," if rng.uniform() < (0.45 if nonalt else 0.25) else " ") for _ in range(k - 1)]
        s = pre + str(parts[0]) + "".join(sp + str(p) for sp, p in zip(seps, parts[1:])) + post
        if len(s) == length:
            return s
    return None


def spread_lengths(total, bounds, rng):
    """Integer lengths within per-item bounds (lo, hi) with the given sum, jittered around the mean."""
    n = len(bounds)
    mean = total / n
    lens = [min(hi, max(lo, int(round(mean + rng.normal() * 1.6)))) for lo, hi in bounds]
    k = 0
    while sum(lens) != total:
        d = 1 if sum(lens) < total else -1
        lo, hi = bounds[k % n]
        if lo <= lens[k % n] + d <= hi:
            lens[k % n] += d
        k += 1
        if k > 1000 * n:
            raise SystemExit("Conway lengths cannot reach %d" % total)
    return lens


# ---------------------------------------------------------------------------
# Markup texts
# ---------------------------------------------------------------------------

def data_line(name):
    _, _, _, attr, title, date = prof.MARKUP[name]
    return '<DATA %s="%s" Author="%s" Date="%s">' % (attr, title, prof.AUTHOR, date)


def tl_ids(name):
    return ["%s%d" % (p, k) for p, n in prof.TL[name][0] for k in range(1, n + 1)]


def group_lines(g, tag_name, index):
    lines = []
    if tag_name is not None:
        lines.append('<%s I="%d" L="%s">' % (tag_name, index, f96(g.length)))
    lines += [row_line(*r) for r in g.rows]
    if tag_name is not None:
        lines.append("</%s>" % tag_name)
    return lines


class Generator:
    def __init__(self, resources, manifest_path):
        self.resources = resources
        self.manifest_path = manifest_path
        self.tables = Tables()
        self.manifest = {"generator": "tools/gen_ideal_resources.py", "master_seed": MASTER_SEED,
                         "knot_tables": "database-knotinfo %s" % self.tables.version, "entries": {},
                         "files": {}}
        self.entries = {}

    # -- entry records ------------------------------------------------------

    def record(self, eid):
        if re.fullmatch(r"\d+:1:\d+", eid):
            return self.tables.knot(ab_table_name(eid))
        m = re.fullmatch(r"K11([an])(\d+)", eid)
        if m:
            return self.tables.knot("11%s_%s" % (m.group(1), m.group(2)))
        return self.tables.link(eid)

    def plan(self):
        """Decides rows, skips and Conway strings of every markup entry before any text is written."""
        ents = self.entries
        # AB knots: last index 249..256, at most 253 rows
        ab_keys = []
        for c, n in prof.AB_KNOT_COUNTS.items():
            for i in range(1, n + 1):
                ab_keys.append("%d:1:%d" % (c, i))
        for eid in ab_keys + prof.AB_K11:
            rng = Rng("rows|" + eid)
            last = rng.randint(249, 256)
            if eid == "3:1:1":
                last = prof.ENTRY_3_1_1_LAST
            g = Group(1, last, max(last - 253, draw_skips(rng, 15.0, 0.3)))
            ents[eid] = {"rec": self.record(eid), "groups": [g]}
        # HT knots
        for name, (prefix, count, _) in prof.HT.items():
            for k in range(1, count + 1):
                eid = "%s%d" % (prefix, k)
                if eid in ents:
                    continue
                rng = Rng("rows|" + eid)
                last = rng.randint(243, 256)
                ents[eid] = {"rec": self.record(eid), "groups": [Group(1, last, draw_skips(rng, 12.0, 0.25))]}
        # TL links
        for name in prof.TL:
            for eid in tl_ids(name):
                rec = self.record(eid)
                rng = Rng("rows|" + eid)
                gs = []
                for _ in range(rec["components"]):
                    last = rng.randint(200, 256)
                    gs.append(Group(0, last, draw_skips(rng, 22.0, 0.15)))
                ents[eid] = {"rec": rec, "groups": gs}
        l2 = ents["L2a1"]["groups"]
        for g in l2:
            g.last, g.skips, g.pinned = 1, 0, True
        widest = ents["L10n113"]["groups"][0]
        widest.last, widest.skips, widest.pinned = 256, prof.MAX_SKIP, True
        rows253 = ents["9:1:49"]["groups"][0]
        rows253.last, rows253.skips, rows253.pinned = 255, 2, True
        # Row totals per file
        ab_groups = [ents[k]["groups"][0] for k in ab_keys + prof.AB_K11]
        allocate_rows(ab_groups, prof.AB_KNOT_ROWS - 1, "ab", 150, ab_cap=True)
        link_groups = [g for eid in prof.AB_LINKS for g in ents[eid]["groups"]]
        allocate_rows(link_groups, prof.AB_LINK_ROWS, "ab-links", 120)
        for name, (_, ngroups, nrows, _) in prof.TL.items():
            shared = [eid for eid in tl_ids(name) if eid in prof.AB_LINKS]
            own = [g for eid in tl_ids(name) if eid not in prof.AB_LINKS for g in ents[eid]["groups"]]
            have = sum(g.nrows for eid in shared for g in ents[eid]["groups"])
            allocate_rows(own, nrows - have, name, 60)
        for name, (prefix, count, nrows) in prof.HT.items():
            ids = ["%s%d" % (prefix, k) for k in range(1, count + 1)]
            shared = [e for e in ids if e in prof.AB_K11]
            own = [ents[e]["groups"][0] for e in ids if e not in prof.AB_K11]
            have = sum(ents[e]["groups"][0].nrows for e in shared)
            allocate_rows(own, nrows - have, name, 150)
        self.plan_conway(ab_keys)

    def plan_conway(self, ab_keys):
        ents = self.entries
        conway = {}
        for eid in ab_keys + prof.AB_K11:
            rec = ents[eid]["rec"]
            conway[eid] = conway_from_table(rec["conway"], rec["crossings"])
        for name, (prefix, count, _) in prof.HT.items():
            for k in range(1, count + 1):
                eid = "%s%d" % (prefix, k)
                rec = ents[eid]["rec"]
                conway[eid] = conway_from_table(rec["conway"], rec["crossings"])
        conway.update({"2:2:1": prof.N_ENTRIES["2:2:1"][0], "6:2:3": prof.N_ENTRIES["6:2:3"][0]})
        conway.update({"L2a1": "2", "L4a1": "4", "L5a1": "2 1 2", "L6a1": "4 2", "L8a1": "6 2",
                       "L6a4": ".1", "L6n1": "2,2,2-"})
        self.conway = conway
        # Link strings: lengths spread around the mean that each file's budget leaves
        for name in prof.TL:
            ids = [e for e in tl_ids(name) if e not in prof.AB_LINKS]
            target = self.conway_budget(name) - sum(len(conway[e]) for e in tl_ids(name) if e in prof.AB_LINKS)
            rng = Rng("conway|" + name)
            bounds = [(3, min(17, 2 * ents[e]["rec"]["crossings"] - 1)) for e in ids]
            lens = spread_lengths(target, bounds, rng)
            for eid, ln in zip(ids, lens):
                rec = ents[eid]["rec"]
                nonalt = eid[1 + len(str(rec["crossings"]))] == "n"
                s = synth_conway(rec["crossings"], ln, Rng("conway|" + eid), nonalt)
                if s is None:
                    raise SystemExit("no Conway string of length %d for %s" % (ln, eid))
                conway[eid] = s
        # Knot strings: the table's notation, with blanks removed where the budget is tighter
        fixed_ab = [e for e in prof.ab_ids() if e not in ab_keys and e not in ("0:1:1", "0:1:2")]
        compact_to(conway, ab_keys, self.conway_budget("ideal.txt") - sum(len(conway[e]) for e in fixed_ab))
        for name, (prefix, count, _) in prof.HT.items():
            ids = ["%s%d" % (prefix, k) for k in range(1, count + 1)]
            own = [e for e in ids if e not in prof.AB_K11]
            compact_to(conway, own, self.conway_budget(name) - sum(len(conway[e]) for e in ids if e in prof.AB_K11))

    def conway_budget(self, name):
        """Characters left for the Conway strings once every fixed-width line of the text is counted."""
        size, nlines, ends_lf, _, _, _ = prof.MARKUP[name]
        fixed = len(data_line(name)) + len("</DATA>") + (nlines - (0 if ends_lf else 1))
        ents = self.entries
        l9 = 9
        if name == "ideal.txt":
            for eid in prof.ab_ids():
                if eid in ("0:1:1", "0:1:2"):
                    txt = prof.ENTRY_0_1_1 if eid == "0:1:1" else prof.ENTRY_0_1_2
                    fixed += len(txt) - txt.count("\n")
                elif eid in prof.N_ENTRIES:
                    conway, lv, dv, n = prof.N_ENTRIES[eid]
                    fixed += len('<AB Id="%s" Conway="" L="%s" D="%s" n="%d">' % (eid, lv, dv, n)) + len("</AB>")
                    fixed += n * (len('  <Component I="1">') + len("  </Component>") + 2 * 57)
                elif eid in prof.AB_LINKS:
                    fixed += len('<AB Id="%s" Conway="" D=" 1.000000">' % eid) + len("</AB>")
                    for k, g in enumerate(ents[eid]["groups"]):
                        fixed += len('<Component I="%d" L="">' % (k + 1)) + l9 + len("</Component>") + 87 * g.nrows
                else:
                    dlen = 8 if eid == "4:1:1" else 9
                    fixed += len('<AB Id="%s" Conway="" L="" D="">' % eid) + l9 + dlen + len("</AB>")
                    fixed += 87 * ents[eid]["groups"][0].nrows
        elif name in prof.TL:
            for eid in tl_ids(name):
                fixed += len('<TL Id="%s" Conway="" D=" 1.000000">' % eid) + len("</TL>")
                for k, g in enumerate(ents[eid]["groups"]):
                    fixed += len('<STRING I="%d" L="">' % (k + 1)) + l9 + len("</STRING>") + 87 * g.nrows
        else:
            prefix, count, _ = prof.HT[name]
            for k in range(1, count + 1):
                eid = "%s%d" % (prefix, k)
                fixed += len('<HT Id="%s" Conway="" L="" D=" 1.000000">' % eid) + l9 + len("</HT>")
                if name == "ideal_11n.txt":
                    fixed += len('<STRING I="1" L="">') + l9
                fixed += 87 * ents[eid]["groups"][0].nrows
        return size - fixed

    # -- curves -------------------------------------------------------------

    def build_entry(self, eid):
        e = self.entries[eid]
        if "check" in e:
            return
        fixed_len = 16.371637 if eid == "3:1:1" else None
        res = build_groups(e["rec"], e["groups"], eid, fixed_len)
        e["check"] = res
        rec = e["rec"]
        self.manifest["entries"][eid] = {
            "table": rec["table"], "braid_strands": rec["strands"], "braid": rec["word"],
            "components": res["components"], "components_ok": res["components_ok"],
            "linking": res["linking"], "linking_table": rec["linking"], "linking_ok": res["linking_ok"],
            "alexander_ok": res["alexander_ok"], "crossings_seen": res["crossings"],
            "verified": res["verified"], "attempt": res["attempt"], "scale": res["scale"],
            "rows": [g.nrows for g in e["groups"]], "last_index": [g.last for g in e["groups"]]}

    # -- writers ------------------------------------------------------------

    def write(self, name, lines, ends_lf):
        text = "\n".join(lines) + ("\n" if ends_lf else "")
        data = text.encode("ascii")
        path = os.path.join(self.resources, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.manifest["files"][name] = {"bytes": len(data), "lines": len(lines),
                                        "sha256": hashlib.sha256(data).hexdigest()}
        return data

    def knot_entry_lines(self, eid, element):
        e = self.entries[eid]
        g = e["groups"][0]
        lval = "16.371637" if eid == "3:1:1" else f96(g.length)
        dval = "1.000000" if eid == "4:1:1" else " 1.000000"
        lines = ['<%s Id="%s" Conway="%s" L="%s" D="%s">' % (element, eid, self.conway[eid], lval, dval)]
        lines += group_lines(g, None, 1)
        lines.append("</%s>" % element)
        return lines

    def tl_entry_lines(self, eid, element, group_element):
        e = self.entries[eid]
        lines = ['<%s Id="%s" Conway="%s" D=" 1.000000">' % (element, eid, self.conway[eid])]
        for k, g in enumerate(e["groups"]):
            lines += group_lines(g, group_element, k + 1)
        lines.append("</%s>" % element)
        return lines

    def fix_l2a1(self):
        """L2a1: two circles of radius 1.5 centred at (-1, 0, 0) and (1, 0, 0), in the x-y and x-z planes."""
        e = self.entries["L2a1"]
        z = triple((0.0, 0.0, 0.0))
        g1, g2 = e["groups"]
        g1.rows = [(0, triple((-1.0, 0.0, 0.0)), z), (1, triple((1.5, 0.0, 0.0)), triple((0.0, 1.5, 0.0)))]
        g2.rows = [(0, triple((1.0, 0.0, 0.0)), z), (1, triple((1.5, 0.0, 0.0)), triple((0.0, 0.0, 1.5)))]
        polys = []
        for g in (g1, g2):
            idx = [r[0] for r in g.rows]
            aa = np.array([parse_triple(r[1]) for r in g.rows])
            bb = np.array([parse_triple(r[2]) for r in g.rows])
            g.length = series_length(idx, aa, bb)
            polys.append(eval_series(idx, aa, bb, 512))
        res = verify(polys, e["rec"], "L2a1")
        res.update({"attempt": 0, "scale": 1.0})
        e["check"] = res
        self.manifest["entries"]["L2a1"] = {"table": e["rec"]["table"], "construction": "two round circles",
                                            "components": res["components"], "linking": res["linking"],
                                            "linking_ok": res["linking_ok"], "alexander_ok": res["alexander_ok"],
                                            "verified": res["verified"]}

    def fixed_entries(self):
        """The two-circle and Borromean entries with n, written in the short row layout."""

        def short(v):
            return ",".join("%4.1f" % x for x in v)

        def grp(k, a0, a1, b1):
            return ['  <Component I="%d">' % k,
                    '    <Coeff I="0" A="%s" B="%s" />' % (short(a0), short((0, 0, 0))),
                    '    <Coeff I="1" A="%s" B="%s" />' % (short(a1), short(b1)),
                    "  </Component>"]

        out = {}
        # Hopf link of two unit circles centred at (-0.5, 0, 0) and (0.5, 0, 0)
        c, lv, dv, n = prof.N_ENTRIES["2:2:1"]
        out["2:2:1"] = (['<AB Id="2:2:1" Conway="%s" L="%s" D="%s" n="%d">' % (self.conway["2:2:1"], lv, dv, n)]
                        + grp(1, (-0.5, 0, 0), (1, 0, 0), (0, 1, 0)) + grp(2, (0.5, 0, 0), (1, 0, 0), (0, 0, 1))
                        + ["</AB>"])
        # Borromean rings of three ellipses
        c, lv, dv, n = prof.N_ENTRIES["6:2:3"]
        out["6:2:3"] = (['<AB Id="6:2:3" Conway="%s" L="%s" D="%s" n="%d">' % (self.conway["6:2:3"], lv, dv, n)]
                        + grp(1, (0, 0, 0), (2, 0, 0), (0, 1, 0)) + grp(2, (0, 0, 0), (0, 2, 0), (0, 0, 1))
                        + grp(3, (0, 0, 0), (0, 0, 2), (1, 0, 0)) + ["</AB>"])
        # the Hopf link and the Borromean rings, checked against the tables like every other entry
        for eid, table in (("2:2:1", "L2a1"), ("6:2:3", "L6a4")):
            polys = []
            lines = out[eid]
            for k in range(len(lines)):
                if lines[k].startswith("  <Component"):
                    r0 = re.findall(r'"([^"]*)"', lines[k + 1])
                    r1 = re.findall(r'"([^"]*)"', lines[k + 2])
                    a = np.array([parse_triple(r0[1]), parse_triple(r1[1])])
                    b = np.array([parse_triple(r0[2]), parse_triple(r1[2])])
                    polys.append(eval_series([0, 1], a, b, 512))
            rec = self.tables.link(table)
            res = verify(polys, rec, eid)
            self.manifest["entries"][eid] = {"table": rec["table"], "construction": "fixed circles or ellipses",
                                             "components": res["components"], "linking": res["linking"],
                                             "linking_ok": res["linking_ok"], "alexander_ok": res["alexander_ok"],
                                             "verified": res["verified"]}
        return out

    def gen_markup(self, only_ideal=False):
        self.plan()
        self.fix_l2a1()
        ab_order = prof.ab_ids()
        todo = [e for e in ab_order if e in self.entries and e != "L2a1"]
        if not only_ideal:
            for name in prof.TL:
                todo += [e for e in tl_ids(name) if e not in todo and e != "L2a1"]
            for name, (prefix, count, _) in prof.HT.items():
                todo += ["%s%d" % (prefix, k) for k in range(1, count + 1) if "%s%d" % (prefix, k) not in todo]
        for k, eid in enumerate(todo):
            self.build_entry(eid)
            if k % 50 == 0:
                print("  curves: %d/%d (%s)" % (k, len(todo), eid), flush=True)
        fixed = self.fixed_entries()
        # ideal.txt
        lines = [data_line("ideal.txt")]
        for eid in ab_order:
            if eid == "0:1:1":
                lines += prof.ENTRY_0_1_1.rstrip("\n").split("\n")
            elif eid == "0:1:2":
                lines += prof.ENTRY_0_1_2.rstrip("\n").split("\n")
            elif eid in fixed:
                lines += fixed[eid]
            elif eid in prof.AB_LINKS:
                lines += self.tl_entry_lines(eid, "AB", "Component")
            else:
                lines += self.knot_entry_lines(eid, "AB")
        lines.append("</DATA>")
        data = self.write("ideal.txt", lines, prof.MARKUP["ideal.txt"][2])
        path = os.path.join(self.resources, "ideal_database.txt")
        with open(path, "wb") as f:
            f.write(data)
        self.manifest["files"]["ideal_database.txt"] = dict(self.manifest["files"]["ideal.txt"])
        if only_ideal:
            return
        for name in prof.TL:
            lines = [data_line(name)]
            for eid in tl_ids(name):
                lines += self.tl_entry_lines(eid, "TL", "STRING")
            lines.append("</DATA>")
            self.write(name, lines, prof.MARKUP[name][2])
        for name, (prefix, count, _) in prof.HT.items():
            lines = [data_line(name)]
            for k in range(1, count + 1):
                eid = "%s%d" % (prefix, k)
                ent = self.knot_entry_lines(eid, "HT")
                if name == "ideal_11n.txt":
                    g = self.entries[eid]["groups"][0]
                    ent.insert(1, '<STRING I="1" L="%s">' % f96(g.length))
                lines += ent
            lines.append("</DATA>")
            self.write(name, lines, prof.MARKUP[name][2])

    # -- point lists ----------------------------------------------------------

    def plan_point_lists(self):
        """Sizes and line counts of the 2,176 lists: every pack sum of the table, the greedy boundaries,
        the family totals and extremes, the pinned files, and 273,638 lines in all."""
        names = prof.point_list_names()
        pos = {n: k for k, n in enumerate(names)}
        recs = {}
        weight = {}
        for n in names:
            fam, num = n[:3], int(n[3:-4])
            rec = self.tables.knot("%s_%d" % (fam, num))
            recs[n] = rec
            _, ncol = braid_columns(rec["word"])
            weight[n] = rec["strands"] * (ncol + 2)
        # groups of files with a fixed byte sum, in stream order
        groups = []
        for k in range(112, 142):
            if k in (139, 140):
                continue
            first, last, nfiles, total = prof.STATED_PL_PACKS[k]
            files = names[pos[first]:pos[last] + 1]
            if k == 112:
                # the pack opens with the last three pieces of ideal_database.txt
                total -= 2 * prof.PIECE + (prof.MARKUP["ideal.txt"][0] - 46 * prof.PIECE)
            groups.append([k, files, total])
        # packs 139 and 140 share what remains of the 12n total; the split is ours
        rest = names[pos["12n736.txt"] + 1:pos["12n875.txt"]]
        n12a_in_130 = [g for g in groups if g[0] == 130][0]
        a_files = [f for f in n12a_in_130[1] if f.startswith("12a")]
        n_files = [f for f in n12a_in_130[1] if f.startswith("12n")]
        a_other = sum(g[2] for g in groups if g[0] < 130)
        a130 = prof.PL_FAMILIES["12a"][1] - a_other
        groups = [g for g in groups if g[0] != 130]
        groups.append([130.0, a_files, a130])
        groups.append([130.5, n_files, n12a_in_130[2] - a130])
        n_sum = sum(g[2] for g in groups if g[1][0].startswith("12n"))
        rest_total = prof.PL_FAMILIES["12n"][1] - n_sum
        t139 = 398400
        groups.append([139, rest[:77], t139])
        groups.append([140, rest[77:], rest_total - t139])
        groups.sort(key=lambda g: pos[g[1][0]])
        # pinned sizes and line counts
        pins = {"12a1.txt": (4982, 120), "12a1272.txt": (3653, 88)}
        a_sorted = sorted((n for n in names if n.startswith("12a") and n not in pins and n not in prof.PL_PLAIN),
                          key=lambda n: (-weight[n], n))
        n_sorted = sorted((n for n in names if n.startswith("12n") and n not in prof.PL_PLAIN),
                          key=lambda n: (weight[n], n))
        # lower bounds that keep the greedy boundaries where the table has them
        lower = {}
        pack_first = {}
        for k in range(113, 142):
            pack_first[k] = prof.STATED_PL_PACKS[k][0] if k in prof.STATED_PL_PACKS else None
        pack_first[140] = rest[77]
        pack_first[139] = rest[0]
        pack_tot = {k: v[3] for k, v in prof.STATED_PL_PACKS.items()}
        pack_tot[139] = t139
        pack_tot[140] = rest_total - t139
        for k in range(112, 141):
            nxt = pack_first[k + 1]
            lower[nxt] = 400001 - pack_tot[k]
        pins["12a%s.txt" % a_sorted[0][3:-4]] = (6650, 160)
        n_low = [n for n in n_sorted if lower.get(n, 0) <= 4021][0]
        n_high = [n for n in reversed(n_sorted) if n != n_low][0]
        pins[n_low] = (4021, 97)
        pins[n_high] = (6055, 146)
        pins["12a457.txt"] = (8614, 155)
        pins["12a880.txt"] = (5402, 96)
        pins["12n73.txt"] = (5630, 100)
        sizes, lines = {}, {}
        for n, (s, l) in pins.items():
            sizes[n], lines[n] = s, l
        for key, files, total in groups:
            free = [f for f in files if f not in pins]
            fam = files[0][:3]
            lo_fam = 3654 if fam == "12a" else 4022
            hi_fam = 6600 if fam == "12a" else 6054
            remaining = total - sum(sizes[f] for f in files if f in pins)
            lo = {f: max(lo_fam, lower.get(f, 0)) for f in free}
            rng = Rng("sizes|%s" % key)
            want = {f: (88 + 0.8 * weight[f]) * 41.52 * (1 + 0.06 * rng.normal()) for f in free}
            # water-filling: scale the wishes to the remaining total within the bounds
            fixed_val = {}
            for _ in range(50):
                open_ = [f for f in free if f not in fixed_val]
                room = remaining - sum(fixed_val.values())
                sc = room / sum(want[f] for f in open_)
                changed = False
                for f in open_:
                    v = want[f] * sc
                    if v < lo[f]:
                        fixed_val[f] = lo[f]
                        changed = True
                    elif v > hi_fam:
                        fixed_val[f] = hi_fam
                        changed = True
                if not changed:
                    break
            vals = {}
            for f in free:
                vals[f] = fixed_val[f] if f in fixed_val else int(want[f] * sc)
            diff = remaining - sum(vals.values())
            k = 0
            order = sorted(free, key=lambda f: pos[f])
            while diff != 0:
                f = order[k % len(order)]
                d = 1 if diff > 0 else -1
                if lo[f] <= vals[f] + d <= hi_fam:
                    vals[f] += d
                    diff -= d
                k += 1
            sizes.update(vals)
        # line counts: about 41.5 bytes a line, minus signs on 42 % to 58 % of the coordinates
        def nrange(f):
            fam = f[:3]
            lmin, lmax = prof.PL_FAMILIES[fam][4], prof.PL_FAMILIES[fam][5]
            s = sizes[f]
            a = max(lmin + 1, math.ceil(s / (40 + 3 * 0.58)))
            b = min(lmax - 1, math.floor(s / (40 + 3 * 0.42)))
            return a, b
        for f in names:
            if f in pins:
                continue
            a, b = nrange(f)
            lines[f] = min(b, max(a, int(round(sizes[f] / 41.52))))
        diff = prof.PL_LINES - sum(lines.values())
        order = [f for f in names if f not in pins]
        rng = Rng("lines")
        for i in range(len(order) - 1, 0, -1):
            j = rng.randint(0, i)
            order[i], order[j] = order[j], order[i]
        k = 0
        while diff != 0:
            f = order[k % len(order)]
            a, b = nrange(f)
            d = 1 if diff > 0 else -1
            if a <= lines[f] + d <= b:
                lines[f] += d
                diff -= d
            k += 1
            if k > 100 * len(order):
                raise SystemExit("line counts cannot reach the total")
        # closing ratio and radius per list
        plan = {}
        far_close = "12n512.txt"
        r_lo, r_hi = "12a640.txt", "12n333.txt"
        for f in names:
            rng = Rng("shape|" + f)
            rho = min(1.12, max(0.78, 0.94 + 0.045 * rng.normal()))
            rmax = rng.uniform(2.6, 4.2)
            if f == far_close:
                rho = 5.08
            if f == r_lo:
                rmax = 2.5004
            if f == r_hi:
                rmax = 4.2996
            plan[f] = {"bytes": sizes[f], "lines": lines[f], "rho": rho, "rmax": rmax, "rec": recs[f]}
        self.pl_groups = groups
        return plan

    def sample_curve(self, rec, n, rho, rmax, key, attempt):
        rin, h = [(1.15, 0.45), (1.5, 0.45), (1.0, 0.4), (2.0, 0.5), (1.3, 0.5), (1.7, 0.45)][attempt]
        comps, _ = braid_closure(rec["word"], rec["strands"], samples_per_lap=512, rin_factor=rin, h=h)
        c = comps[0]
        seg = np.linalg.norm(np.roll(c, -1, axis=0) - c, axis=1)
        s = np.concatenate([[0.0], np.cumsum(seg)])
        total = s[-1]
        rng = Rng("steps|%s|%d" % (key, attempt))
        freq = rng.randint(2, 5)
        phase = rng.uniform(0, 2 * math.pi)
        start = rng.uniform(0, total)
        # steps vary by about a third of their mean: a slow swing of the speed plus a little jitter
        gaps = np.array([1.0 + 0.14 * math.sin(2 * math.pi * freq * i / n + phase) + 0.006 * rng.normal()
                         for i in range(n - 1)])
        gaps = np.append(gaps, rho * gaps.mean())
        u = np.concatenate([[0.0], np.cumsum(gaps)[:-1]]) / gaps.sum() * total
        u = (u + start) % total
        cc = np.vstack([c, c[:1]])
        pts = np.stack([np.interp(u, s, cc[:, k]) for k in range(3)], axis=1)
        cen = pts.mean(axis=0)
        pts = (pts - cen) * (rmax / np.max(np.linalg.norm(pts - cen, axis=1)))
        # a turn of the whole curve, so the lists do not all share the braid axis
        pts = pts @ Rng("turn|" + key).rotation().T
        return pts

    def gen_point_lists(self):
        plan = self.plan_point_lists()
        out_dir = os.path.join(self.resources, prof.PL_DIR)
        os.makedirs(out_dir, exist_ok=True)
        for old in os.listdir(out_dir):
            os.remove(os.path.join(out_dir, old))
        names = prof.point_list_names()
        for k, f in enumerate(names):
            p = plan[f]
            res = None
            for attempt in range(6):
                pts = self.sample_curve(p["rec"], p["lines"], p["rho"], p["rmax"], f, attempt)
                if f in prof.PL_PLAIN:
                    text, pts_w = plain_text(pts, p["bytes"], f)
                elif f == "12a1.txt":
                    text, pts_w = exp_text_first(pts, p["bytes"], prof.PL_12A1_LINE1, f)
                else:
                    text, pts_w = exp_text(pts, p["bytes"], f)
                res = verify([pts_w], p["rec"], f)
                res["attempt"] = attempt
                if res["verified"]:
                    break
            data = text.encode("ascii")
            if len(data) != p["bytes"]:
                raise SystemExit("%s: %d bytes, planned %d" % (f, len(data), p["bytes"]))
            with open(os.path.join(out_dir, f), "wb") as fh:
                fh.write(data)
            key = prof.PL_DIR + "/" + f
            self.manifest["files"][key] = {"bytes": len(data), "lines": p["lines"],
                                           "sha256": hashlib.sha256(data).hexdigest()}
            self.manifest["entries"][key] = {"table": p["rec"]["table"], "braid_strands": p["rec"]["strands"],
                                             "braid": p["rec"]["word"], "alexander_ok": res["alexander_ok"],
                                             "crossings_seen": res["crossings"], "verified": res["verified"],
                                             "attempt": res["attempt"], "closing_target": round(p["rho"], 4),
                                             "radius": round(p["rmax"], 4)}
            if k % 200 == 0:
                print("  point lists: %d/%d" % (k, len(names)), flush=True)
        self.manifest["point_list_split_139_140"] = [g[2] for g in self.pl_groups if g[0] in (139, 140)]

    def save_manifest(self):
        old = {}
        if os.path.exists(self.manifest_path):
            with open(self.manifest_path) as f:
                old = json.load(f)
        for k in ("files", "entries"):
            merged = dict(old.get(k, {}))
            merged.update(self.manifest[k])
            self.manifest[k] = dict(sorted(merged.items()))
        ent = self.manifest["entries"]
        self.manifest["summary"] = {
            "entries": len(ent), "verified": sum(1 for v in ent.values() if v.get("verified")),
            "not_verified": sorted(k for k, v in ent.items() if not v.get("verified"))}
        # one line per file and per entry keeps the manifest short and its diffs readable
        with open(self.manifest_path, "w") as f:
            f.write("{\n")
            keys = list(self.manifest)
            for n, key in enumerate(keys):
                val = self.manifest[key]
                end = ",\n" if n + 1 < len(keys) else "\n"
                if key in ("files", "entries"):
                    f.write(" %s: {\n" % json.dumps(key))
                    items = list(val.items())
                    for m, (k, v) in enumerate(items):
                        f.write("  %s: %s%s\n" % (json.dumps(k), json.dumps(v, sort_keys=True),
                                                   "," if m + 1 < len(items) else ""))
                    f.write(" }" + end)
                else:
                    f.write(" %s: %s%s" % (json.dumps(key), json.dumps(val), end))
            f.write("}\n")


# ---------------------------------------------------------------------------
# Point-list text
# ---------------------------------------------------------------------------

def exp_num(v):
    return "%.6e" % v


def count_neg(pts):
    # "%.6e" writes a minus sign exactly when the sign bit is set (negative zero included)
    return int(np.count_nonzero(np.signbit(pts)))


def exp_lines(pts):
    return "".join(" %s %s %s\n" % tuple(exp_num(v) for v in p) for p in pts)


def exp_text(pts, size, key):
    """Exponent-form list of exactly `size` bytes: 40 bytes a line plus one per minus sign, so the
    curve is moved along (1, 1, 1) until the printed coordinates carry the right number of signs."""
    n = len(pts)
    m = size - 40 * n
    if not 0 <= m <= 3 * n:
        raise SystemExit("%s: %d bytes cannot hold %d lines" % (key, size, n))
    d = np.ones(3) / math.sqrt(3.0)

    def neg(t):
        return count_neg(pts + t * d)

    lo, hi = -20.0, 20.0    # neg(lo) = 3n, neg(hi) = 0

    def first_at_most(target):
        a, b = lo, hi
        for _ in range(64):
            mid = 0.5 * (a + b)
            if neg(mid) <= target:
                b = mid
            else:
                a = mid
        return b

    t1 = first_at_most(m)
    t2 = first_at_most(m - 1) if m > 0 else hi
    t = 0.5 * (t1 + t2)
    moved = pts + t * d
    if count_neg(moved) != m:
        raise SystemExit("%s: cannot place %d minus signs" % (key, m))
    text = exp_lines(moved)
    return text, np.array([[float(x) for x in ln.split()] for ln in text.splitlines()])


def exp_text_first(pts, size, first_line, key):
    """As exp_text, with the first point fixed: the curve is moved onto it and turned about it."""
    target = np.array([float(x) for x in first_line.split()])
    n = len(pts)
    m = size - 40 * n
    base = pts - pts[0] + target
    rng = Rng("first|" + key)
    for _ in range(20000):
        r = rng.rotation()
        moved = target + (base - target) @ r.T
        moved[0] = target
        if count_neg(moved) == m:
            text = exp_lines(moved)
            if text.split("\n")[0] == first_line:
                return text, np.array([[float(x) for x in ln.split()] for ln in text.splitlines()])
    raise SystemExit("%s: no turn gives %d minus signs" % (key, m))


def plain_num(v, k):
    """v with k significant digits in plain decimal notation (never an exponent), trailing zeros off."""
    s = "%.*e" % (k - 1, v)
    mant, e = s.split("e")
    e = int(e)
    neg = mant.startswith("-")
    digits = mant.lstrip("-").replace(".", "")
    if e >= 0:
        ip = digits[:e + 1].ljust(e + 1, "0")
        fp = digits[e + 1:]
    else:
        ip = "0"
        fp = "0" * (-e - 1) + digits
    fp = fp.rstrip("0") or "0"
    return ("-" if neg else "") + ip + "." + fp


def plain_text(pts, size, key):
    """Plain-decimal list of exactly `size` bytes: up to 16 significant digits, fewer on some numbers."""
    vals = pts.ravel()
    k = [16] * len(vals)
    strs = [plain_num(v, 16) for v in vals]
    total = sum(len(s) for s in strs) + len(pts) * 3
    excess = total - size
    if excess < 0:
        raise SystemExit("%s: %d bytes too few digits" % (key, -excess))
    rng = Rng("digits|" + key)
    order = list(range(len(vals)))
    for i in range(len(order) - 1, 0, -1):
        j = rng.randint(0, i)
        order[i], order[j] = order[j], order[i]
    passes = 0
    while excess > 0:
        progress = False
        for j in order:
            if excess == 0:
                break
            if k[j] <= 10:
                continue
            s = plain_num(vals[j], k[j] - 1)
            gain = len(strs[j]) - len(s)
            if 0 < gain <= excess:
                k[j] -= 1
                strs[j] = s
                excess -= gain
                progress = True
            elif gain == 0:
                k[j] -= 1
                strs[j] = s
                progress = True
        passes += 1
        if not progress or passes > 40:
            raise SystemExit("%s: digit count cannot reach %d bytes" % (key, size))
    lines = [" ".join(strs[3 * i:3 * i + 3]) for i in range(len(pts))]
    text = "\n".join(lines) + "\n"
    return text, np.array([[float(x) for x in ln.split()] for ln in lines])


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--resources", default=os.path.join(ROOT, "resources"))
    ap.add_argument("--manifest", default=os.path.join(HERE, "ideal_resources_manifest.json"))
    ap.add_argument("--only", choices=["ideal", "markup", "points"], default=None)
    args = ap.parse_args(argv)
    gen = Generator(args.resources, args.manifest)
    if args.only in (None, "ideal", "markup"):
        gen.gen_markup(only_ideal=args.only == "ideal")
    if args.only in (None, "points"):
        gen.gen_point_lists()
    gen.save_manifest()
    print("manifest: %d entries, %d verified" % (gen.manifest["summary"]["entries"],
                                                 gen.manifest["summary"]["verified"]))
    if args.only is None:
        rep = prof.run(args.resources)
        for n in rep.notes:
            print("note:", n)
        for f in rep.failures[:50]:
            print("FAIL:", f)
        return 1 if rep.failures else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
