"""The knot family: classes, module functions and NumPy-facing helpers."""
import gc
import math
import re

import numpy as np
import pytest

import _bindings as tb
from conftest import TREFOIL_ROWS, doc_body, fseries_text, make_block, trefoil

KNOT_NAMES = [
    "FourierBlock", "IdealABComponent", "IdealABBlock", "fourier_knot",
    "parse_fseries_multi", "parse_ideal_txt_multi", "parse_ideal_txt_from_string", "index_of_ideal_id",
    "index_of_largest_block", "evaluate_fourier_block", "evaluate_with_derivatives", "curvature_exact",
    "length_exact", "bending_energy_exact", "mode_energies", "min_self_distance_sampled",
    "min_self_distance_exactish",
    "GeometricDescriptors", "describe_fourier_block", "fourier_knot_eval",
    "FourierResult",
    "compute_writhe", "compute_linking_number", "compute_twist", "compute_centerline_helicity",
    "detect_reconnection_candidates", "evaluate_fourier_series", "writhe_gauss_curve", "estimate_crossing_number",
    "pd_from_curve", "compute_biot_savart_velocity_grid", "compute_vorticity_grid", "extract_interior_field",
    "compute_helicity_invariants", "compute_helicity_from_fourier_block", "compute_curvature",
    "get_embedded_ideal_files", "load_embedded_ideal_text", "parse_embedded_ideal_txt",
    "parse_embedded_ideal_ab_by_id", "parse_ideal_ab_by_id_from_string", "format_ideal_ab_header",
    "get_embedded_knot_files", "parse_fseries_from_string", "load_embedded_knot_block",
    "evaluate_ideal_component", "evaluate_ideal_ab_components",
    "LoadedKnot", "load_all_knots", "VortexKnotSystem",
]

SHAPE_N3 = "pd_from_curve: expected array with shape (N,3)"

IDEAL_TEXT = (
    '<DATA title="t">\n'
    '<AB Id="0:1:1" Conway="0" L="6.283185" D=" 1.000000">\n'
    '  <Coeff I="  1" A=" 1.000000, 0.000000, 0.000000" B=" 0.000000, 1.000000, 0.000000" />\n'
    '</AB>\n'
    '<AB Id="0:1:2" Conway="0" L="12.0" D="1.0" n="2">\n'
    '  <Component I="1">\n'
    '    <Coeff I="0" A="-1.5, 0.0, 0.0" B=" 0.0, 0.0, 0.0" />\n'
    '    <Coeff I="1" A=" 1.0, 0.0, 0.0" B=" 0.0, 1.0, 0.0" />\n'
    '  </Component>\n'
    '  <Component I="2">\n'
    '    <Coeff I="0" A=" 1.5, 0.0, 0.0" B=" 0.0, 0.0, 0.0" />\n'
    '    <Coeff I="1" A=" 1.0, 0.0, 0.0" B=" 0.0, 1.0, 0.0" />\n'
    '  </Component>\n'
    '</AB>\n'
    '</DATA>'
)


def block_fields(b):
    return (b.header, b.a_x, b.b_x, b.a_y, b.b_y, b.a_z, b.b_z)


def ragged_block():
    return make_block([1.0, 0.5], [], [0.0], [1.0, 0.2], [], [0.3])


def padded_block():
    return make_block([1.0, 0.5], [0.0, 0.0], [0.0, 0.0], [1.0, 0.2], [0.0, 0.0], [0.3, 0.0])


def test_names_are_registered_interleaved_in_order():
    names = list(vars(tb))
    start = names.index("FourierBlock")
    assert names[start:start + len(KNOT_NAMES)] == KNOT_NAMES


DOCS = {
    "parse_fseries_multi": "Parse a .fseries file into Fourier blocks.",
    "parse_ideal_txt_multi": "Parse an ideal.txt-style file into IdealABBlock entries.",
    "parse_ideal_txt_from_string": "Parse ideal.txt-style content string into IdealABBlock entries.",
    "index_of_ideal_id": "Return index of IdealABBlock with given id, or -1 if not found.",
    "index_of_largest_block": "Return index of block with most harmonics.",
    "evaluate_fourier_block": "Evaluate r(s) for the given Fourier block.",
    "evaluate_with_derivatives": "Evaluate Fourier block and its first three derivatives at parameter s.",
    "curvature_exact": "Compute exact curvature from Fourier coefficients at sample parameters.",
    "length_exact": "Compute exact length of Fourier curve by sampling.",
    "bending_energy_exact": "Compute bending energy integral of Fourier curve.",
    "mode_energies": "Compute per-mode energy from Fourier coefficients.",
    "min_self_distance_sampled": "Compute minimum self-distance of a closed polygonal curve.",
    "min_self_distance_exactish": "Estimate minimum self-distance of Fourier curve via sampling.",
    "describe_fourier_block": "Compute geometric descriptors (length, bending energy, self-distance, writhe, mode "
                              "energies) for a Fourier block.",
    "fourier_knot_eval": "NumPy-friendly Fourier evaluation returning (x,y,z)",
    "compute_writhe": "\n        Compute the writhe of a closed filament (topological self-linking).\n    ",
    "compute_linking_number": "\n        Compute the Gauss linking number between two closed loops.\n    ",
    "compute_twist": "\n        Compute twist from Frenet frames along a filament.\n    ",
    "compute_centerline_helicity": "\n        Compute the centerline helicity as the sum of writhe and twist.\n    ",
    "detect_reconnection_candidates": "\n        Detect pairs of points on the filament that approach closely "
                                      "enough to be candidates for reconnection.\n    ",
    "evaluate_fourier_series": "Evaluate a Fourier series for positions and tangents",
    "writhe_gauss_curve": "Compute writhe via Gauss integral",
    "estimate_crossing_number": "Estimate crossing number from projections",
    "pd_from_curve": "\nCompute a PD code from a closed 3D polygonal curve.\n",
    "compute_biot_savart_velocity_grid": "Compute Biot-Savart velocity field from a closed curve at grid points.",
    "compute_vorticity_grid": "Compute vorticity from velocity field on a regular grid.",
    "extract_interior_field": "Extract cubic interior field subset.",
    "compute_helicity_invariants": "Compute helicity invariants (H_charge, H_mass, a_mu).",
    "compute_helicity_from_fourier_block": "Compute helicity invariants from a Fourier block.",
    "compute_curvature": "Compute discrete curvature from points.",
    "get_embedded_ideal_files": "Return embedded ideal*.txt resources as {relative_name: content}.",
    "load_embedded_ideal_text": "Load embedded ideal text resource from library (basename fallback supported).",
    "parse_embedded_ideal_txt": "Parse embedded ideal*.txt resource into AB blocks.",
    "parse_embedded_ideal_ab_by_id": "Parse a single AB block by Id from an embedded ideal*.txt resource.",
    "parse_ideal_ab_by_id_from_string": "Parse a single AB block by Id from ideal.txt-style content string.",
    "format_ideal_ab_header": 'Format AB metadata as: AB Id="..." Conway="..." L="..." D="..." n="..."',
    "get_embedded_knot_files": "Return embedded .fseries resources as {knot_id: file_content}.",
    "parse_fseries_from_string": "Parse .fseries content string into Fourier blocks.",
    "load_embedded_knot_block": "Load embedded knot by id and return its largest Fourier block.",
    "evaluate_ideal_component": "Evaluate a single ideal AB component (includes I=0 offset).",
    "evaluate_ideal_ab_components": "Evaluate all components of an ideal AB block.",
    "load_all_knots": "Load all knots from a list of .fseries file paths.",
}

