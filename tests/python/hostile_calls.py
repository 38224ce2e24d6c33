"""Calls on every exported name of the module, built by introspection, run in a child process.

The child (``python hostile_calls.py MODE FIRST STRIDE``) announces each call on stdout before making it, so
that the parent can name the call a signal killed, then resume the list after it in a new child.
"""
import atexit
import gc
import math
import os
import re
import resource
import shutil
import signal
import sys
import tempfile
import time

import numpy as np

import _bindings
from conftest import handle_signal

# Each call gets this long (wall seconds) before an alarm raises KeyboardInterrupt through the module's
# interrupt polling; a call that ignores the alarm stalls the child until the parent's timeout.
CALL_SECONDS = 0.5
# Address-space limit of a child: allocations out of proportion to the input fail with MemoryError.
ADDRESS_SPACE_BYTES = 3 << 30


def _split_top(text):
    parts, depth, cur = [], 0, ""
    for ch in text:
        depth += ch in "([{"
        depth -= ch in ")]}"
        if ch == "," and depth == 0:
            parts.append(cur)
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur)
    return [p.strip() for p in parts]


def signatures(func, name):
    """Parameter annotations of each overload of a bound function, from its generated docstring."""
    out = []
    for line in (func.__doc__ or "").split("\n"):
        m = re.match(r"(?:\d+\. )?" + re.escape(name) + r"\((.*)\) -> ", line)
        if not m:
            continue
        params = []
        for p in _split_top(m.group(1)):
            if p in ("*args", "**kwargs") or ":" not in p:
                continue
            pname, rest = p.split(":", 1)
            ann, _, default = rest.partition(" = ")
            params.append((pname.strip(), ann.strip(), bool(default)))
        out.append(params)
    return out


def classes():
    seen = []
    for name in dir(_bindings):
        obj = getattr(_bindings, name)
        if isinstance(obj, type) and obj.__module__ == "_bindings" and obj not in seen:
            seen.append(obj)
    return seen


_INSTANCES = {}


def instance(cls):
    """A working instance of a bound class, or None when it has no constructor taking plain values."""
    if cls not in _INSTANCES:
        if cls is _bindings.DensityRegime:
            obj = _bindings.DensityRegime.EFFECTIVE_FLUID
        elif cls is _bindings.ParticleEvaluator:
            obj = _bindings.ParticleEvaluator("3:1:1", 64)
        else:
            obj = None
            for params in signatures(cls.__init__, "__init__"):
                try:
                    obj = cls(*[good_value(a) for _, a, d in params[1:] if not d])
                    break
                except Exception:
                    pass
        _INSTANCES[cls] = obj
    return _INSTANCES[cls]


def good_value(ann):
    """A value that converts to the annotated parameter type (not necessarily one the call accepts)."""
    ann = ann.strip()
    fixed = re.fullmatch(r'typing\.Annotated\[collections\.abc\.Sequence\[(.*)\], "FixedSize\((\d+)\)"\]', ann)
    if fixed:
        return [good_value(fixed.group(1)) for _ in range(int(fixed.group(2)))]
    if "ArrayLike" in ann or ann.startswith("numpy"):
        return np.ones((6, 3))
    seq = re.fullmatch(r"collections\.abc\.Sequence\[(.*)\]", ann)
    if seq:
        return [good_value(seq.group(1)) for _ in range(4)]
    if "SupportsFloat" in ann:
        return 0.5
    if "SupportsInt" in ann:
        return 3
    if ann == "str":
        return "3_1"
    if ann == "bool":
        return False
    if ann.startswith("_bindings."):
        return instance(getattr(_bindings, ann[len("_bindings."):]))
    return 0


# A directory of files that are no regular files, under names the file tools list: a FIFO (opening it would
# wait for a writer) and links to devices that never end.
SCRATCH = tempfile.mkdtemp(prefix="hostile-calls-")
atexit.register(shutil.rmtree, SCRATCH, True)
os.mkfifo(os.path.join(SCRATCH, "fifo.fseries"))
for _device in ("zero", "urandom"):
    os.symlink("/dev/" + _device, os.path.join(SCRATCH, _device + ".fseries"))

