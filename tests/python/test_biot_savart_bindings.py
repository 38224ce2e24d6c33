"""The Biot-Savart family: the BiotSavart class, point and grid velocities, polyline kernels, cutoff scans."""
import math
import re

import numpy as np
import pytest

import _bindings as tb
from conftest import doc_body, trefoil

FUNCTIONS = [
    "biot_savart_velocity", "biot_savart_velocity_grid", "calculate_neumann_self_energy", "calculate_core_repulsion",
    "calculate_length", "calculate_writhe", "calculate_curvature_penalty", "calculate_bs_cutoff_energy_scan",
    "calculate_bs_cutoff_energy",
]

DOCS = {
    "biot_savart_velocity": "Velocity at a single point r due to a filament.",
    "biot_savart_velocity_grid": "Biot\u2013Savart velocity at arbitrary grid points for a polyline.\nBackward "
                                 "compatible with the historical 2-argument call; circulation defaults to 1.0.",
    "calculate_neumann_self_energy": "Calculate Neumann integral C_N(K) (morrenta/tarq_core compatibility).",
    "calculate_core_repulsion": "Hard-core volume repulsion (morrenta/tarq_core compatibility).",
    "calculate_length": "Closed polyline length L(K) (morrenta/tarq_core compatibility).",
    "calculate_writhe": "Topological writhe H(K) with distance regularization rc (morrenta/tarq_core compatibility).",
    "calculate_curvature_penalty": "Menger curvature penalty integral (morrenta/tarq_core compatibility).",
    "calculate_bs_cutoff_energy_scan": "Accumulate a whole cutoff scan in one C++ pass (same kernel as "
                                       "morrenta/tarq_core).",
    "calculate_bs_cutoff_energy": "Single-cutoff Biot\u2013Savart energy for closure scans.",
}


def test_registration_order():
    names = list(vars(tb))
    start = names.index("BiotSavart")
    assert names[start:start + 10] == ["BiotSavart"] + FUNCTIONS


@pytest.mark.parametrize("name", FUNCTIONS)
def test_docstrings(name):
    assert doc_body(getattr(tb, name)) == "\n" + DOCS[name] + "\n"


def test_class_docstrings_and_constructor():
    assert doc_body(tb.BiotSavart.compute_velocity) == (
        "\nCompute the Biot\u2013Savart velocity field from a closed curve at given grid points.\nBackward compatible "
        "with the historical 2-argument call; circulation defaults to 1.0.\n")
    for name in ("compute_vorticity", "extract_interior", "compute_invariants"):
        assert doc_body(getattr(tb.BiotSavart, name)) == ""
    with pytest.raises(TypeError, match="No constructor defined!$"):
        tb.BiotSavart()


def segment_velocity(curve, grid, circulation):
    """Closed-curve segment law: (dl x R)/(|R|^3 + 1e-12) summed, times circulation/(4 pi)."""
    a, b = curve, np.roll(curve, -1, axis=0)
    mid, dl = (a + b) * 0.5, b - a
    out = np.zeros_like(grid)
    for m, d in zip(mid, dl):
        R = grid - m
        out += np.cross(d, R) / ((np.sum(R * R, axis=1) ** 1.5) + 1e-12)[:, None]
    return out * (circulation / (4 * math.pi))


