"""Times compute_swirl_field at res = 1024 against ndarray.tolist() building the same lists (target: <= 1.5x)."""
import gc
import time

import numpy as np

import _bindings

RES = 1024
RUNS = 7


def best_of(fn):
    cpu = wall = float("inf")
    for _ in range(RUNS):
        c0, w0 = time.thread_time(), time.perf_counter()
        out = fn()
        c1, w1 = time.thread_time(), time.perf_counter()
        del out
        cpu, wall = min(cpu, c1 - c0), min(wall, w1 - w0)
    return cpu, wall


def main():
    # The same million float32 pairs as a NumPy array: tolist() builds exactly the lists the call returns.
    values = np.array(_bindings.compute_swirl_field(RES, 0.3), dtype=np.float32)
    # With the collector on (as callers run) it dominates both sides; with it off the conversion shows.
    for label, collect in (("gc on", True), ("gc off", False)):
        if not collect:
            gc.disable()
        call_cpu, call_wall = best_of(lambda: _bindings.compute_swirl_field(RES, 0.3))
        list_cpu, list_wall = best_of(values.tolist)
        gc.enable()
        ratio = call_cpu / list_cpu
        print(f"compute_swirl_field(res={RES}), {label}: {call_cpu * 1e3:.1f} ms CPU ({call_wall * 1e3:.1f} ms "
              f"wall); ndarray.tolist(): {list_cpu * 1e3:.1f} ms CPU ({list_wall * 1e3:.1f} ms wall); "
              f"ratio {ratio:.2f} (target <= 1.5) {'ok' if ratio <= 1.5 else 'MISSED'}")


if __name__ == "__main__":
    main()
