"""TARQGravity and compute_tarq_mass from Python: conversions, defaults, check order, messages, docstrings."""
import math
from fractions import Fraction

import numpy as np
import pytest

import _bindings as b
from conftest import assert_interruptible, doc_body

G = b.TARQGravity
C = 299792458.0
SHAPE3 = "Expected array with shape (N, 3)"
SHAPE1 = "Expected 1D array with shape (N,)"

DOCS = [
    ("compute_beltrami_shear", "Compute the Beltrami shear metric S = || B x (curl B) ||."),
    ("compute_gravity_dilation",
     "Compute a phenomenological gravity reduction factor G_local\n                driven by EM excitation."),
    ("compute_helicity_density", "Compute magnetic helicity density h = A \u00b7 B."),
    ("compute_swirl_clock", "Compute the Swirl Clock factor S_t at each sample."),
    ("compute_swirl_coulomb_potential", "Compute the Swirl Coulomb potential V(r) = -Lambda / sqrt(r^2 + r_c^2)."),
    ("compute_swirl_coulomb_force", "Compute the radial Swirl Coulomb force F_r(r)."),
    ("compute_swirl_energy_density", "Compute swirl kinetic energy density rho_E = 0.5 * rho_f * ||v||^2."),
    ("compute_G_swirl", "Compute the effective Swirl gravitational coupling G_swirl."),
]

MASS_DOC = ("\nCompute TARQ mass (core + fluid) for a closed polyline.\n\nUses Rosenhead\u2013Moore regularized Neumann "
            "mutual inductance integral.\npoints: list of [x,y,z] (closed curve by convention).\nchi_spin: spin factor "
            "(e.g. 2 for fermion).\nReturns: (m_core_kg, m_fluid_kg).\n")


def test_class_methods_in_order_with_docstrings():
    assert [n for n in vars(G) if n.startswith("compute")] == [n for n, _ in DOCS]
    for name, text in DOCS:
        assert doc_body(getattr(G, name)) == "\n\n                " + text + "\n            \n"
    assert doc_body(b.compute_tarq_mass) == "\n" + MASS_DOC + "\n"
    listing = b.list_bindings(pattern="tarq")
    assert "TARQGravity" in listing["classes"] and "compute_tarq_mass" in listing["functions"]


def test_no_constructor():
    with pytest.raises(TypeError, match="No constructor defined!"):
        G()


# ------------------------------------------------------------------------------------------------------------
# Conversions and the order of the checks


def test_lists_arrays_and_other_dtypes():
    assert G.compute_helicity_density([[1, 2, 3]], [[4, 5, 6]]) == [32.0]
    assert G.compute_helicity_density(A_field=np.array([[1, 2, 3]], dtype=np.int8),
                                      B_field=np.asfortranarray([[4.0, 5.0, 6.0]])) == [32.0]
    big = np.zeros((4, 6))
    big[::2, ::2] = [[1, 0, 0], [0, 1, 0]]
    assert G.compute_beltrami_shear(big[::2, ::2], [[0, 1, 0], [0, 1, 0]]) == [1.0, 0.0]
    assert G.compute_swirl_coulomb_potential(np.arange(6.0)[::2], 3.0, 2.0) == \
        G.compute_swirl_coulomb_potential([0.0, 2.0, 4.0], 3.0, 2.0)
    out = G.compute_beltrami_shear(np.zeros((0, 3)), np.zeros((0, 3)))
    assert out == [] and isinstance(out, list)