# Paths that must read as files that do not open, and a name that is not UTF-8 (as os.listdir gives it).
PATHS = ["/dev/zero", "/dev/urandom", b"/dev/urandom", os.path.join(SCRATCH, "fifo.fseries"), SCRATCH,
         os.fsdecode(os.fsencode(SCRATCH) + b"/\xff\xfe.fseries")]

# Hostile values put in place of one parameter at a time (the others keep a good value).
HOSTILE = [
    None,
    "x",
    "a\0b",
    "",
    [],
    [[1.0, 2.0]],
    [float("nan")] * 3,
    np.zeros((0, 3)),
    np.zeros((2, 2)),
    np.zeros(5),
    np.full((6, 3), math.nan),
    np.full((6, 3), math.inf),
    math.nan,
    -math.inf,
    -1,
    0,
    2**31,
    2**40,
    2**64,
    object(),
] + PATHS + [PATHS]


def _functions():
    """(label, callable, name, is_method) for every exported callable: functions, constructors,
    methods, static methods and property setters."""
    out = []
    for name in dir(_bindings):
        obj = getattr(_bindings, name)
        if name.startswith("_") or isinstance(obj, type) or not callable(obj):
            continue
        out.append((name, obj, name, False))
    for cls in classes():
        out.append((f"{cls.__name__}.__init__", cls, "__init__", True))
        for attr, raw in vars(cls).items():
            if attr.startswith("__") and attr != "__call__":
                continue
            if isinstance(raw, staticmethod):
                out.append((f"{cls.__name__}.{attr}", getattr(cls, attr), attr, False))
            elif isinstance(raw, property):
                if raw.fset is not None:
                    out.append((f"{cls.__name__}.{attr}=", raw, attr, True))
            elif callable(raw):
                out.append((f"{cls.__name__}.{attr}", getattr(cls, attr), attr, True))
    return out


def unconstructed(cls):
    """An instance of a bound class whose C++ object was never constructed."""
    return cls.__new__(cls)


def not_initialised_message(cls):
    return f"{cls.__name__} object is not initialised: call {cls.__name__}(...) first"


def _self_calls(make_self, skip=()):
    """Every method, property getter and setter of every class, with make_self(cls) as self and good
    arguments (an instance of the class where a parameter takes any object)."""
    calls = []
    for cls in classes():
        for attr, raw in vars(cls).items():
            if attr in ("__init__", "__new__") + skip or isinstance(raw, staticmethod):
                continue
            label = f"{cls.__name__}.{attr}"
            if type(raw) is not property and isinstance(raw, property):
                continue  # a static property: its getter takes the class, not an instance
            if isinstance(raw, property):
                calls.append((label + " (get)", raw.fget, (make_self(cls),)))
                if raw.fset is not None:
                    inst = instance(cls)
                    value = getattr(inst, attr) if inst is not None else 0
                    calls.append((label + " (set)", raw.fset, (make_self(cls), value)))
                continue
            if not callable(raw) or not hasattr(raw, "__doc__"):
                continue
            func = getattr(cls, attr)
            sigs = signatures(func, attr) or [[("self", "", False)]]
            for params in sigs:
                args = tuple(instance(cls) if a == "object" and instance(cls) is not None else good_value(a)
                             for _, a, d in params[1:] if not d)
                calls.append((label, func, (make_self(cls),) + args))
    return calls


def none_self_calls():
    return _self_calls(lambda cls: None)


def _expecting(message, func):
    """func, with a TypeError of any other text turned into an AssertionError outcome."""
    def call(*args):
        try:
            return func(*args)
        except TypeError as e:
            if str(e) != message:
                raise AssertionError(str(e)) from e
            raise
    return call


