"""Long calls requested by the caller stop on Ctrl-C (SIGINT) with KeyboardInterrupt, leaving their object
as it was before the call."""
import os
import pathlib
import signal
import subprocess
import sys
import queue
import textwrap
import threading
import time

import pytest

HERE = pathlib.Path(__file__).parent
IDEAL_DB = HERE.parent.parent / "resources" / "ideal_database.txt"

SETUP = """
import math, sys
import numpy as np
import _bindings as b
from conftest import make_block, trefoil, TREFOIL_ROWS
block = make_block(*zip(*TREFOIL_ROWS))
P = trefoil(64).tolist()
"""

BIG_KNOT_FILE = (
    "import atexit, os, shutil, tempfile; d = tempfile.mkdtemp(); atexit.register(shutil.rmtree, d);"
    " big = os.path.join(d, 'knot.zz_big.fseries');"
    " open(big, 'w').write('% k\\n' + '1 2 3 4 5 x\\n' * 4000000 + '1 0 0 1 0 0\\n'); ")

# (setup, long call, check of the state afterwards)
CASES = {
    "VortexKnotSystem.evolve": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(100); before = (s.get_positions(), s.get_tangents())",
        "s.evolve(1e-6, 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "TimeEvolution.evolve": (
        "f = b.compute_frenet_frames(P); s = b.TimeEvolution(P, f[0]); before = (s.get_positions(), s.get_tangents())",
        "s.evolve(1e-6, 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "ParticleEvaluator.relax": (
        "s = b.ParticleEvaluator('3:1:1', 200); before = s.get_filaments()",
        "s.relax(10**9)",
        "s.get_filaments() == before"),
    "calculate_writhe": (
        "Q = np.random.default_rng(1).random((300000, 3))", "b.calculate_writhe(Q, 0.1)", "True"),
    "detect_reconnection_candidates": (
        "Q = np.random.default_rng(1).random((200000, 3)).tolist()",
        "b.detect_reconnection_candidates(Q, -1.0)", "True"),
    "estimate_crossing_number": ("", "b.estimate_crossing_number(P, 10**8)", "True"),
    "pd_from_curve": ("", "b.pd_from_curve(P, 10**7)", "True"),
    "length_exact": ("", "b.length_exact(block, 2**30)", "True"),
    "bending_energy_exact": ("", "b.bending_energy_exact(block, 2**30)", "True"),
    "describe_fourier_block": ("", "b.describe_fourier_block(block, 10**6)", "True"),
    "min_self_distance_exactish": ("", "b.min_self_distance_exactish(block, 10**6)", "True"),
    "compute_relativistic_metrics": (
        "s = b.ParticleEvaluator('3:1:1', 10**6)", "s.compute_relativistic_metrics()", "True"),
    "compute_tail_energy_surrogate_J": (
        "s = b.ParticleEvaluator('3:1:1', 2000); c = b.TailApproxConfig(); c.enabled = True;"
        " c.radial_samples = 100; c.azimuth_samples = 100; s.set_tail_approx_config(c)",
        "s.compute_tail_energy_surrogate_J()", "True"),
    "compute_gravitational_potential": (
        "Q = np.random.default_rng(1).random((30000, 3)).tolist()", "b.compute_gravitational_potential(Q, Q)", "True"),
    "compute_gravitational_potential_gradient": (
        "Q = np.random.default_rng(1).random((30000, 3)).tolist()",
        "b.compute_gravitational_potential_gradient(Q, Q)", "True"),
    "compute_gravitational_potential_direct": (
        "Q = np.random.default_rng(1).random((30000, 3)).tolist()",
        "b.compute_gravitational_potential_direct(Q, Q)", "True"),
    # A broadcast grid of Python floats: converting each element is slow, so a grid of modest memory takes
    # seconds to copy into the kernel's layout (a wire of one point adds no field afterwards).
    "biot_savart_wire_grid:grid-copy": (
        "X = np.broadcast_to(np.array(0.5, dtype=object), (3 * 10**7,))",
        "b.biot_savart_wire_grid(X, X, X, np.zeros((1, 3)))", "True"),
    "writhe_gauss_curve": (
        "Q = np.random.default_rng(1).random((60000, 3)).tolist()", "b.writhe_gauss_curve(Q, Q)", "True"),
    "calculate_bs_cutoff_energy_scan": (
        "Q = np.random.default_rng(1).random((15000, 3))",
        "b.calculate_bs_cutoff_energy_scan(Q, Q, Q[:, 0], np.linspace(0.01, 1.0, 50))", "True"),
    "evaluate_fourier_series": (
        "C = np.random.default_rng(1).random((2000, 6)).tolist(); T = np.linspace(0.0, 6.0, 200000).tolist()",
        "b.evaluate_fourier_series(C, T)", "True"),
    "fourier_knot.reconstruct": (
        "k = b.fourier_knot(); k.activeBlock = make_block(*[[0.01] * 500] * 6); k.reconstruct(10); before = k.points",
        "k.reconstruct(10**6)", "k.points == before"),
    # A knot file of four million rows that do not parse: reading it takes seconds.
    "VortexKnotSystem.initialize_knot_from_name:file": (
        BIG_KNOT_FILE + "os.environ['TARQ_KNOT_DATA_DIR'] = d; s = b.VortexKnotSystem();"
        " s.initialize_trefoil_knot(50); before = s.get_positions()",
        "s.initialize_knot_from_name('zz_big', 100)", "s.get_positions() == before"),
    "fourier_knot.loadBlocks": (
        BIG_KNOT_FILE + "k = b.fourier_knot(); k.blocks = [block]; kept = k.blocks[0]",
        "k.loadBlocks(big)", "k.blocks[0] is kept and kept.a_x == block.a_x"),
    "evaluate_fourier_block": (
        "big = make_block(*[[0.01] * 2000] * 6)", "b.evaluate_fourier_block(big, [0.5] * 10**6)", "True"),
    "ParticleEvaluator:construction": ("", "b.ParticleEvaluator('3:1:1', 2 * 10**7)", "True"),
    # 40000 points in one grid cell, then in a few crowded cells: an iteration's repulsion scan is quadratic.
    "ParticleEvaluator.relax:one-cell": (
        "s = b.ParticleEvaluator([(np.random.default_rng(1).random((40000, 3)) * 0.05).tolist()]);"
        " before = s.get_filaments()",
        "s.relax(1)", "s.get_filaments() == before"),
    "ParticleEvaluator.relax:crowded-cells": (
        "s = b.ParticleEvaluator([(np.random.default_rng(1).random((40000, 3)) * 0.3).tolist()]);"
        " before = s.get_filaments()",
        "s.relax(1)", "s.get_filaments() == before"),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_sigint_stops_a_long_call(name):
    setup, call, check = CASES[name]
    script = SETUP + textwrap.dedent(f"""
        {setup}
        print("READY", flush=True)
        try:
            {call}
            print("FINISHED", flush=True)
        except KeyboardInterrupt:
            print("STOPPED", {check}, flush=True)
        """)
    proc = subprocess.Popen([sys.executable, "-c", script], cwd=HERE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True,
                            env=dict(os.environ, TARQ_IDEAL_DATABASE=str(IDEAL_DB)))
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(x) for x in proc.stdout], daemon=True).start()
    try:
        assert lines.get(timeout=60) == "READY\n"
        time.sleep(0.3)  # into the long loop
        os.kill(proc.pid, signal.SIGINT)
        sent = time.monotonic()
        line = lines.get(timeout=30)
        stopped_after = time.monotonic() - sent
        proc.wait(timeout=30)
    finally:
        proc.kill()
        proc.wait()
    assert line == "STOPPED True\n", proc.stderr.read()
    assert stopped_after < 1.0
