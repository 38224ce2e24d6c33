"""The one pack table of the embedded ideal database: how the resource files are cut and packed, and the packs
the carried data give.

Standard library only.  The embedder beside it (run by the build) imports it; the resource checker in
tools/data/ (run by the tests) loads it by path, so the build and the checker hold one table.
"""

import os

PIECE = 120000
PACK_LIMIT = 400000
SUBDIR = "ideal_12_data"

# ---------------------------------------------------------------------------
# The expected result for the carried data.
# ---------------------------------------------------------------------------

FILES = 2183
PACKS = 142
PIECES = 2517
TOTAL_BYTES = 51901090
DISTINCT_BYTES = 46313806
DUPLICATE_PIECES = 47   # every piece of ideal_database.txt repeats one of ideal.txt

# pack -> the runs (file, first piece, last piece) of its top-level pieces
TOP_RUNS = {
    0: [("ideal.txt", 0, 2)],
    1: [("ideal.txt", 3, 5)],
    10: [("ideal.txt", 30, 32)],
    11: [("ideal.txt", 33, 35)],
    12: [("ideal.txt", 36, 38)],
    13: [("ideal.txt", 39, 41)],
    15: [("ideal.txt", 45, 46), ("idealLinks.txt", 0, 0)],
    64: [("idealLinks_10n.txt", 40, 42), ("ideal_11a.txt", 0, 0)],
    86: [("ideal_11a.txt", 64, 65), ("ideal_11n.txt", 0, 1)],
    112: [("ideal_database.txt", 44, 46)],
}
for _k in range(12):
    TOP_RUNS[100 + _k] = [("ideal_database.txt", 8 + 3 * _k, 10 + 3 * _k)]

# pack -> (first point list, last point list, number of point lists)
LISTS = {
    112: ("12a1.txt", "12a1011.txt", 16),
    113: ("12a1012.txt", "12a1076.txt", 71), 114: ("12a1077.txt", "12a1140.txt", 72),
    115: ("12a1141.txt", "12a1207.txt", 74), 116: ("12a1208.txt", "12a1271.txt", 71),
    117: ("12a1272.txt", "12a184.txt", 80), 118: ("12a185.txt", "12a252.txt", 76),
    119: ("12a253.txt", "12a32.txt", 75), 120: ("12a320.txt", "12a386.txt", 73),
    121: ("12a387.txt", "12a451.txt", 73), 122: ("12a452.txt", "12a517.txt", 73),
    123: ("12a518.txt", "12a589.txt", 79), 124: ("12a59.txt", "12a655.txt", 74),
    125: ("12a656.txt", "12a720.txt", 73), 126: ("12a721.txt", "12a791.txt", 78),
    127: ("12a792.txt", "12a860.txt", 77), 128: ("12a861.txt", "12a923.txt", 70),
    129: ("12a924.txt", "12a987.txt", 70), 130: ("12a988.txt", "12n158.txt", 79),
    131: ("12n159.txt", "12n230.txt", 81), 132: ("12n231.txt", "12n304.txt", 82),
    133: ("12n305.txt", "12n379.txt", 82), 134: ("12n38.txt", "12n451.txt", 81),
    135: ("12n452.txt", "12n523.txt", 80), 136: ("12n524.txt", "12n596.txt", 80),
    137: ("12n597.txt", "12n665.txt", 77), 138: ("12n666.txt", "12n736.txt", 79),
    141: ("12n875.txt", "12n99.txt", 27),
}

# pack -> bytes in the pack
BYTES = {
    0: 360000, 1: 360000, 10: 360000, 11: 360000, 12: 360000, 13: 360000, 15: 307284, 64: 387129,
    86: 369725,
    112: 397254, 113: 396549, 114: 396743, 115: 399931, 116: 399265, 117: 398313, 118: 397512,
    119: 398254, 120: 395213, 121: 395242, 122: 397464, 123: 398797, 124: 399190, 125: 397665,
    126: 397465, 127: 396304, 128: 398782, 129: 399506, 130: 397284, 131: 399037, 132: 398378,
    133: 399402, 134: 397880, 135: 394426, 136: 396207, 137: 395470, 138: 395278, 141: 139366,
}
for _k in range(12):
    BYTES[100 + _k] = 360000

