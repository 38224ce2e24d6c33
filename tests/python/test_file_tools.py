"""The .fseries file tools from Python: records, defaults, conversions, messages and error types."""
import os
import resource
import signal

import pytest

import _bindings
from conftest import TREFOIL_ROWS, fseries_text

ZERO_ROW = "    0.000000" * 6

RECORDS = {
    "CanonicalizeResult": [("path", ""), ("found_numeric_rows", 0), ("changed", False), ("reason", "")],
    "HelicityResult": [("path", "")] + [(f, 0.0) for f in (
        "a_mu", "Hc", "Hm", "L", "kappa_max", "kappa_mean", "bend_energy", "min_non_neighbor_dist",
        "reach_proxy")] + [("nsamples", 0)],
    "FilamentEnergyParams": [
        ("rho_outer", 7e-07), ("rho_local", 7e-07), ("Gamma", 1.0), ("a_core", 1.0), ("delta", 0.0),
        ("s_cut_local", 0.0), ("include_nonlocal", True), ("include_local_match", True),
        ("include_core_int", True), ("c_rankine_outer", 0.0), ("nsamples", 1024), ("skip_neighbors_base", 1)],
    "FilamentEnergyResult": [("path", ""), ("L", 0.0), ("ds_avg", 0.0), ("m_loc", 0)] + [(f, 0.0) for f in (
        "E_nonlocal", "E_local_match", "E_core_int", "E_total", "kappa_max", "kappa_mean", "bend_energy",
        "min_non_neighbor_dist", "reach_proxy", "rho_outer", "rho_local", "Gamma", "a_core", "delta",
        "s_cut_local", "c_rankine_outer")] + [("nsamples", 0)],
}

FUNCTIONS = [
    "canonicalize_fseries_file_inplace", "compute_helicity_from_fseries", "sample_curve_centered",
    "compute_curve_metrics_from_fseries", "curve_length_from_fseries", "min_non_neighbor_distance_from_fseries",
    "reach_proxy_from_fseries", "compute_filament_energy_from_fseries", "batch_helicity_from_dir",
    "compare_fseries_files",
]

COMPARE_KEYS = [
    "L_a", "L_b", "bend_energy_a", "bend_energy_b", "dL", "dbend_energy", "dkappa_max", "dkappa_mean",
    "dreach_proxy", "kappa_max_a", "kappa_max_b", "kappa_mean_a", "kappa_mean_b", "reach_proxy_a",
    "reach_proxy_b", "rms_point_delta",
]


@pytest.fixture
def knot(tmp_path):
    path = tmp_path / "knot.3_1.fseries"
    path.write_text(fseries_text(TREFOIL_ROWS))
    return str(path)


class TestRecords:
    @pytest.mark.parametrize("name", RECORDS)
    def test_fresh_instance_fields_in_order(self, name):
        cls = getattr(_bindings, name)
        fields = RECORDS[name]
        assert [k for k, v in vars(cls).items() if isinstance(v, property)] == [f for f, _ in fields]
        obj = cls()
        for field, value in fields:
            got = getattr(obj, field)
            assert type(got) is type(value) and got == value, field

    @pytest.mark.parametrize("name", RECORDS)
    def test_fields_are_writable_and_typed(self, name):
        obj = getattr(_bindings, name)()
        for field, value in RECORDS[name]:
            new = {str: "x", bool: True, int: 7, float: 2.5}[type(value)]
            setattr(obj, field, new)
            assert getattr(obj, field) == new
            bad = 1.5 if type(value) is str else "text"
            with pytest.raises(TypeError):
                setattr(obj, field, bad)

    def test_no_docstrings(self):
        for name in RECORDS:
            assert getattr(_bindings, name).__doc__ is None
        for name in FUNCTIONS:
            assert getattr(_bindings, name).__doc__.split("\n", 1)[1] == ""

    def test_names_come_last_in_registration_order(self):
        listed = _bindings.list_bindings()
        assert listed["functions"][-len(FUNCTIONS):] == FUNCTIONS
        assert listed["classes"][-len(RECORDS):] == list(RECORDS)


