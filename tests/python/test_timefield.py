"""Time-field formulas: potentials from vorticity and time-dilation maps."""
import math

import numpy as np
import pytest

import _bindings as b
from conftest import doc_body

FLOOR = math.sqrt(1.0000000000287557e-06)

DOCS = [
    ("compute_gravitational_potential_gradient", "Compute medium gravitational potential field from vorticity gradients."),
    ("compute_time_dilation_map_sqrt", "Compute time dilation factors from knot tangential velocities (sqrt method)."),
    ("compute_gravitational_potential_direct", "Compute medium gravitational potential field from vorticity."),
    ("compute_time_dilation_map_linear", "Compute local time dilation factor map from tangential velocities."),
    ("compute_gravitational_potential", "Compute medium gravitational potential field (backward compatibility)."),
    ("compute_time_dilation_map", "Compute time dilation factors (backward compatibility)."),
]


def gaussian_ref(P, W, eps):
    """The Gaussian form term by term, in the same operation order."""
    den = (eps + eps) * eps
    out = []
    for i, p in enumerate(P):
        bx = by = bz = 0.0
        for j, q in enumerate(P):
            if j == i:
                continue
            dx, dy, dz = p[0] - q[0], p[1] - q[1], p[2] - q[2]
            w = math.exp((-((dx * dx + dy * dy) + dz * dz)) / den)
            bx += w * W[j][0]
            by += w * W[j][1]
            bz += w * W[j][2]
        out.append(-0.5 * ((bx * bx + by * by) + bz * bz))
    return out


def direct_ref(P, W, eps):
    e2 = eps * eps
    out = []
    for i, p in enumerate(P):
        s = 0.0
        for j, q in enumerate(P):
            if j == i:
                continue
            dx, dy, dz = p[0] - q[0], p[1] - q[1], p[2] - q[2]
            r2 = (dx * dx + dy * dy) + dz * dz
            s += ((dx * W[j][0] + dy * W[j][1]) + dz * W[j][2]) / math.pow(r2 + e2, 1.5)
        out.append(s * (-0.07957747154594767))
    return out


P = [[0.0, 0.0, 0.0], [5e-7, -2.5e-7, 1e-6], [1.5e-6, 7.5e-7, -5e-7], [2e-7, 2e-7, 2e-7]]
W = [[1.0, 2.0, -1.0], [-0.5, 0.25, 3.0], [2.0, -1.0, 0.5], [0.0, 0.0, 1.0]]


@pytest.mark.parametrize("name,text", DOCS)
def test_docstrings_in_order(name, text):
    assert doc_body(getattr(b, name)) == "\n\n            " + text + "\n        \n"
    names = [n for n in vars(b) if n in dict(DOCS)]
    assert names == [n for n, _ in DOCS]


def test_potentials_with_defaults():
    g = b.compute_gravitational_potential_gradient(P, W)
    assert g == pytest.approx(gaussian_ref(P, W, 7e-07), rel=1e-15)
    assert b.compute_gravitational_potential(P, W) == g
    assert b.compute_gravitational_potential(positions=P, vorticity=W, epsilon=7e-07) == g
    d = b.compute_gravitational_potential_direct(P, W)
    assert d == pytest.approx(direct_ref(P, W, 0.1), rel=1e-15)
    assert b.compute_gravitational_potential_direct(P, W, epsilon=1e-6) == pytest.approx(
        direct_ref(P, W, 1e-6), rel=1e-15)
    # NumPy input and extra vorticity entries.
    assert b.compute_gravitational_potential_gradient(np.array(P), np.array(W + [[9.0, 9.0, 9.0]])) == g


def test_potential_edge_cases():
    assert b.compute_gravitational_potential_gradient([], []) == []
    assert b.compute_gravitational_potential_direct([], []) == []
    for f in (b.compute_gravitational_potential_gradient, b.compute_gravitational_potential_direct):
        (one,) = f([[1.0, 2.0, 3.0]], [[1.0, 1.0, 1.0]])
        assert one == 0.0 and math.copysign(1.0, one) == -1.0
    same = [[1.0, 1.0, 1.0], [1.0, 1.0, 1.0]]
    assert b.compute_gravitational_potential_gradient(same, [[1, 2, 2], [0, 3, 4]]) == [-12.5, -4.5]
    assert math.isnan(b.compute_gravitational_potential_direct(same, [[1, 2, 2], [0, 3, 4]], 0.0)[0])


@pytest.mark.parametrize("fn", ["compute_gravitational_potential_gradient", "compute_gravitational_potential_direct",
                                "compute_gravitational_potential"])
def test_short_vorticity_is_rejected(fn):
    with pytest.raises(ValueError, match="^" + fn + ": vorticity must hold at least as many entries as positions$"):
        getattr(b, fn)(P, W[:2])


def test_dilation_maps():
    assert b.compute_time_dilation_map_sqrt([[0, 0, 0]]) == [1.0]
    assert b.compute_time_dilation_map_sqrt([[2e6, 0, 0]]) == [FLOOR]
    assert b.compute_time_dilation_map_sqrt([[1093845.63, 0, 0]]) == [FLOOR]
    t = [[3e5, 4e5, 0.0], [1e6, 2e5, -1e5]]
    c2 = 1093845.63 * 1093845.63
    expected = [math.sqrt(1.0 - ((x * x + y * y) + z * z) / c2) for x, y, z in t]
    assert b.compute_time_dilation_map_sqrt(t) == expected
    assert b.compute_time_dilation_map(t) == expected
    assert b.compute_time_dilation_map(tangents=t, C_e=1093845.63) == expected
    assert b.compute_time_dilation_map_sqrt([[1, 0, 0]], C_e=0.0) == [FLOOR]
    assert math.isnan(b.compute_time_dilation_map_sqrt([[0, 0, 0]], 0.0)[0])

    assert b.compute_time_dilation_map_linear([[1, 0, 0]], C_e=1) == [0.0]
    assert b.compute_time_dilation_map_linear([[2, 0, 0]], 1.0) == [-3.0]
    assert b.compute_time_dilation_map_linear([[1, 0, 0]], 0.0) == [-math.inf]
    assert b.compute_time_dilation_map_linear([], 1.0) == []
    with pytest.raises(TypeError):
        b.compute_time_dilation_map_linear([[1, 0, 0]])
    with pytest.raises(TypeError):
        b.compute_time_dilation_map_sqrt([[1, 0]])