METHOD_DOCS = [
    (tb.LoadedKnot.get_points_array, "Get points as NumPy array (N,3)"),
    (tb.LoadedKnot.get_curvature_array, "Get curvature as NumPy array (N,)"),
    (tb.VortexKnotSystem.__init__, "Initialize a VortexKnotSystem with optional circulation parameter."),
    (tb.VortexKnotSystem.initialize_trefoil_knot, "Initialize a trefoil knot with given resolution."),
    (tb.VortexKnotSystem.initialize_figure8_knot, "Initialize a figure-eight knot with given resolution."),
    (tb.VortexKnotSystem.initialize_knot_from_name, "Initialize any knot from bundled .fseries file by identifier."),
    (tb.VortexKnotSystem.evolve, "Evolve vortex knot using Biot\u2013Savart dynamics."),
    (tb.VortexKnotSystem.get_positions, "Get current 3D positions of the knot."),
    (tb.VortexKnotSystem.get_tangents, "Get current tangent vectors of the knot."),
]


@pytest.mark.parametrize("name", sorted(DOCS))
def test_function_docstrings(name):
    assert doc_body(getattr(tb, name)) == "\n" + DOCS[name] + "\n"


@pytest.mark.parametrize("method,doc", METHOD_DOCS, ids=[m.__name__ for m, _ in METHOD_DOCS])
def test_method_docstrings(method, doc):
    assert doc_body(method) == "\n" + doc + "\n"


def test_fourier_knot_methods_have_no_docstring():
    for m in (tb.fourier_knot.loadBlocks, tb.fourier_knot.selectMaxHarmonics, tb.fourier_knot.reconstruct):
        assert doc_body(m) == ""


class TestRecords:
    def test_defaults(self):
        b = tb.FourierBlock()
        assert block_fields(b) == ("", [], [], [], [], [], [])
        c = tb.IdealABComponent()
        assert (c.component_index, c.A0, c.B0, c.fourier.a_x) == (0, [0.0, 0.0, 0.0], [0.0, 0.0, 0.0], [])
        ab = tb.IdealABBlock()
        assert (ab.id, ab.conway, ab.L, ab.D, ab.n, ab.components) == ("", "", 0.0, 0.0, 1, [])
        k = tb.fourier_knot()
        assert (k.points, k.blocks, k.activeBlock.a_x) == ([], [], [])

    def test_lists_are_copies_and_assignment_converts(self):
        b = tb.FourierBlock()
        b.a_x = [1, 2]
        assert b.a_x == [1.0, 2.0] and all(type(v) is float for v in b.a_x)
        b.a_x.append(3.0)
        assert b.a_x == [1.0, 2.0]
        b.b_x = np.array([0.5, 1.5])
        assert b.b_x == [0.5, 1.5]
        c = tb.IdealABComponent()
        c.A0 = (1, 2, 3)
        assert c.A0 == [1.0, 2.0, 3.0]
        with pytest.raises(TypeError):
            c.A0 = [1, 2]
        with pytest.raises(TypeError):
            b.header = 5

    def test_record_members_refer_into_their_owner(self):
        c = tb.IdealABComponent()
        c.fourier.header = "x"
        c.fourier.a_x = [1, 2]
        assert (c.fourier.header, c.fourier.a_x) == ("x", [1.0, 2.0])
        ab = tb.IdealABBlock()
        ab.components = [tb.IdealABComponent(), tb.IdealABComponent()]
        ab.components[1].fourier.header = "h"
        ab.components[0].component_index = 7
        assert [x.component_index for x in ab.components] == [7, 0]
        assert ab.components[1].fourier.header == "h"
        k = tb.fourier_knot()
        k.blocks = [make_block([1.0], header="a")]
        k.blocks[0].header = "b"
        k.activeBlock.header = "c"
        assert (k.blocks[0].header, k.activeBlock.header) == ("b", "c")

    def test_assigning_a_record_copies_it_in(self):
        src = make_block([1.0], header="src")
        ab = tb.IdealABBlock()
        ab.fourier = src
        src.header = "changed"
        assert ab.fourier.header == "src"

    def test_classes_without_constructor(self):
        for cls in (tb.GeometricDescriptors, tb.FourierResult, tb.LoadedKnot):
            with pytest.raises(TypeError, match="No constructor defined!$"):
                cls()

    def test_wrong_record_class_is_a_type_error(self, circle_block):
        with pytest.raises(TypeError):
            tb.mode_energies(tb.IdealABComponent())
        with pytest.raises(TypeError):
            tb.format_ideal_ab_header(circle_block)
        with pytest.raises(RuntimeError):
            tb.mode_energies(None)

    @pytest.mark.parametrize("call, message", [
        (lambda: tb.evaluate_fourier_block(None, [0.0]), "evaluate_fourier_block: block must be a FourierBlock"),
        (lambda: tb.evaluate_with_derivatives(None, 0.0), "evaluate_with_derivatives: block must be a FourierBlock"),
        (lambda: tb.curvature_exact(None, [0.0]), "curvature_exact: block must be a FourierBlock"),
        (lambda: tb.length_exact(None), "length_exact: block must be a FourierBlock"),
        (lambda: tb.bending_energy_exact(None), "bending_energy_exact: block must be a FourierBlock"),
        (lambda: tb.mode_energies(None), "mode_energies: block must be a FourierBlock"),
        (lambda: tb.min_self_distance_exactish(None), "min_self_distance_exactish: block must be a FourierBlock"),
        (lambda: tb.describe_fourier_block(None), "describe_fourier_block: block must be a FourierBlock"),
        (lambda: tb.compute_helicity_from_fourier_block(None, grid_size=4),
         "compute_helicity_from_fourier_block: block must be a FourierBlock"),
        (lambda: tb.format_ideal_ab_header(None), "format_ideal_ab_header: ab must be a IdealABBlock"),
        (lambda: tb.evaluate_ideal_component(None, np.zeros(2)),
         "evaluate_ideal_component: component must be a IdealABComponent"),
        (lambda: tb.evaluate_ideal_ab_components(None, np.zeros(2)),
         "evaluate_ideal_ab_components: ab must be a IdealABBlock"),
        (lambda: tb.ParticleEvaluator([[[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]]]).set_tail_approx_config(None),
         "set_tail_approx_config: config must be a TailApproxConfig"),
    ])
    def test_none_for_a_record_is_a_runtime_error_naming_function_and_argument(self, call, message):
        with pytest.raises(RuntimeError) as info:
            call()
        assert type(info.value) is RuntimeError and str(info.value) == message + ", not None"


