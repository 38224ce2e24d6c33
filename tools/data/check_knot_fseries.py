#!/usr/bin/env python3
"""Verify the committed knot_fseries/knot.<id>.fseries texts against their fixed profile.

Standard library only: it runs with the tests, where neither NumPy nor the knot tables
are installed. The generator imports PROFILE and the fixed lines from here, so the
profile lives in one place.

Usage: check_knot_fseries.py [KNOT_DIR]   (default: knot_fseries/ at the top of the tree)
Exit status 0 when every item holds, 1 with one message per failure otherwise.
"""

import csv
import io
import os
import re
import sys

# id, bytes, comment lines ("% ", closing line included), blank-led lines (" %"), rows,
# all-zero rows, first row all zero, number layout, ends in LF, note.
_PROFILE_CSV = """\
10_1,6275,4,0,100,4,yes,9.6,no,source
10_1n,3117,2,0,50,0,no,9.6,yes,normalised
12a_1202,1730,3,1,21,1,yes,12.6,no,
12a_1202z6,1648,3,2,20,10,no,12.6,yes,even rows zero
15331,1808,3,4,21,11,yes,12.6,no,odd rows zero; no title
1_1,140,3,0,1,0,no,free,no,verbatim
3_1,391,1,0,5,1,no,12.6,yes,verbatim
3_1p,937,3,2,10,0,no,12.3,yes,
3_1u,534,4,0,5,1,no,12.6,yes,torus
4_1,983,3,3,10,0,no,12.6,yes,
4_1d,1055,3,3,11,1,yes,12.6,no,
4_1p,975,3,1,11,1,yes,12.6,no,
4_1z,951,3,3,10,2,no,12.6,yes,
5_1,554,1,0,7,3,yes,12.6,yes,title only
5_1p,935,3,2,10,0,no,12.3,yes,
5_1u,680,4,0,7,3,yes,12.6,yes,torus
5_2,992,3,3,10,0,no,12.6,no,
5_2d,1192,3,7,11,1,yes,12.6,no,
5_2r,975,3,1,11,1,yes,12.6,no,
6_1,926,3,1,10,0,no,12.6,no,
6_2,937,3,2,10,0,no,12.6,yes,
6_2d,1093,3,5,11,1,yes,12.6,no,
6_2p,1039,3,3,11,1,yes,12.6,no,
6_3d,1520,3,19,11,1,yes,12.6,no,
6_3z,1209,3,10,10,2,no,12.6,yes,
7_1,682,1,0,9,5,yes,12.6,yes,title only
7_1p,1665,3,2,20,0,no,12.3,yes,
7_2,988,3,3,10,0,no,12.6,yes,
7_2d,1257,3,10,11,1,yes,12.6,no,
7_2r,1005,3,2,11,1,yes,12.6,no,
7_3,988,3,3,10,0,no,12.6,yes,
7_3d,1736,4,1,21,1,yes,12.6,no,closing
7_4,1005,4,1,11,1,yes,12.6,no,closing
7_5,988,3,3,10,0,no,12.6,yes,
7_5d,2212,3,18,21,1,yes,12.6,no,
7_6d,1781,3,4,21,1,yes,12.6,no,
7_6s,977,3,3,10,0,no,12.6,yes,
7_7d,1164,4,6,11,1,yes,12.6,no,closing
8_1,939,3,2,10,0,no,12.6,yes,
8_10s,902,3,1,10,0,no,12.6,yes,
8_11,1000,3,3,10,0,no,12.6,yes,
8_11d,1745,3,2,21,1,yes,12.6,no,
8_12d,1791,4,2,21,1,yes,12.6,no,closing
8_12z,1037,3,5,10,2,no,12.6,yes,
8_13d,1849,4,4,21,1,yes,12.6,no,closing
8_13p,1021,3,2,11,1,yes,12.6,no,
8_14d,2085,3,13,21,1,yes,12.6,no,
8_14r,1704,3,1,21,1,yes,12.6,no,
8_15,980,3,1,11,1,yes,12.6,no,
8_15d,1576,3,20,11,1,yes,12.6,no,
8_15p,1704,3,1,21,1,yes,12.6,no,
8_16,992,3,1,11,1,yes,12.6,no,
8_17,3835,2,0,50,0,no,13/12.6,no,
8_18,1003,3,2,11,4,yes,12.6,no,
8_18z,1665,3,2,20,12,yes,12.6,no,
8_19t,680,4,0,7,3,no,12.6,yes,torus
8_19u,680,4,0,7,3,no,12.6,yes,torus
8_1d,1703,3,1,21,1,yes,12.6,no,
8_2,949,3,2,10,0,no,12.6,yes,
8_20r,1737,4,1,21,1,yes,12.6,no,closing
8_21d,1197,3,7,11,1,yes,12.6,no,
8_21p,974,3,1,11,1,yes,12.6,no,
8_21r,989,3,1,11,1,yes,12.6,no,
8_2d,2013,3,11,21,1,yes,12.6,no,
8_3,902,3,1,10,0,no,12.6,yes,
8_3d,2204,3,17,21,1,yes,12.6,no,
8_3z,1032,3,5,10,2,no,12.6,yes,
8_4,1084,3,4,11,1,yes,12.6,no,
8_4d,1894,3,7,21,1,yes,12.6,no,
8_5,3312,6,0,50,0,no,9.6,no,fit
8_6,929,3,1,10,0,no,12.6,yes,
8_6p,1702,3,1,21,1,yes,12.6,no,
8_7d,1765,3,3,21,1,yes,12.6,no,
8_7s,901,3,1,10,0,no,12.6,yes,
8_8d,1883,3,7,21,1,yes,12.6,no,
8_9d,1744,3,2,21,1,yes,12.6,no,
9_2,6274,4,0,100,5,yes,9.6,no,source
9_2n,3116,2,0,50,0,no,9.6,yes,normalised
"""