def unconstructed_self_calls():
    # __setstate__ is the enumeration's unpickling constructor: constructing such an instance is its job.
    # _pybind11_conduit_v1_ is the binding library's link between extension modules: its arguments name C++
    # type records that Python code cannot make, so every call here would fail on them first.
    calls = _self_calls(unconstructed, skip=("__setstate__", "_pybind11_conduit_v1_"))
    return [(label, _expecting(not_initialised_message(type(args[0])), func), args)
            for label, func, args in calls]


def unconstructed_values(ann):
    """For a parameter that takes a bound class, alone or in a sequence: an instance of it whose C++ object
    was never constructed, in the same form."""
    m = re.search(r"_bindings\.(\w+)", ann)
    if not m:
        return []
    value = unconstructed(getattr(_bindings, m.group(1)))
    return [[value]] if ann.startswith("collections.abc.Sequence") else [value]


def hostile_calls():
    calls = []
    for label, func, name, is_method in _functions():
        if label.endswith("="):
            cls = getattr(_bindings, label.split(".")[0])
            inst = instance(cls)
            if inst is None:
                continue
            value_ann = [a for params in signatures(func.fset, "") for _, a, _ in params[1:]]
            for value in HOSTILE + [v for a in value_ann for v in unconstructed_values(a)]:
                calls.append((label, lambda v, p=func, o=inst: p.fset(o, v), (value,)))
            continue
        owner = None
        if is_method and name != "__init__":
            owner = instance(getattr(_bindings, label.split(".")[0]))
            if owner is None:
                continue
        for params in signatures(func, name):
            params = params[1:] if is_method else params
            base = [good_value(a) for _, a, _ in params]
            prefix = (owner,) if owner is not None else ()
            calls.append((label, func, prefix + tuple(base)))
            for i in range(len(params)):
                for value in HOSTILE + unconstructed_values(params[i][1]):
                    args = list(base)
                    args[i] = value
                    calls.append((label, func, prefix + tuple(args)))
    return calls


# Replacement mode: while a call runs, Python code that does not raise (a signal handler on a repeating
# timer, and a finalizer that the garbage collector runs whenever a container is allocated) replaces every
# replaceable field of the call's arguments, so that a call reading an argument's storage would read it freed.
REPLACE_EVERY = 0.002
KNOT_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "knot_fseries",
                         "knot.3_1.fseries")


def big_block(n=4000):
    block = _bindings.FourierBlock()
    block.header = "% big"
    block.a_x = [1.0] + [1e-4] * (n - 1)
    block.b_x = [1e-4] * n
    block.a_y = [1e-4] * n
    block.b_y = [1.0] + [1e-4] * (n - 1)
    block.a_z = [1e-4] * n
    block.b_z = [0.5] + [1e-4] * (n - 1)
    return block


def big_instance(cls):
    """An instance whose storage takes long to read, or the sweep's ordinary instance."""
    if cls is _bindings.FourierBlock:
        return big_block()
    if cls is _bindings.IdealABComponent:
        c = _bindings.IdealABComponent()
        c.fourier = big_block()
        return c
    if cls is _bindings.IdealABBlock:
        ab = _bindings.IdealABBlock()
        ab.id, ab.conway = "3:1:1", "3_1"
        ab.components = [big_instance(_bindings.IdealABComponent), big_instance(_bindings.IdealABComponent)]
        ab.fourier = big_block()
        return ab
    if cls is _bindings.fourier_knot:
        k = _bindings.fourier_knot()
        k.blocks = [big_block(), big_block(100)]
        k.activeBlock = big_block()
        k.points = [[0.5, 0.25, 0.125]] * 20000
        return k
    if cls is _bindings.VortexKnotSystem:
        s = _bindings.VortexKnotSystem()
        s.initialize_trefoil_knot(3000)
        return s
    if cls is _bindings.TimeEvolution:
        pts = np.random.default_rng(1).random((3000, 3)).tolist()
        return _bindings.TimeEvolution(pts, pts)
    if cls is _bindings.ParticleEvaluator:
        return _bindings.ParticleEvaluator("3:1:1", 4000)
    if cls is _bindings.RelativisticMetrics:
        m = _bindings.RelativisticMetrics()
        m.time_dilation_map = [0.5] * 200000
        return m
    return instance(cls)


