"""Timing shared by the Python benchmarks: thread CPU time (the machines are shared) beside wall time."""
import time

RUNS = 5


def timed(fn, runs=RUNS):
    """(min thread CPU time, min wall time) over `runs` calls; the result is dropped inside the timing."""
    cpu, wall = [], []
    for _ in range(runs):
        c0, w0 = time.thread_time(), time.perf_counter()
        fn()
        cpu.append(time.thread_time() - c0)
        wall.append(time.perf_counter() - w0)
    return min(cpu), min(wall)
