"""Frenet frames, curvature and torsion, the Frenet helicity overload and the TimeEvolution stepper."""
import math

import numpy as np
import pytest

import _bindings as tb
from conftest import doc_body, trefoil

FRENET_DOCS = {
    "compute_frenet_frames": "\n        Compute Frenet frames (T, N, B) from 3D filament points.\n"
                             "        Returns: (T, N, B) as tuple of lists.\n    ",
    "compute_curvature_torsion": "\n\t\tCompute curvature and torsion from tangent and normal vectors.\n"
                                 "\t\tReturns: (curvature, torsion) as tuple of lists.\n\t",
    "evolve_vortex_knot": "\n        Evolve vortex knot filaments using Biot\u2013Savart dynamics.\n    ",
    "rk4_integrate": "\n        Runge-Kutta 4th order time integrator for vortex elements.\n    ",
}
HELICITY_DOC = "\n        Compute helicity H = \u222b v \u00b7 \u03c9 dV.\n    "


@pytest.mark.parametrize("name", sorted(FRENET_DOCS))
def test_docstrings(name):
    assert doc_body(getattr(tb, name)) == "\n" + FRENET_DOCS[name] + "\n"


def test_helicity_docstring_is_the_last_overload():
    doc = tb.compute_helicity.__doc__
    assert doc.endswith("\n\n" + HELICITY_DOC + "\n")
    if "Overloaded function." in doc:
        assert doc.rindex("\n2. ") < doc.rindex(HELICITY_DOC)


def test_registration_order():
    names = list(vars(tb))
    start = names.index("compute_frenet_frames")
    # compute_helicity keeps the place of its first registration, which the fluid-dynamics form takes.
    own = ["compute_frenet_frames", "compute_curvature_torsion", "compute_helicity", "evolve_vortex_knot",
           "rk4_integrate"]
    if names.index("compute_helicity") < start:
        own.remove("compute_helicity")
    assert names[start:start + len(own)] == own


class TestFrenet:
    def test_circle_frames(self):
        n, R = 16, 3.0
        th = 2 * math.pi * np.arange(n) / n
        pts = np.stack([R * np.cos(th), R * np.sin(th), 0 * th], axis=1)
        T, N, B = tb.compute_frenet_frames(pts)
        assert len(T) == len(N) == len(B) == n
        for i in range(1, n - 1):
            assert T[i] == pytest.approx([-math.sin(th[i]), math.cos(th[i]), 0.0], abs=1e-12)
            assert N[i] == pytest.approx([-math.cos(th[i]), -math.sin(th[i]), 0.0], abs=1e-12)
            assert B[i] == pytest.approx([0.0, 0.0, 1.0], abs=1e-12)
        assert (T[0], T[-1]) == (T[1], T[-2])
        kappa, tau = tb.compute_curvature_torsion(T, N)
        assert len(kappa) == len(tau) == n
        # Entries 1 and n-2 see a copied end tangent, so only the inner ones show sin(2*pi/n).
        assert kappa[2:-2] == pytest.approx([math.sin(2 * math.pi / n)] * (n - 4), rel=1e-12)
        assert tau[2:-2] == pytest.approx([0.0] * (n - 4), abs=1e-12)
        assert (kappa[0], tau[-1]) == (kappa[1], tau[-2])

    def test_two_points_give_zero_frames(self):
        T, N, B = tb.compute_frenet_frames([[0, 0, 0], [1, 0, 0]])
        assert T == N == B == [[0.0, 0.0, 0.0]] * 2
        assert tb.compute_curvature_torsion(T, N) == ([0.0, 0.0], [0.0, 0.0])

    @pytest.mark.parametrize("call,match", [
        (lambda: tb.compute_frenet_frames([]), "^compute_frenet_frames: "),
        (lambda: tb.compute_frenet_frames([[1, 2, 3]]), "^compute_frenet_frames: "),
        (lambda: tb.compute_curvature_torsion([[1, 0, 0]], [[0, 1, 0]]), "^compute_curvature_torsion: "),
        (lambda: tb.compute_curvature_torsion([[1, 0, 0]] * 4, [[0, 1, 0]] * 3), "^compute_curvature_torsion: "),
        (lambda: tb.compute_helicity([[1, 0, 0]] * 3, [[1, 0, 0]] * 2), "^compute_helicity: "),
        (lambda: tb.evolve_vortex_knot([[0, 0, 0]] * 3, [[1, 0, 0]] * 2, 1.0, 1.0), "^evolve_vortex_knot: "),
        (lambda: tb.rk4_integrate([[0, 0, 0]] * 3, [], 1.0, 1.0), "^rk4_integrate: "),
    ])
    def test_short_input_is_a_value_error(self, call, match):
        with pytest.raises(ValueError, match=match):
            call()

    def test_positional_only(self):
        with pytest.raises(TypeError):
            tb.compute_frenet_frames(points=[[0, 0, 0], [1, 0, 0]])
        with pytest.raises(TypeError):
            tb.rk4_integrate([[0, 0, 0]], [[1, 0, 0]], a=1.0, b=1.0)

    def test_helicity_frenet_form(self):
        assert tb.compute_helicity([[1, 2, 3]], [[1, 1, 1]]) == 6.0
        got = tb.compute_helicity([[0.1, 0, 0]], [[3, 0, 0]])
        assert got == float(np.float32(0.1 * 3.0)) and got != 0.3
        assert math.isnan(tb.compute_helicity([], []))
        assert tb.compute_helicity([[1, 0, 0]] * 3, [[1, 0, 0]] * 4) == 1.0

    def test_one_step_updates(self):
        X, V = trefoil(7).tolist(), (trefoil(7) * 0.25).tolist()
        a = tb.evolve_vortex_knot(X, V, 0.5, 2)
        assert a == tb.rk4_integrate(X, V, 0.5, 2)
        np.testing.assert_allclose(a, np.array(X) + np.array(V), rtol=1e-15)
        assert tb.rk4_integrate(X, V, 0.0, 3.0) == X
        assert tb.rk4_integrate([], [], 1.0, 1.0) == []


