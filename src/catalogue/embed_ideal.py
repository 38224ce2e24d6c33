#!/usr/bin/env python3
"""Embeds the ideal-database resource files as C++ constants (run by the build).

Reads every file directly in the resource directory and in its subdirectory
"ideal_12_data", cuts each file into pieces of at most 120000 bytes, groups the
pieces greedily into packs of at most 400000 bytes and writes

  <out>/ideal_packs_NN.cpp        the piece constants and the pack functions
                                  tarq::detail::append_embedded_ideal_pack_<k>
  <out>/embedded_ideal_index.cpp  tarq::get_embedded_ideal_files
  <out>/embedded_ideal_packs.hpp  declarations of the pack functions
  <out>/embedded_ideal_pieces.hpp declarations of constants used from more than one file

Identical pieces are stored once (the pieces of "ideal_database.txt" are those of
"ideal.txt").  The build fails when the packs differ from the expected table.
Standard library only.

Usage: embed_ideal.py RESOURCE_DIR OUT_DIR SOURCE_FILES
"""

import hashlib
import os
import sys

# The shared escaper sits beside this script, also when the script is loaded by path.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from c_literal import literal_pieces  # noqa: E402

PIECE = 120000
PACK_LIMIT = 400000
SUBDIR = "ideal_12_data"

# ---------------------------------------------------------------------------
# The expected result for the carried data.  Top-level packs: runs of
# (file, first piece, last piece); point-list packs: (first list, last list,
# number of lists).  Bytes are the pack totals.
# ---------------------------------------------------------------------------

EXPECTED_FILES = 2183
EXPECTED_PACKS = 142
EXPECTED_PIECES = 2517
EXPECTED_TOTAL = 51901090
EXPECTED_DISTINCT = 46313806
EXPECTED_DUPLICATES = 47   # every piece of ideal_database.txt repeats one of ideal.txt

EXPECTED_TOP = {
    0: ([("ideal.txt", 0, 2)], 360000),
    1: ([("ideal.txt", 3, 5)], 360000),
    10: ([("ideal.txt", 30, 32)], 360000),
    11: ([("ideal.txt", 33, 35)], 360000),
    12: ([("ideal.txt", 36, 38)], 360000),
    13: ([("ideal.txt", 39, 41)], 360000),
    15: ([("ideal.txt", 45, 46), ("idealLinks.txt", 0, 0)], 307284),
    64: ([("idealLinks_10n.txt", 40, 42), ("ideal_11a.txt", 0, 0)], 387129),
    86: ([("ideal_11a.txt", 64, 65), ("ideal_11n.txt", 0, 1)], 369725),
    112: ([("ideal_database.txt", 44, 46)], 397254),
}
for _k in range(12):
    EXPECTED_TOP[100 + _k] = ([("ideal_database.txt", 8 + 3 * _k, 10 + 3 * _k)], 360000)

