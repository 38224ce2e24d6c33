#!/usr/bin/env python3
"""Checks the ideal-database resource files against their fixed profile.

Standard library only.  The profile constants below are also imported by the
generator (tools/data/gen_ideal_resources.py), so the data are produced and checked
against one table.

Usage: check_ideal_resources.py [--resources DIR] [--quiet]
Exit status 0 when every hard item holds; statistical items are reported only.
"""

import argparse
import os
import re
import statistics
import sys

PIECE = 120000
PACK_LIMIT = 400000

# ---------------------------------------------------------------------------
# Profile: the seven markup texts
# ---------------------------------------------------------------------------

AUTHOR = "Tarq shape generator"

# name -> (bytes, lines, ends with LF, title attribute, title, date)
MARKUP = {
    "ideal.txt": (5587284, 63852, False, "TiABe", "Database of Ideal Knots 3-10 crossings",
                  "7/11/2016 9:37:42 p.m."),
    "idealLinks.txt": (5393494, 61944, True, "Title", "Database of Ideal Links 2-9 crossings",
                       "7/14/2016 3:12:05 p.m."),
    "idealLinks_10a.txt": (7145724, 82081, True, "Title", "Database of Ideal Links L10a",
                           "7/18/2016 11:48:27 a.m."),
    "idealLinks_10n.txt": (5067129, 58192, True, "Title", "Database of Ideal Links L10n",
                           "7/19/2016 8:03:51 a.m."),
    "ideal_11a.txt": (7809725, 89184, False, "Title", "Database of Ideal Knots K11a",
                      "7/22/2016 5:26:14 p.m."),
    "ideal_11n.txt": (3948742, 45213, True, "Title", "Database of Ideal Knots K11n",
                      "7/25/2016 10:41:09 a.m."),
}
TOP_LEVEL = ["ideal.txt", "idealLinks.txt", "idealLinks_10a.txt", "idealLinks_10n.txt",
             "ideal_11a.txt", "ideal_11n.txt", "ideal_database.txt"]
TOTAL_BYTES = 51901090
DISTINCT_BYTES = 46313806

# AB database
AB_KNOT_COUNTS = {3: 1, 4: 1, 5: 2, 6: 3, 7: 7, 8: 21, 9: 49, 10: 166}
AB_LINKS = ["L2a1", "L4a1", "L5a1", "L6a1", "L8a1", "L6a4", "L6n1"]
AB_LINK_GROUPS = {"L2a1": 2, "L4a1": 2, "L5a1": 2, "L6a1": 2, "L8a1": 2, "L6a4": 3, "L6n1": 3}
AB_K11 = ["K11a367", "K11a247"]
AB_KNOT_ROWS = 60176          # rows of the 253 one-component knots
AB_ROWS = 63278               # all rows of ideal.txt
AB_SHORT_ROWS = 14
AB_LINK_ROWS = AB_ROWS - AB_SHORT_ROWS - AB_KNOT_ROWS   # 3,088

ENTRY_0_1_1 = (
    '<AB Id="0:1:1" Conway="0" L="6.283185" D=" 1.000000">\n'
    '  <Coeff I="  1" A=" 1.000000, 0.000000, 0.000000" B=" 0.000000, 1.000000, 0.000000" />\n'
    '</AB>\n')
ENTRY_0_1_2 = (
    '<AB Id="0:1:2" Conway="0" L="12.0" D="1.0" n="2">\n'
    '  <Component I="1">\n'
    '    <Coeff I="0" A="-1.5, 0.0, 0.0" B=" 0.0, 0.0, 0.0" />\n'
    '    <Coeff I="1" A=" 1.0, 0.0, 0.0" B=" 0.0, 1.0, 0.0" />\n'
    '  </Component>\n'
    '  <Component I="2">\n'
    '    <Coeff I="0" A=" 1.5, 0.0, 0.0" B=" 0.0, 0.0, 0.0" />\n'
    '    <Coeff I="1" A=" 1.0, 0.0, 0.0" B=" 0.0, 1.0, 0.0" />\n'
    '  </Component>\n'
    '</AB>\n')
# The example record of the reader: Id, Conway, L, D and the last index.
ENTRY_3_1_1_TAG = '<AB Id="3:1:1" Conway="3" L="16.371637" D=" 1.000000">'
ENTRY_3_1_1_LAST = 250
# Entries with n: (id, Conway, L, D, n); the Conway strings of 2:2:1 and 6:2:3 are this data's own
N_ENTRIES = {"0:1:2": ("0", "12.0", "1.0", 2), "2:2:1": ("2", "12.0", "1.0", 2),
             "6:2:3": (".1", "18.0", "1.0", 3)}

