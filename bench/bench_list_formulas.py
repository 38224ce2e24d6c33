"""List-in, list-out formulas against their conversion floor: the grid compute_vorticity on 2048 x 2048 and
pressure_gradient on a 1000 x 1000 table.

Both take and return Python lists, so building those lists is the floor. Each call, conversions included, must
take at most 1.5 x what ndarray.tolist() takes to build the same output lists plus 0.75 x what numpy.array
takes to read the same input lists, all measured here in the same run. Thread CPU time, minimum of the runs.
"""
import numpy as np

import _bindings
from timing import timed


def report(label, call, outputs, inputs):
    t_call, w_call = timed(call)
    t_out = sum(timed(lambda a=a: a.tolist())[0] for a in outputs)
    t_in = sum(timed(lambda l=l: np.array(l))[0] for l in inputs)
    budget = 1.5 * t_out + 0.75 * t_in
    print(f"{label}: {t_call * 1e3:.0f} ms CPU ({w_call * 1e3:.0f} ms wall); tolist {t_out * 1e3:.0f} ms, "
          f"numpy.array {t_in * 1e3:.0f} ms, budget {budget * 1e3:.0f} ms: {t_call / budget:.2f} of budget "
          f"[target <= 1.00]")


def main():
    rng = np.random.default_rng(7)
    n = 2048
    u = rng.standard_normal(n * n).tolist()
    v = rng.standard_normal(n * n).tolist()
    report(f"compute_vorticity grid {n} x {n}",
           lambda: _bindings.compute_vorticity(u, v, n, n, 0.1, 0.1), [np.zeros(n * n)], [u, v])
    del u, v
    table = rng.standard_normal((1000, 1000)).tolist()
    report("pressure_gradient 1000 x 1000", lambda: _bindings.pressure_gradient(table, 0.1, 0.1),
           [np.zeros((1000, 1000, 3))], [table])


if __name__ == "__main__":
    main()