class TestCanonicalize:
    def test_upgrade_bytes_then_idempotent(self, tmp_path):
        path = tmp_path / "legacy.fseries"
        path.write_bytes(b"% h\r\n1 2 3 % x\r\n1 2 3 4 5 6\r\n# c\r\n7 7 7 7 7 7")
        r = _bindings.canonicalize_fseries_file_inplace(str(path))
        assert isinstance(r, _bindings.CanonicalizeResult)
        assert (r.path, r.found_numeric_rows, r.changed, r.reason) == (
            str(path), 3, True, "upgraded leading 3-col zeros row to 6-col j=0 row")
        expected = b"% h\r\n" + ZERO_ROW.encode() + b"\n1 2 3 4 5 6\r\n# c\r\n7 7 7 7 7 7\n"
        assert path.read_bytes() == expected
        again = _bindings.canonicalize_fseries_file_inplace(path=os.fsencode(path))
        assert (again.changed, again.reason, again.path) == (False, "already has 6-column j=0 row", str(path))
        assert path.read_bytes() == expected

    def test_missing_file(self, tmp_path):
        missing = str(tmp_path / "nope.fseries")
        with pytest.raises(RuntimeError) as e:
            _bindings.canonicalize_fseries_file_inplace(missing)
        assert str(e.value) == "cannot open file: " + missing

    def test_failed_write_keeps_the_original(self, tmp_path):
        path = tmp_path / "big.fseries"
        text = "% a header longer than the file size limit\n0 0 0\n" + "1 2 3 4 5 6\n" * 3
        path.write_text(text)
        saved = resource.getrlimit(resource.RLIMIT_FSIZE)
        old = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (16, saved[1]))
        try:
            with pytest.raises(RuntimeError) as e:
                _bindings.canonicalize_fseries_file_inplace(str(path))
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, saved)
            signal.signal(signal.SIGXFSZ, old)
        assert str(e.value) == "cannot write file: " + str(path)
        assert path.read_text() == text
        assert os.listdir(tmp_path) == ["big.fseries"]