class TestFourierKnotObject:
    def test_errors_of_a_new_object(self):
        k = tb.fourier_knot()
        with pytest.raises(RuntimeError, match="^No Fourier blocks loaded$"):
            k.selectMaxHarmonics()
        with pytest.raises(RuntimeError, match="^No active Fourier block selected$"):
            k.reconstruct(10)
        with pytest.raises(RuntimeError, match="^Cannot open file: /nonexistent/knot.fseries$"):
            k.loadBlocks("/nonexistent/knot.fseries")

    def test_positional_only_and_unsigned_count(self, fseries_file):
        k = tb.fourier_knot()
        with pytest.raises(TypeError):
            k.loadBlocks(path=str(fseries_file))
        k.loadBlocks(str(fseries_file))
        k.selectMaxHarmonics()
        for bad in (-1, 4.0):
            with pytest.raises(TypeError):
                k.reconstruct(bad)

    def test_load_select_reconstruct(self, fseries_file):
        k = tb.fourier_knot()
        k.loadBlocks(str(fseries_file))
        assert [len(b.a_x) for b in k.blocks] == [2, 5]
        k.selectMaxHarmonics()
        assert k.activeBlock.a_x == [r[0] for r in TREFOIL_ROWS]
        k.reconstruct(64)
        assert len(k.points) == 64
        assert k.points[0] == pytest.approx(tb.evaluate_fourier_block(k.activeBlock, [0.0])[0], abs=1e-15)

    def test_elements_write_through_while_the_list_stands(self, fseries_file):
        k = tb.fourier_knot()
        k.loadBlocks(str(fseries_file))
        block = k.blocks[1]
        block.a_x = [9.0]
        assert k.blocks[1].a_x == [9.0] and k.blocks[1] is block
        k.blocks = [make_block([1.0], header="one")]
        assert [b.header for b in k.blocks] == ["one"] and k.blocks[0].a_x == [1.0]
        record = tb.parse_embedded_ideal_ab_by_id("L2a1")
        component = record.components[1]
        component.component_index = 7
        component.fourier.a_x = [0.5]
        assert record.components[1].component_index == 7 and record.components[1].fourier.a_x == [0.5]
        record.components = [record.components[0]]
        assert [c.component_index for c in record.components] == [1]

    def test_elements_kept_across_a_replacement_keep_their_last_values_detached(self, fseries_file):
        # Large coefficient lists, so that reading a freed buffer would not go unnoticed (and the
        # sanitizer build reports any such read).
        n = 200000
        big = make_block([1.0] * n, [0.0] * n, [0.0] * n, [1.0] * n, [0.0] * n, [0.0] * n, header="big")
        component = tb.IdealABComponent()
        component.fourier = big
        record = tb.IdealABBlock()
        record.components = [component]
        kept = record.components[0]
        nested = kept.fourier
        record.components = []
        gc.collect()
        assert len(kept.fourier.a_x) == n and len(nested.a_x) == n and nested.header == "big"
        kept.component_index = 3
        nested.a_x = [2.0]
        assert kept.component_index == 3 and kept.fourier.a_x == [2.0] and record.components == []

        knot = tb.fourier_knot()
        knot.blocks = [big, big]
        first, second = knot.blocks
        knot.loadBlocks(str(fseries_file))
        gc.collect()
        assert [len(b.a_x) for b in knot.blocks] == [2, 5]
        assert len(first.a_x) == n and second.header == "big"
        first.header = "detached"
        assert [b.header for b in knot.blocks] == ["", ""]  # loadBlocks reads no headers
        with pytest.raises(RuntimeError, match="^Cannot open file: "):
            knot.loadBlocks(str(fseries_file) + ".missing")
        assert knot.blocks == [] and first.header == "detached"

    def test_element_docstrings_say_what_a_kept_element_does(self):
        assert "an element taken earlier keeps its last values, detached from the object" in \
            tb.fourier_knot.blocks.__doc__
        assert "an element taken earlier keeps its last values, detached from the record" in \
            tb.IdealABBlock.components.__doc__

    def test_reconstruct_of_a_ragged_block_pads_with_zeros_and_keeps_the_block(self):
        k = tb.fourier_knot()
        k.activeBlock = ragged_block()
        k.reconstruct(8)
        ref = tb.fourier_knot()
        ref.activeBlock = padded_block()
        ref.reconstruct(8)
        assert k.points == ref.points
        assert block_fields(k.activeBlock) == block_fields(ragged_block())


