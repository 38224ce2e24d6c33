"""Sequence arguments and results: an array (or another object with the buffer protocol) converts exactly as its
tolist() passed in its place; lists and tuples convert as the binding library converts any other sequence;
results come back as lists converted from a copy; long conversions in and out stop on an interrupt."""
import array
import functools
import gc
import math
import struct
import sys
import types
import warnings

import numpy as np
import pytest

import _bindings as B
from conftest import alarm, assert_interruptible


def bits(value):
    """The value with every float replaced by its bytes, so that equality is equality of bits (NaNs, -0.0)."""
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, [bits(v) for v in value])
    if isinstance(value, B.FourierResult):
        return ("FourierResult", bits(value.positions), bits(value.tangents))
    return (type(value).__name__, value)


def outcome(call):
    """What a call gives: its result with exact bits, or the type and message of what it raises. The binding
    library's refusal quotes the arguments (whose repr differs between an array and a list): left out."""
    try:
        return ("returned", bits(call()))
    except Exception as e:  # noqa: BLE001 - the exception is the outcome compared
        return ("raised", type(e), str(e).split("\n\nInvoked with:")[0])


# ---- probes: a bound function for each converted type, whose result shows the converted value ----

def float_seq(v):
    block = B.FourierBlock()
    block.a_x = v
    return block.a_x


def points(v):
    knot = B.fourier_knot()
    knot.points = v
    return knot.points


def coefficient_rows(v):
    return B.evaluate_fourier_series(v, [0.3, 1.1, 2.9])


def rows_of_floats(v):
    return B.pressure_gradient(v, 0.5, 0.25)


def point_lists(v):
    return B.ParticleEvaluator(v).get_filaments()


def pd_code(v):
    # The solver is an outside module: a stand-in keeps what the call hands it.
    seen = []
    stub = types.ModuleType("tarq_hypvol_no_deps")
    stub.hyperbolic_volume_from_pd = lambda crossings, verbose: seen.append(crossings) or 0.0
    saved = sys.modules.get("tarq_hypvol_no_deps")
    sys.modules["tarq_hypvol_no_deps"] = stub
    try:
        B.hyperbolic_volume_from_pd(v)
    finally:
        if saved is None:
            del sys.modules["tarq_hypvol_no_deps"]
        else:
            sys.modules["tarq_hypvol_no_deps"] = saved
    return seen[0]


RNG = np.random.default_rng(19)
FLOATS = np.array([0.5, -1.25, 3.0e300, -0.0, math.inf, math.nan, 5e-324, 1.0 / 3.0])

# (probe, values of the shape it takes)
PROBES = {
    "float sequence": (float_seq, FLOATS),
    "points": (points, RNG.standard_normal((5, 3))),
    "coefficient rows": (coefficient_rows, RNG.standard_normal((4, 6))),
    "rows of floats": (rows_of_floats, RNG.standard_normal((4, 5))),
    "point lists": (point_lists, RNG.standard_normal((2, 4, 3))),
    "PD code": (pd_code, np.array([[1, 5, 2, 4], [3, 1, 4, 6], [5, 3, 6, 2]])),
}


def strided(a):
    """A view of a's values whose last axis (or only axis) steps over other values."""
    wide = np.full(a.shape + (2,), 7, dtype=a.dtype)
    wide[..., 0] = a
    return wide[..., 0]


def unaligned(a):
    raw = bytearray(a.nbytes + 1)
    view = np.frombuffer(raw, dtype=a.dtype, offset=1, count=a.size).reshape(a.shape)
    view[...] = a
    return view


def holding(items, shape=None):
    out = np.empty(len(items) if shape is None else shape, dtype=object)
    if shape == ():
        out[()] = items
    else:
        for i, item in enumerate(items):
            out[i] = item
    return out


