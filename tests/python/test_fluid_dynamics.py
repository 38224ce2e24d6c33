"""Fluid-dynamics bindings: names, keywords, defaults, docstrings, conversions and the compute_helicity chain."""
import math

import numpy as np
import pytest

import _bindings as tb
from conftest import check_keyword_call, doc_body

NAMES = [
    "compute_pressure_field", "compute_velocity_magnitude", "evolve_positions_euler", "compute_vorticity",
    "swirl_clock_rate", "vorticity_from_curvature", "vortex_pressure_drop", "vortex_transverse_pressure_diff",
    "swirl_energy", "kairos_energy_trigger", "compute_helicity", "potential_vorticity", "is_incompressible",
    "circulation_surface_integral", "enstrophy", "compute_bernoulli_pressure", "pressure_gradient",
    "laplacian_phi", "grad_phi", "bernoulli_pressure_potential", "compute_kinetic_energy", "rossby_number",
    "ekman_number", "cylinder_mass", "cylinder_inertia", "torque",
]

# The first thirteen are indented blocks, the rest end in a line break and a tab.
INDENTED = {
    "compute_pressure_field": "Compute Bernoulli pressure field from velocity magnitude:\n"
                              "            P = P_infinity - 0.5 * rho_ae * |v|^2",
    "compute_velocity_magnitude": "Compute magnitude |v| from vector velocity field.",
    "evolve_positions_euler": "Euler-step update of particle positions from velocity vectors.",
    "compute_vorticity": "Compute vorticity vector \u03c9 = \u2207 \u00d7 v from the velocity gradient tensor.",
    "swirl_clock_rate": "Swirl clock rate 0.5 * (dv/dx - du/dy).",
    "vorticity_from_curvature": "Vorticity magnitude for curved flow V/R.",
    "vortex_pressure_drop": "Pressure drop 0.5 * \u03c1 * c^2 in a vortex core.",
    "vortex_transverse_pressure_diff": "Transverse pressure difference 0.25 * \u03c1 * c^2.",
    "swirl_energy": "Rotational kinetic energy density (1/2) * \u03c1 * \u03c9^2.",
    "kairos_energy_trigger": "Trigger when swirl energy exceeds 0.5 * \u03c1 * Ce^2.",
    "compute_helicity": "Compute helicity \u2211 (v \u00b7 \u03c9) dV over a discretized field.",
    "potential_vorticity": "Potential vorticity (fa + \u03b6_r) / h.",
    "is_incompressible": "Determine if flow is incompressible by checking that the\n"
                         "        divergence of the velocity field is approximately zero.",
}
TABBED = {
    "circulation_surface_integral": "Circulation as surface integral of vorticity dot area vector.",
    "enstrophy": "Enstrophy as sum of squared vorticity weighted by area.",
    "compute_bernoulli_pressure": "Compute Bernoulli pressure field from velocity magnitude.",
    "pressure_gradient": "Compute spatial pressure gradient vector field.",
    "laplacian_phi": "Compute Laplacian of potential function.",
    "grad_phi": "Compute gradient of potential function.",
    "bernoulli_pressure_potential": "Compute Bernoulli pressure from potential flow.",
    "compute_kinetic_energy": "Compute kinetic energy E = (1/2) * \u03c1 * \u2211 |v|^2.",
    "rossby_number": "Rossby number: Ro = U / (2\u03a9d).",
    "ekman_number": "Ekman number: Ek = \u03bd / (\u03a9 H\u00b2).",
    "cylinder_mass": "Cylinder mass: m = \u03c1 \u03c0 R\u00b2 H.",
    "cylinder_inertia": "Moment of inertia: I = (1/2) m R\u00b2.",
    "torque": "Torque: \u03c4 = I \u03b1.",
}
DOCS = {**{k: "\n        " + v + "\n    " for k, v in INDENTED.items()}, **{k: v + "\n\t" for k, v in TABBED.items()}}