class TestMeasures:
    def test_defaults_and_keywords(self, knot):
        assert len(_bindings.sample_curve_centered(knot)) == 1024
        m = _bindings.compute_curve_metrics_from_fseries(knot)
        assert isinstance(m, _bindings.FilamentEnergyResult)
        assert (m.path, m.nsamples) == (knot, 2048)
        assert m.min_non_neighbor_dist == _bindings.compute_curve_metrics_from_fseries(
            path=knot, nsamples=2048, skip=3).min_non_neighbor_dist
        h = _bindings.compute_helicity_from_fseries(knot)
        assert isinstance(h, _bindings.HelicityResult) and h.nsamples == 1000
        block = _bindings.parse_fseries_multi(knot)[0]
        assert (h.Hc, h.Hm, h.a_mu) == _bindings.compute_helicity_from_fourier_block(block, 32, 0.1, 8, 1000)

    def test_samples_are_lists_of_triples(self, knot):
        points = _bindings.sample_curve_centered(knot, nsamples=5)
        assert type(points) is list and len(points) == 5
        assert all(type(p) is list and len(p) == 3 and all(type(v) is float for v in p) for p in points)
        assert _bindings.sample_curve_centered(knot, 0) == []

    @pytest.mark.parametrize("nsamples,skip", [(2048, 3), (64, 0), (8, 3), (8, 4), (3, 1)])
    def test_binding_measures_match_the_record(self, knot, nsamples, skip):
        m = _bindings.compute_curve_metrics_from_fseries(knot, nsamples, skip)
        assert _bindings.curve_length_from_fseries(knot, nsamples) == m.L
        assert _bindings.min_non_neighbor_distance_from_fseries(knot, nsamples, skip) == m.min_non_neighbor_dist
        assert _bindings.reach_proxy_from_fseries(knot, nsamples, skip) == m.reach_proxy

    def test_small_counts_and_sentinels(self, knot):
        assert _bindings.curve_length_from_fseries(knot, 1) == 0.0
        assert _bindings.min_non_neighbor_distance_from_fseries(knot, 3) == 0.0
        assert _bindings.reach_proxy_from_fseries(knot, 3) == 0.0
        assert _bindings.min_non_neighbor_distance_from_fseries(knot, 8, skip=4) == 1e300
        assert _bindings.reach_proxy_from_fseries(knot, 8, skip=4) == 5e299
        points = _bindings.sample_curve_centered(knot, 8)
        opposite = min(sum((a - b) ** 2 for a, b in zip(points[i], points[i + 4])) ** 0.5 for i in range(4))
        assert _bindings.min_non_neighbor_distance_from_fseries(knot, 8, skip=3) == pytest.approx(opposite, 1e-15)

    def test_filament_energy_params(self, knot):
        params = _bindings.FilamentEnergyParams()
        params.nsamples = 128
        base = _bindings.compute_filament_energy_from_fseries(knot, params)
        params.Gamma = 2.0
        params.s_cut_local = 0.5
        changed = _bindings.compute_filament_energy_from_fseries(path=knot, params=params)
        assert (changed.Gamma, changed.s_cut_local, changed.nsamples) == (2.0, 0.5, 128)
        assert changed.E_core_int == pytest.approx(4.0 * base.E_core_int, rel=1e-15)
        assert changed.m_loc > base.m_loc == 1
        with pytest.raises(TypeError):
            _bindings.compute_filament_energy_from_fseries(knot, _bindings.FilamentEnergyResult())
        with pytest.raises(TypeError):
            _bindings.compute_filament_energy_from_fseries(knot)
        with pytest.raises(RuntimeError) as e:
            _bindings.compute_filament_energy_from_fseries(knot, None)
        assert str(e.value) == "compute_filament_energy_from_fseries: params must be a FilamentEnergyParams, not None"

    @pytest.mark.parametrize("call", [
        lambda p: _bindings.sample_curve_centered(p, 16),
        lambda p: _bindings.compute_curve_metrics_from_fseries(p, 16),
        lambda p: _bindings.curve_length_from_fseries(p, 16),
        lambda p: _bindings.min_non_neighbor_distance_from_fseries(p, 16),
        lambda p: _bindings.reach_proxy_from_fseries(p, 16),
        lambda p: _bindings.compute_filament_energy_from_fseries(p, _bindings.FilamentEnergyParams()),
        lambda p: _bindings.compute_helicity_from_fseries(p, 8, 0.5, 2, 16),
        lambda p: _bindings.compare_fseries_files(p, p, 16),
    ])
    def test_unreadable_files(self, tmp_path, knot, call):
        (tmp_path / "comments.fseries").write_text("% nothing\n% here\n")
        (tmp_path / "junk.fseries").write_bytes(bytes(range(256)) * 4)
        os.mkfifo(tmp_path / "pipe.fseries")
        # Only regular files are read: a directory, a FIFO and devices are files that do not open. The
        # message quotes the path whole, NUL included, and a name that is not UTF-8 as os.listdir gives it.
        for path in [str(tmp_path / n) for n in ("missing.fseries", "comments.fseries", "junk.fseries", "",
                                                 "pipe.fseries")] + [
                "/dev/zero", "/dev/urandom", knot + "\0.txt", "\0" + knot,
                os.fsdecode(os.fsencode(str(tmp_path)) + b"/\xff\xfe.fseries")]:
            with pytest.raises(RuntimeError) as e:
                call(path)
            assert str(e.value) == "no blocks parsed from: " + path

    def test_bad_counts_and_margins(self, knot):
        for call in (lambda: _bindings.sample_curve_centered(knot, -1),
                     lambda: _bindings.curve_length_from_fseries(knot, -5),
                     lambda: _bindings.compute_helicity_from_fseries(knot, 8, 0.5, 2, -1)):
            with pytest.raises(ValueError):
                call()
        with pytest.raises(ValueError, match="^compute_helicity_from_fseries: negative interior_margin$"):
            _bindings.compute_helicity_from_fseries(knot, interior_margin=-1)
        with pytest.raises(ValueError, match="^compute_helicity_from_fseries: grid_size above 1290$"):
            _bindings.compute_helicity_from_fseries(knot, grid_size=1291)
        # A file that yields no block is reported before the arguments are checked.
        with pytest.raises(RuntimeError) as e:
            _bindings.compute_helicity_from_fseries(knot + ".missing", grid_size=1291, interior_margin=-1)
        assert str(e.value) == "no blocks parsed from: " + knot + ".missing"
        with pytest.raises(TypeError):
            _bindings.compute_curve_metrics_from_fseries(knot, 16.0)
        with pytest.raises(TypeError):
            _bindings.sample_curve_centered(None)
        with pytest.raises(TypeError):
            _bindings.compute_curve_metrics_from_fseries(knot, 2 ** 40)