class Entry:
    __slots__ = ("id", "bytes", "pct", "blank", "rows", "zero_rows", "row1_zero",
                 "layout", "ends_lf", "note")

    def __init__(self, rec):
        self.id = rec[0]
        self.bytes = int(rec[1])
        self.pct = int(rec[2])
        self.blank = int(rec[3])
        self.rows = int(rec[4])
        self.zero_rows = int(rec[5])
        self.row1_zero = rec[6] == "yes"
        self.layout = rec[7]
        self.ends_lf = rec[8] == "yes"
        self.note = rec[9]


PROFILE = [Entry(r) for r in csv.reader(io.StringIO(_PROFILE_CSV))]
BY_ID = {e.id: e for e in PROFILE}

IDS = [
    "10_1", "10_1n", "12a_1202", "12a_1202z6", "15331", "1_1", "3_1", "3_1p", "3_1u", "4_1",
    "4_1d", "4_1p", "4_1z", "5_1", "5_1p", "5_1u", "5_2", "5_2d", "5_2r", "6_1", "6_2", "6_2d",
    "6_2p", "6_3d", "6_3z", "7_1", "7_1p", "7_2", "7_2d", "7_2r", "7_3", "7_3d", "7_4", "7_5",
    "7_5d", "7_6d", "7_6s", "7_7d", "8_1", "8_10s", "8_11", "8_11d", "8_12d", "8_12z", "8_13d",
    "8_13p", "8_14d", "8_14r", "8_15", "8_15d", "8_15p", "8_16", "8_17", "8_18", "8_18z",
    "8_19t", "8_19u", "8_1d", "8_2", "8_20r", "8_21d", "8_21p", "8_21r", "8_2d", "8_3", "8_3d",
    "8_3z", "8_4", "8_4d", "8_5", "8_6", "8_6p", "8_7d", "8_7s", "8_8d", "8_9d", "9_2", "9_2n",
]