def first_overload_doc(fn):
    """The docstring of overload 1 in the binding library's combined docstring."""
    doc = fn.__doc__
    assert "Overloaded function." in doc
    first = doc[doc.index("\n1. "):doc.index("\n2. ")]
    return first.split("\n", 2)[2]


def test_registration_order():
    names = list(vars(tb))
    start = names.index(NAMES[0])
    assert names[start:start + len(NAMES)] == NAMES


@pytest.mark.parametrize("name", NAMES)
def test_docstrings(name):
    fn = getattr(tb, name)
    if name in ("compute_helicity", "compute_vorticity"):
        assert first_overload_doc(fn) == "\n" + DOCS[name] + "\n"
    else:
        assert doc_body(fn) == "\n" + DOCS[name] + "\n"


# Every argument by keyword, with the results the formulas give (bit for bit where the order matters).
KEYWORD_CALLS = [
    ("compute_pressure_field", dict(velocity_magnitude=[1.7, 0.0], rho_ae=0.8, P_infinity=0.8),
     [-0.3560000000000001, 0.8]),
    ("compute_velocity_magnitude", dict(velocity=[[3, 4, 0], [0, 0, -2]]), [5.0, 2.0]),
    ("evolve_positions_euler", dict(positions=[[1, 2, 3]], velocity=[[1, 0, -1]], dt=0.5), [[1.5, 2.0, 2.5]]),
    ("compute_vorticity", dict(grad=[[0, 0, 0], [1, 0, 0], [0, 0, 0]]), [0.0, 0.0, 1.0]),
    ("swirl_clock_rate", dict(dv_dx=3, du_dy=1), 1.0),
    ("vorticity_from_curvature", dict(V=3, R=2), 1.5),
    ("vortex_pressure_drop", dict(rho=0.8, c=1.7), 1.1560000000000001),
    ("vortex_transverse_pressure_diff", dict(rho=0.8, c=1.7), 0.5780000000000001),
    ("swirl_energy", dict(rho=0.8, omega=1.7), 1.1560000000000001),
    ("kairos_energy_trigger", dict(rho=-1, omega=1, Ce=2), True),
    ("compute_helicity", dict(velocity=[[1, 0, 0]], vorticity=[[2, 0, 0]], dV=0.5), 1.0),
    ("potential_vorticity", dict(fa=0.8, zeta_r=1.7, h=3.0), 0.8333333333333334),
    ("is_incompressible", dict(dudx=[1, 0, 0], dvdy=[0, -1, 0], dwdz=[0, 0, 0]), True),
    ("circulation_surface_integral", dict(omega_field=[[1, 2, 3]], dA_field=[[1, 1, 1]]), 6.0),
    ("enstrophy", dict(omega_squared=[2, 3], ds_area=[0.5, 1]), 4.0),
    ("compute_bernoulli_pressure", dict(velocity_magnitude=[2.0], rho=1.0, p_inf=10.0), [8.0]),
    ("pressure_gradient", dict(pressure_field=[[0, 1], [2, 3]], dx=2.0, dy=0.5),
     [[[-1.0, -2.0, 0.0], [-1.0, -2.0, 0.0]], [[-1.0, -2.0, 0.0], [-1.0, -2.0, 0.0]]]),
    ("laplacian_phi", dict(d2phidx2=0.8, d2phidy2=0.8, d2phidz2=1.5), 3.1),
    ("grad_phi", dict(phi_grad=(1, -2, 3)), [1.0, -2.0, 3.0]),
    ("bernoulli_pressure_potential", dict(velocity_squared=3, V=1), 0.5),
    ("compute_kinetic_energy", dict(velocity=[[1, 2, 2]], rho_ae=2.0), 9.0),
    ("rossby_number", dict(U=1, omega=0.5, d=1), 1.0),
    ("ekman_number", dict(nu=0.1, omega=0.3, H=0.7), 0.6802721088435375),
    ("cylinder_mass", dict(rho=1, R=1, H=1), 3.141592653589793),
    ("cylinder_inertia", dict(mass=0.8, R=1.7), 1.1560000000000001),
    ("torque", dict(inertia=2, alpha=-1.5), -3.0),
]