class TestBatchAndCompare:
    def test_listing_sorted_flat_and_recursive(self, tmp_path):
        text = fseries_text(TREFOIL_ROWS)
        for name in ("b.fseries", "B.fseries", ".hidden.fseries", "sub/c.fseries", "sub.fseries", "x.fseries.txt"):
            (tmp_path / name).parent.mkdir(exist_ok=True)
            (tmp_path / name).write_text(text)
        (tmp_path / "link.fseries").symlink_to("b.fseries")
        (tmp_path / "lsub").symlink_to("sub")
        root = str(tmp_path)
        flat = _bindings.batch_helicity_from_dir(root, 4, 0.5, 1, 12)
        assert all(isinstance(r, _bindings.HelicityResult) for r in flat)
        assert [r.path for r in flat] == [root + "/" + n for n in (
            ".hidden.fseries", "B.fseries", "b.fseries", "link.fseries", "sub.fseries")]
        tree = _bindings.batch_helicity_from_dir(root_dir=root + "/", grid_size=4, spacing=0.5, interior_margin=1,
                                                 nsamples=12, recurse=True)
        assert [r.path for r in tree] == [root + "/" + n for n in (
            ".hidden.fseries", "B.fseries", "b.fseries", "link.fseries", "sub.fseries", "sub/c.fseries")]
        assert tree[1].Hc == _bindings.compute_helicity_from_fseries(root + "/B.fseries", 4, 0.5, 1, 12).Hc

    def test_failures(self, tmp_path, knot):
        with pytest.raises(RuntimeError) as e:
            _bindings.batch_helicity_from_dir(knot)
        assert str(e.value) == "directory does not exist: " + knot
        empty = tmp_path / "empty"
        empty.mkdir()
        assert _bindings.batch_helicity_from_dir(str(empty), recurse=True) == []
        # The arguments are checked once a file has been read: without files there is nothing to check.
        assert _bindings.batch_helicity_from_dir(str(empty), interior_margin=-2, grid_size=1291) == []
        with pytest.raises(ValueError, match="^batch_helicity_from_dir: negative interior_margin$"):
            _bindings.batch_helicity_from_dir(os.path.dirname(knot), interior_margin=-2)
        (tmp_path / "zz.fseries").write_text("% no rows\n")
        with pytest.raises(RuntimeError) as e:
            _bindings.batch_helicity_from_dir(str(tmp_path), 4, 0.5, 1, 12)
        assert str(e.value) == "no blocks parsed from: " + str(tmp_path / "zz.fseries")

    def test_compare(self, knot, tmp_path):
        same = _bindings.compare_fseries_files(knot, knot)
        assert type(same) is dict and list(same) == COMPARE_KEYS
        assert all(v == 0.0 for k, v in same.items() if k.startswith("d") or k == "rms_point_delta")
        circle = tmp_path / "circle.fseries"
        circle.write_text(fseries_text([(2, 0, 0, 2, 0, 0)]))
        other = _bindings.compare_fseries_files(path_a=knot, path_b=str(circle), nsamples=64, skip=3)
        assert other["L_b"] == _bindings.curve_length_from_fseries(str(circle), 64)
        assert other["dL"] == other["L_b"] - other["L_a"] != 0.0
        assert other["rms_point_delta"] > 0.0
        assert all(v == 0.0 for v in _bindings.compare_fseries_files(knot, str(circle), 0).values())
        assert _bindings.compare_fseries_files(knot, knot, 8, 4)["reach_proxy_a"] == 5e299
