"""Vorticity bindings: names, keywords, docstrings, the grid form of compute_vorticity and its size checks."""
import math

import numpy as np
import pytest

import _bindings as tb
from conftest import check_keyword_call, doc_body

DOCS = {
    "vorticity_z_2D": "Compute 2D vorticity: dv/dx - du/dy",
    "local_circulation_density": "Local circulation density (vorticity) via Stokes' theorem",
    "solid_body_rotation_vorticity": "Vorticity of solid body rotation: 2 * omega",
    "couette_vorticity": "Vorticity of Couette flow: -alpha",
    "crocco_relation": "Velocity-curl product equals pressure gradient divided by density",
    "compute_vorticity": "Vorticity tools for 2D flows",
    "rotating_frame_rhs": "Compute rotating frame momentum RHS",
    "crocco_gradient": "Compute \u2207H from Crocco's theorem",
    "baroclinic_term": "Baroclinic torque term",
    "compute_vorticity_rhs": "Vorticity transport RHS",
}
NAMES = list(DOCS)


def test_registration_order():
    names = list(vars(tb))
    # compute_vorticity keeps the place that the velocity-gradient form gave it.
    own = [n for n in NAMES if n != "compute_vorticity"]
    start = names.index(own[0])
    assert names[start:start + len(own)] == own
    assert names.index("compute_vorticity") < names.index("compute_helicity") < start


@pytest.mark.parametrize("name", NAMES)
def test_docstrings(name):
    fn = getattr(tb, name)
    if name == "compute_vorticity":
        # The grid form is the second and last overload.
        assert fn.__doc__.endswith("\n\n" + DOCS[name] + "\n")
        assert fn.__doc__.index("\n1. compute_vorticity(grad:") < fn.__doc__.index("\n2. compute_vorticity(u:")
    else:
        assert doc_body(fn) == "\n" + DOCS[name] + "\n"


G = [[0, 1, 0], [0, 0, 2], [3, 0, 0]]
KEYWORD_CALLS = [
    ("vorticity_z_2D", dict(dv_dx=3, du_dy=0.5), 2.5),
    ("local_circulation_density", dict(dv_dx=3, du_dy=0.5), 2.5),
    ("solid_body_rotation_vorticity", dict(omega=1.25), 2.5),
    ("couette_vorticity", dict(alpha=-2), 2.0),
    ("crocco_relation", dict(vorticity=[1, 2, 3], rho=2.0, pressure_gradient=[2, -4, 6]), [1.0, -2.0, 3.0]),
    ("rotating_frame_rhs", dict(velocity=[1, 0, 0], vorticity=[5, 5, 5], grad_phi=[1, 1, 1], grad_p=[2, -4, 6],
                                omega=[0, 0, 1], rho=2.0), [-2.0, -1.0, -4.0]),
    ("crocco_gradient", dict(velocity=[1, 0, 0], vorticity=[0, 0, 1], grad_phi=[1, 1, 1], grad_p=[2, -4, 6],
                             rho=2.0), [2.0, 1.0, 4.0]),
    ("baroclinic_term", dict(grad_rho=[1, 0, 0], grad_p=[0, 1, 0], rho=2.0), [0.0, 0.0, 0.25]),
    ("compute_vorticity_rhs", dict(omega=[1, 1, 1], grad_u=G, div_u=0.5, grad_rho=[1, 0, 0], grad_p=[0, 1, 0],
                                   rho=2.0), [0.5, 1.5, 2.75]),
    ("compute_vorticity", dict(u=[0, 2, 0, 0, 0, 0, 0, 7, 0], v=[0, 0, 0, 1, 0, 4, 0, 0, 0], nx=3, ny=3, dx=0.5,
                               dy=2.0), [0.0] * 4 + [1.75] + [0.0] * 4),
]


@pytest.mark.parametrize("name,kwargs,expected", KEYWORD_CALLS, ids=[c[0] for c in KEYWORD_CALLS])
def test_keywords_and_results(name, kwargs, expected):
    check_keyword_call(getattr(tb, name), kwargs, expected)


def test_signed_zero_and_ignored_arguments():
    c = tb.couette_vorticity(0.0)
    assert (c, math.copysign(1.0, c)) == (0.0, -1.0)
    args = ([1, 2, 3], 2.0, [2, -4, 6])
    assert tb.crocco_relation(*args) == tb.crocco_relation([-7, 0, 1e300], *args[1:])
    # The ignored vorticity must still be three numbers.
    with pytest.raises(TypeError):
        tb.crocco_relation([1, 2], 2.0, [2, -4, 6])
    assert tb.vorticity_z_2D(0.1, 0.3) == tb.local_circulation_density(0.1, 0.3)


