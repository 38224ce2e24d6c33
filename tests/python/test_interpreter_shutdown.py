"""Calls made by finalizers while the interpreter shuts down work as they do before; none kills the process.

Each case runs in a child process. A reference cycle whose finalizer makes a new such cycle keeps finalizers
running through the interpreter's last collections, after it has cleared the modules (their dictionaries,
sys.modules, the builtins) and freed what they alone held: there the finalizer makes the case's call and
writes its outcome to stdout. The same call made here, in a running interpreter, gives the expected outcome.
"""
import ast
import pathlib
import subprocess
import sys
import textwrap

import pytest

import _bindings
from conftest import child_env

HERE = pathlib.Path(__file__).parent
KNOT_FILE = HERE.parent.parent / "knot_fseries" / "knot.3_1.fseries"

# The child: the case's setup, then the cycle. The builtins are gone by the time the last finalizers run, so
# the report uses none; "gone" is whether the module object has been freed.
CHILD = """
import gc, os, sys, weakref
import _bindings as B
{setup}
def call():
    return {expression}
module_ref = weakref.ref(B)
del B
write, finalizing, Caught = os.write, sys.is_finalizing, BaseException

def report():
    try:
        outcome = "value %r" % (call(),)
    except Caught as e:
        outcome = "raised %s: %s" % (e.__class__.__name__, e)
    write(1, ("%d %r\\n" % (module_ref() is None, outcome)).encode())

class Cycle:
    def __init__(self):
        self.me = self

    def __del__(self):
        if finalizing() and (module_ref() is None or not {late_only}):
            report()
        Cycle()

Cycle()
gc.set_threshold(1, 1, 1)
"""

TREFOIL = 'B.load_embedded_knot_block("3_1")'

# name: (setup, expression, whether the first call waits until the module is gone). Each setup binds what
# the call uses, and leaves no instance of the classes that only the call hands out: nothing but the
# module then holds those classes. A call that is first to build a list of rows, or to use NumPy through
# the module, is made only once the module is gone, when nothing can be imported any more.
CASES = {
    "IdealABBlock.components": (f"""
        record = B.IdealABBlock()
        component = B.IdealABComponent()
        component.component_index, component.A0, component.fourier = 2, [0.5, 0.25, 0.125], {TREFOIL}
        record.components = [component, B.IdealABComponent()]
        del component
        """, "[(c.component_index, c.A0, c.B0, c.fourier.a_x, c.fourier.b_z) for c in record.components]", False),
    "fourier_knot.blocks": (f"""
        knot = B.fourier_knot()
        knot.blocks = [{TREFOIL}, B.load_embedded_knot_block("4_1")]
        """, "[(b.header, b.a_x, b.b_y, b.a_z) for b in knot.blocks]", False),
    "evaluate_fourier_block": (f"""
        block, evaluate = {TREFOIL}, B.evaluate_fourier_block
        """, "evaluate(block, [0.0, 0.125, 0.5, 0.75])", True),
    "length_exact": (f"""
        block, length_exact = {TREFOIL}, B.length_exact
        """, "length_exact(block, 512)", False),
    "length_exact(None)": ("""
        length_exact = B.length_exact
        """, "length_exact(None, 512)", False),
    "describe_fourier_block": (f"""
        block, describe = {TREFOIL}, B.describe_fourier_block
        """, "(lambda d: (d.L, d.bending_energy, d.min_self_distance, d.writhe, d.mode_energy))("
             "describe(block, 256, 4))", False),
    "evaluate_ideal_ab_components": (f"""
        import numpy as np
        s = np.linspace(0.0, 1.0, 7)
        record, component = B.IdealABBlock(), B.IdealABComponent()
        component.fourier = {TREFOIL}
        record.components = [component, component]
        del component
        evaluate = B.evaluate_ideal_ab_components
        """, "[p.tolist() for p in evaluate(record, s)]", True),
    "compute_filament_energy_from_fseries": (f"""
        params = B.FilamentEnergyParams()
        params.nsamples = 128
        energy, path = B.compute_filament_energy_from_fseries, {str(KNOT_FILE)!r}
        """, "(lambda r: (r.path, r.L, r.m_loc, r.E_nonlocal, r.E_core_int, r.E_total))(energy(path, params))",
        False),
    "VortexKnotSystem": ("""
        system = B.VortexKnotSystem(1.0)
        """, '(system.initialize_knot_from_name("3_1", 64), system.evolve(0.0005, 3), system.get_positions())[2]',
        False),
}


def outcome_here(setup, expression):
    """The case's outcome in this interpreter, written as the child writes it."""
    scope = {"B": _bindings}
    exec(textwrap.dedent(setup), scope)
    try:
        return "value %r" % (eval(expression, scope),)
    except Exception as e:
        return "raised %s: %s" % (e.__class__.__name__, e)


def run_child(tmp_path, setup, expression, late_only):
    """The child's reports as (module gone, outcome), after checking that it ended cleanly."""
    script = CHILD.format(setup=textwrap.dedent(setup), expression=expression, late_only=late_only)
    proc = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=child_env(), capture_output=True,
                          text=True, timeout=300)
    assert (proc.returncode, proc.stderr) == (0, "")
    reports = [line.split(" ", 1) for line in proc.stdout.splitlines()]
    reports = [(gone, ast.literal_eval(outcome)) for gone, outcome in reports]
    # The cycle reached the interpreter's last collections.
    assert [gone for gone, _ in reports].count("1") >= 1, proc.stdout
    return [(gone == "1", outcome) for gone, outcome in reports]


@pytest.mark.parametrize("name", sorted(CASES))
def test_call_from_a_finalizer_during_shutdown_works_as_before(name, tmp_path):
    setup, expression, late_only = CASES[name]
    expected = outcome_here(setup, expression)
    reports = run_child(tmp_path, setup, expression, late_only)
    assert {outcome for _, outcome in reports} == {expected}


def test_list_bindings_once_the_module_is_freed_raises_runtime_error(tmp_path):
    reports = run_child(tmp_path, "list_bindings = B.list_bindings", 'list_bindings("knot")["functions"]', False)
    late = {outcome for gone, outcome in reports if gone}
    assert late == {"raised RuntimeError: list_bindings: the module is gone: the interpreter is shutting down"}
    assert all(outcome.startswith("value [") for gone, outcome in reports if not gone)
