"""Thermodynamic formulas from Python: names, keywords, docstrings and IEEE results instead of errors."""
import math

import pytest

import _bindings as b
from conftest import doc_body

DOCS = [
    ("potential_temperature", "Compute potential temperature θ = T (p0/p)^k"),
    ("entropy_from_theta", "Entropy differential ds = cp * dθ / θ"),
    ("entropy_from_pv", "Entropy from pressure and volume ds = NR/(γ-1) * (ln(p)+ln(V))"),
    ("enthalpy", "Enthalpy H = E + pV"),
]


@pytest.mark.parametrize("name,text", DOCS)
def test_docstrings(name, text):
    assert doc_body(getattr(b, name)) == "\n" + text + "\n"


def test_keywords_in_any_order_match_positions():
    pos = b.entropy_from_pv(2.0, 8.314, 3.0, 5.0, 1.4)
    assert pos == b.entropy_from_pv(gamma=1.4, V=5.0, p=3.0, R=8.314, N=2.0)
    assert pos == b.entropy_from_pv(2.0, 8.314, V=5.0, gamma=1.4, p=3.0)
    assert b.potential_temperature(cp=2.0, R=1.0, p=1.0, p0=4.0, T=300.0) == 600.0
    assert b.entropy_from_theta(dtheta=5.0, theta=250.0, cp=1004.0) == 20.08
    assert b.enthalpy(V=3.0, p=2.0, internal_energy=5.0) == 11.0


def test_edge_values():
    assert b.potential_temperature(300.0, 1e5, 1e5, 287.05, 1004.0) == 300.0
    assert b.entropy_from_pv(3.0, 8.314, 2.0, 0.5, 1.4) == 0.0
    assert not math.isfinite(b.entropy_from_pv(1.0, 8.314, 2.0, 0.5, 1.0))
    assert b.enthalpy(7.25, 0.0, 12.0) == 7.25


def test_degenerate_arguments_return_infinities_and_nans():
    assert b.entropy_from_theta(2.0, 0.0, 1.0) == math.inf
    assert math.isnan(b.entropy_from_theta(2.0, 0.0, 0.0))
    assert b.potential_temperature(300.0, 1e5, 0.0, 1.0, 2.0) == math.inf
    assert b.entropy_from_pv(1.0, 1.0, 0.0, 1.0, 2.0) == -math.inf
    assert math.isnan(b.entropy_from_pv(1.0, 1.0, -1.0, 1.0, 2.0))
    assert math.isnan(b.enthalpy(float("nan"), 1.0, 1.0))


@pytest.mark.parametrize("call", [
    lambda: b.enthalpy(1.0, 2.0),
    lambda: b.enthalpy("1", 2.0, 3.0),
    lambda: b.enthalpy(None, 2.0, 3.0),
    lambda: b.potential_temperature(300.0, 1e5, 1e5, 287.0, cp=None),
    lambda: b.entropy_from_theta(1.0, 2.0, 3.0, 4.0),
    lambda: b.entropy_from_theta(1.0, 2.0, dt=3.0),
])
def test_wrong_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