def big_value(ann, name=""):
    """A value of the annotated type that takes long to convert or to compute with."""
    ann = ann.strip()
    if name == "s" and ("ArrayLike" in ann or ann.startswith("numpy")):
        return np.linspace(0.0, 1.0, 200000)
    if ann.startswith("typing.Annotated"):
        return good_value(ann)
    if "ArrayLike" in ann or ann.startswith("numpy"):
        return np.random.default_rng(2).random((100000, 3))
    seq = re.fullmatch(r"collections\.abc\.Sequence\[(.*)\]", ann)
    if seq:
        inner = seq.group(1)
        if inner.startswith("_bindings."):
            return [big_value(inner) for _ in range(3)]
        if inner.startswith("collections.abc.Sequence") and "FixedSize" not in inner:
            return [[0.25 * (k % 7) for k in range(400)] for _ in range(400)]
        return [good_value(inner) for _ in range(100000)]
    if "SupportsInt" in ann:
        return 20000
    if ann.startswith("_bindings."):
        return big_instance(getattr(_bindings, ann[len("_bindings."):]))
    return good_value(ann)


def _try(action):
    try:
        action()
    except Exception:
        pass


def replace_storage(obj, rng):
    """Replaces what can be replaced of obj (and of what it holds) with values of other sizes."""
    k = int(rng.integers(0, 3000))
    if isinstance(obj, list):
        for item in obj[:3]:
            replace_storage(item, rng)
        if obj and isinstance(obj[0], list):
            obj[0] = list(obj[0])
        obj[:] = obj[: k % max(len(obj), 1)]
    elif isinstance(obj, _bindings.FourierBlock):
        for field in ("a_x", "b_x", "a_y", "b_y", "a_z", "b_z"):
            _try(lambda f=field: setattr(obj, f, [0.5] * k))
        obj.header = "%" * k
    elif isinstance(obj, _bindings.IdealABComponent):
        replace_storage(obj.fourier, rng)
        obj.fourier = big_block(k + 1)
    elif isinstance(obj, _bindings.IdealABBlock):
        for c in obj.components:
            replace_storage(c, rng)
        obj.components = [big_instance(_bindings.IdealABComponent)] * (k % 3)
        obj.fourier = big_block(k + 1)
        obj.id = obj.conway = "x" * k
    elif isinstance(obj, _bindings.fourier_knot):
        for b in obj.blocks:
            replace_storage(b, rng)
        obj.blocks = [big_block(k + 1)] * (k % 3)
        replace_storage(obj.activeBlock, rng)
        obj.activeBlock = big_block(k + 1)
        obj.points = [[0.5, 0.5, 0.5]] * k
        _try(lambda: obj.loadBlocks(KNOT_FILE if k % 2 else "/nonexistent"))
    elif isinstance(obj, _bindings.VortexKnotSystem):
        _try(lambda: obj.initialize_trefoil_knot(k + 4))
        _try(lambda: obj.evolve(1e-9, 1))
    elif isinstance(obj, _bindings.TimeEvolution):
        _try(lambda: obj.evolve(1e-9, 1))
    elif isinstance(obj, _bindings.ParticleEvaluator):
        _try(lambda: obj.relax(1))
        _try(lambda: obj.set_tail_approx_config(_bindings.TailApproxConfig()))
    elif isinstance(obj, _bindings.RelativisticMetrics):
        obj.time_dilation_map = [0.5] * k


class _Replacer:
    """Replaces the storage of `targets` from a repeating timer and from finalizers, until `deadline`,
    when it raises KeyboardInterrupt to end the call."""

    def __init__(self, targets, deadline):
        self.targets, self.deadline = targets, deadline
        self.rng = np.random.default_rng(3)
        self.busy = False

    def replace(self):
        if self.busy:
            return
        self.busy = True
        try:
            for t in self.targets:
                _try(lambda t=t: replace_storage(t, self.rng))
        finally:
            self.busy = False

    def on_timer(self, signum, frame):
        if time.perf_counter() > self.deadline:
            raise KeyboardInterrupt
        self.replace()