class TestVelocities:
    curve = trefoil(24)
    grid = np.array([[0.0, 0.0, 0.0], [0.5, -0.3, 0.2], [4.0, 1.0, -1.0]])

    def test_compute_velocity(self):
        v = tb.BiotSavart.compute_velocity(self.curve, self.grid, 2.0)
        np.testing.assert_allclose(v, segment_velocity(self.curve, self.grid, 2.0), rtol=1e-12, atol=1e-15)
        assert tb.BiotSavart.compute_velocity(curve=self.curve.tolist(), grid_points=self.grid.tolist()) == \
            tb.BiotSavart.compute_velocity(self.curve, self.grid, circulation=1.0)
        assert tb.BiotSavart.compute_velocity(self.curve[:1], self.grid) == [[0.0, 0.0, 0.0]] * 3

    def test_velocity_grid(self):
        v = tb.biot_savart_velocity_grid(self.curve, self.grid, 2.0)
        assert isinstance(v, np.ndarray) and v.dtype == np.float64 and v.shape == (3, 3)
        np.testing.assert_array_equal(v, tb.BiotSavart.compute_velocity(self.curve, self.grid, 2.0))
        np.testing.assert_array_equal(tb.biot_savart_velocity_grid(polyline=self.curve.tolist(), grid=self.grid),
                                      tb.biot_savart_velocity_grid(self.curve, self.grid, circulation=1.0))
        np.testing.assert_array_equal(tb.biot_savart_velocity_grid(self.curve[:1], self.grid), np.zeros((3, 3)))
        assert tb.biot_savart_velocity_grid(self.curve, np.zeros((0, 3))).shape == (0, 3)
        np.testing.assert_array_equal(tb.biot_savart_velocity_grid(np.round(self.curve * 10).astype(np.int32),
                                                                   self.grid),
                                      tb.biot_savart_velocity_grid(np.round(self.curve * 10), self.grid))

    @pytest.mark.parametrize("polyline,grid", [
        (np.zeros((4, 2)), np.zeros((2, 3))), (np.zeros(3), np.zeros((2, 3))),
        (np.zeros((4, 2)), np.zeros((2, 2))), (np.zeros((4, 3)), np.zeros((2, 3, 1))),
    ])
    def test_velocity_grid_shapes(self, polyline, grid):
        with pytest.raises(ValueError, match=r"^Expected array with shape \(N,3\)$"):
            tb.biot_savart_velocity_grid(polyline, grid)

    def test_point_velocity(self):
        X = self.curve
        T = 0.5 * (np.roll(X, -1, axis=0) - np.roll(X, 1, axis=0))
        r = np.array([0.3, 0.1, -0.2])
        d = r - X
        want = np.sum(np.cross(T, d) / (np.linalg.norm(d, axis=1) ** 3)[:, None], axis=0) * (1.5 / (4 * math.pi))
        got = tb.biot_savart_velocity(r, X, T, 1.5)
        np.testing.assert_allclose(got, want, rtol=1e-12)
        assert tb.biot_savart_velocity(r=r.tolist(), filament_points=X.tolist(), tangent_vectors=T.tolist()) == \
            tb.biot_savart_velocity(r, X, T, circulation=1.0)
        assert tb.biot_savart_velocity([0, 0, 0], [], []) == [0.0, 0.0, 0.0]
        with pytest.raises(ValueError, match="tangents"):
            tb.biot_savart_velocity(r, X, T[:-1])
        with pytest.raises(TypeError):
            tb.biot_savart_velocity([0, 0], X, T)


class TestGridStatics:
    def test_vorticity_and_interior(self):
        field = np.arange(4 * 4 * 4 * 3, dtype=float).reshape(-1, 3).tolist()
        assert tb.BiotSavart.compute_vorticity(field, (0, 4, 4), 1.0) == [[0.0, 0.0, 0.0]] * 64
        assert tb.BiotSavart.compute_vorticity(field[:5], (-1, 4, 4), 1.0) == [[0.0, 0.0, 0.0]] * 5
        w = tb.BiotSavart.compute_vorticity(field, [4, 4, 4], 0.5)
        assert len(w) == 64
        assert tb.BiotSavart.extract_interior(field, (4, 4, 4), 2) == []
        inner = tb.BiotSavart.extract_interior(field, (4, 4, 4), 1)
        assert inner == np.array(field).reshape(4, 4, 4, 3)[1:3, 1:3, 1:3].reshape(-1, 3).tolist()
        with pytest.raises(TypeError):
            tb.BiotSavart.extract_interior(field=field, shape=(4, 4, 4), margin=1)

    def test_invariants(self):
        u, w = [[1, 2, 3], [0, 1, 0]], [[1, 1, 1], [2, 0, 0]]
        hc, hm, a = tb.BiotSavart.compute_invariants(u, w, [1.0, 0.5])
        assert (hc, hm, a) == (6.0, 3.0 + 2.0, 0.5 * (6.0 / 5.0 - 1.0))
        hc, hm, a = tb.BiotSavart.compute_invariants(u, w, [0.0, 0.0])
        assert hm == 0.0 and math.isinf(a)

    @pytest.mark.parametrize("call,match", [
        (lambda: tb.BiotSavart.compute_vorticity([[0, 0, 0]] * 3, (100, 100, 100), 1.0), "field"),
        (lambda: tb.BiotSavart.compute_vorticity([[0, 0, 0]] * 3, (2**31 - 1,) * 3, 1.0), "field"),
        (lambda: tb.BiotSavart.extract_interior([[0, 0, 0]] * 64, (4, 4, 4), -1), "margin"),
        (lambda: tb.BiotSavart.extract_interior([[0, 0, 0]] * 63, (4, 4, 4), 1), "field"),
        (lambda: tb.BiotSavart.extract_interior([[0, 0, 0]] * 3, (65536, 65536, 4), 1), "field"),
        (lambda: tb.BiotSavart.compute_invariants([[0, 0, 0]] * 5, [[0, 0, 0]] * 2, [0.0] * 5), "w"),
        (lambda: tb.BiotSavart.compute_invariants([[0, 0, 0]] * 2, [[0, 0, 0]] * 3, [0.0] * 2), "r2"),
    ])
    def test_unmet_preconditions_are_value_errors(self, call, match):
        with pytest.raises(ValueError, match=match):
            call()