# Knots present only through variants: nothing may be stored under these bare names.
VARIANT_ONLY = ["6_3", "7_6", "7_7", "8_7", "8_8", "8_9", "8_10", "8_12", "8_13", "8_14",
                "8_19", "8_20", "8_21"]

TOTALS = dict(bytes=114536, pct=240, blank=263, rows=1358, zero_rows=111, row1_zero=46,
              ends_lf=30, blank_texts=64, largest=6275)

LEGEND = "% lines  a_x(j) b_x(j)  a_y(j)  b_y(j)  a_z(j)  b_z(j)"
FORMULA = "% corresponding to  x(s) = sum_ja_x(j)cos(js))+b_x(j)sin(js)  etc"
FORMULA_T = "% corresponding to  x(t) = sum_ja_x(j)cos(jt))+b_x(j)sin(jt)  etc"
CLOSING = "% Fourier series must be checked"
SIGMA = b"\xce\xa3"

TEXT_3_1 = (
    "% Knot 3_1 (trefoil knot)\n"
    "    0.000000    0.224483    0.224483    0.000000    0.000000    0.000000\n"
    "    0.995730    0.000000    0.000000    0.995730    0.000000    0.000000\n"
    "    0.000000    0.000000    0.000000    0.000000    0.445727    0.000000\n"
    "    0.000000    0.000000    0.000000    0.000000    0.000000    0.000000\n"
    "    0.000000    0.221238   -0.221238    0.000000    0.000000    0.000000\n"
).encode("ascii")
TEXT_1_1 = (
    "% Simple Circle\n"
    "% generated by hand\n"
    + LEGEND + "\n"
    "    1.0       0.0     0.0     1.0     0.0     0.0"
).encode("ascii")

VERBATIM = {"3_1": TEXT_3_1, "1_1": TEXT_1_1}
TITLE_ONLY = ["3_1", "5_1", "7_1"]
TORUS = {"3_1u": "Torus(2,3)", "5_1u": "Torus(2,5)", "8_19t": "Torus(4,3)", "8_19u": "Torus(3,4)"}
CLOSING_IDS = ["7_3d", "7_4", "7_7d", "8_12d", "8_13d", "8_20r"]
NO_FORMULA = ["3_1", "5_1", "7_1", "1_1", "10_1n", "9_2n", "8_17"]

# Phrases that the named texts' comment lines must carry (case-insensitive).
REQUIRED_PHRASES = {
    "3_1": ["trefoil knot"],
    "4_1": ["figure-eight knot"],
    "5_1": ["cinquefoil knot"],
    "5_2": ["three-twist knot"],
    "6_1": ["stevedore knot"],
    "12a_1202": ["diagram"],
    "12a_1202z6": ["15211", "z6"],
    "5_2d": ["6_1d"],
    "8_13p": ["8_13s", "periodic form"],
    "8_18z": ["8_18", "z8"],
    "4_1z": ["z_4", "z4"],
    "6_3z": ["shape", "z4"],
    "8_3z": ["z4"],
    "8_12z": ["shape", "z4"],
    "6_3d": ["shape"],
    "7_2d": ["shape"],
    "7_5d": ["shape"],
    "10_1n": ["fourier projection of normalised points"],
    "9_2n": ["fourier projection of normalised points"],
    "8_17": ["fourier projection"],
    "10_1": ["ideal", "fourier coefficients", "a and b vectors", "constant term", "set to 0"],
    "9_2": ["ideal", "fourier coefficients", "a and b vectors", "constant term", "set to 0"],
    "8_5": ["least-squares fit", "harmonics 1 to 50"],
}
# Texts whose title line carries no identifier, and the one without a title line.
NO_ID_TITLE = ["8_15d", "8_21d"]
NO_TITLE = ["15331"]

_FIELD = {
    "12.6": (re.compile(r" +-?\d+\.\d{6}"), (12,) * 6),
    "12.3": (re.compile(r" +-?\d+\.\d{3}"), (12,) * 6),
    "13/12.6": (re.compile(r" +-?\d+\.\d{6}"), (13, 13, 12, 12, 12, 12)),
}
_ROW_96 = re.compile(r"[ -]\d\.\d{6}( [ -]\d\.\d{6}){5}")
_NUM = re.compile(r"[ \t]*([+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)")