def variants(a):
    """Arrays and other buffers of a's values (or near them) in every layout and type, and wrong shapes."""
    n = len(a)
    out = {
        "float64": a.astype(np.float64),
        "strided": strided(a.astype(np.float64)),
        "reversed": a.astype(np.float64)[::-1],
        "Fortran order": np.asfortranarray(a.astype(np.float64)),
        "broadcast row": np.broadcast_to(a.astype(np.float64)[:1], a.shape),
        "broadcast scalar": np.broadcast_to(np.float64(0.75), a.shape),
        "big-endian": a.astype(">f8"),
        "unaligned": unaligned(a.astype(np.float64)),
        "read-only": np.frombuffer(a.astype(np.float64).tobytes()).reshape(a.shape),
        "float32": a.astype(np.float32),
        "float16": a.astype(np.float16),
        "big-endian float32": a.astype(">f4"),
        "longdouble": a.astype(np.longdouble),
        "complex": a.astype(np.complex128),
        "int8": (a * 10).astype(np.int8),
        "int32": (a * 1000).astype(np.int32),
        "int64 beyond 2**53": np.full(a.shape, 2**53 + 1, dtype=np.int64),
        "big-endian int64": np.full(a.shape, -(2**62) - 3, dtype=">i8"),
        "uint64 max": np.full(a.shape, 2**64 - 1, dtype=np.uint64),
        "bool": a > 0,
        "object floats": a.astype(object),
        "object ints": np.full(a.shape, 3, dtype=object),
        "object with a str": np.where(np.arange(a.size).reshape(a.shape) == a.size - 1, "x", a.astype(object)),
        "str": a.astype(str),
        "datetime": np.zeros(a.shape, dtype="datetime64[s]"),
        "empty": a[:0],
        "first row only": a[:1],
        "0-d": np.array(1.5),
        "0-d object holding the list": holding(a.tolist(), ()),
        "0-d object holding the array": holding(a, ()),
        "object array of rows": holding(list(a)),
        "flattened": a.ravel(),
        "one more axis": a[..., None],
        "one axis before": a[None],
        "last axis empty": np.zeros(a.shape[:-1] + (0,)) if a.ndim > 1 else np.zeros((n, 0)),
        "(0, 3)": np.zeros((0, 3)),
        "(n, 2)": np.zeros((n, 2)),
        "(n, 3)": np.zeros((n, 3)),
        "masked, no mask": np.ma.masked_array(a),
        "masked": np.ma.masked_array(a, mask=np.arange(a.size).reshape(a.shape) == 0),
        "memoryview": memoryview(np.ascontiguousarray(a, dtype=np.float64)),
        "memoryview of ints": memoryview(np.ascontiguousarray(a * 10, dtype=np.int32)),
        "ctypes": np.ctypeslib.as_ctypes(np.ascontiguousarray(a, dtype=np.float64)),
    }
    if a.ndim == 1:
        out["array.array"] = array.array("d", a.astype(np.float64).tolist())
        out["array.array of ints"] = array.array("q", (a * 10).astype(np.int64).tolist())
    if a.ndim == 2:
        out["matrix"] = np.asmatrix(a)
        fields = [(f"f{k}", "f8") for k in range(a.shape[1])]
        out["structured rows"] = np.array([tuple(r) for r in a.tolist()], dtype=fields)
    return out


def as_list(x):
    """What x.tolist() gives, for an array or another object with the buffer protocol."""
    return x.tolist() if isinstance(x, np.ndarray) else np.asarray(x).tolist()


with np.errstate(all="ignore"), warnings.catch_warnings():
    warnings.simplefilter("ignore", PendingDeprecationWarning)  # np.matrix
    VARIANTS = {p: variants(values) for p, (_, values) in PROBES.items()}
CASES = [(p, v) for p in PROBES for v in VARIANTS[p]]


@pytest.mark.filterwarnings("ignore::numpy.exceptions.ComplexWarning")
@pytest.mark.parametrize("probe, variant", CASES, ids=[f"{p}-{v}" for p, v in CASES])
def test_a_buffer_converts_as_its_tolist(probe, variant):
    fn = PROBES[probe][0]
    x = VARIANTS[probe][variant]
    assert outcome(lambda: fn(x)) == outcome(lambda: fn(as_list(x)))


# ---- lists and tuples against the binding library's own conversion of other sequences ----

