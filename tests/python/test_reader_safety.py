"""The text and file readers under hostile input: NUL in paths and names, files that are no regular files,
names that are not UTF-8, whole error messages, memory in proportion to the text, and numbers read the same
under a comma-decimal locale."""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import textwrap

import pytest

import _bindings as tb
from conftest import child_env

IDEAL_DB = pathlib.Path(__file__).parent.parent.parent / "resources" / "ideal_database.txt"
FSERIES = "% a circle\n2.0 0.0 0.0 2.0 0.0 0.0\n"
IDEAL = '<AB Id="c" Conway="0" L="6.5" D="1.5" n="1">\n<Coeff I="1" A="2.5, 0, 0" B="0, 2.5, 0" />\n</AB>\n'


@pytest.fixture
def data_files(tmp_path):
    """Readable files whose names are what a path cut at its first NUL would name."""
    (tmp_path / "knot.fseries").write_text(FSERIES)
    (tmp_path / "ideal.txt").write_text(IDEAL)
    return tmp_path


def _load_blocks(path):
    k = tb.fourier_knot()
    k.blocks = tb.parse_fseries_from_string(FSERIES + FSERIES)
    try:
        k.loadBlocks(path)
    except RuntimeError:
        assert k.blocks == []  # a failed load empties the blocks, as for a missing file
        raise
    return k.blocks


# Every name that opens a file named (or searched for) by its argument: (call, suffix of the real file,
# the result for an unopenable file, or the exception type and its whole message with "{}" for the path).
FILE_TAKING = [
    ("parse_fseries_multi", lambda p: tb.parse_fseries_multi(p), "knot.fseries", []),
    ("load_all_knots", lambda p: tb.load_all_knots([p], 20), "knot.fseries", []),
    ("fourier_knot.loadBlocks", _load_blocks, "knot.fseries", (RuntimeError, "Cannot open file: {}")),
    ("parse_ideal_txt_multi", lambda p: tb.parse_ideal_txt_multi(p), "ideal.txt",
     (RuntimeError, "parse_ideal_txt_multi: cannot open file: {}")),
]


@pytest.mark.parametrize("name, call, real, refused", FILE_TAKING, ids=[c[0] for c in FILE_TAKING])
def test_paths_with_nul_are_refused(data_files, name, call, real, refused):
    real_path = str(data_files / real)
    assert call(real_path) not in ([], None)  # the file before the NUL is readable
    for path in (real_path + "\0", real_path + "\0.bak", "\0" + real_path):
        if isinstance(refused, tuple):
            with pytest.raises(refused[0]) as info:
                call(path)
            assert str(info.value) == refused[1].format(path)
        else:
            assert call(path) == refused


def test_knot_search_refuses_a_name_with_nul(data_files, monkeypatch):
    monkeypatch.setenv("TARQ_KNOT_DATA_DIR", str(data_files))
    os.rename(data_files / "knot.fseries", data_files / "knot.zz_q.fseries")
    s = tb.VortexKnotSystem()
    s.initialize_knot_from_name("zz_q", 12)
    assert len(s.get_positions()) == 12
    name = "zz_q.fseries\0"
    with pytest.raises(RuntimeError) as info:
        s.initialize_knot_from_name(name, 30)
    assert str(info.value) == f"Could not initialize knot {name}: Could not find .fseries file for knot: {name}"
    assert len(s.get_positions()) == 12


def _fingerprint(value):
    """A reader's result in a form that compares by value."""
    if isinstance(value, list):
        return [_fingerprint(v) for v in value]
    for fields in (("header", "a_x", "b_y"), ("points", "curvature"), ("id", "L")):
        if all(hasattr(value, f) for f in fields):
            return [getattr(value, f) for f in fields]
    return value


def _outcome(call, path):
    try:
        return ["returned", repr(call(path))]
    except Exception as e:  # noqa: BLE001 - the outcome is compared as a whole
        return [type(e).__name__, str(e)]


def _refusal(refused, path):
    if isinstance(refused, tuple):
        return [refused[0].__name__, refused[1].format(path)]
    return ["returned", repr(refused)]


