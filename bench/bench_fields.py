"""Times the field and mass functions as Python calls them, conversions included: the grid fields on a
64^3 grid with 1000 sources, compute_tarq_mass of 10,000 points, curl3d_central on 128^3 x 3.
Thread CPU time, minimum of five runs, beside wall time."""
import time

import numpy as np

import _bindings as b


def best_of(runs, f):
    cpu = wall = float("inf")
    for _ in range(runs):
        w0, c0 = time.perf_counter(), time.thread_time()
        f()
        cpu = min(cpu, time.thread_time() - c0)
        wall = min(wall, time.perf_counter() - w0)
    return cpu, wall


def main():
    ax = np.linspace(-2.0, 2.0, 64)
    X, Y, Z = np.meshgrid(ax, ax, ax, indexing="ij")
    t = 2.0 * np.pi * np.arange(1001) / 1000.0
    wire = np.stack([np.cos(t), np.sin(t), 0.1 * np.sin(3.0 * t)], axis=1)
    moments = np.tile([0.0, 0.0, 1.0], (1000, 1))
    grid = np.stack([X.ravel(), Y.ravel(), Z.ravel()], axis=1)
    pairs = X.size * 1000
    cases = [
        ("biot_savart_wire_grid", lambda: b.biot_savart_wire_grid(X, Y, Z, wire)),
        ("biot_savart_vector_potential_grid", lambda: b.biot_savart_vector_potential_grid(wire, grid)),
        ("dipole_ring_field_grid", lambda: b.dipole_ring_field_grid(X, Y, Z, wire[:1000], moments)),
    ]
    for name, f in cases:
        cpu, wall = best_of(5, f)
        print(f"{name}, 64^3 x 1000: {cpu:.3f} s CPU, {wall:.3f} s wall, {pairs / cpu:.2e} pairs/s  [target >= 2e8]")

    s = 2.0 * np.pi * np.arange(10000) / 10000.0
    r = 2.0 + np.cos(3.0 * s)
    filament = (1e-15 * np.stack([r * np.cos(2.0 * s), r * np.sin(2.0 * s), np.sin(3.0 * s)], axis=1)).tolist()
    cpu, wall = best_of(5, lambda: b.compute_tarq_mass(filament, 2.0))
    print(f"compute_tarq_mass, 10,000 points: {cpu:.3f} s CPU, {wall:.3f} s wall  [target < 0.5 s]")

    vel = np.sin(0.001 * np.arange(128 ** 3 * 3, dtype=np.float64)).reshape(128, 128, 128, 3)
    cpu, wall = best_of(5, lambda: b.curl3d_central(vel, 0.1))
    print(f"curl3d_central, 128^3 x 3: {cpu * 1e3:.1f} ms CPU, {wall * 1e3:.1f} ms wall  [target < 100 ms]")


if __name__ == "__main__":
    main()
