"""Long calls requested by the caller stop on Ctrl-C (SIGINT) with KeyboardInterrupt, leaving their object
as it was before the call.

Every function and method of the module whose work grows with its input has a row in CASES, sized to run
for seconds; every other one is listed in FIXED_WORK."""
import concurrent.futures
import os
import pathlib
import queue
import shutil
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import _bindings
from conftest import child_env

HERE = pathlib.Path(__file__).parent
IDEAL_DB = HERE.parent.parent / "resources" / "ideal_database.txt"

# Shared by every row: ROW_DIR is a directory of the row's own (also its working directory), removed by the
# test afterwards. SIGINT raises KeyboardInterrupt whatever the child inherited.
SETUP = """
import math, os, signal, sys, time
import numpy as np
import _bindings as b
from conftest import handle_signal, make_block, trefoil, TREFOIL_ROWS, fseries_text
handle_signal(signal.SIGINT, signal.default_int_handler)
block = make_block(*zip(*TREFOIL_ROWS))
P = trefoil(64).tolist()
ROW_DIR = os.environ['ROW_DIR']

def rand(n, k=3):
    return np.random.default_rng(1).random((n, k))

def bcast(n, row=(0.5, 0.25, 0.125)):
    # n equal rows in the memory of one.
    return np.broadcast_to(np.array(row), (n, len(row)))

def big_block(h):
    return make_block(*[[0.01] * h] * 6)

def write(name, text):
    path = os.path.join(ROW_DIR, name)
    with open(path, 'w') as f:
        f.write(text)
    return path

def trefoil_file(name='knot.trefoil.fseries'):
    return write(name, fseries_text(TREFOIL_ROWS))

def wide_file(h, name='knot.wide.fseries'):
    return write(name, fseries_text([(0.01,) * 6] * h))

def coeff_rows(n):
    return '<Coeff I="1" A="2.5, 0, 0" B="0, 2.5, 0" />\\n' * n
"""

# A knot file of seven million rows that do not parse: reading it takes seconds.
BIG_KNOT_FILE = "big = write('knot.zz_big.fseries', '% k\\n' + '1 2 3 4 5 x\\n' * 7000000 + '1 0 0 1 0 0\\n'); "

