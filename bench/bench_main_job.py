"""Times the typical request: VortexKnotSystem from "3_1", 1000 points, 100 Euler steps of dt 0.0005.

The primary figure is thread CPU time (target: at most 0.13 s), the minimum over several runs; wall time beside.
"""
import time

import _bindings

RUNS = 7
TARGET_CPU_S = 0.13


def one_run():
    system = _bindings.VortexKnotSystem(1.0)
    system.initialize_knot_from_name("3_1", 1000)
    system.evolve(0.0005, 100)
    return system.get_positions()


def main():
    best_cpu = best_wall = float("inf")
    for _ in range(RUNS):
        wall0, cpu0 = time.perf_counter(), time.thread_time()
        one_run()
        cpu1, wall1 = time.thread_time(), time.perf_counter()
        best_cpu = min(best_cpu, cpu1 - cpu0)
        best_wall = min(best_wall, wall1 - wall0)
    pairs = 1000 * 1000 * 100
    verdict = "met" if best_cpu <= TARGET_CPU_S else "NOT met"
    print(
        f"main job (3_1, 1000 points, 100 steps, dt 0.0005): {best_cpu:.3f} s CPU, {best_wall:.3f} s wall, "
        f"{pairs / best_cpu:.3e} point pairs/s  (target {TARGET_CPU_S} s CPU: {verdict})"
    )


if __name__ == "__main__":
    main()