class Seq:
    """A sequence that is no list or tuple, which the binding library converts item by item."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, k):
        return self.items[k]


def wrapped(x):
    """x with every list and tuple level made a Seq."""
    return Seq([wrapped(v) for v in x]) if isinstance(x, (list, tuple)) else x


class AsFloat:
    def __float__(self):
        return 2.5


class AsIndex:
    def __index__(self):
        return 7


class FloatSub(float):
    pass


ROW = [1.5, -2.0, 0.25]
ELEMENTS = {
    "floats": 0.5, "ints": 3, "bools": True, "huge int": 2**1100, "float subclass": FloatSub(1.25),
    "numpy float64": np.float64(0.1), "numpy float32": np.float32(0.1), "numpy int64": np.int64(-4),
    "0-d array": np.array(2.0), "1-element array": np.array([2.0]), "__float__": AsFloat(), "__index__": AsIndex(),
    "complex": 1j, "str": "1.0", "None": None,
}
LIST_CASES = {
    "float sequence": (float_seq, lambda e: [0.5, e, -1.0]),
    "float tuple": (float_seq, lambda e: (0.5, e, -1.0)),
    "points": (points, lambda e: [ROW, [e, 0.0, 1.0], (2.0, 3.0, e)]),
    "points, rows of 2": (points, lambda e: [ROW, [e, 0.0]]),
    "coefficient rows": (coefficient_rows, lambda e: [[e, 1.0, 2.0, 3.0, 4.0, 5.0], [0.5] * 6]),
    "rows of floats": (rows_of_floats, lambda e: [[0.0, e, 1.0], [2.0, 3.0, 4.0], []]),
    "point lists": (point_lists, lambda e: [[ROW, [e, e, e]], []]),
    "PD code": (pd_code, lambda e: [[1, 2, 3, 4], [e, 2, 1, 3]]),
}
LIST_TABLE = [(c, e) for c in LIST_CASES for e in ELEMENTS]


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("case, element", LIST_TABLE, ids=[f"{c}-{e}" for c, e in LIST_TABLE])
def test_a_list_converts_as_any_other_sequence(case, element):
    fn, make = LIST_CASES[case]
    value = make(ELEMENTS[element])
    assert outcome(lambda: fn(value)) == outcome(lambda: fn(wrapped(value)))


def test_an_array_converts_at_any_level_as_its_tolist():
    rows = [np.array(ROW), np.array(ROW, dtype=np.float32), [1.0, 2.0, 3.0]]
    assert outcome(lambda: points(rows)) == outcome(lambda: points([as_list(r) for r in rows]))
    filaments = [RNG.standard_normal((3, 3)), RNG.standard_normal((2, 3)).astype(np.float32).tolist()]
    assert point_lists(filaments) == [filaments[0].tolist(), filaments[1]]


def test_a_nesting_that_never_ends_raises_recursion_error():
    x = np.empty((), dtype=object)
    x[()] = x
    with pytest.raises(RecursionError):
        float_seq(x)


def test_results_keep_their_types():
    assert type(float_seq(np.ones(3))) is list
    pts = points(np.ones((2, 3)))
    assert type(pts) is list and all(type(p) is list for p in pts)
    T, N, Bn = B.compute_frenet_frames(RNG.standard_normal((10, 3)))
    assert all(type(x) is list and type(x[0]) is list and type(x[0][0]) is float for x in (T, N, Bn))
    pairs = B.detect_reconnection_candidates(np.zeros((7, 3)).tolist(), 1.0)
    assert pairs[:2] == [(0, 5), (0, 6)] and all(type(p) is tuple for p in pairs)
    assert type(B.compute_swirl_field(4, 0.0)[0][0]) is float


# (the list read, what the handler puts in its place)
CHANGED_LISTS = {
    "floats": (lambda: [0.5] * (2 * 10**7), float_seq, [1.5] * 10),
    "rows": (lambda: [[0.5, 0.5, 0.5]] * (10**7), points, [[1.5, 1.5, 1.5]] * 10),
    "rows through the float caster": (lambda: [[np.float32(0.5)] * 3] * (10**7), points, [[1.5, 1.5, 1.5]] * 10),
}


@pytest.mark.parametrize("name", sorted(CHANGED_LISTS))
def test_a_signal_handler_changing_the_list_being_read(name):
    make, fn, replacement = CHANGED_LISTS[name]
    values = make()
    n = len(values)
    first, last = values[0], replacement[0]

    def handler(signum, frame):
        values[:] = replacement  # frees the list's item storage; no exception: the conversion goes on

    with alarm(handler, 0.01):
        got = fn(values)
    # The items read before the change, then any read after it; the handler ran long before the end.
    assert len(got) < n and got == [first] * (len(got) - got.count(last)) + [last] * got.count(last)


def lists_in(x):
    if isinstance(x, (list, tuple)):
        yield x
        for v in x:
            yield from lists_in(v)


RESULTS = {
    "float sequence": lambda: float_seq(np.ones(5)),
    "points": lambda: points(np.ones((5, 3))),
    "rows of points": lambda: B.pressure_gradient(np.ones((4, 3))),
    "point lists": lambda: point_lists([np.ones((3, 3)), np.ones((2, 3))]),
    "Frenet frames": lambda: B.compute_frenet_frames(RNG.standard_normal((6, 3))),
    "swirl rows": lambda: B.compute_swirl_field(3, 0.5),
}


@pytest.mark.parametrize("collector", ["enabled", "disabled"])
@pytest.mark.parametrize("name", sorted(RESULTS))
def test_every_list_of_a_result_is_tracked_by_the_collector(name, collector):
    """Lists kept out of the collector's view while they are built are handed to it at the end: a list left
    untracked would never be collected in a reference cycle."""
    if collector == "disabled":
        gc.disable()
    try:
        result = RESULTS[name]()
    finally:
        gc.enable()
    assert all(gc.is_tracked(x) for x in lists_in(result))


# ---- results converted from a copy ----

class Replacer:
    """Garbage in a reference cycle whose finalizer, run by a collection, replaces a field once."""

    def __init__(self, replace, log):
        self.replace, self.log, self.cycle = replace, log, self

    def __del__(self):
        self.log.append("replaced")
        self.replace()


def field(name):
    """A zero-argument call of the getter of a field of o, made ahead of the call itself."""
    return lambda o: functools.partial(getattr(type(o), name).fget, o)


GETTERS = {
    # (object, its getter as a call made ahead, what the finalizer does). Values of the same length are
    # written over the storage in place; an empty or shorter field frees it.
    "FourierBlock.a_x": (lambda: float_block(200000), field("a_x"), lambda o: setattr(o, "a_x", [0.0] * 200000)),
    "FourierBlock.a_x, freed": (lambda: float_block(200000), field("a_x"), lambda o: setattr(o, "a_x", [])),
    "fourier_knot.points": (
        lambda: point_knot(100000), field("points"), lambda o: setattr(o, "points", np.zeros((100000, 3)))),
    "RelativisticMetrics.time_dilation_map": (
        lambda: metrics(200000), field("time_dilation_map"),
        lambda o: setattr(o, "time_dilation_map", np.zeros(200000))),
    "VortexKnotSystem.get_positions": (
        lambda: knot_system(100000), lambda o: o.get_positions, lambda o: o.initialize_trefoil_knot(10)),
}


def float_block(n):
    block = B.FourierBlock()
    block.a_x = RNG.standard_normal(n)
    return block


def point_knot(n):
    knot = B.fourier_knot()
    knot.points = RNG.standard_normal((n, 3))
    return knot


def metrics(n):
    m = B.RelativisticMetrics()
    m.time_dilation_map = RNG.standard_normal(n)
    return m


def knot_system(n):
    s = B.VortexKnotSystem()
    s.initialize_trefoil_knot(n)
    return s


@pytest.mark.parametrize("name", sorted(GETTERS))
def test_a_result_survives_a_finalizer_replacing_its_field(name):
    make, bind, replace = GETTERS[name]
    obj = make()
    get = bind(obj)
    before = get()
    log = []
    threshold = gc.get_threshold()
    gc.disable()
    try:
        Replacer(lambda: replace(obj), log)
        # Lists kept so that no list comes from the interpreter's free list: the first one the conversion
        # allocates is a new object, whose allocation runs a collection, and with it the finalizer.
        kept = [[] for _ in range(200)]
        gc.set_threshold(1)
        gc.enable()
        got = get()
    finally:
        gc.set_threshold(*threshold)
        gc.enable()
    del kept
    assert log == ["replaced"]
    assert got == before and get() != before


# ---- long conversions stop on an interrupt ----

def slow_knot():
    knot = B.fourier_knot()
    knot.points = np.broadcast_to(0.5, (2 * 10**7, 3))
    return knot


def object_items(shape):
    return np.broadcast_to(np.array(0.5, dtype=object), shape)


# (what to make first, the call: each runs for seconds unless a poll stops it)
LONG_CONVERSIONS = {
    # NumPy scalars that are no floats: each goes through the float caster's conversion.
    "list in": (lambda: [[np.float32(0.5)] * 3] * (3 * 10**7), lambda x: points(x)),
    "array of objects in": (lambda: object_items((2 * 10**7, 3)), lambda x: points(x)),
    "array of objects in, one axis": (lambda: object_items((12 * 10**7,)), lambda x: float_seq(x)),
    "list out": (slow_knot, lambda knot: knot.points),
    "broadcast table in, rows out": (lambda: np.broadcast_to(1.0, (4096, 4096)), B.pressure_gradient),
}


@pytest.mark.parametrize("name", sorted(LONG_CONVERSIONS))
def test_a_long_conversion_stops_on_an_interrupt(name):
    make, call = LONG_CONVERSIONS[name]
    x = make()
    assert_interruptible(lambda: call(x))
