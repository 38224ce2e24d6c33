"""Particle evaluator, tail settings, relativistic metrics and the zoo evaluator, as Python sees them."""
import hashlib
import json
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import _bindings as b
from conftest import assert_interruptible, child_env, doc_body

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IDEAL_DB = os.path.join(REPO, "resources", "ideal_database.txt")
R_E = 2.81794034e-15

NOT_FOUND = "[!] TARQcore: ideal_database.txt niet gevonden."


def knoop(ident):
    return "[!] TARQcore: Knoop ID " + ident + " niet gevonden in database."


@pytest.fixture
def ideal_db(monkeypatch):
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", IDEAL_DB)
    return IDEAL_DB


ROW = '  <Coeff I="{i}" A="{a}" B=" 0.000000, 1.000000, 0.000000" />\n'
FIXTURE = (
    '<DATA TiABe="Fixture" Author="nobody" Date="1/1/2000 0:00:00 a.m.">\n'
    '<AB Id="circle" Conway="0" L=" 6.283185" D=" 1.000000">\n'
    + ROW.format(i="  1", a=" 1.000000, 0.000000, 0.000000")
    + "</AB>\n"
    '<AB Id="badI" Conway="0" L=" 6.283185" D=" 1.000000">\n'
    + ROW.format(i="  x", a=" 1.000000, 0.000000, 0.000000")
    + "</AB>\n"
    '<AB Id="hugeI" Conway="0" L=" 6.283185" D=" 1.000000">\n'
    + ROW.format(i="99999999999", a=" 1.000000, 0.000000, 0.000000")
    + "</AB>\n</DATA>"
)


@pytest.fixture
def fixture_db(tmp_path, monkeypatch):
    path = tmp_path / "fixture_db.txt"
    path.write_text(FIXTURE)
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(path))
    monkeypatch.chdir(tmp_path)
    return path


def centroid_and_radius(filaments):
    pts = np.array([p for f in filaments for p in f], dtype=float)
    c = pts.mean(axis=0)
    return c, np.sqrt(((pts - c) ** 2).sum(axis=1)).max()


# ----------------------------------------------------------------------------------------------------------------
# Registration


def test_classes_are_module_level_in_order():
    names = [n for n in vars(b) if n in ("TailApproxConfig", "RelativisticMetrics", "ParticleEvaluator",
                                          "ZooResult", "ZooEvaluator")]
    assert names == ["TailApproxConfig", "RelativisticMetrics", "ParticleEvaluator", "ZooResult", "ZooEvaluator"]
    assert not hasattr(b.ParticleEvaluator, "TailApproxConfig")
    assert not hasattr(b.ZooEvaluator, "Result")


def test_docstrings():
    assert doc_body(b.ParticleEvaluator.print_canonical_derivation) == (
        "\nPrints the dynamic fluid derivation of the core density.\n")
    assert doc_body(b.ParticleEvaluator.get_filaments) == "\nExport the 3D coordinates of all present vortex rings.\n"
    assert doc_body(b.ZooEvaluator.evaluate_all_golden_nls) == (
        "\nRun ab initio Golden NLS mass evaluation for the entire TARQ Master Dictionary.\n")
    assert doc_body(b.ZooEvaluator.get_entry_mass) == "\nGet the mass of a specific knot by its dictionary ID.\n"
    for name in ("relax", "get_dimless_ropelength", "get_physical_length_m", "compute_core_energy_J",
                 "compute_tail_energy_J", "get_mass_mev_ab_initio", "get_core_mass_mev_only",
                 "set_tail_approx_config", "get_tail_approx_config", "compute_tail_energy_surrogate_J",
                 "compute_relativistic_metrics"):
        assert doc_body(getattr(b.ParticleEvaluator, name)) == "", name
    for cls in (b.TailApproxConfig, b.RelativisticMetrics, b.ParticleEvaluator, b.ZooResult, b.ZooEvaluator):
        assert cls.__doc__ is None


# ----------------------------------------------------------------------------------------------------------------
# Construction from the database


def test_construct_from_supplied_database(ideal_db):
    by_position = b.ParticleEvaluator("3:1:1")
    by_keyword = b.ParticleEvaluator(knot_ab_id="3:1:1", resolution=4000)
    fil = by_position.get_filaments()
    assert len(fil) == 1 and len(fil[0]) == 4000
    assert fil == by_keyword.get_filaments()
    link = b.ParticleEvaluator("L2a1", resolution=16).get_filaments()
    assert [len(f) for f in link] == [16, 16]


