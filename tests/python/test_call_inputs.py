"""A call finishes on the values its arguments had when it began, whatever Python code runs meanwhile: a
signal handler at an interrupt poll, or a finalizer run by the garbage collector while the result is built.
A method that changes its object stores its own result when it returns."""

import numpy as np
import pytest

import _bindings as b
from conftest import TREFOIL_ROWS, alarm, fseries_text, make_block


def wide_block(n=3000, scale=1.0):
    return make_block([scale] + [1e-4] * (n - 1), [1e-4] * n, [1e-4] * n, [scale] + [1e-4] * (n - 1),
                      [1e-4] * n, [0.5] + [1e-4] * (n - 1))


def component():
    c = b.IdealABComponent()
    c.fourier = wide_block()
    return c


def ab_block():
    ab = b.IdealABBlock()
    ab.components = [component(), component()]
    return ab


def system():
    s = b.VortexKnotSystem()
    s.initialize_trefoil_knot(1500)
    return s


def knot():
    k = b.fourier_knot()
    k.activeBlock = wide_block()
    return k


S = np.linspace(0.0, 1.0, 5000)


def energy_file(tmp_path):
    path = tmp_path / "knot.trefoil.fseries"
    path.write_text(fseries_text(TREFOIL_ROWS))
    return str(path)


def energy_params(nsamples=6000):
    p = b.FilamentEnergyParams()
    p.nsamples = nsamples
    return p


def public_fields(r):
    return [getattr(r, k) for k in dir(r) if not k.startswith("_")]


def tail_config():
    c = b.TailApproxConfig()
    c.enabled, c.radial_samples, c.azimuth_samples = True, 7, 9
    return c


def named_ab(name):
    ab = ab_block()
    ab.id, ab.conway, ab.L, ab.D, ab.n = name, "3_1", 16.37, 1.0, 2
    return ab


def replace_tail_config(c):
    c.enabled, c.radial_samples, c.azimuth_samples, c.r_max_factor = False, 1, 1, 99.0


def message(call):
    try:
        return call()
    except RuntimeError as e:
        return str(e)


# (make the arguments in a scratch directory, the call, what Python code does to the arguments while the call
# runs); a method that changes its object is judged by the object's state once the handler no longer runs.
# Every call that takes a record has a row.
CASES = {
    "evaluate_ideal_ab_components": (
        lambda tmp: (ab_block(),), lambda ab: [p.tolist() for p in b.evaluate_ideal_ab_components(ab, S)],
        lambda ab: setattr(ab, "components", [])),
    "evaluate_ideal_ab_components:element": (
        lambda tmp: (ab_block(),), lambda ab: [p.tolist() for p in b.evaluate_ideal_ab_components(ab, S)],
        lambda ab: setattr(ab.components[0].fourier, "a_x", [2.0]) if ab.components else None),
    "evaluate_ideal_component": (
        lambda tmp: (component(),), lambda c: b.evaluate_ideal_component(c, S).tolist(),
        lambda c: setattr(c, "fourier", b.FourierBlock())),
    "evaluate_fourier_block": (
        lambda tmp: (wide_block(),), lambda f: b.evaluate_fourier_block(f, S.tolist()),
        lambda f: setattr(f, "a_x", [])),
    "evaluate_with_derivatives": (
        lambda tmp: (wide_block(),), lambda f: b.evaluate_with_derivatives(f, 0.3),
        lambda f: setattr(f, "a_x", [])),
    "curvature_exact": (
        lambda tmp: (wide_block(),), lambda f: b.curvature_exact(f, S.tolist()),
        lambda f: setattr(f, "b_y", [3.0] * 7)),
    "length_exact": (
        lambda tmp: (wide_block(),), lambda f: b.length_exact(f, 5000),
        lambda f: setattr(f, "a_y", [2.0] * 3)),
    "bending_energy_exact": (
        lambda tmp: (wide_block(),), lambda f: b.bending_energy_exact(f, 5000),
        lambda f: setattr(f, "a_z", [])),
    "mode_energies": (
        lambda tmp: (wide_block(),), lambda f: b.mode_energies(f),
        lambda f: setattr(f, "b_x", [9.0])),
    "min_self_distance_exactish": (
        lambda tmp: (wide_block(),), lambda f: b.min_self_distance_exactish(f, 5000, 4),
        lambda f: setattr(f, "a_x", [0.1])),
    "describe_fourier_block": (
        lambda tmp: (wide_block(),), lambda f: public_fields(b.describe_fourier_block(f, 800, 4)),
        lambda f: setattr(f, "b_y", [])),
    "compute_helicity_from_fourier_block": (
        lambda tmp: (wide_block(),), lambda f: b.compute_helicity_from_fourier_block(f, 24, 0.1, 4, 1500),
        lambda f: setattr(f, "a_x", [5.0, 1.0])),
    "index_of_largest_block": (
        lambda tmp: (wide_block(10), wide_block(), wide_block(20)),
        lambda *blocks: b.index_of_largest_block(list(blocks)),
        lambda *blocks: setattr(blocks[1], "a_x", [])),
    "index_of_ideal_id": (
        lambda tmp: (named_ab("3:1:1"), named_ab("4:1:1")),
        lambda *abs_: b.index_of_ideal_id(list(abs_), "4:1:1"),
        lambda *abs_: setattr(abs_[1], "id", "5:1:1")),
    "format_ideal_ab_header": (
        lambda tmp: (named_ab("3:1:1"),), lambda ab: b.format_ideal_ab_header(ab),
        lambda ab: setattr(ab, "conway", "x" * 10)),
    "compute_filament_energy_from_fseries": (
        lambda tmp: (energy_file(tmp), energy_params()),
        lambda path, p: public_fields(b.compute_filament_energy_from_fseries(path, p)),
        lambda path, p: (setattr(p, "nsamples", 64), setattr(p, "Gamma", 7.0))),
    "ParticleEvaluator.set_tail_approx_config": (
        lambda tmp: (b.ParticleEvaluator("3:1:1", 200), tail_config()),
        lambda pe, c: pe.set_tail_approx_config(c),
        lambda pe, c: replace_tail_config(c)),
    "ParticleEvaluator.compute_relativistic_metrics": (
        lambda tmp: (b.ParticleEvaluator("3:1:1", 3000),),
        lambda pe: pe.compute_relativistic_metrics().time_dilation_map,
        lambda pe: pe.relax(1)),
    "VortexKnotSystem.evolve": (
        lambda tmp: (system(),), lambda s: s.evolve(1e-6, 40),
        lambda s: s.initialize_trefoil_knot(10)),
    "fourier_knot.reconstruct": (
        lambda tmp: (knot(),), lambda k: k.reconstruct(5000),
        lambda k: setattr(k, "activeBlock", b.FourierBlock())),
    # Bisection past every tolerance, so that it runs for a while; another regime cannot bracket the root.
    "GoldenNLSClosure.infer_geometric_ratio_safe": (
        lambda tmp: (b.GoldenNLSClosure(),),
        lambda g: message(lambda: g.infer_geometric_ratio_safe(9.1e-31, 1.0, 1e-6, 10.0, -1.0, -1.0, 10**6)),
        lambda g: g.set_regime(b.DensityRegime.EFFECTIVE_FLUID)),
}

