"""Every exported name survives hostile calls: None as self, wrong types and shapes, NaN, empty, huge counts.

The calls run in child processes (see hostile_calls.py); a child killed by a signal is a failure naming
the call, and the rest of the list goes on in a new child.
"""
import pathlib
import signal
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

from conftest import child_env
from hostile_calls import ADDRESS_SPACE_BYTES

HERE = pathlib.Path(__file__).parent
IDEAL_DB = HERE.parent.parent / "resources" / "ideal_database.txt"
# A child still running after this long has stalled in a call that ignored its alarm.
CHILD_SECONDS = 300


def _child_env():
    env = child_env(TARQ_IDEAL_DATABASE=str(IDEAL_DB))
    if "asan" in env.get("LD_PRELOAD", ""):
        # Allocations above the children's address-space budget fail (MemoryError) instead of mapping.
        options = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (options + ":" if options else "") + \
            f"max_allocation_size_mb={ADDRESS_SPACE_BYTES >> 20}:allocator_may_return_null=1"
    return env


def _sanitizer_out_of_memory(stderr):
    return "AddressSanitizer: out-of-memory" in stderr or "AddressSanitizer: requested allocation size" in stderr


def _run_share(mode, first, stride, cwd):
    """Outcomes {index: outcome} of the calls first, first + stride, ..., run in cwd; a signal death or a
    stall is recorded for the call that caused it, and the share resumes after it."""
    outcomes, labels = {}, {}
    start = first
    while True:
        try:
            proc = subprocess.run(
                [sys.executable, str(HERE / "hostile_calls.py"), mode, str(start), str(stride)],
                capture_output=True, text=True, timeout=CHILD_SECONDS, cwd=cwd, env=_child_env())
            stdout, stalled = proc.stdout, False
        except subprocess.TimeoutExpired as e:
            stdout, stalled = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or ""), True
        last = None
        for line in stdout.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == "CALL":
                index, _, label = rest.partition(" ")
                last = int(index)
                labels[last] = label
            elif kind == "DONE":
                index, outcome = rest.split(" ")[:2]
                outcomes[int(index)] = outcome
                last = None
        if not stalled and proc.returncode == 0 and "END" in stdout:
            return outcomes, labels
        assert last is not None, "child failed outside a call" if stalled else \
            f"child failed outside a call: {proc.returncode}\n{proc.stderr[-2000:]}"
        if stalled:
            outcomes[last] = "died stalled"
        elif proc.returncode < 0:
            outcomes[last] = f"died with {signal.Signals(-proc.returncode).name}"
        elif _sanitizer_out_of_memory(proc.stderr):
            # AddressSanitizer cannot turn a failed operator new into std::bad_alloc: it ends the process
            # where the shipped build raises MemoryError.
            outcomes[last] = "MemoryError"
        else:
            outcomes[last] = f"exited with {proc.returncode}: {proc.stderr[-300:]}"
        start = last + stride


def run_all(mode, cwd, workers=2):
    outcomes, labels = {}, {}
    with ThreadPoolExecutor(workers) as pool:
        for o, lab in pool.map(lambda k: _run_share(mode, k, workers, cwd), range(workers)):
            outcomes.update(o)
            labels.update(lab)
    return outcomes, labels


def test_none_as_self_raises_type_error_for_every_method_and_property(tmp_path):
    outcomes, labels = run_all("none_self", tmp_path)
    assert len(outcomes) > 100
    wrong = sorted(f"{labels[i]}: {o}" for i, o in outcomes.items() if o != "TypeError")
    assert wrong == []


def test_unconstructed_self_raises_type_error_naming_the_class_for_every_method_and_property(tmp_path):
    outcomes, labels = run_all("unconstructed_self", tmp_path)
    assert len(outcomes) > 100
    wrong = sorted(f"{labels[i]}: {o}" for i, o in outcomes.items() if o != "TypeError")
    assert wrong == []


def test_hostile_values_never_kill_the_process(tmp_path):
    outcomes, labels = run_all("hostile", tmp_path)
    assert len(outcomes) > 1000
    dead = sorted(f"{labels[i]}: {o}" for i, o in outcomes.items() if o.startswith(("died", "exited")))
    assert dead == []


def test_python_code_replacing_the_arguments_storage_during_a_call_never_kills_the_process(tmp_path):
    outcomes, labels = run_all("replace", tmp_path)
    assert len(outcomes) > 100
    dead = sorted(f"{labels[i]}: {o}" for i, o in outcomes.items() if o.startswith(("died", "exited")))
    assert dead == []