LOCALE_CHILD = """
import json, locale, sys
import _bindings as b
def read():
    return {"filaments": b.ParticleEvaluator("3:1:1", 64).get_filaments(),
            "link": b.ParticleEvaluator("L2a1", 16).get_filaments()}
before = read()
locale.setlocale(locale.LC_NUMERIC, sys.argv[1])
assert locale.localeconv()["decimal_point"] == ","
print(json.dumps([before, read()]))
"""


def test_database_numbers_do_not_follow_the_c_locale(ideal_db, comma_locale):
    name, variables = comma_locale
    out = subprocess.run([sys.executable, "-c", LOCALE_CHILD, name],
                         env=child_env(TARQ_IDEAL_DATABASE=ideal_db, **variables),
                         capture_output=True, text=True, check=True).stdout
    before, after = json.loads(out)
    assert after == before


def test_constructor_failures(ideal_db, tmp_path, monkeypatch):
    for call in (lambda: b.ParticleEvaluator("3_1"), lambda: b.ParticleEvaluator(knot_ab_id="3_1", resolution=4000)):
        with pytest.raises(RuntimeError) as exc:
            call()
        assert str(exc.value) == knoop("3_1")
    with pytest.raises(ValueError):
        b.ParticleEvaluator("3:1:1", -1)
    with pytest.raises(TypeError):
        b.ParticleEvaluator("3:1:1", 4000.0)
    empty = tmp_path / "empty.txt"
    empty.write_text("")
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(empty))
    monkeypatch.chdir(tmp_path)
    with pytest.raises(RuntimeError) as exc:
        b.ParticleEvaluator("3:1:1")
    assert str(exc.value) == NOT_FOUND


def test_working_directory_fallback(fixture_db, tmp_path, monkeypatch):
    (tmp_path / "ideal_database.txt").write_text(FIXTURE)
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(tmp_path / "missing.txt"))
    assert len(b.ParticleEvaluator("circle", 4).get_filaments()[0]) == 4
    (tmp_path / "ideal_database.txt").unlink()
    monkeypatch.delenv("TARQ_IDEAL_DATABASE")
    with pytest.raises(RuntimeError) as exc:
        b.ParticleEvaluator("circle", 4)
    assert str(exc.value) == NOT_FOUND


def test_bad_harmonic_index(fixture_db):
    with pytest.raises(ValueError):
        b.ParticleEvaluator("badI", 4)
    with pytest.raises(IndexError):
        b.ParticleEvaluator("hugeI", 4)
    pts = b.ParticleEvaluator("circle", 4).get_filaments()[0]
    assert pts[0] == [1.0, 0.0, 0.0]


# ----------------------------------------------------------------------------------------------------------------
# Filaments, relaxation and measures


def test_filament_round_trip_is_a_copy():
    tri = [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]
    pe = b.ParticleEvaluator([tri])
    got = pe.get_filaments()
    assert got == [tri]
    got[0].append([5.0, 5.0, 5.0])
    got[0][0][0] = 9.0
    assert pe.get_filaments() == [tri]
    assert b.ParticleEvaluator(input_filaments=np.array([tri])).get_filaments() == [tri]


def test_empty_set():
    pe = b.ParticleEvaluator([])
    pe.relax()  # nothing to relax: the set stays empty
    assert pe.get_filaments() == []
    for v in (pe.get_dimless_ropelength(), pe.get_physical_length_m(), pe.compute_core_energy_J(),
              pe.compute_tail_energy_J(True), pe.get_mass_mev_ab_initio(True), pe.get_core_mass_mev_only()):
        assert v == 0.0


def test_relax_scales_about_centroid():
    ring = [[math.cos(k * 0.5) + 2.0, math.sin(k * 0.5) - 1.0, 0.1 * math.sin(k)] for k in range(12)]
    pe = b.ParticleEvaluator([ring])
    c0, _ = centroid_and_radius(pe.get_filaments())
    pe.relax(iterations=0)  # no iteration: only the scaling to r_e about the centroid
    c1, r1 = centroid_and_radius(pe.get_filaments())
    assert np.allclose(c1, c0, rtol=0, atol=1e-15)
    assert r1 == pytest.approx(R_E, abs=1e-15)  # coordinates near 2 resolve about 4e-16
    pe.relax()  # defaults: 1000 iterations, time step 0.01
    c2, r2 = centroid_and_radius(pe.get_filaments())
    assert r2 == pytest.approx(R_E, abs=1e-15)