class TestBlockFunctions:
    def test_parsers(self, fseries_file, tmp_path):
        blocks = tb.parse_fseries_multi(str(fseries_file))
        assert [len(b.a_x) for b in blocks] == [2, 5]
        assert tb.parse_fseries_multi(str(tmp_path / "missing.fseries")) == []
        again = tb.parse_fseries_from_string(fseries_file.read_text())
        assert [block_fields(b) for b in again] == [block_fields(b) for b in blocks]
        assert tb.parse_fseries_from_string("") == []
        assert tb.index_of_largest_block(blocks) == 1
        assert tb.index_of_largest_block([]) == -1
        assert tb.index_of_largest_block(blocks=blocks[:1]) == 0

    def test_evaluate_fourier_block(self, circle_block):
        s = [0.0, math.pi / 2]
        pts = tb.evaluate_fourier_block(circle_block, s)
        assert isinstance(pts, list) and pts == tb.evaluate_fourier_block(block=circle_block, s=np.array(s))
        np.testing.assert_allclose(pts, [[2.0, 0.0, 0.0], [0.0, 2.0, 0.0]], atol=1e-15)
        assert tb.evaluate_fourier_block(circle_block, []) == []
        with pytest.raises(TypeError):
            tb.evaluate_fourier_block(circle_block, "ab")

    def test_exact_descriptors_of_a_circle(self, circle_block):
        r, d1, d2, d3 = tb.evaluate_with_derivatives(circle_block, 0.0)
        assert (r, d1, d2, d3) == ([2.0, 0.0, 0.0], [0.0, 2.0, 0.0], [-2.0, 0.0, 0.0], [0.0, -2.0, 0.0])
        assert tb.curvature_exact(circle_block, [0.0, 1.0]) == pytest.approx([0.5, 0.5], rel=1e-14)
        assert tb.length_exact(circle_block) == pytest.approx(4 * math.pi, rel=1e-14)
        assert tb.bending_energy_exact(circle_block) == pytest.approx(math.pi, rel=1e-12)
        assert tb.mode_energies(circle_block) == [8.0]
        square = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]
        assert tb.min_self_distance_sampled(square, exclude_window=1) == pytest.approx(math.sqrt(2))
        assert tb.min_self_distance_sampled(square, 2) == 0.0

    @pytest.mark.parametrize("name,defaults", [
        ("curvature_exact", ([0.3, 1.7], 1e-12)),
        ("length_exact", (4096,)),
        ("bending_energy_exact", (4096, 1e-12)),
        ("min_self_distance_exactish", (2048, 4)),
    ])
    def test_defaults(self, trefoil_block, name, defaults):
        fn = getattr(tb, name)
        if name == "curvature_exact":
            assert fn(trefoil_block, defaults[0]) == fn(trefoil_block, *defaults)
        else:
            assert fn(trefoil_block) == fn(trefoil_block, *defaults)

    def test_min_self_distance_sampled_default_window(self):
        pts = trefoil(40).tolist()
        assert tb.min_self_distance_sampled(pts) == tb.min_self_distance_sampled(pts, 4)

    def test_describe_fourier_block(self, circle_block, trefoil_block):
        d = tb.describe_fourier_block(circle_block, nsamples=64, exclude_window=4)
        assert d.L == pytest.approx(4 * math.pi, rel=1e-13)
        assert d.bending_energy == pytest.approx(math.pi, rel=1e-12)
        assert d.min_self_distance == pytest.approx(4 * math.sin(5 * math.pi / 64), rel=1e-13)
        assert d.writhe == 0.0 and d.mode_energy == [8.0]
        with pytest.raises(AttributeError):
            d.writhe = 1.0
        dflt = tb.describe_fourier_block(trefoil_block)
        expl = tb.describe_fourier_block(trefoil_block, 2048, 4)
        assert (dflt.L, dflt.writhe, dflt.min_self_distance) == (expl.L, expl.writhe, expl.min_self_distance)

    def test_ragged_blocks_count_missing_coefficients_as_zero(self):
        s = [0.0, 0.4, 2.0]
        assert tb.evaluate_fourier_block(ragged_block(), s) == tb.evaluate_fourier_block(padded_block(), s)
        assert tb.min_self_distance_exactish(ragged_block(), 64, 4) == tb.min_self_distance_exactish(
            padded_block(), 64, 4)
        a, b = tb.describe_fourier_block(ragged_block(), 64), tb.describe_fourier_block(padded_block(), 64)
        assert (a.L, a.bending_energy, a.min_self_distance, a.writhe) == (
            b.L, b.bending_energy, b.min_self_distance, b.writhe)
        assert tb.compute_helicity_from_fourier_block(ragged_block(), 4, 0.5, 1, 40) == \
            tb.compute_helicity_from_fourier_block(padded_block(), 4, 0.5, 1, 40)

    @pytest.mark.parametrize("name,args", [
        ("length_exact", (4096.0,)), ("length_exact", (2**31,)), ("describe_fourier_block", ("10",)),
        ("min_self_distance_exactish", (100, 1.5)),
    ])
    def test_integer_arguments_are_32_bit(self, circle_block, name, args):
        with pytest.raises(TypeError):
            getattr(tb, name)(circle_block, *args)