def _six_numbers(line):
    """The six leading numbers as the lenient reader extracts them, or None."""
    pos, vals = 0, []
    for _ in range(6):
        m = _NUM.match(line, pos)
        if not m:
            return None
        vals.append(float(m.group(1)))
        pos = m.end()
    return vals


def read_blocks(text):
    """Line rules of the in-memory .fseries reader: list of (header, rows)."""
    blocks, header, rows = [], "", []
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # a final line feed adds no line
    for raw in lines:
        line = raw.rstrip(" \t\r\n")
        if not line or line[0] == "%":
            if rows:
                blocks.append((header, rows))
                header, rows = "", []
            if line:
                header = line[1:].lstrip(" \t")
            continue
        vals = _six_numbers(line)
        if vals is not None:
            rows.append(vals)
    if rows:
        blocks.append((header, rows))
    return blocks


def row_layout_ok(line, layout):
    if layout == "9.6":
        return _ROW_96.fullmatch(line) is not None
    pat, widths = _FIELD[layout]
    if len(line) != sum(widths):
        return False
    pos = 0
    for w in widths:
        if not pat.fullmatch(line[pos:pos + w]):
            return False
        pos += w
    return True


def _norm_legend(line):
    return " ".join(line.replace(":", " ").split())


def check_text(e, data, errors):
    """Check one text against its profile entry; return per-text counts."""
    err = lambda msg: errors.append("%s: %s" % (e.id, msg))
    if len(data) != e.bytes:
        err("size %d bytes, expected %d" % (len(data), e.bytes))
    if e.id in VERBATIM and data != VERBATIM[e.id]:
        err("text differs from the fixed text")
    for bad, name in ((b"\x00", "NUL"), (b"\t", "TAB"), (b"\r", "CR")):
        if bad in data:
            err("holds a %s byte" % name)
    want_sigma = 1 if e.id in ("10_1", "9_2") else 0
    if data.count(SIGMA) != want_sigma:
        err("holds %d CE A3 pairs, expected %d" % (data.count(SIGMA), want_sigma))
    if any(b >= 0x80 for b in data.replace(SIGMA, b"")):
        err("holds non-ASCII bytes besides CE A3")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as ex:
        err("not valid UTF-8 (%s)" % ex)
        return None
    if data.endswith(b"\n") != e.ends_lf:
        err("final line end %s, expected %s" % (data.endswith(b"\n"), e.ends_lf))
    if data.endswith(b"\n\n"):
        err("ends in more than one line feed")

    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    kinds = []
    for ln in lines:
        if ln.startswith("% "):
            kinds.append("C")
        elif ln.startswith(" %"):
            kinds.append("B")
        elif ln == "":
            kinds.append("E")
        else:
            kinds.append("R")
    has_closing = e.id in CLOSING_IDS
    body_kinds = kinds[:-1] if has_closing else kinds
    if has_closing:
        if lines[-1] != CLOSING or data.endswith(b"\n"):
            err("last line is not the closing line without a line end")
    elif CLOSING in lines:
        err("carries the closing line")
    pattern = "".join(body_kinds)
    m = re.fullmatch(r"(B*)(C*)(R+)", pattern)
    if not m:
        err("line kinds out of order: %s" % pattern)
        return None
    nb, nc, nr = len(m.group(1)), len(m.group(2)), len(m.group(3))
    npct = nc + (1 if has_closing else 0)
    if nb != e.blank:
        err("%d blank-led lines, expected %d" % (nb, e.blank))
    if npct != e.pct:
        err("%d comment lines, expected %d" % (npct, e.pct))
    if nr != e.rows:
        err("%d rows, expected %d" % (nr, e.rows))
    comments = lines[:nb + nc]
    row_lines = lines[nb + nc:nb + nc + nr]
    for ln in comments:
        if ln != ln.rstrip(" "):
            err("comment line ends in a blank: %r" % ln)
    if e.blank and nc != 3:
        err("texts with blank-led lines need exactly three comment lines before the rows")

    zero_rows, row1_zero = 0, False
    for k, ln in enumerate(row_lines):
        vals = _six_numbers(ln)
        if vals is None or ln.rstrip(" ") != ln:
            err("row %d is not six numbers: %r" % (k + 1, ln))
            continue
        if e.layout != "free" and not row_layout_ok(ln, e.layout):
            err("row %d breaks the %s layout: %r" % (k + 1, e.layout, ln))
        if any(abs(v) >= 10.0 for v in vals):
            err("row %d has a number of magnitude 10 or more" % (k + 1))
        if "-0.000" in ln and re.search(r"-0\.0+(?!\d*[1-9])", ln):
            err("row %d prints a negative zero" % (k + 1))
        if all(v == 0.0 for v in vals):
            zero_rows += 1
            if k == 0:
                row1_zero = True
    if zero_rows != e.zero_rows:
        err("%d all-zero rows, expected %d" % (zero_rows, e.zero_rows))
    if row1_zero != e.row1_zero:
        err("first row zero is %s, expected %s" % (row1_zero, e.row1_zero))
    if e.id == "12a_1202z6":
        zs = [k + 1 for k, ln in enumerate(row_lines) if all(v == 0 for v in _six_numbers(ln))]
        if zs != list(range(2, 21, 2)):
            err("zero rows %s, expected the even rows" % zs)
    if e.id == "15331":
        zs = [k + 1 for k, ln in enumerate(row_lines) if all(v == 0 for v in _six_numbers(ln))]
        if zs != list(range(1, 22, 2)):
            err("zero rows %s, expected the odd rows" % zs)

    blocks = read_blocks(text)
    if len(blocks) != 1 or len(blocks[0][1]) != e.rows:
        err("the reader sees %d blocks, expected one of %d rows" % (len(blocks), e.rows))

    legends = [ln for ln in comments if ln.startswith("% lines")]
    formulas = [ln for ln in comments if ln.startswith("% corresponding to")]
    if e.id in TITLE_ONLY:
        if legends or formulas or len(comments) != 1:
            err("must hold its title line only")
    else:
        if len(legends) != 1 or _norm_legend(legends[0]) != _norm_legend(LEGEND):
            err("needs exactly one column legend")
    if e.id in NO_FORMULA:
        if formulas:
            err("must not hold a formula line")
    elif len(formulas) != 1:
        err("needs exactly one formula line")
    if e.id in TORUS and (not formulas or formulas[0] != FORMULA_T):
        err("torus text needs the formula line in t")
    if e.blank and nc == 3 and not (comments[nb + 1].startswith("% lines")
                                    and comments[nb + 2].startswith("% corresponding to")):
        err("the three comment lines must end with the legend and the formula line")
    if e.id in ("10_1", "9_2") and not (formulas and SIGMA.decode() in formulas[0]):
        err("the formula line must carry the sigma")

    low = "\n".join(comments).lower()
    for phrase in REQUIRED_PHRASES.get(e.id, []):
        if phrase not in low:
            err("comment lines lack %r" % phrase)
    if e.id in TORUS and TORUS[e.id] not in comments[0]:
        err("title lacks %r" % TORUS[e.id])
    if e.id in NO_TITLE and any("knot" in ln.lower() for ln in comments):
        err("must have no title line")
    if e.id in NO_ID_TITLE and e.id in comments[0]:
        err("title must not carry the identifier")
    if e.id not in NO_TITLE + NO_ID_TITLE + TITLE_ONLY + list(TORUS) + ["1_1", "5_2d", "6_3d", "6_3z", "7_2d",
                                                          "7_5d", "8_12z", "12a_1202z6"]:
        base = re.match(r"\d+a?_\d+", e.id)
        if base and base.group(0) not in comments[0]:
            err("title line does not name the knot")
    return dict(bytes=len(data), pct=npct, blank=nb, rows=nr, zero_rows=zero_rows,
                row1_zero=int(row1_zero), ends_lf=int(data.endswith(b"\n")),
                blank_texts=int(nb > 0), legend=int(bool(legends) and legends[0] == LEGEND),
                formula=int(bool(formulas) and formulas[0] == FORMULA),
                formula_t=int(bool(formulas) and formulas[0] == FORMULA_T),
                closing=int(has_closing))


