"""The committed knot_fseries texts, their checker and the build-time embedder."""
import importlib.util
import os
import re
import shutil
import subprocess
import sys

import pytest

from conftest import child_env

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
KNOT_DIR = os.path.join(ROOT, "knot_fseries")
CHECKER = os.path.join(ROOT, "tools", "data", "check_knot_fseries.py")
EMBEDDER = os.path.join(ROOT, "src", "catalogue", "embed_knots.py")


def load(path, name):
    spec = importlib.util.spec_from_file_location(name, path)
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


check = load(CHECKER, "check_knot_fseries")
embed = load(EMBEDDER, "embed_knots")


def test_committed_texts_meet_the_profile():
    res = subprocess.run([sys.executable, CHECKER, KNOT_DIR], capture_output=True, text=True, env=child_env())
    assert res.returncode == 0, res.stderr
    assert "78 texts match the profile" in res.stdout


def _path(d, ident):
    return os.path.join(d, "knot.%s.fseries" % ident)


def _edit(d, ident, fn):
    with open(_path(d, ident), "rb") as f:
        data = f.read()
    with open(_path(d, ident), "wb") as f:
        f.write(fn(data))


def _manifest(d):
    # the manifest's copy beside the copied texts, under its own name
    return os.path.join(os.path.dirname(d), "knot_fseries_manifest.tsv")


def _edit_manifest(d, fn):
    with open(_manifest(d), encoding="utf-8") as f:
        text = f.read()
    with open(_manifest(d), "w", encoding="utf-8") as f:
        f.write(fn(text))


def _zero_last_row(data):
    lines = data.split(b"\n")
    lines[-2] = re.sub(rb"\d", b"0", lines[-2]).replace(b"-", b" ")
    return b"\n".join(lines)


MUTATIONS = [
    ("size", lambda d: _edit(d, "4_1", lambda b: b[:-1] + b" \n"), "4_1: size"),
    ("final LF", lambda d: _edit(d, "3_1", lambda b: b[:-1]), "3_1: text differs"),
    ("tab", lambda d: _edit(d, "8_5", lambda b: b.replace(b" ", b"\t", 1)), "8_5: holds a TAB"),
    ("zero row", lambda d: _edit(d, "7_2", _zero_last_row), "7_2: 1 all-zero rows"),
    ("order", lambda d: _edit(d, "4_1d", lambda b: b.replace(b" %", b"% ", 1)),
     "4_1d: line kinds out of order"),
    ("missing", lambda d: os.remove(_path(d, "6_1")), "missing ['6_1']"),
    ("bare name", lambda d: shutil.copy(_path(d, "6_3d"), _path(d, "6_3")), "bare name 6_3"),
    ("sigma", lambda d: _edit(d, "9_2", lambda b: b.replace(b"\xce\xa3", b"S")),
     "9_2: holds 0 CE A3"),
    ("manifest", lambda d: os.remove(_manifest(d)), "knot_fseries_manifest.tsv missing"),
    ("manifest row", lambda d: _edit_manifest(d, lambda t: t.replace("\tpass\t", "\tmaybe\t", 1)),
     "check of 10_1 is 'maybe'"),
    ("manifest ids", lambda d: _edit_manifest(d, lambda t: t.replace("\n3_1\t", "\n3_1x\t", 1)),
     "does not list the 78 identifiers"),
]


@pytest.mark.parametrize("name,mutate,message", MUTATIONS, ids=[m[0] for m in MUTATIONS])
def test_checker_reports_a_broken_copy(tmp_path, name, mutate, message):
    d = str(tmp_path / "knots")
    shutil.copytree(KNOT_DIR, d)
    shutil.copy(check.MANIFEST, _manifest(d))
    assert check.check_dir(d, _manifest(d)) == []
    mutate(d)
    errors = check.check_dir(d, _manifest(d))
    assert any(message in e for e in errors), errors


def _c_unescape(piece):
    out, i = bytearray(), 0
    simple = {"n": 10, "\\": 92, '"': 34, "?": 63}
    while i < len(piece):
        c = piece[i]
        if c != "\\":
            out.append(ord(c))
            i += 1
        elif piece[i + 1] in simple:
            out.append(simple[piece[i + 1]])
            i += 2
        else:
            out.append(int(piece[i + 1:i + 4], 8))
            i += 4
    return bytes(out)


@pytest.mark.parametrize("data", [
    bytes(range(256)),
    b"\x00\x00",
    b"??=??/\\\"\n\n12\x001",
    "% x = \u03a3_j\n 1.0".encode(),
    b"",
])
def test_embedder_literals_round_trip(data):
    pieces = embed.c_literal_lines(data)
    assert all("\n" not in p and not re.search(r"\?\?", p) for p in pieces)
    assert b"".join(_c_unescape(p) for p in pieces) == data


def test_embedder_source_carries_every_text(tmp_path):
    out = tmp_path / "gen" / "table.cpp"
    res = subprocess.run([sys.executable, EMBEDDER, KNOT_DIR, str(out)],
                         capture_output=True, text=True, env=child_env())
    assert res.returncode == 0, res.stderr
    src = out.read_text(encoding="ascii")
    ids = re.findall(r'\{"([0-9a-z_]+)", kKnot\d+, (\d+)U\}', src)
    assert [i for i, _ in ids] == check.IDS
    for ident, size in ids:
        assert int(size) == os.path.getsize(_path(KNOT_DIR, ident))
    assert src.count("static_assert(sizeof(kKnot") == 78
    assert "78 texts, 114536 bytes in all." in src


def test_embedder_rejects_an_incomplete_directory(tmp_path):
    d = tmp_path / "knots"
    shutil.copytree(KNOT_DIR, d)
    os.remove(d / "knot.1_1.fseries")
    res = subprocess.run([sys.executable, EMBEDDER, str(d), str(tmp_path / "t.cpp")],
                         capture_output=True, text=True, env=child_env())
    assert res.returncode != 0
    assert "found 77 knot texts" in res.stderr