@pytest.mark.parametrize("call,message", [
    (lambda: G.compute_helicity_density([1, 2, 3], [[1, 2, 3]]), SHAPE3),
    (lambda: G.compute_helicity_density(5.0, [[1, 2, 3]]), SHAPE3),
    (lambda: G.compute_beltrami_shear(None, [[1, 0, 0]]), SHAPE3),  # NumPy makes None a 0-d NaN
    (lambda: G.compute_gravity_dilation(np.zeros((4, 2)), 10.0, B_saturation=0.0), SHAPE3),
    (lambda: G.compute_beltrami_shear(np.zeros((2, 3, 1)), [[1, 0, 0]]), SHAPE3),
    (lambda: G.compute_beltrami_shear(np.zeros((2, 3)), np.zeros((2, 2))), SHAPE3),
    (lambda: G.compute_beltrami_shear(np.zeros((2, 3)), np.zeros((3, 3))), "B_field and Curl_B must have the same size."),
    (lambda: G.compute_beltrami_shear([], [[1, 0, 0]]), SHAPE3),
    (lambda: G.compute_beltrami_shear(np.zeros((0, 3)), [[1, 0, 0]]), "B_field and Curl_B must have the same size."),
    (lambda: G.compute_helicity_density([[1, 0, 0]], np.zeros((0, 3))), "A_field and B_field must have the same size."),
    (lambda: G.compute_gravity_dilation(np.zeros((0, 3)), 10.0, B_saturation=0.0), "B_saturation must be positive."),
    (lambda: G.compute_gravity_dilation([[1, 0, 0]], 10.0, B_saturation=-0.0), "B_saturation must be positive."),
    (lambda: G.compute_swirl_coulomb_potential(np.zeros((3, 1)), 1.0, 1.0), SHAPE1),
    (lambda: G.compute_swirl_coulomb_force(1.5, 1.0, 1.0), SHAPE1),
    (lambda: G.compute_swirl_coulomb_force(np.zeros((3, 1)), 1.0, -1.0), SHAPE1),
    (lambda: G.compute_swirl_coulomb_potential([], 1.0, -1.0), "r_c must be positive."),
    (lambda: G.compute_swirl_coulomb_force([], 1.0, 0.0), "r_c must be positive."),
    (lambda: G.compute_G_swirl(1, 1, 0, 1), "F_max and r_c must be positive."),
    (lambda: G.compute_G_swirl(1, 1, 0.5, -0.0), "F_max and r_c must be positive."),
    (lambda: G.compute_swirl_clock(np.zeros(3)), SHAPE3),
    (lambda: G.compute_swirl_energy_density(np.zeros((1, 4)), 1.0), SHAPE3),
])
def test_errors(call, message):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == message


@pytest.mark.parametrize("call", [
    lambda: G.compute_helicity_density("abc", [[1, 2, 3]]),
    lambda: G.compute_helicity_density([[1, 2, 3], [1, 2]], [[1, 2, 3]]),
    lambda: G.compute_swirl_coulomb_force([1.0], "x", 1.0),
    lambda: b.compute_tarq_mass([[0, 0, 0], [1, 2]], 2.0),
    lambda: b.compute_tarq_mass(None, 2.0),
])
def test_unconvertible_arguments(call):
    with pytest.raises(TypeError):
        call()


# ------------------------------------------------------------------------------------------------------------
# Values and defaults


def test_coupling_default_speed_of_light():
    assert G.compute_G_swirl(1, 1, 0.5, 1, 2) == 32.0
    c5 = (((C * C) * C) * C) * C
    assert G.compute_G_swirl(v_swirl=2.0, t_p=3.0, F_max=4.0, r_c=5.0) == (((2.0 * c5) * 3.0) * 3.0) / (((2.0 * 4.0) * 5.0) * 5.0)


def test_dilation_defaults_and_clamp():
    B = [[0, 0, 0], [30, 40, 0], [300, 400, 0], [math.nan, 0, 0]]
    g = G.compute_gravity_dilation(B, 10.0)
    assert g[:3] == [1.0, 0.75, 0.0] and math.isnan(g[3])
    assert G.compute_gravity_dilation(B, 10.0, v_swirl=-1.0)[:3] == g[:3]
    assert G.compute_gravity_dilation(B, 10.0, 1093845.63, 50.0)[1] == 0.0
    for omega in (1.0, 0.0, -3.0, math.nan):
        assert G.compute_gravity_dilation(B[:3], omega) == [1.0, 1.0, 1.0]


