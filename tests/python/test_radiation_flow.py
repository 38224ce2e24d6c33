"""Radiation-flow formulas from Python: positional arguments only, no docstrings."""
import math

import pytest

import _bindings as b
from conftest import doc_body


def test_values():
    assert b.radiation_force(1.5e8, 1, 0, 1, 1) == 0.0
    assert b.radiation_force(1.5e8, 1, 0.5, 1, 1) == 2.0 / 3.0
    assert b.radiation_force(1.5e8, 1, 1, 1, 1) == math.inf
    assert b.van_der_pol_dx(1.0, 2.0) == 2.0
    assert b.van_der_pol_dx(5, 7) == 7.0
    assert b.van_der_pol_dy(0, 1, 2) == 2.0
    assert b.van_der_pol_dy(2, 0, 1) == -2.0
    assert all(type(v) is float for v in (b.van_der_pol_dx(5, 7), b.radiation_force(1, 1, 1, 1, 2)))


@pytest.mark.parametrize("name", ["radiation_force", "van_der_pol_dx", "van_der_pol_dy"])
def test_no_docstring(name):
    assert doc_body(getattr(b, name)) == ""


@pytest.mark.parametrize("call", [
    lambda: b.radiation_force(a1=1.5e8, a2=1, a3=0, a4=1, a5=1),
    lambda: b.radiation_force(1.5e8, 1, 0, 1, a5=1),
    lambda: b.radiation_force(1.5e8, 1, 0, 1, arg4=1),
    lambda: b.van_der_pol_dx(x=1.0, y=2.0),
    lambda: b.van_der_pol_dx(1.0, y=2.0),
    lambda: b.van_der_pol_dy(0, 1, mu=2),
    lambda: b.radiation_force(1.5e8, 1, 0, 1),
    lambda: b.van_der_pol_dy(0, 1, "2"),
])
def test_keywords_and_bad_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()