# (setup, long call, check of the state afterwards), by the function's name or Class.method, then ':' and
# what the row exercises when a call has several.
CASES = {
    # ---- filaments and their evolution
    "VortexKnotSystem.evolve": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(100); before = (s.get_positions(), s.get_tangents())",
        "s.evolve(1e-6, 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "VortexKnotSystem.initialize_trefoil_knot": (
        "s = b.VortexKnotSystem(); s.initialize_figure8_knot(50); before = (s.get_positions(), s.get_tangents())",
        "s.initialize_trefoil_knot(7 * 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "VortexKnotSystem.initialize_figure8_knot": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(50); before = (s.get_positions(), s.get_tangents())",
        "s.initialize_figure8_knot(7 * 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "VortexKnotSystem.initialize_knot_from_name:file": (
        BIG_KNOT_FILE + "os.environ['TARQ_KNOT_DATA_DIR'] = ROW_DIR; s = b.VortexKnotSystem();"
        " s.initialize_trefoil_knot(50); before = s.get_positions()",
        "s.initialize_knot_from_name('zz_big', 100)", "s.get_positions() == before"),
    "VortexKnotSystem.initialize_knot_from_name:catalogue": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(50); before = (s.get_positions(), s.get_tangents())",
        "s.initialize_knot_from_name('10_1', 2 * 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "VortexKnotSystem.get_positions": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(6 * 10**6)", "s.get_positions()", "True"),
    "VortexKnotSystem.get_tangents": (
        "s = b.VortexKnotSystem(); s.initialize_trefoil_knot(6 * 10**6)", "s.get_tangents()", "True"),
    "TimeEvolution.evolve": (
        "f = b.compute_frenet_frames(P); s = b.TimeEvolution(P, f[0]); before = (s.get_positions(), s.get_tangents())",
        "s.evolve(1e-6, 10**7)",
        "(s.get_positions(), s.get_tangents()) == before"),
    "TimeEvolution.get_positions": (
        "Q = [[0.5, 0.25, 0.125]] * (55 * 10**5); s = b.TimeEvolution(Q, Q)", "s.get_positions()", "True"),
    "TimeEvolution.get_tangents": (
        "Q = [[0.5, 0.25, 0.125]] * (55 * 10**5); s = b.TimeEvolution(Q, Q)", "s.get_tangents()", "True"),
    "compute_frenet_frames": ("Q = bcast(4 * 10**6)", "b.compute_frenet_frames(Q)", "True"),
    "compute_curvature_torsion": ("Q = bcast(25 * 10**6)", "b.compute_curvature_torsion(Q, Q)", "True"),
    "evolve_vortex_knot": ("Q = bcast(12 * 10**6)", "b.evolve_vortex_knot(Q, Q, 1.0, 1.0)", "True"),
    "rk4_integrate": ("Q = bcast(12 * 10**6)", "b.rk4_integrate(Q, Q, 1.0, 1.0)", "True"),

    # ---- particle model
    "ParticleEvaluator.relax": (
        "s = b.ParticleEvaluator('3:1:1', 200); before = s.get_filaments()",
        "s.relax(10**9)",
        "s.get_filaments() == before"),
    # 40000 points in one grid cell, then in a few crowded cells: an iteration's repulsion scan is quadratic.
    "ParticleEvaluator.relax:one-cell": (
        "s = b.ParticleEvaluator([(np.random.default_rng(1).random((40000, 3)) * 0.05).tolist()]);"
        " before = s.get_filaments()",
        "s.relax(1)", "s.get_filaments() == before"),
    "ParticleEvaluator.relax:crowded-cells": (
        "s = b.ParticleEvaluator([(np.random.default_rng(1).random((40000, 3)) * 0.3).tolist()]);"
        " before = s.get_filaments()",
        "s.relax(1)", "s.get_filaments() == before"),
    "ParticleEvaluator.__init__:catalogue": ("", "b.ParticleEvaluator('3:1:1', 2 * 10**7)", "True"),
    "ParticleEvaluator.get_filaments": (
        "s = b.ParticleEvaluator([[[0.5, 0.25, 0.125]] * (6 * 10**6)])", "s.get_filaments()", "True"),
    "ParticleEvaluator.compute_relativistic_metrics": (
        "s = b.ParticleEvaluator('3:1:1', 10**6)", "s.compute_relativistic_metrics()", "True"),
    "ParticleEvaluator.compute_tail_energy_surrogate_J": (
        "s = b.ParticleEvaluator('3:1:1', 2000); c = b.TailApproxConfig(); c.enabled = True;"
        " c.radial_samples = 100; c.azimuth_samples = 100; s.set_tail_approx_config(c)",
        "s.compute_tail_energy_surrogate_J()", "True"),
    "ParticleEvaluator.compute_tail_energy_J": (
        "s = b.ParticleEvaluator('3:1:1', 2000); c = b.TailApproxConfig(); c.enabled = True;"
        " c.radial_samples = 100; c.azimuth_samples = 100; s.set_tail_approx_config(c)",
        "s.compute_tail_energy_J(True)", "True"),
    "ParticleEvaluator.get_mass_mev_ab_initio": (
        "s = b.ParticleEvaluator('3:1:1', 2000); c = b.TailApproxConfig(); c.enabled = True;"
        " c.radial_samples = 100; c.azimuth_samples = 100; s.set_tail_approx_config(c)",
        "s.get_mass_mev_ab_initio(True)", "True"),
    "compute_tarq_mass": ("Q = rand(80000).tolist()", "b.compute_tarq_mass(Q, 2.0)", "True"),
    "GoldenNLSClosure.infer_geometric_ratio": (
        "g = b.GoldenNLSClosure()", "g.infer_geometric_ratio(9.1e-31, -1.0, 2**31 - 1)", "True"),
    "GoldenNLSClosure.infer_geometric_ratio_safe": (
        "g = b.GoldenNLSClosure()", "g.infer_geometric_ratio_safe(9.1e-31, 1.0, 1e-6, 10.0, -1.0, -1.0, 2**31 - 1)",
        "True"),

    # ---- invariants of point sequences
    "calculate_writhe": ("Q = rand(300000)", "b.calculate_writhe(Q, 0.1)", "True"),
    "calculate_neumann_self_energy": ("Q = rand(150000)", "b.calculate_neumann_self_energy(Q, 0.1)", "True"),
    "calculate_core_repulsion": ("Q = rand(150000)", "b.calculate_core_repulsion(Q, 0.1)", "True"),
    "detect_reconnection_candidates": (
        "Q = rand(200000).tolist()", "b.detect_reconnection_candidates(Q, -1.0)", "True"),
    "estimate_crossing_number": ("", "b.estimate_crossing_number(P, 10**8)", "True"),
    # One projection of a dense curve: its edge boxes all overlap.
    "estimate_crossing_number:one-projection": (
        "Q = rand(200000).tolist()", "b.estimate_crossing_number(Q, 1)", "True"),
    "pd_from_curve": ("", "b.pd_from_curve(P, 10**7)", "True"),
    "compute_writhe": ("Q = rand(100000).tolist()", "b.compute_writhe(Q)", "True"),
    "compute_centerline_helicity": ("Q = rand(100000).tolist()", "b.compute_centerline_helicity(Q, [])", "True"),
    "compute_linking_number": ("Q = rand(70000).tolist()", "b.compute_linking_number(Q, Q)", "True"),
    "writhe_gauss_curve": ("Q = rand(60000).tolist()", "b.writhe_gauss_curve(Q, Q)", "True"),
    "min_self_distance_sampled": ("Q = rand(100000).tolist()", "b.min_self_distance_sampled(Q, 4)", "True"),
    "calculate_bs_cutoff_energy_scan": (
        "Q = rand(15000)", "b.calculate_bs_cutoff_energy_scan(Q, Q, Q[:, 0], np.linspace(0.01, 1.0, 50))", "True"),
    "calculate_bs_cutoff_energy": ("Q = rand(26000)", "b.calculate_bs_cutoff_energy(Q, Q, Q[:, 0], 0.5)", "True"),

    # ---- Fourier blocks
    "evaluate_fourier_series": (
        "C = rand(2000, 6).tolist(); T = np.linspace(0.0, 6.0, 200000).tolist()",
        "b.evaluate_fourier_series(C, T)", "True"),
    "evaluate_fourier_block": ("big = big_block(2000)", "b.evaluate_fourier_block(big, [0.5] * 10**6)", "True"),
    "fourier_knot_eval": (
        "A = np.full(2000, 0.01); S = np.linspace(0.0, 6.0, 10**6)", "b.fourier_knot_eval(A, A, A, A, A, A, S)",
        "True"),
    "curvature_exact": (
        "big = big_block(4000); S = np.linspace(0.0, 1.0, 60000).tolist()", "b.curvature_exact(big, S)", "True"),
    "length_exact": ("", "b.length_exact(block, 2**30)", "True"),
    "bending_energy_exact": ("", "b.bending_energy_exact(block, 2**30)", "True"),
    "describe_fourier_block": ("", "b.describe_fourier_block(block, 10**6)", "True"),
    "min_self_distance_exactish": ("", "b.min_self_distance_exactish(block, 10**6)", "True"),
    "compute_helicity_from_fourier_block": (
        "", "b.compute_helicity_from_fourier_block(block, 128, 0.1, 8, 5000)", "True"),
    "fourier_knot.reconstruct": (
        "k = b.fourier_knot(); k.activeBlock = big_block(500); k.reconstruct(10); before = k.points",
        "k.reconstruct(10**6)", "k.points == before"),
    "fourier_knot.loadBlocks": (
        BIG_KNOT_FILE + "k = b.fourier_knot(); k.blocks = [block]; kept = k.blocks[0]",
        "k.loadBlocks(big)", "k.blocks[0] is kept and kept.a_x == block.a_x"),
    "evaluate_ideal_component": (
        "c = b.IdealABComponent(); c.fourier = big_block(2000); S = np.linspace(0.0, 6.0, 10**6)",
        "b.evaluate_ideal_component(c, S)", "True"),
    # Many components, each too small to poll by itself.
    "evaluate_ideal_ab_components": (
        "c = b.IdealABComponent(); c.fourier = big_block(100); ab = b.IdealABBlock(); ab.components = [c] * 5000;"
        " S = np.linspace(0.0, 6.0, 2000)",
        "b.evaluate_ideal_ab_components(ab, S)", "True"),

    # ---- readers
    "parse_fseries_multi": (BIG_KNOT_FILE, "b.parse_fseries_multi(big)", "True"),
    "parse_fseries_from_string": (
        "text = '% k\\n' + '1 2 3 4 5 x\\n' * 12000000", "b.parse_fseries_from_string(text)", "True"),
    "parse_ideal_txt_from_string": (
        "text = '<AB Id=\"x\">\\n' + coeff_rows(6500000) + '</AB>\\n'", "b.parse_ideal_txt_from_string(text)",
        "True"),
    "parse_ideal_txt_multi": (
        "path = write('ideal.txt', '<AB Id=\"x\">\\n' + coeff_rows(6500000) + '</AB>\\n')",
        "b.parse_ideal_txt_multi(path)", "True"),
    # Every position of the tag starts a partial match of the long key.
    "parse_ideal_ab_by_id_from_string": (
        "text = '<AB ' + 'Id=\"' * 10**6 + '>x</AB>'", "b.parse_ideal_ab_by_id_from_string(text, 'Id=\"' * 10**4)",
        "True"),
    "load_all_knots": ("paths = [trefoil_file()] * 500000", "b.load_all_knots(paths, 4)", "True"),

    # ---- file tools
    "canonicalize_fseries_file_inplace": (
        "path = write('knot.legacy.fseries', '% k\\n' + '1 2 3\\n' * 8000000); before = open(path).read()",
        "b.canonicalize_fseries_file_inplace(path)", "open(path).read() == before"),
    "compute_helicity_from_fseries": (
        "path = trefoil_file()", "b.compute_helicity_from_fseries(path, 128, 0.1, 8, 5000)", "True"),
    "batch_helicity_from_dir": (
        "trefoil_file()", "b.batch_helicity_from_dir(ROW_DIR, 128, 0.1, 8, 5000)", "True"),
    "sample_curve_centered": ("path = wide_file(2000)", "b.sample_curve_centered(path, 10**6)", "True"),
    "curve_length_from_fseries": ("path = wide_file(2000)", "b.curve_length_from_fseries(path, 10**6)", "True"),
    "compute_curve_metrics_from_fseries": (
        "path = trefoil_file()", "b.compute_curve_metrics_from_fseries(path, 100000)", "True"),
    "min_non_neighbor_distance_from_fseries": (
        "path = trefoil_file()", "b.min_non_neighbor_distance_from_fseries(path, 100000)", "True"),
    "reach_proxy_from_fseries": ("path = trefoil_file()", "b.reach_proxy_from_fseries(path, 100000)", "True"),
    "compute_filament_energy_from_fseries": (
        "path = trefoil_file(); p = b.FilamentEnergyParams(); p.nsamples = 60000",
        "b.compute_filament_energy_from_fseries(path, p)", "True"),
    "compare_fseries_files": (
        "path = trefoil_file()", "b.compare_fseries_files(path, path, 100000)", "True"),

    # ---- Biot-Savart velocities and grids
    "biot_savart_velocity_grid": ("Q = rand(2000); G = rand(10**6)", "b.biot_savart_velocity_grid(Q, G)", "True"),
    "BiotSavart.compute_velocity": (
        "Q = rand(10000).tolist(); G = rand(200000).tolist()", "b.BiotSavart.compute_velocity(Q, G)", "True"),
    "compute_biot_savart_velocity_grid": (
        "Q = rand(2000); G = rand(10**6)", "b.compute_biot_savart_velocity_grid(Q, G)", "True"),
    "BiotSavart.compute_vorticity": (
        "Q = bcast(125 * 10**5)", "b.BiotSavart.compute_vorticity(Q, [250, 250, 200], 0.1)", "True"),
    "BiotSavart.extract_interior": (
        "Q = bcast(125 * 10**5)", "b.BiotSavart.extract_interior(Q, [250, 250, 200], 1)", "True"),
    "extract_interior_field": (
        "F = np.zeros((3, 300**3)).T", "b.extract_interior_field(F, [300, 300, 300], 1)", "True"),
    # A broadcast grid of Python floats: converting each element is slow, so a grid of modest memory takes
    # seconds to copy into the kernel's layout (a wire of one point adds no field afterwards).
    "biot_savart_wire_grid:grid-copy": (
        "X = np.broadcast_to(np.array(0.5, dtype=object), (3 * 10**7,))",
        "b.biot_savart_wire_grid(X, X, X, np.zeros((1, 3)))", "True"),
    "dipole_ring_field_grid": (
        "X = rand(3 * 10**6, 1)[:, 0]; D = rand(1000)", "b.dipole_ring_field_grid(X, X, X, D, D)", "True"),
    "biot_savart_vector_potential_grid": (
        "W = rand(1000); G = rand(3 * 10**6)", "b.biot_savart_vector_potential_grid(W, G)", "True"),

    # ---- fields and gravity
    "compute_gravitational_potential": (
        "Q = rand(30000).tolist()", "b.compute_gravitational_potential(Q, Q)", "True"),
    "compute_gravitational_potential_gradient": (
        "Q = rand(30000).tolist()", "b.compute_gravitational_potential_gradient(Q, Q)", "True"),
    "compute_gravitational_potential_direct": (
        "Q = rand(30000).tolist()", "b.compute_gravitational_potential_direct(Q, Q)", "True"),
    "compute_time_dilation_map": ("Q = bcast(45 * 10**6)", "b.compute_time_dilation_map(Q)", "True"),
    "compute_time_dilation_map_sqrt": ("Q = bcast(45 * 10**6)", "b.compute_time_dilation_map_sqrt(Q)", "True"),
    "compute_time_dilation_map_linear": (
        "Q = bcast(45 * 10**6)", "b.compute_time_dilation_map_linear(Q, 1.0)", "True"),
    "compute_swirl_field": ("", "b.compute_swirl_field(2600, 0.5)", "True"),

    # ---- fluid and vorticity formulas over fields
    "compute_vorticity:grid": (
        "U = np.broadcast_to(0.5, (64 * 10**6,))", "b.compute_vorticity(U, U, 8000, 8000, 1.0, 1.0)", "True"),
    "pressure_gradient": ("T = np.broadcast_to(1.0, (4096, 4096))", "b.pressure_gradient(T)", "True"),
    "compute_pressure_field": (
        "V = np.broadcast_to(0.5, (55 * 10**6,))", "b.compute_pressure_field(V, 1.0, 0.0)", "True"),
    "compute_bernoulli_pressure": (
        "V = np.broadcast_to(0.5, (55 * 10**6,))", "b.compute_bernoulli_pressure(V)", "True"),
    "enstrophy": ("V = np.broadcast_to(0.5, (150 * 10**6,))", "b.enstrophy(V, V)", "True"),
    "compute_velocity_magnitude": ("Q = bcast(45 * 10**6)", "b.compute_velocity_magnitude(Q)", "True"),
    "evolve_positions_euler": ("Q = bcast(12 * 10**6)", "b.evolve_positions_euler(Q, Q, 1.0)", "True"),
    "hyperbolic_volume_from_pd": ("D = bcast(15 * 10**6, (1, 2, 3, 4))", "b.hyperbolic_volume_from_pd(D)", "True"),
}