class TestFourierKnotEval:
    def test_circle(self):
        z = np.zeros(1)
        x, y, zz = tb.fourier_knot_eval(np.ones(1), z, z, np.ones(1), z, z, np.array([0.0, math.pi / 2]))
        for arr in (x, y, zz):
            assert isinstance(arr, np.ndarray) and arr.dtype == np.float64 and arr.shape == (2,)
        np.testing.assert_allclose(x, [1, 0], atol=1e-15)
        np.testing.assert_allclose(y, [0, 1], atol=1e-15)
        np.testing.assert_array_equal(zz, [0, 0])

    def test_lists_and_keywords(self):
        out = tb.fourier_knot_eval(a_x=[1], b_x=[0], a_y=[0], b_y=[1], a_z=[0], b_z=[0], s=[0, math.pi / 2])
        np.testing.assert_allclose(out[1], [0, 1], atol=1e-15)

    @pytest.mark.parametrize("lengths,s,message", [
        ((1, 2, 1, 1, 1, 1), [0.0], "fourier_knot_eval: a_x/b_x must be 1D and same length"),
        ((1, 1, 2, 1, 1, 1), [0.0], "fourier_knot_eval: a_y/b_y must be 1D and same length"),
        ((1, 1, 1, 1, 1, 2), [0.0], "fourier_knot_eval: a_z/b_z must be 1D and same length"),
        ((1, 1, 1, 1, 1, 1), [[0.0]], "fourier_knot_eval: s must be 1D"),
        ((1, 1, 1, 1, 1, 1), 0.0, "fourier_knot_eval: s must be 1D"),
    ])
    def test_shape_errors(self, lengths, s, message):
        arrays = [np.zeros(n) for n in lengths]
        with pytest.raises(ValueError, match="^" + message + "$"):
            tb.fourier_knot_eval(*arrays, s)

    def test_pairs_are_checked_in_order(self):
        with pytest.raises(ValueError, match="a_x/b_x"):
            tb.fourier_knot_eval(np.zeros(1), np.zeros(2), np.zeros(1), np.zeros(2), [0], [0], [0])
        with pytest.raises(ValueError, match="a_x/b_x"):
            tb.fourier_knot_eval(np.zeros((1, 1)), np.zeros((1, 1)), [0], [0], [0], [0], [0])

    def test_short_y_and_z_pairs_count_as_zero(self):
        s = np.linspace(0, 6, 7)
        ax, bx = np.array([1.0, 0.5, 0.1]), np.array([0.0, 0.2, 0.3])
        x, y, z = tb.fourier_knot_eval(ax, bx, [0.4], [1.0], [], [], s)
        ref = tb.fourier_knot_eval(ax, bx, [0.4, 0, 0], [1.0, 0, 0], [0, 0, 0], [0, 0, 0], s)
        for got, want in zip((x, y, z), ref):
            np.testing.assert_array_equal(got, want)


class TestInvariants:
    def test_positional_only(self):
        pts = trefoil(12).tolist()
        for call in (lambda: tb.compute_writhe(points=pts), lambda: tb.compute_linking_number(pts, b=pts),
                     lambda: tb.detect_reconnection_candidates(pts, threshold=1.0)):
            with pytest.raises(TypeError):
                call()

    def test_writhe_and_linking(self):
        t = np.linspace(0, 2 * math.pi, 65)
        ring = np.stack([np.cos(t), np.sin(t), 0 * t], axis=1)
        assert tb.compute_writhe(ring) == 0.0
        assert tb.compute_centerline_helicity(ring.tolist(), []) == 0.0
        hopf = np.stack([1 + np.cos(t), 0 * t, np.sin(t)], axis=1)
        assert abs(tb.compute_linking_number(ring.tolist(), hopf)) == 1
        assert tb.compute_linking_number(ring, ring + [10.0, 0, 0]) == 0
        assert tb.compute_writhe(trefoil(50)) == tb.compute_centerline_helicity(trefoil(50), [[0, 0, 0]])

    def test_twist_and_gauss_writhe_need_matching_lengths(self):
        T = [[1, 0, 0]] * 5
        assert tb.compute_twist(T, [[0, 1, 0]] * 5) == 0.0
        with pytest.raises(ValueError, match="^compute_twist: "):
            tb.compute_twist(T, [[0, 1, 0]] * 4)
        X = trefoil(10)
        with pytest.raises(ValueError, match="^writhe_gauss_curve: "):
            tb.writhe_gauss_curve(X, X[:9])
        assert math.isnan(tb.writhe_gauss_curve([], []))

    def test_reconnection_candidates(self):
        pts = [[0, 0, 0], [1, 0, 0], [2, 0, 0], [3, 0, 0], [4, 0, 0], [0.1, 0, 0], [0.2, 0, 0]]
        got = tb.detect_reconnection_candidates(pts, 0.5)
        assert got == [(0, 5), (0, 6)] and all(type(p) is tuple for p in got)
        assert tb.detect_reconnection_candidates(pts, 0.0) == []

    def test_evaluate_fourier_series(self):
        r = tb.evaluate_fourier_series([(1, 0, 2, 0, 3, 0)], [0.0, 1.0])
        assert isinstance(r, tb.FourierResult)
        assert r.positions == [[1.0, 2.0, 3.0]] * 2 and r.tangents == [[0.0, 0.0, 0.0]] * 2
        r = tb.evaluate_fourier_series(np.array([[0.0] * 6, [0, 1, 0, 0, 0, 0]]), [0.5])
        assert r.positions[0][0] == pytest.approx(math.sin(0.5)) and r.tangents[0][0] == pytest.approx(math.cos(0.5))
        with pytest.raises(AttributeError):
            r.positions = []
        with pytest.raises(TypeError):
            tb.evaluate_fourier_series([(1, 0, 2, 0, 3)], [0.0])

    def test_crossing_number(self):
        square = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]]
        assert tb.estimate_crossing_number(square) == 0
        knot = trefoil(60)
        assert tb.estimate_crossing_number(knot) == tb.estimate_crossing_number(r=knot, directions=24, seed=12345)
        assert tb.estimate_crossing_number(knot, seed=-1) >= 3
        assert tb.estimate_crossing_number(square, directions=0) == 16
        # N*N no longer fits a 32-bit int: the starting value saturates instead of wrapping.
        assert tb.estimate_crossing_number([[0.0, 0.0, 0.0]] * 46341, directions=0) == 2**31 - 1

    def test_pd_from_curve(self):
        knot = trefoil(60)
        code = tb.pd_from_curve(knot)
        assert isinstance(code, list) and len(code) >= 3
        labels = sorted(v for row in code for v in row)
        assert all(len(row) == 4 and all(type(v) is int for v in row) for row in code)
        assert labels == sorted(list(range(1, 2 * len(code) + 1)) * 2)
        assert code == tb.pd_from_curve(knot.tolist(), tries=40, seed=12345, min_angle_deg=1.0, depth_tol=1e-06)
        scaled = np.round(knot * 100).astype(np.int64)
        assert tb.pd_from_curve(scaled) == tb.pd_from_curve(scaled.astype(float).tolist())

    @pytest.mark.parametrize("P3,kwargs,exc,match", [
        ([[0, 0, 0], [1, 0, 0], [0, 1, 0]], {}, ValueError, "^pd_from_curve: need at least 4 points$"),
        (np.zeros((5, 2)), {}, ValueError, "^pd_from_curve: expected array with shape \\(N,3\\)$"),
        (np.zeros(3), {}, ValueError, "^pd_from_curve: expected array with shape \\(N,3\\)$"),
        ("abc", {}, RuntimeError, None),
        ([[0, 0]] * 4, {}, RuntimeError, None),
        (trefoil(8), {"seed": -1}, TypeError, None),
        (trefoil(8), {"tries": 1.0}, TypeError, None),
        (trefoil(8), {"tries": 0}, RuntimeError, "^Failed to extract PD from any projection.$"),
    ])
    def test_pd_from_curve_errors(self, P3, kwargs, exc, match):
        with pytest.raises(exc, match=match):
            tb.pd_from_curve(P3, **kwargs)

    # One bad point in a 64-point trefoil used to give plausible wrong integers (crossing number 2 for 3, linking
    # 0 for -5) and a reconnection list without that point's pairs. The bad value sits in the second half of the
    # curve, and in either loop.
    @pytest.mark.parametrize("name,call", [
        ("estimate_crossing_number", lambda P, Q: tb.estimate_crossing_number(P)),
        ("pd_from_curve", lambda P, Q: tb.pd_from_curve(P)),
        ("compute_linking_number", lambda P, Q: tb.compute_linking_number(P, Q)),
        ("compute_linking_number", lambda P, Q: tb.compute_linking_number(Q, P)),
        ("detect_reconnection_candidates", lambda P, Q: tb.detect_reconnection_candidates(P, 10.0)),
    ], ids=["crossings", "pd", "linking-first", "linking-second", "reconnection"])
    @pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
    @pytest.mark.parametrize("axis", [0, 1, 2])
    def test_integer_invariants_refuse_non_finite_points(self, name, call, bad, axis):
        P = trefoil(64)
        P[41, axis] = bad
        with pytest.raises(ValueError) as e:
            call(P, trefoil(64) + [0.5, 0.0, 0.0])
        assert type(e.value) is ValueError and str(e.value) == name + ": non-finite coordinate"

    def test_numpy_conversion_errors_pass_through(self):
        with pytest.raises(ValueError, match="could not convert"):
            tb.pd_from_curve(np.array([["a", "b", "c"]] * 4))