@pytest.mark.parametrize("name,kwargs,expected", KEYWORD_CALLS, ids=[c[0] for c in KEYWORD_CALLS])
def test_keywords_and_results(name, kwargs, expected):
    check_keyword_call(getattr(tb, name), kwargs, expected)


def test_defaults():
    assert tb.compute_bernoulli_pressure([2.0]) == [-0.5 * 7e-07 * 2.0 ** 2]
    assert tb.compute_bernoulli_pressure([2.0], rho=1.0, p_inf=10.0) == [8.0]
    assert tb.pressure_gradient([[0, 1], [2, 3]]) == [[[-2.0, -1.0, 0.0], [-2.0, -1.0, 0.0]]] * 2
    with pytest.raises(TypeError):
        tb.compute_pressure_field([2.0], 1.0)


def test_pressure_gradient_signed_zeros():
    table = tb.pressure_gradient([[0, 0, 0], [1, 1, 1], [2, 2, 2]], 1, 1)
    assert len(table) == 3 and all(len(row) == 3 for row in table)
    for row in table:
        for gx, gy, gz in row:
            assert gx == -1.0
            assert (gy, math.copysign(1.0, gy)) == (0.0, -1.0)
            assert (gz, math.copysign(1.0, gz)) == (0.0, 1.0)


@pytest.mark.parametrize("table,expected", [
    ([], []),
    ([[], [1.0]], [[], []]),
    ([[1, 5, 9]], [[[0.0, 0.0, 0.0]] * 3]),
    ([[1], [5], [9]], [[[0.0, 0.0, 0.0]]] * 3),
    (np.array([[0.0, 1.0], [2.0, 3.0]]), [[[-2.0, -1.0, 0.0], [-2.0, -1.0, 0.0]]] * 2),
    (((0, 1), (2, 3, 7)), [[[-2.0, -1.0, 0.0], [-2.0, -1.0, 0.0]]] * 2),
])
def test_pressure_gradient_table_forms(table, expected):
    assert tb.pressure_gradient(table) == expected


def test_ragged_pressure_table_is_a_value_error():
    with pytest.raises(ValueError, match=r"^pressure_gradient: every row must hold at least as many values as "
                                         r"the first$"):
        tb.pressure_gradient([[1, 2, 3], [4, 5], [6, 7, 8]])


@pytest.mark.parametrize("call,message", [
    (lambda: tb.evolve_positions_euler([[0, 0, 0]] * 2, [[1, 0, 0]], 1.0),
     "evolve_positions_euler: velocity must hold at least as many entries as positions"),
    (lambda: tb.compute_helicity([[1, 0, 0]] * 2, [[1, 0, 0]], 1.0),
     "compute_helicity: vorticity must hold at least as many entries as velocity"),
    (lambda: tb.circulation_surface_integral([[1, 0, 0]], []),
     "circulation_surface_integral: dA_field must hold at least as many entries as omega_field"),
    (lambda: tb.enstrophy([1.0, 2.0], [1.0]), "enstrophy: ds_area must hold at least as many entries as omega_squared"),
])
def test_short_paired_sequences_are_value_errors(call, message):
    with pytest.raises(ValueError) as err:
        call()
    assert str(err.value) == message


def test_evolve_positions_euler_returns_the_step_and_keeps_the_argument():
    positions = [[1.0, 2.0, 3.0], [0.0, 0.0, 0.0]]
    got = tb.evolve_positions_euler(positions, np.array([[1.0, 1.0, 1.0], [2.0, 0.0, -2.0], [9, 9, 9]]), 0.25)
    assert got == [[1.25, 2.25, 3.25], [0.5, 0.0, -0.5]]
    assert positions == [[1.0, 2.0, 3.0], [0.0, 0.0, 0.0]]
    assert tb.evolve_positions_euler([], [], 1.0) == []