# Calls that do a fixed amount of work, or one pass over data the caller already holds at the speed of
# reading it (an object's points, a record's coefficients, a short argument array): no input that fits in
# memory keeps them busy for a second.
FIXED_WORK = {
    # module functions
    "list_bindings", "dipole_field_at_point", "swirl_clock_rate", "vorticity_from_curvature",
    "vortex_pressure_drop", "vortex_transverse_pressure_diff", "swirl_energy", "kairos_energy_trigger",
    "potential_vorticity", "is_incompressible", "laplacian_phi", "grad_phi", "bernoulli_pressure_potential",
    "rossby_number", "ekman_number", "cylinder_mass", "cylinder_inertia", "torque", "radiation_force",
    "van_der_pol_dx", "van_der_pol_dy", "potential_temperature", "entropy_from_theta", "entropy_from_pv",
    "enthalpy", "lamb_oseen_velocity", "lamb_oseen_vorticity", "hill_streamfunction", "hill_vorticity",
    "hill_circulation", "hill_velocity", "vorticity_z_2D", "local_circulation_density",
    "solid_body_rotation_vorticity", "couette_vorticity", "crocco_relation", "rotating_frame_rhs",
    "crocco_gradient", "baroclinic_term", "compute_vorticity_rhs", "get_embedded_ideal_files",
    "load_embedded_ideal_text", "parse_embedded_ideal_txt", "parse_embedded_ideal_ab_by_id",
    "get_embedded_knot_files", "load_embedded_knot_block", "format_ideal_ab_header", "index_of_ideal_id",
    "index_of_largest_block", "evaluate_with_derivatives", "mode_energies", "calculate_length",
    "calculate_curvature_penalty", "compute_curvature", "curl3d_central", "compute_vorticity_grid",
    "compute_helicity_invariants",
    # one pass over points read from their arrays at memory speed: an input that keeps them busy for seconds
    # takes several GiB
    "biot_savart_velocity", "circulation_surface_integral", "compute_helicity", "compute_kinetic_energy",
    "compute_twist", "TimeEvolution.__init__", "BiotSavart.compute_invariants",
    # constructors and methods
    "TailApproxConfig.__init__", "RelativisticMetrics.__init__", "ZooResult.__init__", "ZooEvaluator.__init__",
    "ZooEvaluator.evaluate_all_golden_nls", "ZooEvaluator.get_entry_mass", "BiotSavart.__init__",
    "FourierBlock.__init__", "IdealABComponent.__init__", "IdealABBlock.__init__", "fourier_knot.__init__",
    "fourier_knot.selectMaxHarmonics", "GeometricDescriptors.__init__", "FourierResult.__init__",
    "LoadedKnot.__init__", "LoadedKnot.get_points_array", "LoadedKnot.get_curvature_array",
    "VortexKnotSystem.__init__", "MagnusBernoulliIntegrator.__init__",
    "MagnusBernoulliIntegrator.compute_magnus_force", "MagnusBernoulliIntegrator.compute_swirl_coulomb_accel",
    "DensityRegime.__init__", "GoldenNLSClosure.__init__", "GoldenNLSClosure.set_regime",
    "GoldenNLSClosure.get_active_density", "GoldenNLSClosure.calculate_loop_energy",
    "GoldenNLSClosure.calculate_loop_mass", "GoldenNLSClosure.calculate_screened_mass",
    "GoldenNLSClosure.geometric_ratio_residual", "GoldenNLSClosure.infer_effective_base",
    "GoldenNLSClosure.predicted_ratio_from_base", "GoldenNLSClosure.relative_error", "TARQGravity.__init__",
    "TARQGravity.compute_G_swirl", "TARQGravity.compute_beltrami_shear", "TARQGravity.compute_gravity_dilation",
    "TARQGravity.compute_helicity_density", "TARQGravity.compute_swirl_clock",
    "TARQGravity.compute_swirl_coulomb_potential", "TARQGravity.compute_swirl_coulomb_force",
    "TARQGravity.compute_swirl_energy_density", "CanonicalizeResult.__init__", "HelicityResult.__init__",
    "FilamentEnergyParams.__init__", "FilamentEnergyResult.__init__", "ParticleEvaluator.get_dimless_ropelength",
    "ParticleEvaluator.get_physical_length_m", "ParticleEvaluator.compute_core_energy_J",
    "ParticleEvaluator.get_core_mass_mev_only", "ParticleEvaluator.set_tail_approx_config",
    "ParticleEvaluator.get_tail_approx_config", "ParticleEvaluator.print_canonical_derivation",
}