def test_coulomb_values():
    assert G.compute_swirl_coulomb_potential([0.0], 3.0, 2.0) == [-1.5]
    F = G.compute_swirl_coulomb_force([0.0, 1.0, math.nan], Lambda=3.0, r_c=2.0)
    assert F[0] == 0.0 and F[1] < 0.0 and F[2] == 0.0
    assert G.compute_swirl_coulomb_force([0.0], 1.0, 1e-200) == [0.0]


def test_swirl_clock():
    v = [[0, 0, 0], [C, 0, 0], [0, 2 * C, 0], [0.6 * C, 0.0, 0.0], [math.nan, 0, 0]]
    S = G.compute_swirl_clock(v)
    assert S[:3] == [1.0, 0.0, 0.0]
    assert S[3] == math.sqrt(max(1.0 - ((0.6 * C) * (0.6 * C)) / (C * C), 0.0))
    assert math.isnan(S[4])
    S0 = G.compute_swirl_clock([[1, 0, 0], [0, 0, 0]], c=0.0)
    assert S0[0] == 0.0 and math.isnan(S0[1])


def test_swirl_energy_density():
    assert G.compute_swirl_energy_density([[3, 4, 0]], 2.0) == [25.0]
    assert G.compute_swirl_energy_density(v_field=[[3, 4, 0], [1, 1, 1]], rho_f=-1.0) == [-12.5, -1.5]


# ------------------------------------------------------------------------------------------------------------
# compute_tarq_mass

SQUARE = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]


def test_mass_of_the_unit_square():
    m = b.compute_tarq_mass(SQUARE, 2.0)
    assert isinstance(m, tuple) and m == (9.7128455313849771e-11, 3.2244783175609962e-25)
    assert b.compute_tarq_mass(points=np.array(SQUARE, dtype=np.int32), chi_spin=-2.0) == m
    assert b.compute_tarq_mass(SQUARE + [SQUARE[0]], 2) == m
    assert b.compute_tarq_mass(SQUARE, 0.0) == (m[0], 0.0)


@pytest.mark.parametrize("points", [[], [[1.0, 2.0, 3.0]]])
def test_mass_of_degenerate_filaments(points):
    assert b.compute_tarq_mass(points, 2.0) == (0.0, 0.0)


def test_mass_with_non_finite_coordinates_is_nan():
    for bad in (math.nan, math.inf):
        core, fluid = b.compute_tarq_mass([[bad, 0, 0], [1, 0, 0], [0, 1, 0]], 2.0)
        assert math.isnan(fluid) and (math.isnan(core) or math.isinf(core))


def round_to_bits(x, bits):
    """x (a Fraction) rounded to nearest, ties to even, with a significand of that many bits."""
    if x == 0:
        return x
    e = math.floor(math.log2(abs(x)))
    while Fraction(2) ** e > abs(x):
        e -= 1
    while Fraction(2) ** (e + 1) <= abs(x):
        e += 1
    unit = Fraction(2) ** (e - bits + 1)
    q = x / unit
    n = math.floor(q)
    rest = q - n
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and n % 2 == 1):
        n += 1
    return n * unit


def test_core_mass_is_the_extended_product_narrowed_once():
    core_per_metre = Fraction(3847654521182575663, 2 ** 97)
    rng = np.random.default_rng(3)
    for _ in range(20):
        pts = rng.uniform(-1e-14, 1e-14, size=(7, 3)).tolist()
        L = 0.0
        for k in range(7):
            d = [pts[(k + 1) % 7][i] - pts[k][i] for i in range(3)]
            L += math.sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2])
        expected = float(round_to_bits(core_per_metre * Fraction(L), 64))
        assert b.compute_tarq_mass(pts, 1.0)[0] == expected


def test_mass_integral_is_interruptible():
    pts = np.random.default_rng(4).uniform(-1e-14, 1e-14, size=(100000, 3))
    assert_interruptible(lambda: b.compute_tarq_mass(pts, 2.0), 0.05)
