"""Calls on every exported name of the module, built by introspection, run in a child process.

The child (``python hostile_calls.py MODE FIRST STRIDE``) announces each call on stdout before making it, so
that the parent can name the call a signal killed, then resume the list after it in a new child.
"""
import atexit
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
    fixed = re.fullmatch(r'typing\.Annotated\[(.*), "FixedSize\((\d+)\)"\]', ann)
    if fixed:
        return [good_value(fixed.group(1))] * int(fixed.group(2))
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


def _alarm(signum, frame):
    raise KeyboardInterrupt


def under_asan():
    return "asan" in os.environ.get("LD_PRELOAD", "")


def run_child(mode, first, stride):
    # AddressSanitizer reserves far more address space than the limit; the parent caps its allocations
    # through ASAN_OPTIONS instead.
    if not under_asan():
        resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE_BYTES, ADDRESS_SPACE_BYTES))
    signal.signal(signal.SIGALRM, _alarm)
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