def exported_calls():
    """Every function of the module and every method (constructors included) of its classes."""
    names = set()
    for name, value in vars(_bindings).items():
        if name.startswith("_"):
            continue
        if isinstance(value, type):
            for attr, member in vars(value).items():
                if (attr.startswith("_") and attr != "__init__") or isinstance(member, property):
                    continue
                if callable(member) or isinstance(member, staticmethod):
                    names.add(f"{name}.{attr}")
        elif callable(value):
            names.add(name)
    return names


def test_every_call_is_a_row_or_does_fixed_work():
    rows = {name.split(":")[0] for name in CASES}
    assert not rows & FIXED_WORK
    assert rows | FIXED_WORK == exported_calls()


# Children run this many at a time, one per core of the build machine: a stop is timed by the child's own
# clock, so that a slow report does not count, but a child that shares its core stops later.
PARALLEL_ROWS = 2
SIGNAL_AFTER = 0.5  # seconds after the long call starts
STOP_WITHIN = 1.0  # seconds after the signal
GIVE_UP_AFTER = 1.5  # seconds after the signal: the row has failed, the child is stopped


def child_script(setup, call, check):
    return SETUP + textwrap.dedent(f"""
        {setup}
        print("READY", flush=True)
        try:
            {call}
            print("FINISHED", flush=True)
        except KeyboardInterrupt:
            print("STOPPED", time.monotonic(), flush=True)
            print("CHECK", {check}, flush=True)
        """)