class TestGridFunctions:
    def test_velocity_grid(self):
        curve, grid = trefoil(20), np.array([[0.1, 0.2, 0.3], [3.0, 0.0, 1.0]])
        v = tb.compute_biot_savart_velocity_grid(curve, grid)
        assert isinstance(v, np.ndarray) and v.shape == (2, 3) and v.dtype == np.float64
        np.testing.assert_array_equal(v, tb.BiotSavart.compute_velocity(curve.tolist(), grid.tolist()))
        np.testing.assert_array_equal(v, tb.compute_biot_savart_velocity_grid(curve=curve.tolist(), grid_points=grid))
        assert tb.compute_biot_savart_velocity_grid(curve, np.zeros((0, 3))).shape == (0, 3)
        with pytest.raises(ValueError, match="^" + re.escape(SHAPE_N3) + "$"):
            tb.compute_biot_savart_velocity_grid(curve, np.zeros((2, 2)))
        with pytest.raises(RuntimeError):
            tb.compute_biot_savart_velocity_grid(curve, "grid")

    def test_vorticity_grid(self):
        rng = np.random.default_rng(1)
        field = rng.standard_normal((3 * 4 * 5 + 2, 3))
        w = tb.compute_vorticity_grid(field, (3, 4, 5), 0.5)
        assert w.shape == field.shape
        np.testing.assert_array_equal(w, tb.BiotSavart.compute_vorticity(field.tolist(), (3, 4, 5), 0.5))
        np.testing.assert_array_equal(w[-2:], 0.0)
        np.testing.assert_array_equal(tb.compute_vorticity_grid(field, (0, 4, 5), 0.5), 0.0)

    def test_extract_interior_field(self):
        field = np.arange(4 * 4 * 4 * 3 + 6, dtype=float).reshape(-1, 3)
        got = tb.extract_interior_field(field, shape=(4, 4, 4), margin=1)
        want = field[:64].reshape(4, 4, 4, 3)[1:3, 1:3, 1:3].reshape(-1, 3)
        np.testing.assert_array_equal(got, want)
        assert tb.extract_interior_field(field, (4, 4, 4), 2).shape == (0, 3)

    @pytest.mark.parametrize("call,match", [
        (lambda: tb.compute_vorticity_grid(np.zeros((63, 3)), (4, 4, 4), 1.0), "field"),
        (lambda: tb.compute_vorticity_grid(np.zeros((8, 3)), (2**31 - 1, 2**31 - 1, 2**31 - 1), 1.0), "field"),
        (lambda: tb.compute_vorticity_grid(np.zeros((8, 3)), (65536, 65536, 1), 1.0), "field"),
        (lambda: tb.extract_interior_field(np.zeros((63, 3)), (4, 4, 4), 1), "field"),
        (lambda: tb.extract_interior_field(np.zeros((64, 3)), (4, 4, 4), -1), "margin"),
        (lambda: tb.compute_vorticity_grid(np.zeros((8, 2)), (2, 2, 2), 1.0), "^pd_from_curve: expected"),
        (lambda: tb.extract_interior_field(np.zeros(24), (2, 2, 2), 0), "^pd_from_curve: expected"),
    ])
    def test_grid_faults_are_value_errors(self, call, match):
        with pytest.raises(ValueError, match=match):
            call()

    def test_grid_shape_must_be_three_ints(self):
        for shape in ((2, 2), (2, 2, 2.0), (2**31, 1, 1)):
            with pytest.raises(TypeError):
                tb.compute_vorticity_grid(np.zeros((8, 3)), shape, 1.0)

    def test_helicity_invariants(self):
        rng = np.random.default_rng(2)
        v, w, r = rng.standard_normal((10, 3)), rng.standard_normal((10, 3)), rng.random(10)
        hc, hm, a = tb.compute_helicity_invariants(v, w, r)
        assert hc == pytest.approx(float(np.sum(v * w)), rel=1e-13)
        assert hm == pytest.approx(float(np.sum(np.sum(w * w, axis=1) * r)), rel=1e-13)
        assert a == pytest.approx(0.5 * (hc / hm - 1.0), rel=1e-13)
        msg = "^r_sq must be 1D with same length as v_sub/w_sub$"
        for args in ((v, w, r[:9]), (v, w[:9], r), (v, w, r.reshape(2, 5))):
            with pytest.raises(ValueError, match=msg):
                tb.compute_helicity_invariants(*args)
        with pytest.raises(ValueError, match="^pd_from_curve: expected"):
            tb.compute_helicity_invariants(v, w[:, :2], r)

    def test_helicity_from_fourier_block(self, trefoil_block):
        hc, hm, a = tb.compute_helicity_from_fourier_block(trefoil_block, grid_size=1, interior_margin=0)
        assert (hc, hm) == (0.0, 0.0) and math.isnan(a)
        small = tb.compute_helicity_from_fourier_block(trefoil_block, 6, 0.4, 1, 60)
        assert all(math.isfinite(v) for v in small) and small[1] > 0.0

    def test_helicity_from_fourier_block_defaults(self, trefoil_block):
        assert tb.compute_helicity_from_fourier_block(trefoil_block) == \
            tb.compute_helicity_from_fourier_block(trefoil_block, 32, 0.1, 8, 1000)

    @pytest.mark.parametrize("kwargs,match", [
        ({"grid_size": 1291}, "^compute_helicity_from_fourier_block: grid_size"),
        ({"grid_size": 2**31 - 1}, "^compute_helicity_from_fourier_block: grid_size"),
        ({"grid_size": 4, "interior_margin": -1}, "^compute_helicity_from_fourier_block: .*interior_margin"),
        ({"grid_size": -1}, None),
        ({"grid_size": 2, "nsamples": -1}, None),
    ])
    def test_helicity_from_fourier_block_faults(self, trefoil_block, kwargs, match):
        with pytest.raises(ValueError, match=match):
            tb.compute_helicity_from_fourier_block(trefoil_block, **kwargs)

    def test_curvature(self):
        n, R = 12, 2.0
        th = 2 * math.pi * np.arange(n) / n
        pts = np.stack([R * np.cos(th), R * np.sin(th), 0 * th], axis=1)
        k = tb.compute_curvature(pts)
        assert isinstance(k, np.ndarray) and k.shape == (n,)
        d1 = (np.roll(pts, -1, 0) - np.roll(pts, 1, 0)) * 0.5
        d2 = (np.roll(pts, -1, 0) - 2 * pts) + np.roll(pts, 1, 0)
        want = np.linalg.norm(np.cross(d1, d2), axis=1) / (np.linalg.norm(d1, axis=1) ** 3 + 1e-8)
        np.testing.assert_allclose(k, want, rtol=1e-13)
        np.testing.assert_array_equal(tb.compute_curvature(pts.tolist(), eps=1e-8), k)
        assert tb.compute_curvature(np.zeros((0, 3))).shape == (0,)
        with pytest.raises(ValueError, match="^pd_from_curve: expected array with shape \\(N,3\\)$"):
            tb.compute_curvature(np.zeros((5, 2)))
        with pytest.raises(TypeError):
            tb.compute_curvature("points")


