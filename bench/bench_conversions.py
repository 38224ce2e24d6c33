"""Conversion-heavy calls with NumPy arrays against the same values as lists, in one run: the grid
compute_vorticity on 2000 x 2000, pressure_gradient on a 2000 x 2000 table, compute_frenet_frames on 10^6 points.

Target: with NumPy input the grid compute_vorticity takes at most half the thread CPU time of the call with
lists. Each call returns lists either way, so the same lists built by ndarray.tolist() are timed beside it: that
is the floor of both calls. Thread CPU time (minimum of the runs) beside wall time.
"""
import numpy as np

import _bindings
from timing import timed


def compare(label, with_arrays, with_lists, output, target=None):
    arrays, arrays_wall = timed(with_arrays)
    lists, lists_wall = timed(with_lists)
    floor, _ = timed(output.tolist)
    ratio = arrays / lists
    verdict = "" if target is None else f" [target <= {target:.2f}: {'ok' if ratio <= target else 'MISSED'}]"
    print(f"{label}: NumPy {arrays * 1e3:.0f} ms CPU ({arrays_wall * 1e3:.0f} ms wall), lists {lists * 1e3:.0f} ms CPU "
          f"({lists_wall * 1e3:.0f} ms wall), NumPy/lists {ratio:.2f}{verdict}; the result's lists alone "
          f"(tolist) {floor * 1e3:.0f} ms = {floor / lists:.2f} of the list call")


def main():
    rng = np.random.default_rng(7)
    n = 2000
    U, V = rng.standard_normal(n * n), rng.standard_normal(n * n)
    u, v = U.tolist(), V.tolist()
    compare(f"compute_vorticity grid {n} x {n}", lambda: _bindings.compute_vorticity(U, V, n, n, 0.1, 0.1),
            lambda: _bindings.compute_vorticity(u, v, n, n, 0.1, 0.1), np.zeros(n * n), target=0.5)
    del U, V, u, v
    P = rng.standard_normal((n, n))
    p = P.tolist()
    compare(f"pressure_gradient {n} x {n}", lambda: _bindings.pressure_gradient(P, 0.1, 0.1),
            lambda: _bindings.pressure_gradient(p, 0.1, 0.1), np.zeros((n, n, 3)))
    del P, p
    X = rng.standard_normal((10**6, 3))
    x = X.tolist()
    compare("compute_frenet_frames 10^6 points", lambda: _bindings.compute_frenet_frames(X),
            lambda: _bindings.compute_frenet_frames(x), np.zeros((3, 10**6, 3)))


if __name__ == "__main__":
    main()