class TestGridForm:
    def test_input_sequences(self):
        u = [0.0, 2.0, 0.0, 0.0, 0.0, 0.0, 0.0, 7.0, 0.0]
        v = (0, 0, 0, 1, 0, 4, 0, 0, 0)
        expected = [0.0] * 4 + [1.75] + [0.0] * 4
        assert tb.compute_vorticity(u, v, 3, 3, 0.5, 2.0) == expected
        assert tb.compute_vorticity(np.array(u), np.array(v, dtype=np.int32), 3, 3, 0.5, 2.0) == expected
        # Floats mixed with ints, and list subclasses, convert like any other sequence.
        assert tb.compute_vorticity(u[:4] + [0] + u[5:], type("L", (list,), {})(v), 3, 3, 0.5, 2.0) == expected
        # Longer inputs are read only up to nx*ny - 1.
        assert tb.compute_vorticity(u + [1e300], list(v) + [math.nan], 3, 3, 0.5, 2.0) == expected

    def test_solid_body_rotation(self):
        nx, ny, dx, dy = 5, 4, 0.5, 0.25
        u = [-(j * dy) for j in range(ny) for i in range(nx)]
        v = [i * dx for j in range(ny) for i in range(nx)]
        w = tb.compute_vorticity(u, v, nx, ny, dx, dy)
        inner = [2.0 if 0 < i < nx - 1 and 0 < j < ny - 1 else 0.0 for j in range(ny) for i in range(nx)]
        assert w == inner

    @pytest.mark.parametrize("nx,ny,count", [(2, 4, 8), (4, 2, 8), (0, 5, 0), (-3, -3, 9), (1, 1, 1)])
    def test_grids_without_interior_are_zero(self, nx, ny, count):
        assert tb.compute_vorticity([1.0] * count, [2.0] * count, nx, ny, 1.0, 1.0) == [0.0] * count

    @pytest.mark.parametrize("nx,ny", [(65536, 65536), (46341, 46341), (65537, 65537), (2, 2 ** 30)])
    def test_counts_outside_the_32_bit_range(self, nx, ny):
        with pytest.raises(ValueError) as err:
            tb.compute_vorticity([0.0] * 9, [0.0] * 9, nx, ny, 1.0, 1.0)
        assert str(err.value) == "vector"

    @pytest.mark.parametrize("nx,ny", [(3, -3), (-1, 2 ** 31 - 1)])
    def test_negative_counts_fail_the_size_check(self, nx, ny):
        with pytest.raises(ValueError) as err:
            tb.compute_vorticity([0.0] * 9, [0.0] * 9, nx, ny, 1.0, 1.0)
        assert str(err.value) == "cannot create std::vector larger than max_size()"

    @pytest.mark.parametrize("u,v,nx,ny", [
        ([0.0] * 8, [0.0] * 9, 3, 3),
        ([0.0] * 9, [], 3, 3),
        ([0.0] * 9, [0.0] * 9, 2, 5),
        ([0.0] * 9, [0.0] * 9, 1, 2 ** 31 - 1),
    ])
    def test_short_components_are_value_errors(self, u, v, nx, ny):
        with pytest.raises(ValueError) as err:
            tb.compute_vorticity(u, v, nx, ny, 1.0, 1.0)
        assert str(err.value) == "compute_vorticity: u and v must each hold at least nx*ny values"

    @pytest.mark.parametrize("call", [
        lambda: tb.compute_vorticity([0.0] * 9, [0.0] * 9, 3.0, 3, 1.0, 1.0),
        lambda: tb.compute_vorticity([0.0] * 9, [0.0] * 9, 2 ** 31, 1, 1.0, 1.0),
        lambda: tb.compute_vorticity([0.0] * 9, ["a"] * 9, 3, 3, 1.0, 1.0),
        lambda: tb.compute_vorticity([0.0] * 9, [0.0] * 9, 3, 3, 1.0),
        lambda: tb.compute_vorticity(None, [0.0] * 9, 3, 3, 1.0, 1.0),
        lambda: tb.compute_vorticity(grad=[[0, 0, 0]] * 3, nx=3),
    ])
    def test_no_form_accepts(self, call):
        with pytest.raises(TypeError) as err:
            call()
        assert "1. (grad:" in str(err.value) and "2. (u:" in str(err.value)

    def test_one_nested_argument_reaches_the_gradient_form(self):
        assert tb.compute_vorticity([[0, 0, 0], [1, 0, 0], [0, 0, 0]]) == [0.0, 0.0, 1.0]
        assert len(tb.compute_vorticity([0.0] * 9, [0.0] * 9, 3, 3, 1.0, 1.0)) == 9