class TestIdealRecords:
    def test_parse_and_lookup(self, tmp_path):
        blocks = tb.parse_ideal_txt_from_string(IDEAL_TEXT)
        assert [b.id for b in blocks] == ["0:1:1", "0:1:2"]
        two = blocks[1]
        assert (two.L, two.D, two.n, len(two.components)) == (12.0, 1.0, 2, 2)
        assert [c.A0 for c in two.components] == [[-1.5, 0.0, 0.0], [1.5, 0.0, 0.0]]
        assert tb.index_of_ideal_id(blocks, "0:1:2") == 1
        assert tb.index_of_ideal_id(blocks=blocks, id="nope") == -1
        one = tb.parse_ideal_ab_by_id_from_string(IDEAL_TEXT, ab_id="0:1:1")
        assert tb.format_ideal_ab_header(one) == 'AB Id="0:1:1" Conway="0" L="6.283185" D="1.000000" n="1"'
        with pytest.raises(RuntimeError, match="^parse_ideal_ab_by_id_from_string: AB Id not found: x$"):
            tb.parse_ideal_ab_by_id_from_string(IDEAL_TEXT, "x")
        path = tmp_path / "ideal.txt"
        path.write_text(IDEAL_TEXT)
        assert [b.id for b in tb.parse_ideal_txt_multi(path=str(path))] == ["0:1:1", "0:1:2"]
        missing = str(tmp_path / "none.txt")
        with pytest.raises(RuntimeError, match="^parse_ideal_txt_multi: cannot open file: " + missing + "$"):
            tb.parse_ideal_txt_multi(missing)

    def test_evaluate_components(self):
        comp = tb.IdealABComponent()
        comp.fourier = make_block([1.0], [0.0], [0.0], [1.0], [0.0], [0.0])
        comp.A0, comp.B0 = [1, 2, 3], [0.5, 0, 0]
        pts = tb.evaluate_ideal_component(comp, np.array([0.0, math.pi / 2]))
        assert isinstance(pts, np.ndarray) and pts.shape == (2, 3)
        np.testing.assert_allclose(pts, [[2.5, 2, 3], [1.5, 3, 3]], atol=1e-15)
        ab = tb.IdealABBlock()
        comps = []
        for k in range(3):
            c = tb.IdealABComponent()
            c.fourier = make_block([1.0 + k], [0.0], [0.0], [1.0], [0.2 * k], [0.0])
            c.A0 = [k, 0, 0]
            comps.append(c)
        ab.components = comps
        s = np.linspace(0, 6, 5)
        parts = tb.evaluate_ideal_ab_components(ab=ab, s=s)
        assert isinstance(parts, list) and len(parts) == 3
        for c, arr in zip(comps, parts):
            assert arr.shape == (5, 3)
            np.testing.assert_array_equal(arr, tb.evaluate_ideal_component(component=c, s=s))
        for fn, rec in ((tb.evaluate_ideal_component, comp), (tb.evaluate_ideal_ab_components, ab)):
            with pytest.raises(ValueError, match="^s must be 1D$"):
                fn(rec, np.zeros((2, 2)))

    def test_ragged_component_blocks_are_padded(self):
        comp = tb.IdealABComponent()
        comp.fourier = ragged_block()
        ref = tb.IdealABComponent()
        ref.fourier = padded_block()
        s = [0.0, 1.0, 2.5]
        np.testing.assert_array_equal(tb.evaluate_ideal_component(comp, s), tb.evaluate_ideal_component(ref, s))
        ab = tb.IdealABBlock()
        ab.components = [ref, comp]
        a, b = tb.evaluate_ideal_ab_components(ab, s)
        np.testing.assert_array_equal(a, b)
        assert ab.components[1].fourier.b_x == []