def closed_segments(X):
    return np.roll(X, -1, axis=0) - X


def neumann(X, a):
    n, dl, total = len(X), closed_segments(X), 0.0
    for i in range(n - 1):
        for m in range(i + 1, n):
            d = X[m] - X[i]
            total += 2.0 * np.dot(dl[i], dl[m]) / math.sqrt(np.dot(d, d) + a * a)
    return total


def repulsion(X, rc):
    n, total = len(X), 0.0
    for i in range(n):
        for j in range(i + 2, n):
            if (i, j) == (0, n - 1):
                continue
            x = 2.0 * rc / max(np.linalg.norm(X[j] - X[i]), 1e-30)
            if x > 0.1:
                total += x ** 12
    return total


def writhe_reg(X, rc):
    n, t, total = len(X), closed_segments(X), 0.0
    for i in range(n - 1):
        for m in range(i + 1, n):
            d = X[m] - X[i]
            total += 2.0 * np.dot(np.cross(t[i], t[m]), d) / (np.dot(d, d) + rc * rc) ** 1.5
    return total / (4 * math.pi)


def menger(X):
    total = 0.0
    for i in range(len(X)):
        a, b, c = X[i] - X[i - 1], X[(i + 1) % len(X)] - X[i], X[(i + 1) % len(X)] - X[i - 1]
        la, lb, lc = np.linalg.norm(a), np.linalg.norm(b), np.linalg.norm(c)
        k = 2 * np.linalg.norm(np.cross(a, b)) / (la * lb * lc) if min(la, lb, lc) > 1e-20 else 0.0
        total += k * k * (la + lb) / 2
    return total


KERNELS = [
    ("calculate_neumann_self_energy", lambda X: neumann(X, 0.3), (0.3,)),
    ("calculate_core_repulsion", lambda X: repulsion(X, 0.4), (0.4,)),
    ("calculate_length", lambda X: float(np.sum(np.linalg.norm(closed_segments(X), axis=1))), ()),
    ("calculate_writhe", lambda X: writhe_reg(X, 0.05), (0.05,)),
    ("calculate_curvature_penalty", menger, ()),
]


class TestPolylineKernels:
    @pytest.mark.parametrize("name,ref,extra", KERNELS, ids=[k[0] for k in KERNELS])
    def test_against_reference(self, name, ref, extra):
        X = trefoil(30)
        fn = getattr(tb, name)
        assert fn(X, *extra) == pytest.approx(ref(X), rel=1e-12)
        strided = np.repeat(X, 2, axis=0)[::2]
        assert fn(strided, *extra) == fn(np.ascontiguousarray(X), *extra)
        assert fn(X.tolist(), *extra) == fn(X, *extra)
        assert fn(np.zeros((0, 3)), *extra) == 0.0

    def test_length_examples(self):
        assert tb.calculate_length([[0, 0, 0], [1, 0, 0]]) == 2.0
        assert tb.calculate_length(points=np.array([[0, 0, 0], [3, 4, 0]], dtype=np.int32)) == 10.0

    @pytest.mark.parametrize("name,extra", [(k[0], k[2]) for k in KERNELS])
    def test_shape_errors(self, name, extra):
        fn = getattr(tb, name)
        with pytest.raises(ValueError, match=r"^array has incorrect number of dimensions: 1; expected 2$"):
            fn([0, 0, 0], *extra)
        with pytest.raises(RuntimeError, match="^" + re.escape(name + ": points must have shape (N, 3)") + "$"):
            fn(np.zeros((5, 2)), *extra)
        with pytest.raises(TypeError):
            fn("points", *extra)


def cutoff_reference(X, T, ds, a):
    total = np.zeros(len(a))
    for i in range(len(X)):
        for j in range(len(X)):
            r = np.linalg.norm(X[j] - X[i])
            if i != j and r > 0:
                c = np.dot(T[i], T[j]) / r * ds[i] * ds[j]
                total += np.where(r > np.asarray(a), c, 0.0)
    return total / (8 * math.pi)