EXPECTED_LISTS = {
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
EXPECTED_LIST_BYTES = {
    113: 396549, 114: 396743, 115: 399931, 116: 399265, 117: 398313, 118: 397512, 119: 398254,
    120: 395213, 121: 395242, 122: 397464, 123: 398797, 124: 399190, 125: 397665, 126: 397465,
    127: 396304, 128: 398782, 129: 399506, 130: 397284, 131: 399037, 132: 398378, 133: 399402,
    134: 397880, 135: 394426, 136: 396207, 137: 395470, 138: 395278, 141: 139366,
}
# (file, first pack, last pack)
EXPECTED_RANGES = [("ideal.txt", 0, 15), ("idealLinks.txt", 15, 30), ("idealLinks_10a.txt", 30, 50),
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


def cut_and_pack(files):
    """files: list of (name, bytes) -> packs, each a list of (name, piece number, piece bytes)."""
    packs, cur, total = [], [], 0
    for name, data in files:
        # an empty file still gets its (empty) entry
        pieces = [data[k:k + PIECE] for k in range(0, len(data), PIECE)] or [b""]
        for k, piece in enumerate(pieces):
            if cur and total + len(piece) > PACK_LIMIT:
                packs.append(cur)
                cur, total = [], 0
            cur.append((name, k, piece))
            total += len(piece)
    if cur:
        packs.append(cur)
    return packs


def compare(files, packs):
    errors = []
    if len(files) != EXPECTED_FILES:
        errors.append("%d resource files, expected %d" % (len(files), EXPECTED_FILES))
    total = sum(len(d) for _, d in files)
    if total != EXPECTED_TOTAL:
        errors.append("%d bytes of text, expected %d" % (total, EXPECTED_TOTAL))
    if len(packs) != EXPECTED_PACKS:
        errors.append("%d packs, expected %d" % (len(packs), EXPECTED_PACKS))
    npieces = sum(len(p) for p in packs)
    if npieces != EXPECTED_PIECES:
        errors.append("%d pieces, expected %d" % (npieces, EXPECTED_PIECES))
    sizes = [sum(len(x[2]) for x in p) for p in packs]
    for k, (runs, nbytes) in sorted(EXPECTED_TOP.items()):
        if k >= len(packs):
            continue
        want = [(n, j) for n, a, b in runs for j in range(a, b + 1)]
        got = [(n, j) for n, j, _ in packs[k] if not n.startswith(SUBDIR + "/")]
        if got != want:
            errors.append("pack %d holds %s, expected %s" % (k, got, want))
        if sizes[k] != nbytes:
            errors.append("pack %d holds %d bytes, expected %d" % (k, sizes[k], nbytes))
    for k, (first, last, count) in sorted(EXPECTED_LISTS.items()):
        if k >= len(packs):
            continue
        lists = [n[len(SUBDIR) + 1:] for n, _, _ in packs[k] if n.startswith(SUBDIR + "/")]
        if not lists or (lists[0], lists[-1], len(lists)) != (first, last, count):
            errors.append("pack %d holds point lists %s to %s (%d), expected %s to %s (%d)" % (
                k, lists[0] if lists else "-", lists[-1] if lists else "-", len(lists), first, last, count))
        if k in EXPECTED_LIST_BYTES and sizes[k] != EXPECTED_LIST_BYTES[k]:
            errors.append("pack %d holds %d bytes, expected %d" % (k, sizes[k], EXPECTED_LIST_BYTES[k]))
    for name, a, b in EXPECTED_RANGES:
        ks = [k for k, p in enumerate(packs) if any(x[0] == name for x in p)]
        if not ks or (ks[0], ks[-1]) != (a, b):
            errors.append("%s lies in packs %s, expected %d to %d" % (
                name, "%d to %d" % (ks[0], ks[-1]) if ks else "none", a, b))
    if any(s > PACK_LIMIT for s in sizes):
        errors.append("a pack exceeds %d bytes" % PACK_LIMIT)
    return errors


def literal_lines(data):
    """The bytes as a sequence of C++ string literals, one per text line (escapes keep every byte)."""
    return ['"' + piece + '"' for piece in literal_pieces(data, max_run=2000)]


def cpp_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


HEADER = "// Generated by src/catalogue/embed_ideal.py from the resource files; do not edit.\n"


def write_if_changed(path, text):
    data = text.encode("ascii")
    try:
        with open(path, "rb") as f:
            if f.read() == data:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def generate(packs, out_dir, nsources):
    # one constant per distinct piece, named after its first use
    const_of = {}      # digest -> (constant name, defining source index)
    per_source = (len(packs) + nsources - 1) // nsources
    source_of_pack = [min(k // per_source, nsources - 1) for k in range(len(packs))]
    uses = {}
    ordinal = 0
    for k, pack in enumerate(packs):
        for name, j, piece in pack:
            h = hashlib.sha256(piece).digest()
            if h not in const_of:
                const_of[h] = ("kIdealPiece%d" % ordinal, source_of_pack[k], piece)
                ordinal += 1
            uses.setdefault(h, set()).add(source_of_pack[k])
    shared = {h for h, srcs in uses.items() if srcs != {const_of[h][1]}}
    distinct = sum(len(v[2]) for v in const_of.values())

    decl = [HEADER, "#pragma once\n\n", "namespace tarq {\nnamespace detail {\n\n"]
    for h, (cname, _, piece) in sorted(const_of.items(), key=lambda kv: int(kv[1][0][len("kIdealPiece"):])):
        if h in shared:
            decl.append("extern const char %s[%d];\n" % (cname, len(piece) + 1))
    decl.append("\n}  // namespace detail\n}  // namespace tarq\n")
    write_if_changed(os.path.join(out_dir, "embedded_ideal_pieces.hpp"), "".join(decl))

    fdecl = [HEADER, "#pragma once\n\n", '#include "core/types.hpp"\n\n', "namespace tarq {\nnamespace detail {\n\n"]
    fdecl.append("inline constexpr int kEmbeddedIdealPackCount = %d;\n\n" % len(packs))
    for k in range(len(packs)):
        fdecl.append("void append_embedded_ideal_pack_%d(KnotFileMap& files);\n" % k)
    fdecl.append("\n// The pack functions by number, for callers that apply packs selectively.\n")
    fdecl.append("using EmbeddedIdealPack = void (*)(KnotFileMap&);\n")
    fdecl.append("extern const EmbeddedIdealPack kEmbeddedIdealPacks[kEmbeddedIdealPackCount];\n")
    fdecl.append("\n}  // namespace detail\n}  // namespace tarq\n")
    write_if_changed(os.path.join(out_dir, "embedded_ideal_packs.hpp"), "".join(fdecl))

    for src in range(nsources):
        parts = [HEADER, '#include "embedded_ideal_packs.hpp"\n', '#include "embedded_ideal_pieces.hpp"\n\n',
                 "#include <string>\n\n", "namespace tarq {\nnamespace detail {\n\n"]
        defined = set()
        for k, pack in enumerate(packs):
            if source_of_pack[k] != src:
                continue
            for name, j, piece in pack:
                h = hashlib.sha256(piece).digest()
                cname, home, _ = const_of[h]
                if home == src and h not in defined:
                    defined.add(h)
                    storage = "extern const char" if h in shared else "static const char"
                    parts.append("%s %s[%d] =\n" % (storage, cname, len(piece) + 1))
                    parts.append("\n".join("    " + ln for ln in literal_lines(piece)))
                    parts.append(";\n\n")
            parts.append("void append_embedded_ideal_pack_%d(KnotFileMap& files) {\n" % k)
            for name, j, piece in pack:
                cname = const_of[hashlib.sha256(piece).digest()][0]
                op = "assign" if j == 0 else "append"
                parts.append("    files[%s].%s(%s, %d);\n" % (cpp_string(name), op, cname, len(piece)))
            parts.append("}\n\n")
        parts.append("}  // namespace detail\n}  // namespace tarq\n")
        write_if_changed(os.path.join(out_dir, "ideal_packs_%02d.cpp" % src), "".join(parts))

    idx = [HEADER, '#include "catalogue/embedded_ideal.hpp"\n', '#include "embedded_ideal_packs.hpp"\n\n',
           "namespace tarq {\n\n",
           "// Packs run in ascending number: a file's first piece replaces the entry, later pieces append.\n",
           "KnotFileMap get_embedded_ideal_files() {\n", "    KnotFileMap files;\n"]
    for k in range(len(packs)):
        idx.append("    detail::append_embedded_ideal_pack_%d(files);\n" % k)
    idx.append("    return files;\n}\n\n")
    idx.append("namespace detail {\n\nconst EmbeddedIdealPack kEmbeddedIdealPacks[kEmbeddedIdealPackCount] = {\n")
    for k in range(len(packs)):
        idx.append("    append_embedded_ideal_pack_%d,\n" % k)
    idx.append("};\n\n}  // namespace detail\n}  // namespace tarq\n")
    write_if_changed(os.path.join(out_dir, "embedded_ideal_index.cpp"), "".join(idx))
    duplicates = sum(len(p) for p in packs) - len(const_of)
    return distinct, duplicates


def main(argv):
    if len(argv) != 4:
        sys.stderr.write("usage: embed_ideal.py RESOURCE_DIR OUT_DIR SOURCE_FILES\n")
        return 2
    resources, out_dir, nsources = argv[1], argv[2], int(argv[3])
    if not os.path.isdir(resources):
        sys.stderr.write("embed_ideal.py: no resource directory %s\n" % resources)
        return 1
    names = input_files(resources)
    files = []
    for n in names:
        with open(os.path.join(resources, n), "rb") as f:
            files.append((n, f.read()))
    packs = cut_and_pack(files)
    errors = compare(files, packs)
    os.makedirs(out_dir, exist_ok=True)
    if not errors:
        distinct, duplicates = generate(packs, out_dir, nsources)
        if distinct != EXPECTED_DISTINCT:
            errors.append("%d distinct bytes of text, expected %d" % (distinct, EXPECTED_DISTINCT))
        by_name = dict(files)
        if by_name.get("ideal_database.txt") != by_name.get("ideal.txt"):
            errors.append("ideal_database.txt is not a copy of ideal.txt")
        if duplicates != EXPECTED_DUPLICATES:
            errors.append("%d pieces repeat an earlier piece, expected %d" % (duplicates, EXPECTED_DUPLICATES))
    if errors:
        sys.stderr.write("embed_ideal.py: the resource files do not give the expected packs:\n")
        for e in errors[:40]:
            sys.stderr.write("  " + e + "\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