class TestCatalogue:
    def test_embedded_knot_files(self):
        files = tb.get_embedded_knot_files()
        assert isinstance(files, dict) and len(files) == 78
        assert files is not tb.get_embedded_knot_files()
        assert files["3_1"].startswith("% Knot 3_1 (trefoil knot)\n")

    def test_load_embedded_knot_block(self):
        blocks = tb.parse_fseries_from_string(tb.get_embedded_knot_files()["3_1"])
        want = blocks[tb.index_of_largest_block(blocks)]
        got = tb.load_embedded_knot_block(knot_id="3_1")
        assert block_fields(got) == block_fields(want)
        assert got.b_x == [r[1] for r in TREFOIL_ROWS]
        with pytest.raises(RuntimeError, match="^Embedded knot id not found: 3_1x$"):
            tb.load_embedded_knot_block("3_1x")

    def test_embedded_ideal_files(self):
        files = tb.get_embedded_ideal_files()
        assert len(files) == 2183
        assert next(iter(files)) == "ideal.txt"
        assert files["ideal_12_data/12n888.txt"] == tb.load_embedded_ideal_text("12n888.txt")
        assert tb.load_embedded_ideal_text() == files["ideal.txt"]
        with pytest.raises(RuntimeError, match="^Embedded ideal text not found: IDEAL.TXT$"):
            tb.load_embedded_ideal_text("IDEAL.TXT")

    def test_embedded_ideal_entries_default_to_ideal_txt(self):
        ab = tb.parse_embedded_ideal_ab_by_id("0:1:1")
        assert tb.format_ideal_ab_header(ab) == tb.format_ideal_ab_header(
            tb.parse_embedded_ideal_ab_by_id(ab_id="0:1:1", name="ideal.txt"))
        blocks = tb.parse_embedded_ideal_txt()
        assert len(blocks) == 263 and blocks[0].id == "0:1:1"
        assert tb.parse_embedded_ideal_txt("12a1.txt") == []


class TestLoadAllKnots:
    def test_load_all_knots(self, fseries_file, tmp_path):
        knots = tb.load_all_knots([str(fseries_file), str(tmp_path / "missing.fseries")], nsamples=50)
        assert len(knots) == 1
        k = knots[0]
        assert k.name == ".test_1"
        pts = k.get_points_array()
        assert isinstance(pts, np.ndarray) and pts.shape == (50, 3)
        np.testing.assert_array_equal(pts, k.points)
        curv = k.get_curvature_array()
        assert curv.shape == (50,) and curv.tolist() == k.curvature
        pts[0, 0] = 99.0
        assert k.points[0][0] != 99.0
        with pytest.raises(AttributeError):
            k.name = "x"
        assert len(tb.load_all_knots([str(fseries_file)])[0].points) == 1000
        assert tb.load_all_knots([]) == []


class TestVortexKnotSystem:
    def test_construction(self):
        s = tb.VortexKnotSystem()
        assert s.get_positions() == [] and s.get_tangents() == []
        tb.VortexKnotSystem(circulation=2.5)
        with pytest.raises(TypeError):
            tb.VortexKnotSystem("1.0")

    def test_generators(self):
        s = tb.VortexKnotSystem()
        s.initialize_trefoil_knot()
        pts = s.get_positions()
        assert len(pts) == 400 and pts[0] == [3.0, 0.0, 0.0]
        s.initialize_figure8_knot(resolution=1)
        assert s.get_positions() == [[3.0, 0.0, 0.0]] and s.get_tangents() == [[0.0, 0.0, 0.0]]
        s.initialize_trefoil_knot(0)
        assert s.get_positions() == []
        for bad in (-1, 400.0):
            with pytest.raises(TypeError):
                s.initialize_trefoil_knot(bad)

    def test_evolve_snapshots(self):
        s = tb.VortexKnotSystem(1.0)
        s.initialize_trefoil_knot(40)
        before = s.get_positions()
        kept = [list(p) for p in before]
        s.evolve(0.01, 0)
        assert s.get_positions() == kept
        s.evolve(dt=0.01, steps=2)
        assert s.get_positions() != kept
        assert before == kept
        with pytest.raises(TypeError):
            s.evolve(0.01, -1)

    def test_from_name(self):
        s = tb.VortexKnotSystem()
        s.initialize_knot_from_name("3_1")
        pts = np.array(s.get_positions())
        assert pts.shape == (1000, 3)
        np.testing.assert_allclose(pts[0], pts[-1], atol=1e-12)
        np.testing.assert_allclose(pts.mean(axis=0), 0.0, atol=1e-12)
        s.initialize_knot_from_name(knot_id="3_1", resolution=10)
        assert len(s.get_positions()) == 10
        with pytest.raises(RuntimeError, match="^Could not initialize knot zz_9: Could not find .fseries file "
                                               "for knot: zz_9$"):
            s.initialize_knot_from_name("zz_9", 10)
        assert len(s.get_positions()) == 10
        with pytest.raises(ValueError):
            s.initialize_knot_from_name("3_1", 2**32 + 10)