class _Finalizer:
    """Garbage in a reference cycle whose finalizer replaces storage and leaves new such garbage behind."""

    def __init__(self, replacer):
        self.replacer, self.cycle = replacer, self

    def __del__(self):
        if time.perf_counter() <= self.replacer.deadline:
            self.replacer.replace()
            _Finalizer(self.replacer)


def _takes_storage(ann):
    return "_bindings." in ann or "Sequence" in ann or "ArrayLike" in ann or ann.startswith("numpy")


def replace_calls():
    """Every function and method that takes a bound object or a sequence, with big arguments, as
    (label, make) where make() gives (func, args)."""
    calls = []
    for label, func, name, is_method in _functions():
        if label.endswith("="):
            continue
        cls = getattr(_bindings, label.split(".")[0]) if "." in label else None
        for params in signatures(func, name):
            params = params[1:] if is_method else params
            method = is_method and name != "__init__"
            if not any(_takes_storage(a) for _, a, _ in params) and not method:
                continue
            if method and big_instance(cls) is None:
                continue

            def make(func=func, params=params, cls=cls if method else None):
                prefix = (big_instance(cls),) if cls is not None else ()
                return func, prefix + tuple(big_value(a, n) for n, a, _ in params)
            calls.append((label, make))
    # Getters of fields: converting a field's value into Python objects can run finalizers.
    for cls in classes():
        for attr, raw in vars(cls).items():
            if type(raw) is property and big_instance(cls) is not None:
                calls.append((f"{cls.__name__}.{attr} (get)",
                              lambda fget=raw.fget, cls=cls: (fget, (big_instance(cls),))))
    return calls


def run_replace_call(make):
    func, args = make()
    replacer = _Replacer(list(args), time.perf_counter() + CALL_SECONDS)
    _Finalizer(replacer)
    signal.signal(signal.SIGALRM, replacer.on_timer)
    thresholds = gc.get_threshold()
    gc.set_threshold(1)
    signal.setitimer(signal.ITIMER_REAL, REPLACE_EVERY, REPLACE_EVERY)
    try:
        func(*args)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        gc.set_threshold(*thresholds)
        replacer.deadline = 0.0
        signal.signal(signal.SIGALRM, _alarm)


def _alarm(signum, frame):
    raise KeyboardInterrupt


def under_asan():
    return "asan" in os.environ.get("LD_PRELOAD", "")


def run_child(mode, first, stride):
    # AddressSanitizer reserves far more address space than the limit; the parent caps its allocations
    # through ASAN_OPTIONS instead. A lower limit inherited from the run cannot be raised, and stays.
    if not under_asan():
        hard = resource.getrlimit(resource.RLIMIT_AS)[1]
        limit = ADDRESS_SPACE_BYTES if hard == resource.RLIM_INFINITY else min(hard, ADDRESS_SPACE_BYTES)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    handle_signal(signal.SIGALRM, _alarm)
    if mode == "replace":
        calls = [(label, run_replace_call, (make,)) for label, make in replace_calls()]
    else:
        calls = {"none_self": none_self_calls, "unconstructed_self": unconstructed_self_calls,
                 "hostile": hostile_calls}[mode]()
    print(f"COUNT {len(calls)}", flush=True)
    for index in range(first, len(calls), stride):
        label, func, args = calls[index]
        print(f"CALL {index} {label}", flush=True)
        signal.setitimer(signal.ITIMER_REAL, CALL_SECONDS)
        began = time.perf_counter()
        try:
            try:
                func(*args)
                outcome = "returned"
            except BaseException as e:  # noqa: B036 - every exception is a clean outcome here
                outcome = type(e).__name__
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
        except KeyboardInterrupt:
            # The one-shot alarm went off just as the call ended, before it was cancelled.
            outcome = "KeyboardInterrupt"
        print(f"DONE {index} {outcome} {time.perf_counter() - began:.3f}", flush=True)
    print("END", flush=True)


if __name__ == "__main__":
    run_child(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