def check_manifest(knot_dir, errors):
    path = os.path.join(knot_dir, "MANIFEST.tsv")
    try:
        with open(path, encoding="utf-8") as f:
            rows = [ln.rstrip("\n").split("\t") for ln in f if not ln.startswith("#")]
    except OSError:
        errors.append("MANIFEST.tsv missing")
        return
    head, body = rows[0], rows[1:]
    if "id" not in head or "check" not in head:
        errors.append("MANIFEST.tsv lacks the id or check column")
        return
    ids = [r[head.index("id")] for r in body]
    if sorted(ids) != sorted(IDS):
        errors.append("MANIFEST.tsv does not list the 78 identifiers once each")
    for r in body:
        if len(r) != len(head):
            errors.append("MANIFEST.tsv row with %d fields: %s" % (len(r), r[:1]))
        elif r[head.index("check")] not in ("pass", "fail", "n/a"):
            errors.append("MANIFEST.tsv: check of %s is %r" % (r[0], r[head.index("check")]))


def check_dir(knot_dir):
    errors = []
    names = sorted(n for n in os.listdir(knot_dir) if n.endswith(".fseries"))
    found = []
    for n in names:
        m = re.fullmatch(r"knot\.(.+)\.fseries", n)
        if not m:
            errors.append("stray file %s" % n)
        else:
            found.append(m.group(1))
    if sorted(found) != sorted(IDS):
        missing = sorted(set(IDS) - set(found))
        extra = sorted(set(found) - set(IDS))
        errors.append("identifier set differs: missing %s, extra %s" % (missing, extra))
    if sorted(IDS, key=lambda s: s.encode()) != IDS or len(set(IDS)) != 78:
        errors.append("identifier list is not 78 names in byte order")
    for bare in VARIANT_ONLY:
        if bare in found:
            errors.append("entry under the bare name %s" % bare)
    for i in found:
        if not re.fullmatch(r"[0-9a-z_]+", i):
            errors.append("identifier %r holds other characters" % i)

    sums = {}
    largest = 0
    for e in PROFILE:
        path = os.path.join(knot_dir, "knot.%s.fseries" % e.id)
        if not os.path.exists(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        largest = max(largest, len(data))
        counts = check_text(e, data, errors)
        if counts:
            for k, v in counts.items():
                sums[k] = sums.get(k, 0) + v
    if not errors:
        for k, v in TOTALS.items():
            got = largest if k == "largest" else sums.get(k)
            if got != v:
                errors.append("total %s is %s, expected %s" % (k, got, v))
        for k, v in (("legend", 70), ("formula", 63), ("formula_t", 4), ("closing", 6)):
            if sums.get(k) != v:
                errors.append("%s lines verbatim in %s texts, expected %d" % (k, sums.get(k), v))
    check_manifest(knot_dir, errors)
    return errors


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    knot_dir = argv[1] if len(argv) > 1 else os.path.join(here, "..", "..", "knot_fseries")
    if not os.path.isdir(knot_dir):
        print("check_knot_fseries: no directory %s" % knot_dir, file=sys.stderr)
        return 1
    errors = check_dir(knot_dir)
    for msg in errors:
        print("check_knot_fseries: " + msg, file=sys.stderr)
    if errors:
        print("check_knot_fseries: %d problem(s) in %s" % (len(errors), knot_dir), file=sys.stderr)
        return 1
    print("check_knot_fseries: 78 texts match the profile")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
