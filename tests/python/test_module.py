import ast
import importlib
import os
import shutil
import subprocess
import sys

import pytest

import _bindings
from conftest import child_env


def test_docstring():
    assert _bindings.__doc__ == "TARQ Core Bindings (backwards compatibility alias)"


def test_reimport_returns_the_same_filled_module():
    names = list(vars(_bindings))
    del sys.modules["_bindings"]
    again = importlib.import_module("_bindings")
    assert again is _bindings
    assert list(vars(again)) == names


def _other_pythons():
    # pyenv's shims answer only for the selected version, so ask pyenv for each interpreter's own path.
    found = []
    if shutil.which("pyenv") is None:
        return found
    for version in ("3.9", "3.11", "3.12"):
        prefix = subprocess.run(["pyenv", "prefix", version], capture_output=True, text=True)
        candidate = os.path.join(prefix.stdout.strip(), "bin", f"python{version}")
        if prefix.returncode == 0 and os.path.exists(candidate):
            found.append(candidate)
    return found


@pytest.mark.parametrize("exe", _other_pythons())
def test_other_interpreter_versions_are_refused(exe):
    script = (
        "import importlib.util, sys\n"
        f"spec = importlib.util.spec_from_file_location('_bindings', {_bindings.__file__!r})\n"
        "try:\n"
        "    importlib.util.module_from_spec(spec)\n"
        "except ImportError as e:\n"
        "    print(repr(str(e)))\n"
        "print(repr(sys.version))\n"
    )
    out = subprocess.run([exe, "-c", script], capture_output=True, text=True, check=True, env=child_env()).stdout
    message, version = (ast.literal_eval(line) for line in out.splitlines())
    assert message == (
        "Python version mismatch: module was compiled for Python 3.10, but the interpreter version is "
        f"incompatible: {version}."
    )


class TestListBindings:
    def test_defaults_sort_every_public_name(self):
        result = _bindings.list_bindings()
        assert list(result) == ["functions", "classes", "attributes", "counts"]
        assert list(result["counts"]) == ["functions", "classes", "attributes"]
        for key in ("functions", "classes", "attributes"):
            assert result["counts"][key] == len(result[key])
        assert "list_bindings" not in result["functions"]
        assert len(set(result["functions"])) == len(result["functions"])
        for name in result["functions"]:
            assert callable(getattr(_bindings, name)) and not isinstance(getattr(_bindings, name), type)
        for name in result["classes"]:
            assert isinstance(getattr(_bindings, name), type)
        public = [n for n in vars(_bindings) if not n.startswith("_") and n != "list_bindings"]
        assert result["functions"] + result["classes"] + result["attributes"] == [
            n for n in public if n in result["functions"]
        ] + [n for n in public if n in result["classes"]] + [n for n in public if n in result["attributes"]]
        assert _bindings.__all__ == result["functions"] + result["classes"]

    def test_pattern_is_case_insensitive_and_empty_means_none(self):
        assert _bindings.list_bindings("KNOT") == _bindings.list_bindings(pattern="knot")
        assert _bindings.list_bindings("") == _bindings.list_bindings(None)
        knot = _bindings.list_bindings("knot")
        assert all("knot" in n.lower() for key in ("functions", "classes", "attributes") for n in knot[key])

    def test_no_match_empties_all(self):
        result = _bindings.list_bindings("no-name-has-this")
        assert result == {
            "functions": [],
            "classes": [],
            "attributes": [],
            "counts": {"functions": 0, "classes": 0, "attributes": 0},
        }
        assert _bindings.__all__ == []

    def test_private_names(self):
        _bindings.list_bindings()
        result = _bindings.list_bindings(include_private=True)
        assert {"__doc__", "__name__", "__all__"} <= set(result["attributes"])
        assert "list_bindings" not in result["functions"]
        assert _bindings.__all__ == result["functions"] + result["classes"]

    def test_pattern_is_converted_with_str(self):
        assert _bindings.list_bindings(12345)["counts"]["functions"] == 0

    def test_include_private_must_be_bool(self):
        with pytest.raises(TypeError):
            _bindings.list_bindings(None, "yes")

    def test_docstring(self):
        assert _bindings.list_bindings.__doc__.split("\n", 1)[1] == (
            "\n"
            "\n        Return a dictionary of exported names in this module.\n\n        Args:\n"
            "          pattern (str|None): optional case-insensitive substring filter.\n"
            "          include_private (bool): include names beginning with '_' if True.\n\n"
            "        Returns:\n          dict with keys: 'functions', 'classes', 'attributes', and 'counts'.\n"
            "        Also sets module __all__ = functions + classes (public names).\n        \n"
        )