def run_row(name, row_dir):
    """Runs one row in a child and sends SIGINT once the long call has run SIGNAL_AFTER seconds. Returns the
    seconds from the signal to the KeyboardInterrupt (None if there was none), the child's check of the state
    afterwards, and what else it reported."""
    env = child_env(TARQ_IDEAL_DATABASE=str(IDEAL_DB), ROW_DIR=str(row_dir))
    err_path = row_dir / "stderr.txt"
    with open(err_path, "w") as err:
        proc = subprocess.Popen([sys.executable, "-c", child_script(*CASES[name])], cwd=row_dir,
                                stdout=subprocess.PIPE, stderr=err, text=True, env=env)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(x.split()) for x in proc.stdout] + [lines.put([])],
                     daemon=True).start()
    stopped_after, check, report = None, None, []
    try:
        report = lines.get(timeout=120)
        if report == ["READY"]:
            time.sleep(SIGNAL_AFTER)
            sent = time.monotonic()
            os.kill(proc.pid, signal.SIGINT)
            report = lines.get(timeout=GIVE_UP_AFTER)
            if report[:1] == ["STOPPED"]:
                stopped_after = float(report[1]) - sent
                check = lines.get(timeout=60)
    except queue.Empty:
        report = ["still running"]
    finally:
        proc.kill()
        proc.wait()
    return stopped_after, check, (report, err_path.read_text())


@pytest.fixture(scope="module")
def outcomes(request, tmp_path_factory):
    """The rows that this session runs, PARALLEL_ROWS children at a time."""
    names = sorted({item.callspec.params["name"] for item in request.session.items
                    if item.originalname == "test_sigint_stops_a_long_call"})
    dirs = {name: tmp_path_factory.mktemp("row") for name in names}
    try:
        with concurrent.futures.ThreadPoolExecutor(PARALLEL_ROWS) as pool:
            futures = {name: pool.submit(run_row, name, dirs[name]) for name in names}
            return {name: f.result() for name, f in futures.items()}
    finally:
        for d in dirs.values():  # the rows' files are large
            shutil.rmtree(d, ignore_errors=True)


@pytest.mark.parametrize("name", sorted(CASES))
def test_sigint_stops_a_long_call(name, outcomes):
    stopped_after, check, report = outcomes[name]
    assert stopped_after is not None, report
    assert stopped_after < STOP_WITHIN
    assert check == ["CHECK", "True"], report
