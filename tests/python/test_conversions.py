"""Sequence arguments and results: an array (or another object with the buffer protocol) converts exactly as its
tolist() passed in its place; lists and tuples convert as the binding library converts any other sequence;
results come back as lists converted from a copy; long conversions in and out stop on an interrupt."""
import array
import functools
import gc
import math
import re
import struct
import sys
import types
import warnings

import numpy as np
import pytest

import _bindings as B
import hostile_calls
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


def point(v):
    return B.grad_phi(v)


UNIT_VECTORS = ([1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [0.0, 0.0, 1.0])


def matrix(v):
    # With omega = e_k (and no other term) the right-hand side is column k of grad_u.
    return [B.compute_vorticity_rhs(e, v, 0.0, [0.0] * 3, [0.0] * 3, 1.0) for e in UNIT_VECTORS]


RNG = np.random.default_rng(19)
FLOATS = np.array([0.5, -1.25, 3.0e300, -0.0, math.inf, math.nan, 5e-324, 1.0 / 3.0])
# Values for the rows by themselves, drawn apart so that the values of the other probes stay as they were.
ROW_RNG = np.random.default_rng(22)
GRID_SHAPE = [3, 4, 5]
GRID_FIELD = ROW_RNG.standard_normal((60, 3))  # a field on a grid of GRID_SHAPE


def grid_shape(v):
    return B.BiotSavart.compute_vorticity(GRID_FIELD, v, 0.5)


# (probe, values of the shape it takes)
PROBES = {
    "float sequence": (float_seq, FLOATS),
    "points": (points, RNG.standard_normal((5, 3))),
    "coefficient rows": (coefficient_rows, RNG.standard_normal((4, 6))),
    "rows of floats": (rows_of_floats, RNG.standard_normal((4, 5))),
    "point lists": (point_lists, RNG.standard_normal((2, 4, 3))),
    "PD code": (pd_code, np.array([[1, 5, 2, 4], [3, 1, 4, 6], [5, 3, 6, 2]])),
    "point": (point, np.array([1.5, -0.0, -2.75])),
    "matrix": (matrix, ROW_RNG.standard_normal((3, 3))),
    "grid shape": (grid_shape, np.array(GRID_SHAPE)),
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
# Grid shapes whose tolist() the grid takes, in other types and layouts, and the float32 shape [2.0] * 3.
_shape = np.array(GRID_SHAPE)
VARIANTS["grid shape"].update({
    "int8 of the shape": _shape.astype(np.int8),
    "uint16 of the shape": _shape.astype(np.uint16),
    "big-endian int64 of the shape": _shape.astype(">i8"),
    "strided int32 of the shape": strided(_shape.astype(np.int32)),
    "object ints of the shape": _shape.astype(object),
    "masked, no mask, of the shape": np.ma.masked_array(_shape),
    "memoryview of the shape": memoryview(_shape.astype(np.int32)),
    "array.array of the shape": array.array("i", GRID_SHAPE),
    "float32 twos": np.full(3, 2.0, dtype=np.float32),
    "beyond 32 bits": np.array([2**32 + 3, 4, 5]),
})
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
    "point": (point, lambda e: [0.5, e, -1.0]),
    "point tuple": (point, lambda e: (e, 0.5, -1.0)),
    "matrix": (matrix, lambda e: [ROW, [e, 0.0, 1.0], (2.0, 3.0, e)]),
    "matrix, a row of 2": (matrix, lambda e: [ROW, [e, 0.0], ROW]),
    "grid shape": (grid_shape, lambda e: [3, e, 5]),
}
LIST_TABLE = [(c, e) for c in LIST_CASES for e in ELEMENTS]


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("case, element", LIST_TABLE, ids=[f"{c}-{e}" for c, e in LIST_TABLE])
def test_a_list_converts_as_any_other_sequence(case, element):
    fn, make = LIST_CASES[case]
    value = make(ELEMENTS[element])
    assert outcome(lambda: fn(value)) == outcome(lambda: fn(wrapped(value)))


# ---- rows by themselves: every parameter that takes a point, a matrix or a grid shape ----

POINT_A, POINT_B, POINT_C = [0.5, -1.25, 3.0], [2.0, 0.25, -4.0], [-1.5, 8.0, 0.125]
MATRIX = [[0.0, 1.0, 2.0], [3.0, 0.5, 5.0], [7.0, 11.0, -0.0]]
FILAMENT = [[1.0, 0.0, 0.0], [0.0, 1.0, 0.0], [-1.0, 0.0, 0.0], [0.0, -1.0, 0.0]]
MAGNUS = B.MagnusBernoulliIntegrator(1.0, 0.5, 0.25, 1.0)
PT, MX, SH = "point", "matrix", "grid shape"


def component_field(name):
    def set_and_get(v):
        component = B.IdealABComponent()
        setattr(component, name, v)
        return getattr(component, name)
    return set_and_get


def listed(fn):
    return lambda *args: fn(*args).tolist()


# (label as hostile_calls names the call, the call, its parameters: (name, kind of row or None, a good value))
ROW_FUNCTIONS = [
    ("grad_phi", B.grad_phi, [("phi_grad", PT, POINT_A)]),
    ("baroclinic_term", B.baroclinic_term, [("grad_rho", PT, POINT_A), ("grad_p", PT, POINT_B), ("rho", None, 2.0)]),
    ("biot_savart_velocity", B.biot_savart_velocity,
     [("r", PT, POINT_A), ("filament_points", None, FILAMENT), ("tangent_vectors", None, FILAMENT[1:] + FILAMENT[:1]),
      ("circulation", None, 1.5)]),
    ("compute_vorticity", B.compute_vorticity, [("grad", MX, MATRIX)]),
    ("compute_vorticity_rhs", B.compute_vorticity_rhs,
     [("omega", PT, POINT_A), ("grad_u", MX, MATRIX), ("div_u", None, 0.5), ("grad_rho", PT, POINT_B),
      ("grad_p", PT, POINT_C), ("rho", None, 2.0)]),
    ("crocco_gradient", B.crocco_gradient,
     [("velocity", PT, POINT_A), ("vorticity", PT, POINT_B), ("grad_phi", PT, POINT_C), ("grad_p", PT, POINT_B),
      ("rho", None, 2.0)]),
    ("crocco_relation", B.crocco_relation,
     [("vorticity", PT, POINT_A), ("rho", None, 2.0), ("pressure_gradient", PT, POINT_B)]),
    ("dipole_field_at_point", B.dipole_field_at_point, [("r", PT, POINT_A), ("m", PT, POINT_B)]),
    ("is_incompressible", B.is_incompressible, [("dudx", PT, POINT_A), ("dvdy", PT, POINT_B), ("dwdz", PT, POINT_C)]),
    ("rotating_frame_rhs", B.rotating_frame_rhs,
     [("velocity", PT, POINT_A), ("vorticity", PT, POINT_B), ("grad_phi", PT, POINT_C), ("grad_p", PT, POINT_B),
      ("omega", PT, POINT_A), ("rho", None, 2.0)]),
    ("MagnusBernoulliIntegrator.compute_magnus_force", MAGNUS.compute_magnus_force,
     [("tangent", PT, POINT_A), ("normal", PT, POINT_B), ("curvature_radius", None, 2.0), ("v_knot", PT, POINT_C),
      ("v_bg", PT, POINT_B)]),
    ("MagnusBernoulliIntegrator.compute_swirl_coulomb_accel", MAGNUS.compute_swirl_coulomb_accel,
     [("eval_pos", PT, POINT_A), ("source_pos", PT, POINT_B)]),
    ("IdealABComponent.A0=", component_field("A0"), [("arg0", PT, POINT_A)]),
    ("IdealABComponent.B0=", component_field("B0"), [("arg0", PT, POINT_A)]),
    ("BiotSavart.compute_vorticity", B.BiotSavart.compute_vorticity,
     [("arg0", None, GRID_FIELD), ("arg1", SH, GRID_SHAPE), ("arg2", None, 0.5)]),
    ("BiotSavart.extract_interior", B.BiotSavart.extract_interior,
     [("arg0", None, GRID_FIELD), ("arg1", SH, GRID_SHAPE), ("arg2", None, 1)]),
    ("compute_vorticity_grid", listed(B.compute_vorticity_grid),
     [("velocity", None, GRID_FIELD), ("shape", SH, GRID_SHAPE), ("spacing", None, 0.5)]),
    ("extract_interior_field", listed(B.extract_interior_field),
     [("field", None, GRID_FIELD), ("shape", SH, GRID_SHAPE), ("margin", None, 1)]),
]


def in_place_of(fn, params, k):
    """fn called with v in place of parameter k and the good values of the others."""
    return lambda v: fn(*[v if j == k else good for j, (_, _, good) in enumerate(params)])


# (label, parameter name): (kind of row, call with a value in the parameter's place)
ROW_PARAMETERS = {(label, name): (kind, in_place_of(fn, params, k))
                  for label, fn, params in ROW_FUNCTIONS for k, (name, kind, _) in enumerate(params) if kind}


def test_the_table_holds_every_parameter_that_takes_a_row_by_itself():
    found = set()
    for label, func, name, _ in hostile_calls._functions():
        setter = label.endswith("=")
        target = func.fset if setter else func.__init__ if name == "__init__" else func
        for params in hostile_calls.signatures(target, "" if setter else name):
            found.update((label, p) for p, ann, _ in params
                         if re.fullmatch(r'typing\.Annotated\[collections\.abc\.Sequence\[.*, "FixedSize\(\d+\)"\]',
                                         ann))
    assert found == set(ROW_PARAMETERS)


_point, _matrix, _shape = np.array(POINT_A), np.array(MATRIX), np.array(GRID_SHAPE)
# Arrays and other buffers put in a row's place, each compared with its tolist().
ROW_ARRAYS = {
    PT: {
        "float64": _point, "complex": np.array([1 + 2j, 2, 3]), "complex, no imaginary part": _point + 0j,
        "masked": np.ma.masked_array(_point, mask=[True, False, False]), "masked, no mask": np.ma.masked_array(_point),
        "(3, 1)": _point[:, None], "(1, 3)": _point[None], "float32": _point.astype(np.float32),
        "float16": _point.astype(np.float16), "longdouble": _point.astype(np.longdouble),
        "int64": np.array([1, -2, 3]), "int8": np.array([1, -2, 3], dtype=np.int8),
        "uint64 max": np.full(3, 2**64 - 1, dtype=np.uint64), "bool": np.array([True, False, True]),
        "NaN": np.full(3, math.nan), "inf and -0.0": np.array([math.inf, -0.0, -math.inf]),
        "length 2": _point[:2], "length 4": np.append(_point, 1.0), "empty": _point[:0], "0-d": np.array(1.5),
        "strided": strided(_point), "big-endian": _point.astype(">f8"), "broadcast": np.broadcast_to(0.5, (3,)),
        "object floats": _point.astype(object), "object with None": np.array([1.0, None, 2.0], dtype=object),
        "0-d object holding the list": holding(POINT_A, ()), "str": _point.astype(str),
        "memoryview": memoryview(_point), "array.array": array.array("d", POINT_A),
        "array.array of ints": array.array("i", [1, -2, 3]),
    },
    MX: {
        "float64": _matrix, "complex": _matrix + 1j, "complex, no imaginary part": _matrix + 0j,
        "masked": np.ma.masked_array(_matrix, mask=np.eye(3, dtype=bool)), "masked, no mask": np.ma.masked_array(_matrix),
        "(3, 3, 1)": _matrix[..., None], "(1, 3, 3)": _matrix[None], "(3, 1)": _matrix[:, :1], "(9,)": _matrix.ravel(),
        "(3,)": _matrix[0], "(3, 2)": _matrix[:, :2], "(2, 3)": _matrix[:2], "(4, 3)": np.vstack([_matrix, _matrix[:1]]),
        "float32": _matrix.astype(np.float32), "int64": _matrix.astype(np.int64), "bool": _matrix > 1,
        "NaN": np.full((3, 3), math.nan), "Fortran order": np.asfortranarray(_matrix), "transposed": _matrix.T,
        "broadcast row": np.broadcast_to(_matrix[0], (3, 3)), "object (3, 3)": _matrix.astype(object),
        "object rows": holding([_matrix[0], _matrix[1].astype(np.float32), MATRIX[2]]),
        "object rows, one complex": holding([_matrix[0], _matrix[1] + 1j, _matrix[2]]),
        "object rows, one (3, 1)": holding([_matrix[0], _matrix[1][:, None], _matrix[2]]),
        "object rows, one masked": holding([_matrix[0], np.ma.masked_array(_matrix[1], mask=[0, 1, 0]), _matrix[2]]),
        "0-d object holding the list": holding(MATRIX, ()), "memoryview": memoryview(_matrix),
        "structured rows": np.array([tuple(r) for r in MATRIX], dtype=[("x", "f8"), ("y", "f8"), ("z", "f8")]),
    },
    SH: {
        "int64": _shape, "float32 twos": np.full(3, 2.0, dtype=np.float32), "float64": _shape.astype(np.float64),
        "complex": _shape + 0j, "masked": np.ma.masked_array(_shape, mask=[False, True, False]),
        "masked, no mask": np.ma.masked_array(_shape), "(3, 1)": _shape[:, None], "int8": _shape.astype(np.int8),
        "int16": _shape.astype(np.int16), "int32": _shape.astype(np.int32), "uint8": _shape.astype(np.uint8),
        "big-endian int64": _shape.astype(">i8"), "strided": strided(_shape), "bool": np.array([True, True, True]),
        "beyond 32 bits": np.array([2**32 + 3, 4, 5]), "negative": -_shape, "length 2": _shape[:2],
        "length 4": np.append(_shape, 1), "object ints": _shape.astype(object),
        "object with a float": np.array([3, 4.0, 5], dtype=object), "NaN": np.full(3, math.nan),
        "memoryview": memoryview(_shape.astype(np.int32)), "array.array": array.array("i", GRID_SHAPE),
        "0-d": np.array(3),
    },
}
ROW_IDS = [f"{label}({name})" for label, name in ROW_PARAMETERS]


@pytest.mark.filterwarnings("error::numpy.exceptions.ComplexWarning")
@pytest.mark.parametrize("parameter", list(ROW_PARAMETERS), ids=ROW_IDS)
def test_each_row_parameter_converts_an_array_as_its_tolist(parameter):
    kind, call = ROW_PARAMETERS[parameter]
    differ = {}
    for name, x in ROW_ARRAYS[kind].items():
        got, expected = outcome(lambda: call(x)), outcome(lambda: call(as_list(x)))
        if got != expected:
            differ[name] = (got, expected)
    assert differ == {}


# Lists and tuples put in a row's place, given an element to hold.
ROW_LISTS = {
    PT: [lambda e: [0.5, e, -1.0], lambda e: (e, 0.5, -1.0), lambda e: [0.5, e], lambda e: [e, 0.5, -1.0, 2.0]],
    MX: [lambda e: [POINT_A, [e, 0.0, 1.0], POINT_B], lambda e: ((e, 1.0, 2.0), POINT_A, POINT_B),
         lambda e: [POINT_A, [0.5, e], POINT_B], lambda e: [POINT_A, e, POINT_B], lambda e: [POINT_A, [e] * 3]],
    SH: [lambda e: [3, e, 5], lambda e: (e, 4, 5), lambda e: [3, e]],
}


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
@pytest.mark.parametrize("parameter", list(ROW_PARAMETERS), ids=ROW_IDS)
def test_each_row_parameter_converts_a_list_or_tuple_as_any_other_sequence(parameter):
    kind, call = ROW_PARAMETERS[parameter]
    differ = {}
    for element_name, element in {**ELEMENTS, "NaN": math.nan}.items():
        for k, make in enumerate(ROW_LISTS[kind]):
            value = make(element)
            got, expected = outcome(lambda: call(value)), outcome(lambda: call(wrapped(value)))
            if got != expected:
                differ[f"form {k}, {element_name}"] = (got, expected)
    assert differ == {}


@pytest.mark.parametrize("value", [None, 1.5, "abc", b"abc", {1: 2, 3: 4, 5: 6}, object()],
                         ids=["None", "float", "str", "bytes", "dict", "object"])
@pytest.mark.parametrize("parameter", list(ROW_PARAMETERS), ids=ROW_IDS)
def test_each_row_parameter_refuses_what_is_no_row(parameter, value):
    _, call = ROW_PARAMETERS[parameter]
    with pytest.raises(TypeError, match="incompatible function arguments"):
        call(value)


@pytest.mark.filterwarnings("error::numpy.exceptions.ComplexWarning")
def test_rows_that_lose_values_in_numpys_cast_are_refused():
    f32_twos = np.full(3, 2.0, dtype=np.float32)
    refused = [
        lambda: B.grad_phi(np.array([1 + 2j, 2, 3])),
        lambda: B.grad_phi(np.array([[1.0], [2.0], [3.0]])),
        lambda: B.grad_phi(np.ma.masked_array([1.0, 2.0, 3.0], mask=[True, False, False])),
        lambda: B.compute_vorticity(np.array(MATRIX) + 1j),
        lambda: B.compute_vorticity(np.array(MATRIX)[..., None]),
        lambda: B.extract_interior_field(GRID_FIELD, f32_twos, 0),
        lambda: B.extract_interior_field(GRID_FIELD, [2.0, 2.0, 2.0], 0),
        lambda: B.BiotSavart.compute_vorticity(GRID_FIELD, np.array(GRID_SHAPE) + 0j, 0.5),
    ]
    for call in refused:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()
    assert B.grad_phi(np.ma.masked_array([1.0, 2.0, 3.0])) == [1.0, 2.0, 3.0]
    assert B.grad_phi(np.array([1, -2, 3])) == B.grad_phi((1, -2, 3)) == [1.0, -2.0, 3.0]
    assert B.grad_phi(np.array([True, False, True])) == [1.0, 0.0, 1.0]
    assert all(math.isnan(v) for v in B.grad_phi(np.full(3, math.nan)))
    two = B.extract_interior_field(GRID_FIELD, np.array([2, 2, 2], dtype=np.int8), 0).tolist()
    assert two == B.extract_interior_field(GRID_FIELD, [2, 2, 2], 0).tolist() == GRID_FIELD[:8].tolist()


class LoggedRow:
    """A row that is no list or tuple, read item by item by the binding library: each read is logged, so
    that the log shows in how many overload passes a call read it."""

    def __init__(self, items, log):
        self.items, self.log = items, log

    def __len__(self):
        self.log.append("len")
        return len(self.items)

    def __getitem__(self, k):
        self.log.append(k)
        return self.items[k]


@pytest.mark.filterwarnings("error::numpy.exceptions.ComplexWarning")
def test_an_overloaded_call_takes_a_matrix_in_the_pass_its_tolist_would_be_taken_in():
    """compute_vorticity is overloaded: a matrix that the no-conversion pass takes is read once, one that only
    the converting pass takes is read twice. A row given as an array is read in the pass its tolist() is."""
    differ = {}
    for name, row in ROW_ARRAYS[PT].items():
        forms = {
            "list of rows": lambda log: [LoggedRow(POINT_A, log), row, POINT_B],
            "object array of rows": lambda log: holding([LoggedRow(POINT_A, log), row, POINT_B]),
        }
        logged = []
        expected = outcome(lambda: B.compute_vorticity([LoggedRow(POINT_A, logged), as_list(row), POINT_B]))
        for form, make in forms.items():
            log = []
            got = outcome(lambda: B.compute_vorticity(make(log)))
            if (got, log) != (expected, logged):
                differ[f"{name}, {form}"] = (got, log, expected, logged)
    assert differ == {}
    # Both passes are seen: floats are taken in the first, objects with __float__ only in the second.
    logs = []
    for row in (POINT_B, [AsFloat()] * 3):
        logs.append([])
        B.compute_vorticity([LoggedRow(POINT_A, logs[-1]), row, POINT_B])
    assert logs[0][-3:] == [0, 1, 2] and logs[1] == logs[0] * 2


def test_row_annotations_are_the_binding_librarys():
    """Rows read as the binding library names std::array: a sequence of the element's type of fixed size as
    a parameter, a list of fixed size as a result."""
    def annotations(fn, name):
        return {p: a for params in hostile_calls.signatures(fn, name) for p, a, _ in params}

    real = annotations(B.baroclinic_term, "baroclinic_term")["rho"]
    integer = annotations(B.extract_interior_field, "extract_interior_field")["margin"]
    point_in = f'typing.Annotated[collections.abc.Sequence[{real}], "FixedSize(3)"]'
    point_out = 'typing.Annotated[list[float], "FixedSize(3)"]'
    assert annotations(B.grad_phi, "grad_phi") == {"phi_grad": point_in}
    assert B.grad_phi.__doc__.startswith(f"grad_phi(phi_grad: {point_in}) -> {point_out}\n")
    assert annotations(B.compute_vorticity_rhs, "compute_vorticity_rhs")["grad_u"] == (
        f'typing.Annotated[collections.abc.Sequence[{point_in}], "FixedSize(3)"]')
    assert annotations(B.extract_interior_field, "extract_interior_field")["shape"] == (
        f'typing.Annotated[collections.abc.Sequence[{integer}], "FixedSize(3)"]')
    assert B.IdealABComponent.A0.fget.__doc__.startswith(f"(self: _bindings.IdealABComponent) -> {point_out}\n")
    assert f"-> tuple[{', '.join([point_out] * 4)}]\n" in B.evaluate_with_derivatives.__doc__
    assert f"(points: collections.abc.Sequence[{point_in}]," in B.compute_tarq_mass.__doc__


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
    # Rows by themselves: a list of floats, also in a tuple of results and as a field.
    assert all(type(x) is list and list(map(type, x)) == [float] * 3
               for x in (B.grad_phi(np.ones(3)), B.compute_vorticity(np.ones((3, 3))), B.IdealABComponent().A0))
    block = B.FourierBlock()
    block.a_x, block.b_x, block.a_y, block.b_y, block.a_z, block.b_z = [[1.0]] * 6
    derivatives = B.evaluate_with_derivatives(block, 0.5)
    assert type(derivatives) is tuple and len(derivatives) == 4
    assert all(type(x) is list and list(map(type, x)) == [float] * 3 for x in derivatives)


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
    "IdealABComponent.A0": (
        lambda: component_with_a0([1.5, -2.0, 0.25]), field("A0"), lambda o: setattr(o, "A0", [7.0, 8.0, 9.0])),
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


def component_with_a0(a0):
    c = B.IdealABComponent()
    c.A0 = a0
    return c


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