class TestCutoffScan:
    X = trefoil(20)
    T = 0.5 * (np.roll(X, -1, axis=0) - np.roll(X, 1, axis=0))
    ds = np.linalg.norm(T, axis=1)

    def test_scan_and_single_cutoff(self):
        a = np.array([0.05, 0.5, 1.0, 2.5, 10.0])
        scan = tb.calculate_bs_cutoff_energy_scan(self.X, self.T, self.ds, a)
        assert isinstance(scan, np.ndarray) and scan.shape == (5,) and scan.dtype == np.float64
        # The scan forms prefix sums of +c/-c pairs, so a cut-off above every distance leaves rounding residue.
        np.testing.assert_allclose(scan, cutoff_reference(self.X, self.T, self.ds, a), rtol=1e-12, atol=1e-13)
        # The same pairs in the same order for the first cut-off; later elements differ only by rounding.
        assert tb.calculate_bs_cutoff_energy(self.X, self.T, self.ds, a_cutoff=a[0]) == scan[0]
        for k, ak in enumerate(a):
            assert tb.calculate_bs_cutoff_energy(self.X, self.T, self.ds, a_cutoff=ak) == pytest.approx(
                scan[k], rel=1e-12, abs=1e-13)
        assert tb.calculate_bs_cutoff_energy_scan(self.X, self.T, self.ds, []).shape == (0,)
        np.testing.assert_array_equal(
            tb.calculate_bs_cutoff_energy_scan(np.zeros((0, 3)), np.zeros((0, 3)), [], a), np.zeros(5))
        assert tb.calculate_bs_cutoff_energy(points=self.X.tolist(), tangents=self.T, ds_arr=self.ds.tolist(),
                                             a_cutoff=0.05) == scan[0]

    @pytest.mark.parametrize("name,last", [("calculate_bs_cutoff_energy_scan", np.array([0.5])),
                                           ("calculate_bs_cutoff_energy", 0.5)])
    def test_checks_in_order(self, name, last):
        fn = getattr(tb, name)
        p4, p42, ds3, ds4 = np.zeros((4, 3)), np.zeros((4, 2)), np.zeros(3), np.zeros(4)
        with pytest.raises(RuntimeError, match="^" + name + ": inconsistent N dimensions$"):
            fn(p4, p4, ds3, last)
        with pytest.raises(RuntimeError, match="^" + name + ": inconsistent N dimensions$"):
            fn(p42, np.zeros((3, 3)), ds4, last)
        with pytest.raises(RuntimeError, match="^" + re.escape(name + ": points/tangents must have shape (N, 3)")):
            fn(p42, p4, ds4, last)
        with pytest.raises(RuntimeError, match="^" + re.escape(name + ": points/tangents must have shape (N, 3)")):
            fn(p4, p42, ds4, last)
        with pytest.raises(ValueError, match="dimensions: 1; expected 2$"):
            fn(ds4, p4, ds3, last)
        with pytest.raises(ValueError, match="dimensions: 2; expected 1$"):
            fn(p4, p4, p4, last)

    def test_cutoff_array_dimension(self):
        with pytest.raises(ValueError, match="dimensions: 2; expected 1$"):
            tb.calculate_bs_cutoff_energy_scan(self.X, self.T, self.ds, [[0.5]])
        with pytest.raises(TypeError):
            tb.calculate_bs_cutoff_energy(self.X, self.T, self.ds, [0.5])


# A ValueError names the Python function that was called, not the kernel underneath.
@pytest.mark.parametrize("call, message", [
    (lambda: tb.BiotSavart.compute_vorticity([[0.0, 0.0, 0.0]] * 4, (2, 2, 2), 1.0),
     "compute_vorticity: field shorter than grid"),
    (lambda: tb.BiotSavart.extract_interior([[0.0, 0.0, 0.0]] * 8, (2, 2, 2), -1),
     "extract_interior: negative margin"),
    (lambda: tb.BiotSavart.compute_invariants([[0.0, 0.0, 0.0]], [], []),
     "compute_invariants: w shorter than u"),
    (lambda: tb.biot_savart_velocity([0.0, 0.0, 0.0], [[0.0, 0.0, 0.0], [1.0, 0.0, 0.0]], [[1.0, 0.0, 0.0]]),
     "biot_savart_velocity: fewer tangents than points"),
    (lambda: tb.compute_vorticity_grid(np.zeros((4, 3)), (2, 2, 2), 1.0),
     "compute_vorticity_grid: field shorter than grid"),
    (lambda: tb.extract_interior_field(np.zeros((8, 3)), (2, 2, 2), -1),
     "extract_interior_field: negative margin"),
])
def test_value_errors_name_the_called_function(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message