# Every public name in registration order: the order of the module dictionary, which list_bindings reports.
EXPECTED_FUNCTIONS = [
    "biot_savart_velocity", "biot_savart_velocity_grid", "calculate_neumann_self_energy",
    "calculate_core_repulsion", "calculate_length", "calculate_writhe", "calculate_curvature_penalty",
    "calculate_bs_cutoff_energy_scan", "calculate_bs_cutoff_energy", "compute_pressure_field",
    "compute_velocity_magnitude", "evolve_positions_euler", "compute_vorticity", "swirl_clock_rate",
    "vorticity_from_curvature", "vortex_pressure_drop", "vortex_transverse_pressure_diff", "swirl_energy",
    "kairos_energy_trigger", "compute_helicity", "potential_vorticity", "is_incompressible",
    "circulation_surface_integral", "enstrophy", "compute_bernoulli_pressure", "pressure_gradient",
    "laplacian_phi", "grad_phi", "bernoulli_pressure_potential", "compute_kinetic_energy", "rossby_number",
    "ekman_number", "cylinder_mass", "cylinder_inertia", "torque", "dipole_field_at_point",
    "biot_savart_wire_grid", "dipole_ring_field_grid", "biot_savart_vector_potential_grid", "curl3d_central",
    "parse_fseries_multi", "parse_ideal_txt_multi", "parse_ideal_txt_from_string", "index_of_ideal_id",
    "index_of_largest_block", "evaluate_fourier_block", "evaluate_with_derivatives", "curvature_exact",
    "length_exact", "bending_energy_exact", "mode_energies", "min_self_distance_sampled",
    "min_self_distance_exactish", "describe_fourier_block", "fourier_knot_eval", "compute_writhe",
    "compute_linking_number", "compute_twist", "compute_centerline_helicity", "detect_reconnection_candidates",
    "evaluate_fourier_series", "writhe_gauss_curve", "estimate_crossing_number", "pd_from_curve",
    "compute_biot_savart_velocity_grid", "compute_vorticity_grid", "extract_interior_field",
    "compute_helicity_invariants", "compute_helicity_from_fourier_block", "compute_curvature",
    "get_embedded_ideal_files", "load_embedded_ideal_text", "parse_embedded_ideal_txt",
    "parse_embedded_ideal_ab_by_id", "parse_ideal_ab_by_id_from_string", "format_ideal_ab_header",
    "get_embedded_knot_files", "parse_fseries_from_string", "load_embedded_knot_block",
    "evaluate_ideal_component", "evaluate_ideal_ab_components", "load_all_knots", "compute_frenet_frames",
    "compute_curvature_torsion", "evolve_vortex_knot", "rk4_integrate",
    "compute_gravitational_potential_gradient", "compute_time_dilation_map_sqrt",
    "compute_gravitational_potential_direct", "compute_time_dilation_map_linear",
    "compute_gravitational_potential", "compute_time_dilation_map", "hyperbolic_volume_from_pd",
    "radiation_force", "van_der_pol_dx", "van_der_pol_dy", "compute_swirl_field", "potential_temperature",
    "entropy_from_theta", "entropy_from_pv", "enthalpy", "lamb_oseen_velocity", "lamb_oseen_vorticity",
    "hill_streamfunction", "hill_vorticity", "hill_circulation", "hill_velocity", "vorticity_z_2D",
    "local_circulation_density", "solid_body_rotation_vorticity", "couette_vorticity", "crocco_relation",
    "rotating_frame_rhs", "crocco_gradient", "baroclinic_term", "compute_vorticity_rhs", "compute_tarq_mass",
    "canonicalize_fseries_file_inplace", "compute_helicity_from_fseries", "sample_curve_centered",
    "compute_curve_metrics_from_fseries", "curve_length_from_fseries",
    "min_non_neighbor_distance_from_fseries", "reach_proxy_from_fseries",
    "compute_filament_energy_from_fseries", "batch_helicity_from_dir", "compare_fseries_files",
]
EXPECTED_CLASSES = [
    "TailApproxConfig", "RelativisticMetrics", "ParticleEvaluator", "ZooResult", "ZooEvaluator", "BiotSavart",
    "FourierBlock", "IdealABComponent", "IdealABBlock", "fourier_knot", "GeometricDescriptors",
    "FourierResult", "LoadedKnot", "VortexKnotSystem", "MagnusBernoulliIntegrator", "TimeEvolution",
    "DensityRegime", "GoldenNLSClosure", "TARQGravity", "CanonicalizeResult", "HelicityResult",
    "FilamentEnergyParams", "FilamentEnergyResult",
]


def test_public_names_in_registration_order():
    result = _bindings.list_bindings()
    assert result["functions"] == EXPECTED_FUNCTIONS
    assert result["classes"] == EXPECTED_CLASSES
    assert result["attributes"] == ["EFFECTIVE_FLUID", "CORE_DOMINATED"]
    assert result["counts"] == {"functions": 127, "classes": 23, "attributes": 2}
