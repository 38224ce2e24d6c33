"""Times the typical request: VortexKnotSystem from "3_1", 1000 points, 100 Euler steps (target: under 1 s)."""
import time

import _bindings


def main():
    best = float("inf")
    for _ in range(3):
        system = _bindings.VortexKnotSystem(1.0)
        start = time.perf_counter()
        system.initialize_knot_from_name("3_1", 1000)
        system.evolve(0.01, 100)
        system.get_positions()
        best = min(best, time.perf_counter() - start)
    pairs = 1000 * 1000 * 100
    print(f"main job (3_1, 1000 points, 100 steps): {best:.3f} s, {pairs / best:.3e} point pairs/s")


if __name__ == "__main__":
    main()
