"""The typical request: a trefoil filament from the built-in catalogue, evolved by Euler steps."""
import argparse
import math
import time

import _bindings


def centroid(points):
    n = len(points)
    return [sum(p[i] for p in points) / n for i in range(3)]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--knot", default="3_1")
    parser.add_argument("--resolution", type=int, default=1000)
    # Explicit Euler with the point law is stable only for steps of the order of the squared point spacing.
    parser.add_argument("--dt", type=float, default=0.0005)
    parser.add_argument("--steps", type=int, default=100)
    parser.add_argument("--show", type=int, default=5, help="how many positions to print")
    args = parser.parse_args()

    system = _bindings.VortexKnotSystem(1.0)
    system.initialize_knot_from_name(args.knot, args.resolution)
    before = system.get_positions()
    start = time.perf_counter()
    system.evolve(args.dt, args.steps)
    elapsed = time.perf_counter() - start
    after = system.get_positions()

    moved = [math.dist(a, b) for a, b in zip(before, after)]
    c0, c1 = centroid(before), centroid(after)
    print(f"knot {args.knot}: {len(after)} points, {args.steps} Euler steps of dt = {args.dt} in {elapsed:.3f} s")
    print("centroid before: ({:.6f}, {:.6f}, {:.6f})".format(*c0))
    print("centroid after:  ({:.6f}, {:.6f}, {:.6f})".format(*c1))
    print(f"centroid drift: {math.dist(c0, c1):.6f}")
    print(f"point displacement: mean {sum(moved) / len(moved):.6f}, max {max(moved):.6f}")
    print(f"first {min(args.show, len(after))} positions after evolution:")
    for i, p in enumerate(after[: args.show]):
        print(f"  {i:4d}: ({p[0]: .6f}, {p[1]: .6f}, {p[2]: .6f})")


if __name__ == "__main__":
    main()