def test_only_regular_files_are_read(tmp_path):
    # A directory, a FIFO (opening it would wait for a writer) and devices that never end, one also through
    # a link: each is a file that does not open. Run in a child, so that a reader that blocks or reads
    # without end fails the test by the child's time limit instead of stalling the run.
    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "dir").mkdir()
    (tmp_path / "zero").symlink_to("/dev/zero")
    paths = [str(tmp_path / n) for n in ("dir", "fifo", "zero")] + ["/dev/zero", "/dev/urandom"]
    got = _child(f"""
        import json, os
        import _bindings as tb
        from test_reader_safety import FILE_TAKING, _outcome
        paths = {paths!r}
        out = {{name: [_outcome(call, p) for p in paths] for name, call, _, _ in FILE_TAKING}}
        os.environ["TARQ_KNOT_DATA_DIR"] = {str(tmp_path)!r}
        for i, p in enumerate(paths):
            os.symlink(p, os.path.join({str(tmp_path)!r}, f"knot.s{{i}}.fseries"))
        out["knot search"] = [_outcome(lambda i: tb.VortexKnotSystem().initialize_knot_from_name(f"s{{i}}", 12), i)
                              for i in range(len(paths))]
        def evaluator(p):
            os.environ["TARQ_IDEAL_DATABASE"] = p
            return tb.ParticleEvaluator("3:1:1", 16)
        out["database"] = [_outcome(evaluator, p) for p in paths]
        print(json.dumps(out))
    """, {"TARQ_RESOURCE_DIR": str(tmp_path / "none")})
    for name, _, _, refused in FILE_TAKING:
        assert got[name] == [_refusal(refused, p) for p in paths], name
    for i, outcome in enumerate(got["knot search"]):
        name = f"s{i}"
        assert outcome == ["RuntimeError", f"Could not initialize knot {name}: "
                                           f"Could not find .fseries file for knot: {name}"]
    assert got["database"] == [["RuntimeError", "[!] TARQcore: ideal_database.txt niet gevonden."]] * len(paths)


@pytest.mark.parametrize("name, call, real, refused", FILE_TAKING, ids=[c[0] for c in FILE_TAKING])
def test_names_that_are_not_utf8_reach_the_file_system_as_bytes(data_files, name, call, real, refused):
    # As os.listdir gives such a name: the bytes on disk with surrogate escapes.
    raw = os.fsencode(str(data_files)) + b"/\xff\xe9." + real.encode()
    shutil.copy(data_files / real, raw)
    path = os.fsdecode(raw)
    expected = _fingerprint(call(str(data_files / real)))
    assert expected and _fingerprint(call(path)) == expected
    assert _fingerprint(call(raw)) == expected  # bytes, as for any string argument
    os.remove(raw)
    assert _outcome(call, path) == _refusal(refused, path)


def test_file_names_come_back_as_on_disk(data_files):
    raw = os.fsencode(str(data_files)) + b"/knot\xff.fseries"
    shutil.copy(data_files / "knot.fseries", raw)
    [loaded] = tb.load_all_knots([os.fsdecode(raw)], 8)
    assert os.fsencode(loaded.name) == b"\xff"
    for result in (tb.compute_curve_metrics_from_fseries(os.fsdecode(raw), 8),
                   tb.batch_helicity_from_dir(str(data_files), 4, 0.5, 1, 8)[-1]):
        assert os.fsencode(result.path) == raw
        result.path = os.fsdecode(b"/x/\xfe")
        assert os.fsencode(result.path) == b"/x/\xfe"
    record = tb.canonicalize_fseries_file_inplace(os.fsdecode(raw))
    assert os.fsencode(record.path) == raw and record.reason == "already has 6-column j=0 row"