# Calls in which no Python code can run: nothing polls and no result conversion collects. Their rows show
# that they, too, read only what they were given when they began.
RUNS_NO_PYTHON = {"evaluate_with_derivatives", "mode_energies", "index_of_largest_block", "index_of_ideal_id",
                  "format_ideal_ab_header", "ParticleEvaluator.set_tail_approx_config"}

# What a method leaves in its object, read once the handler no longer runs.
STATE = {
    "VortexKnotSystem.evolve": lambda s: s.get_positions(),
    "fourier_knot.reconstruct": lambda k: k.points,
    "ParticleEvaluator.set_tail_approx_config": lambda pe, c: [
        getattr(pe.get_tail_approx_config(), k) for k in dir(c) if not k.startswith("_")],
}


def _run(call, args, act):
    """call(*args) while act(*args) runs every millisecond; the result and how often act ran."""
    ran = [0]

    def handler(signum, frame):
        # Not again while it runs: the calls it makes poll, and would run it once more, ever deeper.
        if ran[0] >= 0:
            count, ran[0] = ran[0], -1
            act(*args)
            ran[0] = count + 1

    with alarm(handler, 0.001, 0.001):
        return call(*args), ran[0]


@pytest.mark.parametrize("name", sorted(CASES))
def test_a_signal_handler_that_replaces_an_argument_does_not_change_the_result(name, monkeypatch, tmp_path):
    make, call, act = CASES[name]
    monkeypatch.setenv("TARQ_IDEAL_DATABASE", str(__import__("test_interrupt").IDEAL_DB))
    state = STATE.get(name, lambda *args: None)
    args = make(tmp_path)
    expected = (call(*args), state(*args))
    args = make(tmp_path)
    got, ran = _run(call, args, act)
    if name not in RUNS_NO_PYTHON:
        assert ran > 0, "the call ended before the handler ran: make it longer"
    # The handler may also run once more after the method has stored its result: then the object holds
    # the handler's whole replacement instead, never a mixture.
    allowed = [expected]
    if name == "VortexKnotSystem.evolve":
        after_return = make(tmp_path)
        act(*after_return)
        allowed.append((expected[0], state(*after_return)))
    assert (got, state(*args)) in allowed


def test_the_storage_elements_refer_into_stays_theirs_while_a_method_runs():
    k = b.fourier_knot()
    k.blocks = [wide_block(), wide_block(10)]
    first = k.blocks[0]
    k.selectMaxHarmonics()
    k.reconstruct(100)
    assert k.blocks[0] is first and len(first.a_x) == 3000
    first.a_x = [5.0]
    assert k.blocks[0].a_x == [5.0]