FULLEST_PACK = (115, 399931)
# point lists per pack from pack 113 on
LISTS_PER_PACK = (27, 82)
# (file, first pack, last pack)
FILE_RANGES = [("ideal.txt", 0, 15), ("idealLinks.txt", 15, 30), ("idealLinks_10a.txt", 30, 50),
               ("idealLinks_10n.txt", 50, 64), ("ideal_11a.txt", 64, 86), ("ideal_11n.txt", 86, 97),
               ("ideal_database.txt", 97, 112)]


def input_files(resources):
    """Relative names in stream order: the directory's own files bytewise, then the subdirectory's."""
    def regular(d):
        return sorted((n for n in os.listdir(d) if not n.startswith(".") and os.path.isfile(os.path.join(d, n))),
                      key=lambda s: s.encode())
    names = regular(resources)
    sub = os.path.join(resources, SUBDIR)
    if os.path.isdir(sub):
        names += [SUBDIR + "/" + n for n in regular(sub)]
    return names


def pack_sizes(named_sizes):
    """Greedy packing of (name, size) in stream order -> packs, each a list of (name, piece number, length).
    Each file is cut into pieces of at most PIECE bytes; an empty file still gets its (empty) piece."""
    packs, cur, total = [], [], 0
    for name, size in named_sizes:
        for k in range(max(1, -(-size // PIECE))):
            length = min(PIECE, size - k * PIECE)
            if cur and total + length > PACK_LIMIT:
                packs.append(cur)
                cur, total = [], 0
            cur.append((name, k, length))
            total += length
    if cur:
        packs.append(cur)
    return packs


def compare(packs):
    """Differences between packs of (name, piece number, length) and the table; empty when they agree."""
    errors = []
    if len(packs) != PACKS:
        errors.append("%d packs, expected %d" % (len(packs), PACKS))
    npieces = sum(len(p) for p in packs)
    if npieces != PIECES:
        errors.append("%d pieces, expected %d" % (npieces, PIECES))
    sizes = [sum(x[2] for x in p) for p in packs]
    in_sub = SUBDIR + "/"
    for k, runs in sorted(TOP_RUNS.items()):
        if k >= len(packs):
            continue
        want = [(n, j) for n, a, b in runs for j in range(a, b + 1)]
        got = [(n, j) for n, j, _ in packs[k] if not n.startswith(in_sub)]
        if got != want:
            errors.append("pack %d holds %s, expected %s" % (k, got, want))
    for k, (first, last, count) in sorted(LISTS.items()):
        if k >= len(packs):
            continue
        lists = [n[len(in_sub):] for n, _, _ in packs[k] if n.startswith(in_sub)]
        if not lists or (lists[0], lists[-1], len(lists)) != (first, last, count):
            errors.append("pack %d holds point lists %s to %s (%d), expected %s to %s (%d)" % (
                k, lists[0] if lists else "-", lists[-1] if lists else "-", len(lists), first, last, count))
    for k, nbytes in sorted(BYTES.items()):
        if k < len(packs) and sizes[k] != nbytes:
            errors.append("pack %d holds %d bytes, expected %d" % (k, sizes[k], nbytes))
    for name, a, b in FILE_RANGES:
        ks = [k for k, p in enumerate(packs) if any(x[0] == name for x in p)]
        if not ks or (ks[0], ks[-1]) != (a, b):
            errors.append("%s lies in packs %s, expected %d to %d" % (
                name, "%d to %d" % (ks[0], ks[-1]) if ks else "none", a, b))
    if sizes:
        if any(s > PACK_LIMIT for s in sizes):
            errors.append("a pack exceeds %d bytes" % PACK_LIMIT)
        k, nbytes = FULLEST_PACK
        if max(sizes) != nbytes or sizes.count(nbytes) != 1 or sizes.index(nbytes) != k:
            errors.append("fullest pack %d with %d bytes, expected %d with %d" % (
                sizes.index(max(sizes)), max(sizes), k, nbytes))
        if min(sizes) != sizes[-1]:
            errors.append("the last pack is not the smallest")
    lo, hi = LISTS_PER_PACK
    for k in range(113, min(len(packs), PACKS)):
        if not lo <= len(packs[k]) <= hi:
            errors.append("pack %d holds %d files" % (k, len(packs[k])))
    return errors
