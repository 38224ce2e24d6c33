"""MagnusBernoulliIntegrator from Python: construction, keyword names, triples and docstrings."""
import math

import pytest

import _bindings as b
from conftest import doc_body

M = b.MagnusBernoulliIntegrator


def test_force_and_acceleration_as_new_lists():
    unit = M(1.0, 0.0, 0.0, 1.0)
    f = unit.compute_magnus_force([1, 0, 0], [0, 1, 0], 2.0, [0, 1, 0], [0, 0, 0])
    assert type(f) is list and f == [0.0, 0.5, 1.0] and all(type(v) is float for v in f)
    assert unit.compute_magnus_force(tangent=(1, 0, 0), normal=(0, 1, 0), curvature_radius=0.0,
                                     v_knot=(0, 1, 0), v_bg=(0, 0, 0)) == [0.0, 0.0, 1.0]
    a = M(rho_f=1.0, v_swirl=1.0, r_c=1.0, Gamma=1.0).compute_swirl_coulomb_accel(source_pos=[0, 0, 0],
                                                                                   eval_pos=[1, 0, 0])
    assert a[0] == -math.exp(-2.0)
    assert math.copysign(1.0, a[1]) == -1.0 and math.copysign(1.0, a[2]) == -1.0
    assert M(1, 1, 1, 1).compute_swirl_coulomb_accel([2, 2, 2], [2, 2, 2]) == [0.0, 0.0, 0.0]


def test_curvature_radius_nan_drops_normal_term():
    f = M(1.0, 0.0, 0.0, 1.0).compute_magnus_force([1, 0, 0], [0, 1, 0], float("nan"), [0, 1, 0], [0, 0, 0])
    assert f == [0.0, 0.0, 1.0]


def test_constants_are_not_readable():
    m = M(1.0, 2.0, 3.0, 4.0)
    for name in ("rho_f", "v_swirl", "r_c", "Gamma"):
        assert not hasattr(m, name)


def test_docstrings():
    assert doc_body(M.__init__) == "\nInitializes the Magnus-Bernoulli Integrator with foundational TARQ constants.\n"
    assert doc_body(M.compute_magnus_force) == "\nComputes the transverse Magnus-Curvature force on a vortex segment.\n"
    assert doc_body(M.compute_swirl_coulomb_accel) == (
        "\nComputes the exact continuous Swirl-Coulomb radial acceleration.\n")


@pytest.mark.parametrize("call", [
    lambda: M(1.0, 2.0, 3.0),
    lambda: M(1.0, 2.0, 3.0, gamma=4.0),
    lambda: M(1.0, 2.0, 3.0, "4"),
    lambda: M(1, 1, 1, 1).compute_swirl_coulomb_accel([1, 0], [0, 0, 0]),
    lambda: M(1, 1, 1, 1).compute_swirl_coulomb_accel([1, 0, 0, 0], [0, 0, 0]),
    lambda: M(1, 1, 1, 1).compute_swirl_coulomb_accel(None, [0, 0, 0]),
    lambda: M(1, 1, 1, 1).compute_swirl_coulomb_accel([1, 0, "x"], [0, 0, 0]),
    lambda: M(1, 1, 1, 1).compute_magnus_force([1, 0, 0], [0, 1, 0], None, [0, 1, 0], [0, 0, 0]),
    lambda: M(1, 1, 1, 1).compute_magnus_force([1, 0, 0], [0, 1, 0], 1.0, [0, 1, 0]),
    lambda: M.compute_swirl_coulomb_accel(None, [1, 0, 0], [0, 0, 0]),
])
def test_bad_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