class TestTimeEvolution:
    pos = trefoil(12)
    tan = 0.5 * (np.roll(pos, -1, axis=0) - np.roll(pos, 1, axis=0))

    def test_default_gamma_and_snapshots(self):
        a = tb.TimeEvolution(self.pos.tolist(), self.tan.tolist())
        b = tb.TimeEvolution(initial_positions=self.pos, initial_tangents=self.tan, gamma=1.0)
        before = a.get_positions()
        a.evolve(0.01, 3)
        b.evolve(dt=0.01, steps=3)
        assert a.get_positions() == b.get_positions() and a.get_tangents() == b.get_tangents()
        assert before == self.pos.tolist() and a.get_positions() != before

    def test_zero_steps_and_dt(self):
        e = tb.TimeEvolution(self.pos, self.tan, 2.0)
        e.evolve(0.1, 0)
        e.evolve(0.1, -3)
        assert e.get_positions() == self.pos.tolist() and e.get_tangents() == self.tan.tolist()
        e.evolve(0.0, 1)
        assert e.get_positions() == self.pos.tolist()
        T, _, _ = tb.compute_frenet_frames(self.pos)
        np.testing.assert_allclose(e.get_tangents(), T, rtol=1e-14, atol=1e-15)

    def test_first_step_against_point_law(self):
        e = tb.TimeEvolution(self.pos, self.tan, 1.5)
        e.evolve(0.05, 1)
        want = [np.array(p) + 0.05 * np.array(tb.biot_savart_velocity(p, self.pos, self.tan, 1.5))
                for p in self.pos]
        np.testing.assert_allclose(e.get_positions(), want, rtol=1e-14, atol=1e-15)

    def test_short_filaments(self):
        for n in (0, 1, 2):
            e = tb.TimeEvolution(self.pos[:n], self.tan[:n])
            e.evolve(0.1, 2)
            assert len(e.get_positions()) == n
        one = tb.TimeEvolution([[1, 2, 3]], [[0, 0, 1]])
        one.evolve(0.1, 1)
        assert one.get_positions() == [[1.0, 2.0, 3.0]]

    def test_faults(self):
        with pytest.raises(ValueError):
            tb.TimeEvolution(self.pos, self.tan[:5])
        e = tb.TimeEvolution(self.pos, self.tan)
        for args in ((0.1, 1.0), ("0.1", 1), (0.1, 2**31)):
            with pytest.raises(TypeError):
                e.evolve(*args)
        with pytest.raises(TypeError):
            tb.TimeEvolution([[0, 0]], [[0, 0, 1]])