def test_measures_of_unit_square():
    pe = b.ParticleEvaluator([[[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]])
    assert pe.get_physical_length_m() == (4.0 / R_E) * R_E
    assert pe.get_dimless_ropelength() == 4.0 / R_E
    assert pe.get_dimless_ropelength(stretch_lambda=2.0) == (4.0 / R_E) / 4.0
    assert pe.compute_core_energy_J() == ((4.0 / R_E) * R_E) * 14.5267535
    assert pe.get_core_mass_mev_only() == pe.compute_core_energy_J() / 1.602176634e-13
    assert pe.get_mass_mev_ab_initio() == pe.get_core_mass_mev_only()
    assert pe.compute_tail_energy_J() == 0.0
    assert pe.compute_tail_energy_J(include_tail=True) == 0.0


def test_relax_is_interruptible():
    cloud = np.random.default_rng(7).uniform(-2.0, 2.0, size=(300, 3)).tolist()
    pe = b.ParticleEvaluator([cloud])
    assert_interruptible(lambda: pe.relax(iterations=10**6))


# ----------------------------------------------------------------------------------------------------------------
# Tail settings and metrics


def test_tail_config_defaults_and_copies():
    cfg = b.TailApproxConfig()
    assert (cfg.enabled, cfg.radial_samples, cfg.azimuth_samples, cfg.r_min_factor, cfg.r_max_factor,
            cfg.exclusion_ds_factor, cfg.use_log_shell_weight) == (False, 8, 8, 1.25, 8.0, 3.0, False)
    pe = b.ParticleEvaluator([[[0, 0, 0], [1e-15, 0, 0], [0, 1e-15, 0], [0, 0, 1e-15]]])
    got = pe.get_tail_approx_config()
    got.enabled = True
    got.exclusion_ds_factor = 1.0  # the default window would exclude every segment of four
    assert pe.get_tail_approx_config().enabled is False
    assert pe.compute_tail_energy_surrogate_J() == 0.0
    pe.set_tail_approx_config(got)
    assert pe.get_tail_approx_config().enabled is True
    energy = pe.compute_tail_energy_surrogate_J()
    assert energy > 0.0
    assert pe.compute_tail_energy_J(True) == energy
    assert pe.get_mass_mev_ab_initio(include_tail=True) == (pe.compute_core_energy_J() + energy) / 1.602176634e-13
    with pytest.raises(TypeError):
        pe.set_tail_approx_config(config=got)
    with pytest.raises(TypeError):
        pe.set_tail_approx_config(b.RelativisticMetrics())
    # None for a record argument is refused before the operation runs.
    with pytest.raises(RuntimeError):
        pe.set_tail_approx_config(None)
    with pytest.raises(TypeError):
        cfg.radial_samples = 2.5


def test_relativistic_metrics_record():
    m = b.RelativisticMetrics()
    assert (m.helicity, m.time_dilation_map, m.core_time_dilation) == (0.0, [], 0.0)
    m.time_dilation_map.append(0.5)
    assert m.time_dilation_map == []
    m.time_dilation_map = [0.25, 0.5]
    assert m.time_dilation_map == [0.25, 0.5]

    empty = b.ParticleEvaluator([]).compute_relativistic_metrics()
    assert (empty.helicity, empty.time_dilation_map, empty.core_time_dilation) == (0.0, [], 1.0)
    two = b.ParticleEvaluator([[[0, 0, 0], [1, 0, 0]]]).compute_relativistic_metrics(circulation=1.0)
    assert (two.helicity, two.time_dilation_map, two.core_time_dilation) == (0.0, [1.0, 1.0], 1.0)


def test_relativistic_metrics_of_a_ring():
    t = np.arange(40) * (2 * math.pi / 40)
    ring = np.stack([np.cos(t) + 0.3 * np.cos(2 * t), np.sin(t), 0.2 * np.sin(3 * t)], axis=1).tolist()
    a = b.ParticleEvaluator([ring]).compute_relativistic_metrics(1e3)
    extra = b.ParticleEvaluator([ring, [[0, 0, 0], [1, 0, 0], [1, 1, 0]]]).compute_relativistic_metrics(1e3)
    assert len(a.time_dilation_map) == 40
    assert a.time_dilation_map == extra.time_dilation_map and a.helicity == extra.helicity
    assert a.core_time_dilation == sum(a.time_dilation_map) / 40
    assert all(0.0 < x < 1.0 for x in a.time_dilation_map)
    # Default circulation on relaxed coordinates: every pair is inside the point law's exclusion radius.
    pe = b.ParticleEvaluator([ring])
    pe.relax(iterations=0)
    rel = pe.compute_relativistic_metrics()
    assert rel.time_dilation_map == [1.0] * 40 and rel.core_time_dilation == 1.0 and rel.helicity == 0.0


def test_print_canonical_derivation_writes_to_process_stdout():
    code = ("import _bindings as b\n"
            "assert b.ParticleEvaluator.print_canonical_derivation() is None\n"
            "b.ParticleEvaluator.print_canonical_derivation()\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, check=True, env=child_env()).stdout
    assert len(out) == 2 * 745
    assert out[:745] == out[745:]
    assert hashlib.md5(out[:745]).hexdigest() == "04cfd2aa8e6366f529b491722df00ffc"
    assert b"    F_max   = 29.053507 N\n" in out[:745]
    assert b"    rho_E    = 3.4992456123187799e+35 J/m^3\n" in out


# ----------------------------------------------------------------------------------------------------------------
# Zoo evaluator

ZOO = [
    ("Knot 10_1 (Twist)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 11_1 (Torus)", 2.0, 5, 9.173837134886493e-27),
    ("Knot 12a1202", 3.0, 3, 9.4317622716419832e-26),
    ("Knot 15a331", 3.0, 4, 3.6026126139583192e-26),
    ("Knot 3_1 (Trefoil)", 2.0, 1, 4.3097506887507271e-25),
    ("Knot 4_1 (Figure-Eight)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 5_1 (Torus)", 2.0, 2, 1.6461782800645087e-25),
    ("Knot 5_2 (Twist)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 6_1 (Twist)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 6_2", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 6_3", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 7_1 (Torus)", 2.0, 3, 6.2878415144279884e-26),
    ("Knot 7_2 (Twist)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 8_1 (Twist)", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 8_12", 3.0, 2, 2.4692674200967629e-25),
    ("Knot 8_17", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 8_19 (T_3,4)", 3.0, 3, 9.4317622716419832e-26),
    ("Knot 8_2", 3.0, 2, 2.4692674200967629e-25),
    ("Knot 8_21", 3.0, 2, 2.4692674200967629e-25),
    ("Knot 8_9", 3.0, 1, 6.4646260331260911e-25),
    ("Knot 9_1 (Torus)", 2.0, 4, 2.4017417426388795e-26),
    ("Knot 9_2 (Twist)", 2.0, 1, 4.3097506887507271e-25),
    ("Link 2^2_1 (Hopf Link)", 2.0, 0, 1.1283073786187673e-24),
    ("Link 4^2_1 (Solomon's)", 2.0, 1, 4.3097506887507271e-25),
    ("Link 5^2_1 (Whitehead)", 3.0, 1, 6.4646260331260911e-25),
    ("Link 6^2_1", 3.0, 1, 6.4646260331260911e-25),
    ("Link 6^3_1", 3.0, 0, 1.6924610679281508e-24),
    ("Link 6^3_2 (Borromean)", 3.0, 1, 6.4646260331260911e-25),
    ("Link 6^3_3", 3.0, 1, 6.4646260331260911e-25),
    ("Link 8^2_1", 3.0, 2, 2.4692674200967629e-25),
    ("Unknot", 1.0, 0, 5.6415368930938367e-25),
    ("Unlink", 1.0, 0, 5.6415368930938367e-25),
]


def test_zoo_masses_bit_for_bit():
    results = b.ZooEvaluator.evaluate_all_golden_nls()
    assert [(r.identifier, r.bridge_b, r.genus_g, r.mass_mev) for r in results] == ZOO
    assert all(isinstance(r.genus_g, int) for r in results)
    for key, _, _, mass in ZOO:
        assert b.ZooEvaluator.get_entry_mass(key) == mass
    assert b.ZooEvaluator.get_entry_mass(identifier="Link 2^2_1 (Hopf Link)") == 2.0 * ZOO[30][3]


def test_zoo_lookup_and_records():
    for key in ("", "3_1", "Knot 3_1", "knot 3_1 (trefoil)"):
        assert b.ZooEvaluator.get_entry_mass(key) == -1.0
    r = b.ZooEvaluator.evaluate_all_golden_nls()[0]
    for field in ("identifier", "mass_mev", "bridge_b", "genus_g"):
        with pytest.raises(AttributeError):
            setattr(r, field, getattr(r, field))
    for cls in (b.ZooResult, b.ZooEvaluator):
        with pytest.raises(TypeError, match="No constructor defined!"):
            cls()
