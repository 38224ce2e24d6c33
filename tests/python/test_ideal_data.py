"""The ideal-database resource files: their profile, their manifest, and the embedder's pack check."""
import hashlib
import importlib.util
import json
import os
import re

import pytest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RESOURCES = os.path.join(ROOT, "resources")


def _load(name, path):
    spec = importlib.util.spec_from_file_location(name, path)
    mod = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(mod)
    return mod


checker = _load("check_ideal_resources", os.path.join(ROOT, "tools", "data", "check_ideal_resources.py"))
embedder = _load("embed_ideal", os.path.join(ROOT, "src", "catalogue", "embed_ideal.py"))


@pytest.fixture(scope="module")
def ideal_bytes():
    with open(os.path.join(RESOURCES, "ideal.txt"), "rb") as f:
        return f.read()


@pytest.fixture(scope="module")
def resource_files():
    files = []
    for name in embedder.input_files(RESOURCES):
        with open(os.path.join(RESOURCES, name), "rb") as f:
            files.append((name, f.read()))
    return files


def test_every_hard_item_of_the_profile_holds():
    rep = checker.run(RESOURCES, quiet=True)
    assert rep.failures == []


def test_manifest_records_the_committed_files_and_every_check():
    with open(os.path.join(ROOT, "tools", "data", "ideal_resources_manifest.json")) as f:
        manifest = json.load(f)
    names = embedder.input_files(RESOURCES)
    assert sorted(manifest["files"]) == sorted(names)
    for name in ("ideal.txt", "ideal_12_data/12a1.txt", "ideal_11n.txt"):
        with open(os.path.join(RESOURCES, name), "rb") as f:
            assert hashlib.sha256(f.read()).hexdigest() == manifest["files"][name]["sha256"]
    # one type check per curve: 263 AB entries less the circle and the two-circle unlink, 417 links,
    # 552 eleven-crossing knots (two of them shared with ideal.txt), 2,176 point lists
    entries = manifest["entries"]
    assert len(entries) == 261 + 417 - 7 + 552 - 2 + 2176
    assert manifest["summary"]["verified"] == sum(1 for v in entries.values() if v["verified"])


def test_the_embedder_accepts_the_resource_files(resource_files):
    packs = embedder.cut_and_pack(resource_files)
    assert embedder.compare(resource_files, packs) == []
    assert [len(p) for p in packs[112:114]] == [19, 71]
    assert sum(len(x[2]) for x in packs[-1]) == 139366


@pytest.mark.parametrize("change", ["drop one byte", "extra file", "swap sizes", "missing file"])
def test_the_embedder_rejects_other_pack_tables(resource_files, change):
    files = list(resource_files)
    if change == "drop one byte":
        k = next(i for i, (n, _) in enumerate(files) if n == "ideal_12_data/12a1011.txt")
        files[k] = (files[k][0], files[k][1][:-1])
    elif change == "extra file":
        files.insert(7, ("README.txt", b"notes\n"))
    elif change == "swap sizes":
        a = next(i for i, (n, _) in enumerate(files) if n == "ideal_12_data/12n73.txt")
        b = next(i for i, (n, _) in enumerate(files) if n == "ideal_12_data/12n1.txt")
        files[a], files[b] = (files[a][0], files[b][1]), (files[b][0], files[a][1])
    else:
        files = [f for f in files if f[0] != "ideal_12_data/12n5.txt"]
    assert embedder.compare(files, embedder.cut_and_pack(files)) != []


def test_embedder_fails_the_build_with_a_message(tmp_path, capsys):
    res = tmp_path / "resources"
    (res / "ideal_12_data").mkdir(parents=True)
    for name in embedder.input_files(RESOURCES):
        os.symlink(os.path.join(RESOURCES, name), res / name)
    (res / "MANIFEST.txt").write_text("not a resource\n")
    assert embedder.main(["embed_ideal.py", str(res), str(tmp_path / "out"), "4"]) == 1
    err = capsys.readouterr().err
    assert "do not give the expected packs" in err
    assert "2184 resource files, expected 2183" in err


def test_greedy_packing_edges():
    piece, limit = embedder.PIECE, embedder.PACK_LIMIT
    # a pack may reach the limit exactly; one byte more opens the next
    files = [("a", b"x" * (3 * piece)), ("b", b"y" * (piece + 1)), ("c", b"z" * (limit - piece - 1)),
             ("d", b"w")]
    packs = embedder.cut_and_pack(files)
    assert [[(n, j, len(p)) for n, j, p in pack] for pack in packs] == [
        [("a", 0, piece), ("a", 1, piece), ("a", 2, piece)],
        [("b", 0, piece), ("b", 1, 1), ("c", 0, piece), ("c", 1, piece), ("c", 2, limit - 3 * piece - 1)],
        [("d", 0, 1)],
    ]
    assert sum(len(p) for _, _, p in packs[1]) == limit
    # an empty file keeps its (empty) entry
    assert embedder.cut_and_pack([("e", b"")]) == [[("e", 0, b"")]]


def test_literals_keep_every_byte():
    data = b'a"b\\c?d\n\x00\xce\xa3\n'
    text = "".join(embedder.literal_lines(data))
    # undo the C escapes of the generated literal
    body = re.sub(r'"\s*"', "", text)[1:-1]
    out = bytearray()
    i = 0
    while i < len(body):
        if body[i] == "\\":
            nxt = body[i + 1]
            if nxt in "01234567":
                out.append(int(body[i + 1:i + 4], 8))
                i += 4
                continue
            out.append({"n": 10, "\\": 92, '"': 34, "?": 63}[nxt])
            i += 2
        else:
            out.append(ord(body[i]))
            i += 1
    assert bytes(out) == data


MUTATIONS = [
    ("value reaching 3", lambda t: t.replace('A=" 1.000000, 0.000000, 0.000000" B=" 0.000000, 1.000000',
                                             'A=" 3.000000, 0.000000, 0.000000" B=" 0.000000, 1.000000', 1)),
    ("row index out of order", lambda t: re.sub(r'I="  2"', 'I="  9"', t, count=1)),
    ("attribute order", lambda t: t.replace('<AB Id="4:1:1" Conway="2 2"', '<AB Conway="2 2" Id="4:1:1"', 1)),
    ("D layout of 4:1:1", lambda t: t.replace('D="1.000000"', 'D=" 1.000000"', 1)),
    ("short row layout", lambda t: t.replace('    <Coeff I="0" A="-1.5, 0.0, 0.0"', '    <Coeff I="0" A="-1.50, 0.0, 0.0"', 1)),
    ("trailing line feed", lambda t: t + "\n"),
]


@pytest.mark.parametrize("what,mutate", MUTATIONS, ids=[m[0] for m in MUTATIONS])
def test_checker_catches_faults_in_the_ab_database(ideal_bytes, what, mutate):
    text = ideal_bytes.decode("ascii")
    bad = mutate(text)
    assert bad != text, what
    rep = checker.Report()
    checker.check_ab(rep, bad.encode("ascii"), {})
    assert rep.failures, what


def test_checker_accepts_the_ab_database(ideal_bytes):
    rep = checker.Report()
    stats = {}
    checker.check_ab(rep, ideal_bytes, stats)
    assert rep.failures == []
    assert len(stats["ab_entries"]) == 263