@pytest.mark.parametrize("call", [
    lambda: tb.is_incompressible([1, 0], [0, 0, 0], [0, 0, 0]),
    lambda: tb.grad_phi([1, 2, 3, 4]),
    lambda: tb.compute_velocity_magnitude([[1, 2]]),
    lambda: tb.pressure_gradient([[1, "a"]]),
    lambda: tb.pressure_gradient([1, 2]),
    lambda: tb.torque("1", 2),
    lambda: tb.enstrophy(None, [1.0]),
])
def test_unconvertible_arguments_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


def test_ieee_results_pass_through():
    assert tb.vorticity_from_curvature(-1, 0) == -math.inf
    assert math.isnan(tb.vorticity_from_curvature(0, 0))
    assert tb.is_incompressible([math.nan, 0, 0], [0, 0, 0], [0, 0, 0]) is False
    assert tb.is_incompressible([1e-8, 0, 0], [0, 0, 0], [0, 0, 0]) is False
    assert tb.kairos_energy_trigger(1, 2, 2) is False
    empty = tb.compute_helicity([], [], -2.0)
    assert (empty, math.copysign(1.0, empty)) == (0.0, -1.0)


class TestHelicityChain:
    """compute_helicity holds the fluid form (velocity, vorticity, dV) first and the Frenet form (v, w) second."""

    def test_three_arguments_or_dV_reach_the_fluid_form(self):
        assert tb.compute_helicity([[1, 0, 0]], [[2, 0, 0]], 0.5) == 1.0
        assert tb.compute_helicity([[1, 2, 3]], [[1, 1, 1]], dV=1.0) == 6.0
        # The float sum is exact here, unlike the single-precision mean of the Frenet form.
        assert tb.compute_helicity([[0.1, 0, 0]], [[3, 0, 0]], 1.0) == 0.30000000000000004

    def test_two_positional_lists_reach_the_frenet_form(self):
        assert tb.compute_helicity([[1, 0, 0]], [[2, 0, 0]]) == 2.0
        assert tb.compute_helicity([[0.1, 0, 0]], [[3, 0, 0]]) == 0.30000001192092896
        assert math.isnan(tb.compute_helicity([], []))

    def test_the_frenet_form_takes_no_keywords(self):
        with pytest.raises(TypeError) as err:
            tb.compute_helicity(velocity=[[1, 0, 0]], vorticity=[[2, 0, 0]])
        text = str(err.value)
        # Both forms are listed, the fluid form first.
        assert text.index("1. (velocity:") < text.index("2. (arg0:")
        with pytest.raises(TypeError):
            tb.compute_helicity(arg0=[[1, 0, 0]], arg1=[[2, 0, 0]])

    def test_combined_docstring_lists_the_fluid_form_first(self):
        doc = tb.compute_helicity.__doc__
        assert doc.index("\n1. compute_helicity(velocity:") < doc.index("\n2. compute_helicity(arg0:")

    def test_short_lists_are_refused_by_the_form_that_runs(self):
        with pytest.raises(ValueError, match="^compute_helicity: vorticity must"):
            tb.compute_helicity([[1, 0, 0]] * 2, [[1, 0, 0]], 1.0)
        with pytest.raises(ValueError, match="^compute_helicity: "):
            tb.compute_helicity([[1, 0, 0]] * 2, [[1, 0, 0]])


def test_velocity_gradient_form_of_compute_vorticity():
    # ints are taken in the second, converting pass of the chain; the result is the same.
    assert tb.compute_vorticity([[0, 0, 0], [1, 0, 0], [0, 0, 0]]) == [0.0, 0.0, 1.0]
    assert tb.compute_vorticity(np.array([[0.0, 1, 2], [3, 0, 5], [7, 11, 0]])) == [6.0, -5.0, 2.0]
    assert tb.compute_vorticity(grad=((1, 2, 3), (2, 5, 6), (3, 6, 9))) == [0.0, 0.0, 0.0]
    with pytest.raises(TypeError):
        tb.compute_vorticity([[0, 0, 0], [1, 0, 0]])
