"""Swirl force field from Python: bit-for-bit agreement with a float32 re-implementation, layout and errors."""
import ctypes
import ctypes.util

import numpy as np
import pytest

import _bindings as b
from conftest import assert_interruptible, doc_body

# NumPy's own float32 sine is not glibc's sinf, so the reference takes the sine from the C math library that
# the module calls; every other step is NumPy float32 arithmetic.
_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.sinf.restype = ctypes.c_float
_libm.sinf.argtypes = [ctypes.c_float]
_sinf = np.vectorize(lambda v: _libm.sinf(float(v)), otypes=[np.float32])

f32 = np.float32


def swirl_reference(res, time):
    t = f32(time)
    coord = np.arange(res, dtype=f32) / f32(res) + f32(-0.5)
    x = coord[:, None]
    y = coord[None, :]
    r2 = (y * y + x * x) + f32(1e-5)
    r = np.sqrt(r2)
    m = _sinf(r * f32(10) + t * f32(-6)) * f32(0.03) + f32(1)
    a = f32(0.25) / r
    bb = f32(0.1) / r2
    fx = m * (bb * (-x) - y * a)
    fy = m * (a * x - y * bb)
    assert fx.dtype == np.float32 and fy.dtype == np.float32
    return np.stack([fx.ravel(), fy.ravel()], axis=1)


@pytest.mark.parametrize("res,time", [(4, 0.0), (7, 1.3), (64, 0.1), (64, -7.0), (33, 123.456)])
def test_bitwise_equal_to_float32_reimplementation(res, time):
    got = np.array(b.compute_swirl_field(res, time), dtype=np.float64)
    want = swirl_reference(res, time).astype(np.float64)
    assert got.shape == (res * res, 2)
    assert np.array_equal(got.view(np.uint64), want.view(np.uint64))


def test_result_layout_and_types():
    field = b.compute_swirl_field(3, 0.5)
    assert type(field) is list and len(field) == 9
    assert all(type(e) is list and len(e) == 2 and all(type(v) is float for v in e) for e in field)
    assert b.compute_swirl_field(0, 0.5) == []
    assert b.compute_swirl_field(-3, 0.5) == [[0.0, 0.0]] * 9
    # x is the slower index: entry 1 of a 4 x 4 grid is the point (-0.5, -0.25), the mirror image of entry 4.
    f4 = b.compute_swirl_field(4, 0.0)
    ref = swirl_reference(4, 0.0)
    assert f4[1] == ref[1].tolist() and f4[1] != f4[4]


def test_time_is_narrowed_to_single_precision():
    narrowed = float(np.float32(0.1))
    assert narrowed != 0.1
    assert b.compute_swirl_field(8, 0.1) == b.compute_swirl_field(8, narrowed)
    assert b.compute_swirl_field(8, 2) == b.compute_swirl_field(8, 2.0)
    nan_field = b.compute_swirl_field(2, float("nan"))
    assert all(v != v for e in nan_field for v in e)


def test_keywords_and_docstring():
    assert b.compute_swirl_field(time=0.0, res=2) == b.compute_swirl_field(2, 0.0)
    assert doc_body(b.compute_swirl_field) == (
        "\n\n\t\t\t\tCompute 2D swirl force field at a given resolution and time.\n\t\t\t\n")


@pytest.mark.parametrize("res", [46341, -46341, 65536, 65537, 2**31 - 1])
def test_entry_count_beyond_32_bits_raises(res):
    with pytest.raises(ValueError) as err:
        b.compute_swirl_field(res, 0.0)
    assert str(err.value) == "vector"


@pytest.mark.parametrize("args", [(4.0, 0.0), ("4", 0.0), (None, 0.0), (4, "0"), (4, None), (2**31, 0.0), (4,)])
def test_wrong_arguments_raise_type_error(args):
    with pytest.raises(TypeError):
        b.compute_swirl_field(*args)


def test_large_field_is_interruptible():
    # The handler's exception stops the computation or the conversion, whichever is running.
    assert_interruptible(lambda: b.compute_swirl_field(3000, 0.0))