# TL link databases: name -> (prefix counts in order, groups, rows, group distribution 2..5)
TL = {
    "idealLinks.txt": ([("L2a", 1), ("L4a", 1), ("L5a", 1), ("L6a", 5), ("L6n", 1), ("L7a", 7),
                        ("L7n", 2), ("L8a", 21), ("L8n", 8), ("L9a", 55), ("L9n", 28)],
                       303, 61076, (91, 35, 4, 0)),
    "idealLinks_10a.txt": ([("L10a", 174)], 412, 80907, (121, 43, 9, 1)),
    "idealLinks_10n.txt": ([("L10n", 113)], 295, 57374, (64, 31, 16, 2)),
}
# HT knot databases: name -> (prefix, count, rows)
HT = {"ideal_11a.txt": ("K11a", 367, 88448), "ideal_11n.txt": ("K11n", 185, 44656)}
MAX_INDEX = 256
MAX_SKIP = 194

# ---------------------------------------------------------------------------
# Profile: point lists
# ---------------------------------------------------------------------------

PL_DIR = "ideal_12_data"
PL_FAMILIES = {"12a": (1288, 6926524, 3653, 8614, 88, 160), "12n": (888, 4435184, 4021, 6055, 97, 146)}
PL_LINES = 273638
PL_PLAIN = ["12a457.txt", "12a880.txt", "12n73.txt"]
PL_12A1_SIZE = 4982
PL_12A1_LINE1 = " -1.483701e+00 1.003256e+00 1.003894e+00"
PL_MIN_NAME = "12a1272.txt"

# ---------------------------------------------------------------------------
# Packs: every file range and byte total that the data description states
# (first key, last key, number of pieces, bytes); top-level ranges are given as
# (file, first piece, last piece) runs.
# ---------------------------------------------------------------------------

def _p(name):
    return PL_DIR + "/" + name

STATED_PACKS = {
    0: ([("ideal.txt", 0, 2)], 360000),
    1: ([("ideal.txt", 3, 5)], 360000),
    10: ([("ideal.txt", 30, 32)], 360000),
    11: ([("ideal.txt", 33, 35)], 360000),
    12: ([("ideal.txt", 36, 38)], 360000),
    13: ([("ideal.txt", 39, 41)], 360000),
    15: ([("ideal.txt", 45, 46), ("idealLinks.txt", 0, 0)], 307284),
    64: ([("idealLinks_10n.txt", 40, 42), ("ideal_11a.txt", 0, 0)], 387129),
    86: ([("ideal_11a.txt", 64, 65), ("ideal_11n.txt", 0, 1)], 369725),
}
for _k in range(12):
    STATED_PACKS[100 + _k] = ([("ideal_database.txt", 8 + 3 * _k, 10 + 3 * _k)], 360000)

# pack -> (first point list, last point list, number of files, pack bytes)
STATED_PL_PACKS = {
    112: ("12a1.txt", "12a1011.txt", 16, 397254),
    113: ("12a1012.txt", "12a1076.txt", 71, 396549),
    114: ("12a1077.txt", "12a1140.txt", 72, 396743),
    115: ("12a1141.txt", "12a1207.txt", 74, 399931),
    116: ("12a1208.txt", "12a1271.txt", 71, 399265),
    117: ("12a1272.txt", "12a184.txt", 80, 398313),
    118: ("12a185.txt", "12a252.txt", 76, 397512),
    119: ("12a253.txt", "12a32.txt", 75, 398254),
    120: ("12a320.txt", "12a386.txt", 73, 395213),
    121: ("12a387.txt", "12a451.txt", 73, 395242),
    122: ("12a452.txt", "12a517.txt", 73, 397464),
    123: ("12a518.txt", "12a589.txt", 79, 398797),
    124: ("12a59.txt", "12a655.txt", 74, 399190),
    125: ("12a656.txt", "12a720.txt", 73, 397665),
    126: ("12a721.txt", "12a791.txt", 78, 397465),
    127: ("12a792.txt", "12a860.txt", 77, 396304),
    128: ("12a861.txt", "12a923.txt", 70, 398782),
    129: ("12a924.txt", "12a987.txt", 70, 399506),
    130: ("12a988.txt", "12n158.txt", 79, 397284),
    131: ("12n159.txt", "12n230.txt", 81, 399037),
    132: ("12n231.txt", "12n304.txt", 82, 398378),
    133: ("12n305.txt", "12n379.txt", 82, 399402),
    134: ("12n38.txt", "12n451.txt", 81, 397880),
    135: ("12n452.txt", "12n523.txt", 80, 394426),
    136: ("12n524.txt", "12n596.txt", 80, 396207),
    137: ("12n597.txt", "12n665.txt", 77, 395470),
    138: ("12n666.txt", "12n736.txt", 79, 395278),
    141: ("12n875.txt", "12n99.txt", 27, 139366),
}
N_PACKS = 142
N_PIECES = 2517
FULLEST_PACK = (115, 399931)
# (file, first pack, last pack)
FILE_PACK_RANGES = [("ideal.txt", 0, 15), ("idealLinks.txt", 15, 30), ("idealLinks_10a.txt", 30, 50),
                    ("idealLinks_10n.txt", 50, 64), ("ideal_11a.txt", 64, 86), ("ideal_11n.txt", 86, 97),
                    ("ideal_database.txt", 97, 112)]