@pytest.mark.parametrize("call, message", [
    (lambda t: tb.load_embedded_ideal_text(t), "Embedded ideal text not found: {}"),
    (lambda t: tb.parse_embedded_ideal_ab_by_id("3:1:1", t), "Embedded ideal text not found: {}"),
    (lambda t: tb.parse_embedded_ideal_ab_by_id(t), "parse_ideal_ab_by_id_from_string: AB Id not found: {}"),
    (lambda t: tb.parse_ideal_ab_by_id_from_string(IDEAL, t), "parse_ideal_ab_by_id_from_string: AB Id not found: {}"),
    (lambda t: tb.load_embedded_knot_block(t), "Embedded knot id not found: {}"),
])
def test_messages_keep_text_after_nul(call, message):
    for text in ("zz\0tail", "3:1:1\0", "\0\0x\u00e9"):
        with pytest.raises(RuntimeError) as info:
            call(text)
        assert str(info.value) == message.format(text)


def test_particle_evaluator_message_keeps_text_after_nul(monkeypatch):
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(IDEAL_DB))
    for text in ("3:1:1\0", "zz\0tail"):
        with pytest.raises(RuntimeError) as info:
            tb.ParticleEvaluator(text, 16)
        assert str(info.value) == f"[!] TARQcore: Knoop ID {text} niet gevonden in database."


def _child(code, env=None):
    """Runs code in a fresh interpreter (the module imported as the tests import it); its stdout as JSON."""
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                         env=child_env(**(env or {})), timeout=300)
    assert out.returncode == 0, out.stderr
    return json.loads(out.stdout)


def test_many_components_cannot_demand_memory_out_of_proportion():
    # 706 bytes: ten components each naming row 1,048,576 (once about 539 MiB).
    text = '<AB Id="x">' + 10 * '<Component I="1"><Coeff I="1048576" A="0,0,0" B="0,0,0"/></Component>' + "</AB>"
    assert len(text) == 706
    result = _child(f"""
        import json, resource
        import _bindings as tb
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        try:
            tb.parse_ideal_txt_from_string({text!r})
            message = None
        except IndexError as e:
            message = str(e)
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        print(json.dumps([message, grown]))
    """)
    assert result[0] == "parse_ideal_txt_from_string: rows above 1048576 in all: 2097152"
    assert result[1] < 8 * 1024  # KiB


def test_numbers_read_the_same_under_a_comma_decimal_locale(comma_locale, tmp_path):
    name, env = comma_locale
    (tmp_path / "k.fseries").write_text("% k\n0.5 1.25e-1 -2.75 3.0 0.0625 1e3\n1.5 2.5 3.5 4.5 5.5 6.5\n")
    (tmp_path / "i.txt").write_text(IDEAL)
    results = _child(f"""
        import json, locale
        import _bindings as tb

        def blocks(bs):
            return [[b.header, b.a_x, b.b_x, b.a_y, b.b_y, b.a_z, b.b_z] for b in bs]

        def ideal(abs_):
            return [[a.id, a.L, a.D, a.n] + [[c.component_index, list(c.A0), list(c.B0)] + blocks([c.fourier])
                                             for c in a.components] for a in abs_]

        def read_all():
            k = tb.fourier_knot()
            k.loadBlocks({str(tmp_path / "k.fseries")!r})
            one = tb.parse_embedded_ideal_ab_by_id("3:1:1")
            return [ideal([one]), tb.format_ideal_ab_header(one),
                    ideal(tb.parse_ideal_txt_from_string(tb.load_embedded_ideal_text("ideal.txt"))[:40]),
                    ideal(tb.parse_ideal_txt_multi({str(tmp_path / "i.txt")!r})),
                    blocks(tb.parse_fseries_multi({str(tmp_path / "k.fseries")!r})), blocks(k.blocks),
                    blocks(tb.parse_fseries_from_string(tb.get_embedded_knot_files()["3_1"]))]

        in_c = read_all()
        locale.setlocale(locale.LC_ALL, {name!r})
        assert locale.localeconv()["decimal_point"] == ","
        print(json.dumps([in_c, read_all(), locale.atof("16,5")]))
    """, env)
    in_c, in_comma, probe = results
    assert probe == 16.5
    assert in_c[0][0][1] == 16.371637
    assert in_comma == in_c
