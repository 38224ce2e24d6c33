"""Times the typical request as the README runs it: VortexKnotSystem from "3_1", 1000 points, 100 Euler steps of
dt = 0.0005 (target: under 1 s)."""
import time

import _bindings

RUNS = 5


def main():
    best_cpu = best_wall = float("inf")
    for _ in range(RUNS):
        system = _bindings.VortexKnotSystem(1.0)
        cpu, wall = time.thread_time(), time.perf_counter()
        system.initialize_knot_from_name("3_1", 1000)
        system.evolve(0.0005, 100)
        system.get_positions()
        best_cpu = min(best_cpu, time.thread_time() - cpu)
        best_wall = min(best_wall, time.perf_counter() - wall)
    pairs = 1000 * 1000 * 100
    print(f"main job (3_1, 1000 points, 100 steps of 0.0005): thread CPU {best_cpu:.3f} s, wall {best_wall:.3f} s "
          f"(minimum of {RUNS}), {pairs / best_cpu:.3e} point pairs/s")


if __name__ == "__main__":
    main()