def point_list_names():
    """Point-list file names in bytewise order."""
    names = ["12a%d.txt" % k for k in range(1, 1289)] + ["12n%d.txt" % k for k in range(1, 889)]
    return sorted(names, key=lambda s: s.encode())


def file_order(resources):
    """Relative names in embedding order: top level bytewise, then the subdirectory bytewise."""
    top = sorted((n for n in os.listdir(resources) if os.path.isfile(os.path.join(resources, n))),
                 key=lambda s: s.encode())
    sub_dir = os.path.join(resources, PL_DIR)
    sub = sorted((n for n in os.listdir(sub_dir) if os.path.isfile(os.path.join(sub_dir, n))),
                 key=lambda s: s.encode()) if os.path.isdir(sub_dir) else []
    return top + [PL_DIR + "/" + n for n in sub]


def simulate_packs(named_sizes):
    """Greedy packing of (name, size) in stream order -> list of packs of (name, piece, length)."""
    packs, cur, total = [], [], 0
    for name, size in named_sizes:
        npieces = max(1, -(-size // PIECE))
        for k in range(npieces):
            length = min(PIECE, size - k * PIECE)
            if cur and total + length > PACK_LIMIT:
                packs.append(cur)
                cur, total = [], 0
            cur.append((name, k, length))
            total += length
    if cur:
        packs.append(cur)
    return packs


# ---------------------------------------------------------------------------
# Checks
# ---------------------------------------------------------------------------

class Report:
    def __init__(self, quiet=False):
        self.failures = []
        self.notes = []
        self.quiet = quiet

    def check(self, cond, what):
        if not cond:
            self.failures.append(what)
        return cond

    def note(self, what):
        self.notes.append(what)


NUM = r"[ -]\d\.\d{6}"
TRIPLE = NUM + "," + NUM + "," + NUM
ROW_RE = re.compile(r'  <Coeff I="([ \d]{2}\d)" A="(' + TRIPLE + ')" B="(' + TRIPLE + ')" />$')
SNUM = r"[ -]\d\.\d"
SHORT_ROW_RE = re.compile(r'    <Coeff I="(\d+)" A="(' + SNUM + "," + SNUM + "," + SNUM + ')" B="('
                          + SNUM + "," + SNUM + "," + SNUM + ')" />$')
L9 = r"[ \d]\d\.\d{6}"


def _triple(s):
    return [float(v) for v in s.split(",")]


def _check_values(rep, where, a, b):
    for v in a + b:
        if abs(v) >= 3.0:
            rep.check(False, "%s: value %r reaches 3" % (where, v))
            return


def check_common_text(rep, name, data):
    rep.check(all(b == 10 or 32 <= b < 127 for b in data), name + ": bytes other than printable ASCII and LF")
    text = data.decode("ascii", errors="replace")
    rep.check("\n\n" not in text and not text.startswith("\n"), name + ": empty line")
    return text


def check_markup(rep, name, data, stats):
    size, nlines, ends_lf, title_attr, title, date = MARKUP[name]
    text = check_common_text(rep, name, data)
    rep.check(len(data) == size, "%s: %d bytes, expected %d" % (name, len(data), size))
    rep.check(text.endswith("</DATA>\n") if ends_lf else text.endswith("</DATA>"),
              name + ": final line end rule")
    lines = text[:-1].split("\n") if ends_lf else text.split("\n")
    rep.check(len(lines) == nlines, "%s: %d lines, expected %d" % (name, len(lines), nlines))
    expected_first = '<DATA %s="%s" Author="%s" Date="%s">' % (title_attr, title, AUTHOR, date)
    rep.check(lines[0] == expected_first, name + ": first line " + lines[0][:80])
    rep.check(lines[-1] == "</DATA>", name + ": last line")
    for ln in lines:
        if ln.startswith("<") or ln.startswith(" "):
            continue
        rep.check(False, name + ": line not a tag: " + ln[:60])
        break
    return lines


TAG_ATTR_RE = re.compile(r' ([A-Za-z]+)="([^"<>]*)"')


def tag_attrs(line, element):
    m = re.match(r"<" + element + r"((?: [A-Za-z]+=\"[^\"<>]*\")*)>$", line)
    if not m:
        return None
    return TAG_ATTR_RE.findall(m.group(1))


def read_groups(rep, where, lines, i, end_tag, group_open, group_close, short=False):
    """Reads the lines of one entry body from index i up to end_tag; returns (groups, next index).
    group_open is a regex for a group tag, group_close the closing line (None: never closed)."""
    groups = []
    cur = None
    while i < len(lines) and lines[i] != end_tag:
        ln = lines[i]
        if group_open is not None and re.match(group_open, ln):
            cur = {"tag": ln, "rows": []}
            groups.append(cur)
        elif group_close is not None and ln == group_close:
            rep.check(cur is not None, where + ": closing group without open")
            cur = None
        else:
            m = (SHORT_ROW_RE if short else ROW_RE).match(ln)
            if not rep.check(m is not None, where + ": bad row line: " + ln[:90]):
                i += 1
                continue
            if cur is None:
                cur = {"tag": None, "rows": []}
                groups.append(cur)
            idx = int(m.group(1))
            a, b = _triple(m.group(2)), _triple(m.group(3))
            cur["rows"].append((idx, a, b))
        i += 1
    return groups, i + 1


def check_rows(rep, where, rows, start, last_range=None, max_rows=None, stats=None):
    idx = [r[0] for r in rows]
    rep.check(len(idx) > 0 and idx[0] == start, "%s: first index %r, expected %d" % (where, idx[:1], start))
    rep.check(all(b > a for a, b in zip(idx, idx[1:])), where + ": indices not strictly rising")
    rep.check(idx[-1] <= MAX_INDEX, where + ": index above 256")
    skips = idx[-1] - start + 1 - len(idx)
    rep.check(0 <= skips <= MAX_SKIP, "%s: %d skipped indices" % (where, skips))
    if last_range is not None:
        rep.check(last_range[0] <= idx[-1] <= last_range[1], "%s: last index %d" % (where, idx[-1]))
    if max_rows is not None:
        rep.check(len(idx) <= max_rows, "%s: %d rows" % (where, len(idx)))
    if start == 0:
        rep.check(rows[0][2] == [0.0, 0.0, 0.0], where + ": B of the offset row is not zero")
    for r in rows:
        _check_values(rep, where, r[1], r[2])
    if stats is not None:
        stats.setdefault("skips", []).append(skips)
    return skips


def ab_ids():
    ids = ["0:1:1", "0:1:2", "2:2:1"]
    for c, n in AB_KNOT_COUNTS.items():
        for i in range(1, n + 1):
            ids.append("%d:1:%d" % (c, i))
            if (c, i) == (6, 3):
                ids.append("6:2:3")
    return ids + AB_K11 + AB_LINKS


def check_ab(rep, data, stats):
    name = "ideal.txt"
    lines = check_markup(rep, name, data, stats)
    text = data.decode("ascii", errors="replace")
    rep.check(text.count("<AB") == 263, name + ": '<AB' occurs %d times" % text.count("<AB"))
    i = 1
    entries = []
    while i < len(lines) - 1:
        ln = lines[i]
        attrs = tag_attrs(ln, "AB")
        if not rep.check(attrs is not None, "ideal.txt line %d: expected an AB tag: %s" % (i + 1, ln[:80])):
            return
        start = i
        eid = attrs[0][1]
        short = eid in N_ENTRIES
        group_open = r'  <Component I="\d+">$' if short else r'<Component I="\d+" L="' + L9 + '">$'
        group_close = "  </Component>" if short else "</Component>"
        groups, i = read_groups(rep, "ideal.txt " + eid, lines, i + 1, "</AB>", group_open, group_close, short)
        entries.append((eid, attrs, groups, "\n".join(lines[start:i]) + "\n"))
    ids = [e[0] for e in entries]
    rep.check(ids == ab_ids(), "ideal.txt: entry identifiers or their order")
    knot_rows = link_rows = short_rows = 0
    for eid, attrs, groups, block in entries:
        names = [a[0] for a in attrs]
        vals = dict(attrs)
        where = "ideal.txt " + eid
        if eid in N_ENTRIES:
            conway, lval, dval, n = N_ENTRIES[eid]
            rep.check(names == ["Id", "Conway", "L", "D", "n"], where + ": attribute list")
            rep.check((vals.get("Conway"), vals.get("L"), vals.get("D"), vals.get("n")) == (conway, lval, dval, str(n)),
                      where + ": attribute values")
            rep.check(len(groups) == n and all(len(g["rows"]) == 2 and [r[0] for r in g["rows"]] == [0, 1]
                                              for g in groups), where + ": groups")
            rep.check(all(g["tag"] == '  <Component I="%d">' % (k + 1) for k, g in enumerate(groups)),
                      where + ": group tags")
            short_rows += sum(len(g["rows"]) for g in groups)
        elif eid in AB_LINKS:
            rep.check(names == ["Id", "Conway", "D"], where + ": attribute list")
            rep.check(vals.get("D") == " 1.000000", where + ": D")
            rep.check(len(groups) == AB_LINK_GROUPS[eid], where + ": group count")
            for k, g in enumerate(groups):
                rep.check(g["tag"] is not None and g["tag"].startswith('<Component I="%d" L="' % (k + 1)),
                          where + ": group tag")
                check_rows(rep, where, g["rows"], 0, stats=stats)
                link_rows += len(g["rows"])
        else:
            rep.check(names == ["Id", "Conway", "L", "D"], where + ": attribute list")
            rep.check(len(groups) == 1 and groups[0]["tag"] is None, where + ": rows outside groups expected")
            if eid == "0:1:1":
                rep.check(block == ENTRY_0_1_1, where + ": text")
            else:
                rep.check(re.fullmatch(L9, vals.get("L", "")) is not None, where + ": L layout")
                rep.check(vals.get("D") == ("1.000000" if eid == "4:1:1" else " 1.000000"), where + ": D")
                check_rows(rep, where, groups[0]["rows"], 1, (249, 256), 253, stats=stats)
            knot_rows += len(groups[0]["rows"]) if groups else 0
            stats.setdefault("ab_rows", []).append(len(groups[0]["rows"]) if groups else 0)
        for a in attrs:
            rep.check('"' not in a[1] and "<" not in a[1] and ">" not in a[1], where + ": quote in a value")
    rep.check(knot_rows == AB_KNOT_ROWS, "ideal.txt: %d knot rows" % knot_rows)
    rep.check(link_rows == AB_LINK_ROWS, "ideal.txt: %d link rows" % link_rows)
    rep.check(short_rows == AB_SHORT_ROWS, "ideal.txt: %d short rows" % short_rows)
    by_id = {e[0]: e for e in entries}
    rep.check(by_id["0:1:2"][3] == ENTRY_0_1_2, "ideal.txt 0:1:2: text")
    rep.check(by_id["3:1:1"][3].split("\n")[0] == ENTRY_3_1_1_TAG, "ideal.txt 3:1:1: open tag")
    rep.check(by_id["3:1:1"][2][0]["rows"][-1][0] == ENTRY_3_1_1_LAST, "ideal.txt 3:1:1: last index")
    l2 = by_id["L2a1"][2]
    rep.check([[r[0] for r in g["rows"]] for g in l2] == [[0, 1], [0, 1]], "L2a1: rows")
    rep.check([g["rows"][0][1] for g in l2] == [[-1.0, 0.0, 0.0], [1.0, 0.0, 0.0]], "L2a1: offsets")
    rep.check(max(stats.get("ab_rows", [0])) == 253, "ideal.txt: no knot with 253 rows")
    stats["ab_entries"] = by_id


def check_tl(rep, name, data, stats):
    lines = check_markup(rep, name, data, stats)
    prefixes, ngroups, nrows, dist = TL[name]
    ids = ["%s%d" % (p, k) for p, n in prefixes for k in range(1, n + 1)]
    i = 1
    entries = []
    while i < len(lines) - 1:
        attrs = tag_attrs(lines[i], "TL")
        if not rep.check(attrs is not None, "%s line %d: expected a TL tag" % (name, i + 1)):
            return
        start = i
        groups, i = read_groups(rep, name, lines, i + 1, "</TL>", r'<STRING I="\d+" L="' + L9 + '">$', "</STRING>")
        entries.append((attrs, groups, "\n".join(lines[start:i]) + "\n"))
    rep.check([dict(e[0]).get("Id") for e in entries] == ids, name + ": entry identifiers or their order")
    counts = [0, 0, 0, 0]
    rows = groups_total = 0
    for attrs, groups, block in entries:
        where = name + " " + dict(attrs).get("Id", "?")
        rep.check([a[0] for a in attrs] == ["Id", "Conway", "D"], where + ": attribute list")
        rep.check(dict(attrs).get("D") == " 1.000000", where + ": D")
        rep.check(2 <= len(groups) <= 5, where + ": group count")
        if 2 <= len(groups) <= 5:
            counts[len(groups) - 2] += 1
        for k, g in enumerate(groups):
            rep.check(g["tag"] is not None and g["tag"].startswith('<STRING I="%d" L="' % (k + 1)), where + ": group tag")
            check_rows(rep, where, g["rows"], 0, stats=stats)
            rows += len(g["rows"])
        groups_total += len(groups)
        stats.setdefault("tl_blocks", {})[dict(attrs).get("Id")] = block
    rep.check(groups_total == ngroups, "%s: %d groups" % (name, groups_total))
    rep.check(rows == nrows, "%s: %d rows" % (name, rows))
    rep.check(tuple(counts) == dist, "%s: group distribution %r" % (name, counts))


def check_ht(rep, name, data, stats):
    lines = check_markup(rep, name, data, stats)
    prefix, count, nrows = HT[name]
    eleven_n = name == "ideal_11n.txt"
    text = data.decode("ascii", errors="replace")
    if eleven_n:
        rep.check("</STRING>" not in text, name + ": a closing STRING tag")
    i = 1
    ids = []
    rows = 0
    while i < len(lines) - 1:
        attrs = tag_attrs(lines[i], "HT")
        if not rep.check(attrs is not None, "%s line %d: expected an HT tag" % (name, i + 1)):
            return
        vals = dict(attrs)
        where = name + " " + vals.get("Id", "?")
        rep.check([a[0] for a in attrs] == ["Id", "Conway", "L", "D"], where + ": attribute list")
        rep.check(re.fullmatch(L9, vals.get("L", "")) is not None and vals.get("D") == " 1.000000",
                  where + ": L or D")
        start = i
        i += 1
        if eleven_n:
            rep.check(lines[i] == '<STRING I="1" L="%s">' % vals.get("L"), where + ": STRING line")
            i += 1
        groups, i = read_groups(rep, where, lines, i, "</HT>", None, None)
        rep.check(len(groups) == 1, where + ": rows")
        if groups:
            check_rows(rep, where, groups[0]["rows"], 1, stats=stats)
            rows += len(groups[0]["rows"])
        ids.append(vals.get("Id"))
        stats.setdefault("ht_blocks", {})[vals.get("Id")] = "\n".join(lines[start:i]) + "\n"
    rep.check(ids == ["%s%d" % (prefix, k) for k in range(1, count + 1)], name + ": entry identifiers")
    rep.check(rows == nrows, "%s: %d rows" % (name, rows))


EXP_LINE = re.compile(r"( -?\d\.\d{6}e[+-]\d\d){3}")
PLAIN_NUM = re.compile(r"-?\d+\.\d+|-?\d+")


def _sig_digits(s):
    d = s.lstrip("-").replace(".", "").lstrip("0")
    return len(d)


def check_point_lists(rep, resources, stats):
    sub = os.path.join(resources, PL_DIR)
    names = sorted(os.listdir(sub), key=lambda s: s.encode()) if os.path.isdir(sub) else []
    rep.check(names == point_list_names(), "point lists: names or ranges")
    totals = {"12a": 0, "12n": 0}
    lines_total = 0
    sizes = {}
    line_counts = {"12a": [], "12n": []}
    ratios, radii, spreads = [], [], []
    for nm in names:
        with open(os.path.join(sub, nm), "rb") as f:
            data = f.read()
        fam = nm[:3]
        sizes[nm] = len(data)
        totals[fam] += len(data)
        where = PL_DIR + "/" + nm
        text = check_common_text(rep, where, data)
        rep.check(text.endswith("\n"), where + ": no final LF")
        lines = text[:-1].split("\n")
        lines_total += len(lines)
        line_counts[fam].append(len(lines))
        pts = []
        if nm in PL_PLAIN:
            for ln in lines:
                parts = ln.split(" ")
                ok = len(parts) == 3 and all(re.fullmatch(r"-?\d+\.\d+", p) and _sig_digits(p) <= 16 for p in parts)
                if not rep.check(ok, where + ": plain line " + ln[:60]):
                    break
                pts.append([float(p) for p in parts])
        else:
            for ln in lines:
                if not rep.check(EXP_LINE.fullmatch(ln) is not None, where + ": line " + ln[:60]):
                    break
                pts.append([float(p) for p in ln.split()])
        if len(pts) != len(lines) or len(pts) < 3:
            continue
        rep.check(pts[0] != pts[-1], where + ": first point repeated at the end")
        steps = [sum((a - b) ** 2 for a, b in zip(p, q)) ** 0.5 for p, q in zip(pts, pts[1:])]
        close = sum((a - b) ** 2 for a, b in zip(pts[-1], pts[0])) ** 0.5
        mean = sum(steps) / len(steps)
        ratios.append((close / mean, nm))
        spreads.append((max(steps) - min(steps)) / mean)
        c = [sum(p[k] for p in pts) / len(pts) for k in range(3)]
        radii.append((max(sum((p[k] - c[k]) ** 2 for k in range(3)) ** 0.5 for p in pts), nm))
    for fam, (count, total, smin, smax, lmin, lmax) in PL_FAMILIES.items():
        fam_sizes = [v for k, v in sizes.items() if k.startswith(fam)]
        if not fam_sizes:
            continue
        rep.check(totals[fam] == total, "%s: %d bytes in all, expected %d" % (fam, totals[fam], total))
        rep.check(min(fam_sizes) == smin and max(fam_sizes) == smax,
                  "%s: sizes %d..%d" % (fam, min(fam_sizes), max(fam_sizes)))
        rep.check(min(line_counts[fam]) == lmin and max(line_counts[fam]) == lmax,
                  "%s: lines %d..%d" % (fam, min(line_counts[fam]), max(line_counts[fam])))
    rep.check(lines_total == PL_LINES, "point lists: %d lines" % lines_total)
    if sizes:
        rep.check(sizes.get("12a1.txt") == PL_12A1_SIZE, "12a1.txt size")
        smallest = min(sizes.values())
        rep.check(sizes.get(PL_MIN_NAME) == smallest and list(sizes.values()).count(smallest) == 1,
                  "12a1272.txt is not the unique smallest text")
        with open(os.path.join(sub, "12a1.txt"), "rb") as f:
            rep.check(f.readline().decode().rstrip("\n") == PL_12A1_LINE1, "12a1.txt first line")
    if ratios:
        rs = sorted(r for r, _ in ratios)
        med = statistics.median(rs)
        rep.note("closing step / mean step: median %.3f, max %.3f (%s)" % (med, rs[-1], max(ratios)[1]))
        rep.note("step spread (max-min)/mean: median %.3f" % statistics.median(spreads))
        rep.note("farthest point from centroid: %.3f .. %.3f" % (min(radii)[0], max(radii)[0]))
        rep.check(abs(med - 0.94) <= 0.05 and rs[-1] <= 5.1 + 1e-9, "closing ratio statistics")
        rep.check(min(radii)[0] >= 2.5 - 0.01 and max(radii)[0] <= 4.3 + 0.01, "radius range")
    stats["pl_sizes"] = sizes


def check_packs(rep, resources):
    order = file_order(resources)
    rep.check(order[:7] == TOP_LEVEL and len(order) == 2183, "resource directory: file set")
    named = [(n, os.path.getsize(os.path.join(resources, n))) for n in order]
    rep.check(sum(s for _, s in named) == TOTAL_BYTES, "total bytes %d" % sum(s for _, s in named))
    packs = simulate_packs(named)
    errors = compare_pack_table(packs)
    for e in errors:
        rep.check(False, e)
    return packs


def compare_pack_table(packs):
    """Differences between simulated packs and the stated table; an empty list when they agree."""
    errors = []
    if len(packs) != N_PACKS:
        errors.append("%d packs, expected %d" % (len(packs), N_PACKS))
    npieces = sum(len(p) for p in packs)
    if npieces != N_PIECES:
        errors.append("%d pieces, expected %d" % (npieces, N_PIECES))
    totals = [sum(x[2] for x in p) for p in packs]
    for k, (runs, total) in STATED_PACKS.items():
        if k >= len(packs):
            continue
        want = [(n, j) for n, a, b in runs for j in range(a, b + 1)]
        got = [(n, j) for n, j, _ in packs[k]]
        if want != got or totals[k] != total:
            errors.append("pack %d: %r (%d bytes), expected %r (%d bytes)" % (k, got[:4], totals[k], want[:4], total))
    for k, (first, last, nfiles, total) in STATED_PL_PACKS.items():
        if k >= len(packs):
            continue
        pl = [n for n, j, _ in packs[k] if n.startswith(PL_DIR + "/")]
        if (not pl or pl[0] != _p(first) or pl[-1] != _p(last) or len(pl) != nfiles or totals[k] != total):
            errors.append("pack %d: %s..%s, %d files, %d bytes; expected %s..%s, %d files, %d bytes" % (
                k, pl[0] if pl else "-", pl[-1] if pl else "-", len(pl), totals[k], first, last, nfiles, total))
    if packs:
        if max(totals) != FULLEST_PACK[1] or totals.count(FULLEST_PACK[1]) != 1 or \
                totals.index(FULLEST_PACK[1]) != FULLEST_PACK[0]:
            errors.append("fullest pack %d with %d bytes" % (totals.index(max(totals)), max(totals)))
        if min(totals) != totals[-1]:
            errors.append("the last pack is not the smallest")
    for name, a, b in FILE_PACK_RANGES:
        ks = [k for k, p in enumerate(packs) if any(x[0] == name for x in p)]
        if not ks or ks[0] != a or ks[-1] != b:
            errors.append("%s in packs %r, expected %d..%d" % (name, ks[:1] + ks[-1:], a, b))
    for k in range(113, min(len(packs), 142)):
        if not 27 <= len(packs[k]) <= 82:
            errors.append("pack %d holds %d files" % (k, len(packs[k])))
    return errors


def check_copies(rep, stats):
    ab = stats.get("ab_entries", {})
    tl = stats.get("tl_blocks", {})
    ht = stats.get("ht_blocks", {})
    for lid in AB_LINKS:
        if lid in ab and lid in tl:
            want = tl[lid].replace("<TL ", "<AB ").replace("</TL>", "</AB>").replace(
                "<STRING ", "<Component ").replace("</STRING>", "</Component>")
            rep.check(ab[lid][3] == want, "ideal.txt %s: not a copy of idealLinks.txt" % lid)
    for kid in AB_K11:
        if kid in ab and kid in ht:
            want = ht[kid].replace("<HT ", "<AB ").replace("</HT>", "</AB>")
            rep.check(ab[kid][3] == want, "ideal.txt %s: not a copy of ideal_11a.txt" % kid)


def run(resources, quiet=False):
    rep = Report(quiet)
    stats = {}
    for name in TOP_LEVEL:
        path = os.path.join(resources, name)
        if not rep.check(os.path.isfile(path), name + ": missing"):
            continue
        with open(path, "rb") as f:
            data = f.read()
        if name == "ideal.txt":
            check_ab(rep, data, stats)
            stats["ideal_bytes"] = data
        elif name == "ideal_database.txt":
            rep.check(data == stats.get("ideal_bytes"), "ideal_database.txt differs from ideal.txt")
        elif name in TL:
            check_tl(rep, name, data, stats)
        else:
            check_ht(rep, name, data, stats)
        if name != "ideal.txt":
            rep.check(b"<AB" not in data or name == "ideal_database.txt", name + ": holds '<AB'")
    check_copies(rep, stats)
    skips = stats.get("skips", [])
    if skips:
        rep.check(min(skips) == 0 and max(skips) == MAX_SKIP, "skips range %d..%d" % (min(skips), max(skips)))
    check_point_lists(rep, resources, stats)
    if os.path.isdir(os.path.join(resources, PL_DIR)):
        check_packs(rep, resources)
    return rep


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--resources", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources"))
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args(argv)
    rep = run(os.path.normpath(args.resources), args.quiet)
    if not args.quiet:
        for n in rep.notes:
            print("note:", n)
    for f in rep.failures[:200]:
        print("FAIL:", f)
    if rep.failures:
        print("%d failures" % len(rep.failures))
        return 1
    print("ideal resources: all hard items hold")
    return 0


if __name__ == "__main__":
    sys.exit(main())
