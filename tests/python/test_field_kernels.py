"""Field kernels from Python: the three array forms, shapes, messages, layout independence and docstrings."""
import math

import numpy as np
import pytest

import _bindings as b
from conftest import assert_interruptible, doc_body

WIRE = np.array([[-1.0, 0.0, 0.0], [1.0, 0.0, 0.0]])
TWO_PI_INV = 1.0 / (2.0 * math.pi)

DOCS = [
    ("dipole_field_at_point", "Analytical point dipole field (mu0=1)."),
    ("biot_savart_wire_grid", "Biot\u2013Savart of polyline on a 3D grid (midpoint per segment)."),
    ("dipole_ring_field_grid", "Superposition of point dipoles on a 3D grid."),
    ("biot_savart_vector_potential_grid", "Computes Magnetic Vector Potential A on a grid."),
    ("curl3d_central", "Central\u2011difference curl with periodic BCs. vel:(Nx,Ny,Nz,3) -> curl:(Nx,Ny,Nz,3)"),
]


def test_docstrings_and_registration_order():
    names = list(vars(b))
    positions = [names.index(name) for name, _ in DOCS]
    assert positions == sorted(positions)
    assert names.index("compute_tarq_mass") > names.index("TARQGravity") > positions[-1]
    for name, text in DOCS:
        assert doc_body(getattr(b, name)) == "\n" + text + "\n"
    assert {name for name, _ in DOCS} <= set(b.list_bindings(pattern="")["functions"])


def grid(shape=(3, 4, 5), seed=1):
    rng = np.random.default_rng(seed)
    # Values exact in float32, so that a float32 copy holds the same points.
    return [rng.uniform(-2.0, 2.0, size=shape).astype(np.float32).astype(np.float64) for _ in range(3)]


def dipoles(n=4, seed=2):
    rng = np.random.default_rng(seed)
    return rng.uniform(-1.0, 1.0, size=(n, 3)), rng.uniform(-1.0, 1.0, size=(n, 3))


GRID_FUNCS = {
    "wire": lambda X, Y, Z: b.biot_savart_wire_grid(X, Y, Z, WIRE * 0.7 + 0.1, 1.5),
    "dipoles": lambda X, Y, Z: b.dipole_ring_field_grid(X, Y, Z, *dipoles()),
}


# ------------------------------------------------------------------------------------------------------------
# dipole_field_at_point


@pytest.mark.parametrize("r,expected", [
    ([1, 0, 0], [TWO_PI_INV, 0.0, 0.0]),
    ([0, 0, 0], [0.0, 0.0, 0.0]),
    ((2.0, 0.0, 0.0), [1 / (16 * math.pi), 0.0, 0.0]),
    (np.array([0.0, 2.0, 0.0]), [-1 / (32 * math.pi), 0.0, 0.0]),
])
def test_dipole_field_at_point(r, expected):
    got = b.dipole_field_at_point(r=r, m=[1.0, 0.0, 0.0])
    assert isinstance(got, list)
    assert got == pytest.approx(expected, abs=1e-17)


@pytest.mark.parametrize("r", [[1, 0], [1, 0, 0, 0], None, "abc"])
def test_dipole_field_at_point_needs_three_numbers(r):
    with pytest.raises(TypeError):
        b.dipole_field_at_point(r, [1, 0, 0])


# ------------------------------------------------------------------------------------------------------------
# The two grid fields


def test_wire_on_its_bisector_and_default_current():
    X, Y, Z = np.array([0.0]), np.array([1.0]), np.array([0.0])
    for Bx, By, Bz in (b.biot_savart_wire_grid(X, Y, Z, WIRE), b.biot_savart_wire_grid(X, Y, Z, WIRE, current=1.0)):
        assert Bz.tolist() == [TWO_PI_INV]
        assert Bx.tolist() == [0.0] and By.tolist() == [0.0]


def test_one_row_wire_gives_zeros_of_the_grid_shape():
    X, Y, Z = grid((2, 3))
    for B in b.biot_savart_wire_grid(X, Y, Z, np.array([[1.0, 2.0, 3.0]])):
        assert B.shape == (2, 3) and B.dtype == np.float64 and not B.any()


@pytest.mark.parametrize("kind", sorted(GRID_FUNCS))
@pytest.mark.parametrize("shape", [(), (0,), (7,), (2, 3), (3, 1, 4), (2, 0, 3)])
def test_grid_shapes_are_kept(kind, shape):
    X, Y, Z = grid(shape)
    out = GRID_FUNCS[kind](X, Y, Z)
    assert isinstance(out, tuple) and len(out) == 3
    for B in out:
        assert B.shape == shape and B.dtype == np.float64 and B.flags.c_contiguous
    if shape == ():
        # A 0-d grid is one point: the same field as a one-element grid at that point.
        one = GRID_FUNCS[kind](X.reshape(1), Y.reshape(1), Z.reshape(1))
        assert [float(B) for B in out] == [float(B[0]) for B in one]


def layouts(X):
    """Views and copies of X in other layouts and dtypes with the same values."""
    big = np.zeros((X.shape[0] * 2, X.shape[1], X.shape[2] * 3))
    big[::2, :, ::3] = X
    return {
        "fortran": np.asfortranarray(X),
        "sliced": big[::2, :, ::3],
        "float32": X.astype(np.float32),
        "big-endian": X.astype(">f8"),
        "transposed-back": np.ascontiguousarray(X.T).T,
    }


@pytest.mark.parametrize("kind", sorted(GRID_FUNCS))
def test_grid_results_do_not_depend_on_layout(kind):
    X, Y, Z = grid((3, 4, 5))
    ref = GRID_FUNCS[kind](X, Y, Z)
    for name, (x, y, z) in zip(layouts(X), zip(*(layouts(A).values() for A in (X, Y, Z)))):
        got = GRID_FUNCS[kind](x, y, z)
        for g, r in zip(got, ref):
            assert np.array_equal(g, r), name
    # Transposed grids: the points are the elements in row-major order of the transposed shape.
    got = GRID_FUNCS[kind](X.T, Y.T, Z.T)
    want = GRID_FUNCS[kind](*(np.ascontiguousarray(A.T) for A in (X, Y, Z)))
    for g, w in zip(got, want):
        assert g.shape == (5, 4, 3) and np.array_equal(g, w)


# Grids of more than 2**20 elements are copied block by block (the copy polls for interrupts); the blocks run
# along the first axis whose trailing axes fit one block: here axis 0, a middle axis and the last axis.
@pytest.mark.parametrize("shape", [(1_100_000,), (3, 500, 1000), (2, 2, 2**20 + 7)])
def test_large_grids_do_not_depend_on_layout(shape):
    X = grid(shape, seed=4)[0]
    views = {
        "fortran": np.asfortranarray(X),
        "reversed": X[::-1],
        "strided": np.stack([X, -X], axis=-1)[..., 0],
        "broadcast": np.broadcast_to(X[..., :1], shape),
        "float32": X.astype(np.float32),
        "big-endian": X.astype(">f8"),
    }
    wire = WIRE * 0.7 + 0.1
    for name, v in views.items():
        want = b.biot_savart_wire_grid(*[np.ascontiguousarray(v, dtype=np.float64)] * 3, wire)
        got = b.biot_savart_wire_grid(v, v, v, wire)
        assert all(np.array_equal(g, w) for g, w in zip(got, want)), name


def test_other_dtypes_are_converted():
    Xi, Yi, Zi = (np.array(v, dtype=dt) for v, dt in (([0, 2], np.int32), ([1, 3], np.int64), ([0, 1], np.uint8)))
    got = b.biot_savart_wire_grid(Xi, Yi, Zi, WIRE.astype(np.int16))
    want = b.biot_savart_wire_grid(*(A.astype(np.float64) for A in (Xi, Yi, Zi)), WIRE)
    for g, w in zip(got, want):
        assert np.array_equal(g, w)
    pos, mom = dipoles()
    got = b.dipole_ring_field_grid(Xi, Yi, Zi, pos.astype(np.float32), mom.astype(np.float32))
    want = b.dipole_ring_field_grid(*(A.astype(np.float64) for A in (Xi, Yi, Zi)),
                                    pos.astype(np.float32).astype(np.float64), mom.astype(np.float32).astype(np.float64))
    for g, w in zip(got, want):
        assert np.array_equal(g, w)


def test_inputs_are_not_changed():
    X, Y, Z = grid((4,))
    copies = [A.copy() for A in (X, Y, Z)]
    pos, mom = dipoles()
    b.dipole_ring_field_grid(X, Y, Z, pos, mom)
    b.biot_savart_wire_grid(X, Y, Z, WIRE)
    assert all(np.array_equal(A, C) for A, C in zip((X, Y, Z), copies))


@pytest.mark.parametrize("bad", ["X", "wire"])
def test_lists_are_not_plain_arrays(bad):
    X, Y, Z = grid((3,))
    args = [X.tolist() if bad == "X" else X, Y, Z, WIRE.tolist() if bad == "wire" else WIRE]
    with pytest.raises(TypeError):
        b.biot_savart_wire_grid(*args)
    pos, mom = dipoles()
    with pytest.raises(TypeError):
        b.dipole_ring_field_grid(X, Y, Z, pos.tolist(), mom)
    with pytest.raises(TypeError):
        b.dipole_ring_field_grid(X, Y, Z, pos, None)


WIRE_ERRORS = [
    # (X shape, Y shape, Z shape, wire shape, message)
    ((2, 3), (3, 2), (2, 3), (2, 3), "X, Y, Z must have identical shapes"),
    ((2, 3), (2, 3), (2, 4), (2, 3), "X, Y, Z must have identical shapes"),
    ((6,), (2, 3), (6,), (2, 3), "X, Y, Z must share the same number of dimensions"),
    ((), (1,), (), (2, 3), "X, Y, Z must share the same number of dimensions"),
    ((4,), (4,), (4,), (0, 3), "wire_points must have at least 1 row"),
    ((4,), (4,), (4,), (3,), "wire_points must have shape [N,3]"),
    ((4,), (4,), (4,), (3, 2), "wire_points must have shape [N,3]"),
    ((4,), (4,), (4,), (0, 2), "wire_points must have shape [N,3]"),
    # The grid is checked before the wire.
    ((4,), (5,), (4,), (0, 3), "X, Y, Z must have identical shapes"),
]


@pytest.mark.parametrize("sx,sy,sz,sw,message", WIRE_ERRORS)
def test_wire_grid_shape_errors(sx, sy, sz, sw, message):
    with pytest.raises(ValueError) as e:
        b.biot_savart_wire_grid(np.zeros(sx), np.zeros(sy), np.zeros(sz), np.zeros(sw))
    assert str(e.value) == message


DIPOLE_ERRORS = [
    ((2, 3), (2, 3), (2, 2), "X, Y, Z must share the same number of dimensions"),
    ((0, 3), (0, 3), (5,), "X, Y, Z must have identical shapes"),
    ((0, 3), (2, 3), (4,), "positions must have at least 1 row"),
    ((2, 2), (2, 3), (4,), "positions must have shape [N,3]"),
    ((2, 3), (0, 3), (4,), "moments must have at least 1 row"),
    ((2, 3), (2, 3, 1), (4,), "moments must have shape [N,3]"),
    ((2, 3), (3, 3), (4,), "positions and moments must have the same number of rows"),
]


@pytest.mark.parametrize("sp,sm,sz,message", DIPOLE_ERRORS)
def test_dipole_grid_shape_errors(sp, sm, sz, message):
    with pytest.raises(ValueError) as e:
        b.dipole_ring_field_grid(np.zeros(4), np.zeros(4), np.zeros(sz), np.zeros(sp), np.zeros(sm))
    assert str(e.value) == message


def test_unconvertible_arrays():
    X, Y, Z = grid((2,))
    words = np.array(["a", "b"], dtype=object)
    with pytest.raises(ValueError, match="^Inputs must be convertible to float64 arrays$"):
        b.biot_savart_wire_grid(words, Y, Z, WIRE)
    pos, mom = dipoles(2)
    with pytest.raises(ValueError, match="^Inputs must be convertible to float64 arrays$"):
        b.dipole_ring_field_grid(X, Y, Z, pos, np.array([["x", "y", "z"]] * 2, dtype=object))


def test_nan_and_inf_coordinates_propagate():
    X = np.array([np.nan, 0.0, np.inf])
    Bx, By, Bz = b.biot_savart_wire_grid(X, np.ones(3), np.zeros(3), WIRE)
    assert math.isnan(Bz[0]) and Bz[1] == TWO_PI_INV
    Bx, By, Bz = b.dipole_ring_field_grid(X, np.ones(3), np.zeros(3), WIRE, WIRE)
    assert math.isnan(Bx[0])


# ------------------------------------------------------------------------------------------------------------
# biot_savart_vector_potential_grid


def test_vector_potential_values_and_forms():
    Ax, Ay, Az = b.biot_savart_vector_potential_grid([[-1, 0, 0], [1, 0, 0]], [[0, 1, 0], [0, 0, 0]])
    assert Ax.tolist() == [TWO_PI_INV, 0.0] and Ay.tolist() == [0.0, 0.0] and Az.tolist() == [0.0, 0.0]
    assert Ax.ndim == 1 and Ax.dtype == np.float64
    rng = np.random.default_rng(5)
    P, G = rng.uniform(-1, 1, (9, 3)), rng.uniform(-2, 2, (13, 3))
    ref = b.biot_savart_vector_potential_grid(P, G, current=-0.5)
    # Strided views, Fortran order and integer-free conversions give the same values.
    bigP = np.zeros((18, 6))
    bigP[::2, ::2] = P
    for p, g in ((bigP[::2, ::2], np.asfortranarray(G)), (P.tolist(), G.tolist()), (tuple(map(tuple, P)), G)):
        got = b.biot_savart_vector_potential_grid(polyline=p, grid=g, current=-0.5)
        assert all(np.array_equal(x, y) for x, y in zip(got, ref))


@pytest.mark.parametrize("P,G,expected_len", [([[1, 2, 3]], [[0, 0, 0], [1, 1, 1]], 2),
                                              (np.zeros((0, 3)), [[0, 0, 0]], 1),
                                              (WIRE, np.zeros((0, 3)), 0)])
def test_vector_potential_degenerate(P, G, expected_len):
    for A in b.biot_savart_vector_potential_grid(P, G):
        assert A.shape == (expected_len,) and not A.any()


@pytest.mark.parametrize("P,G,message", [
    (np.zeros((3,)), np.zeros((2, 3)), "polyline must have shape [N,3]"),
    (np.zeros((2, 4)), np.zeros((2, 2)), "polyline must have shape [N,3]"),
    (np.zeros((2, 3)), np.zeros((2, 3, 1)), "grid must have shape [M,3]"),
    (np.zeros((2, 3)), 5.0, "grid must have shape [M,3]"),
])
def test_vector_potential_shape_errors(P, G, message):
    with pytest.raises(ValueError) as e:
        b.biot_savart_vector_potential_grid(P, G)
    assert str(e.value) == message


def test_vector_potential_unconvertible():
    with pytest.raises(TypeError):
        b.biot_savart_vector_potential_grid("abc", [[0, 0, 0]])
    with pytest.raises(TypeError):
        b.biot_savart_vector_potential_grid([[0, 0, 0], [1, 2]], [[0, 0, 0]])


# ------------------------------------------------------------------------------------------------------------
# curl3d_central


def test_curl_of_a_shear_field():
    ny, h = 8, 0.25
    j = np.arange(ny)
    vel = np.zeros((3, ny, 2, 3))
    vel[:, :, :, 0] = np.sin(2 * np.pi * j / ny)[None, :, None]
    curl = b.curl3d_central(vel, h)
    assert curl.shape == vel.shape and curl.dtype == np.float64
    jp, jm = (j + 1) % ny, (j - 1) % ny
    # The difference divided by 2h, as (a - b)/h2 - 0/h2.
    expected = 0.0 / (h + h) - (np.sin(2 * np.pi * jp / ny) - np.sin(2 * np.pi * jm / ny)) / (h + h)
    assert np.array_equal(curl[:, :, :, 2], np.broadcast_to(expected[None, :, None], (3, ny, 2)))
    assert not curl[..., :2].any()


def test_curl_forms_and_degenerate_grids():
    rng = np.random.default_rng(9)
    vel = rng.uniform(-1, 1, (3, 4, 5, 3))
    ref = b.curl3d_central(vel, 0.5)
    assert np.array_equal(b.curl3d_central(np.asfortranarray(vel), spacing=0.5), ref)
    assert np.array_equal(b.curl3d_central(vel.tolist(), 0.5), ref)
    assert not b.curl3d_central(np.full((4, 4, 4, 3), 2.5), 0.1).any()
    assert not b.curl3d_central(np.ones((1, 1, 1, 3)), 1.0).any()
    assert b.curl3d_central(np.zeros((0, 4, 4, 3)), 1.0).shape == (0, 4, 4, 3)
    with np.errstate(all="ignore"):
        zero = b.curl3d_central(vel, 0.0)
    assert not np.isfinite(zero).all()


def test_large_curl_fields_do_not_depend_on_layout():
    # 64 x 64 x 100 x 3 elements: more than one block of the polled copy.
    vel = np.random.default_rng(10).uniform(-1, 1, (64, 64, 100, 3))
    for v in (np.asfortranarray(vel), vel[::-1], np.broadcast_to(vel[:1], vel.shape), vel.astype(">f8")):
        assert np.array_equal(b.curl3d_central(v, 0.5), b.curl3d_central(np.ascontiguousarray(v, np.float64), 0.5))


@pytest.mark.parametrize("shape", [(4, 4, 4, 2), (4, 4, 3), (3,), (), (2, 2, 2, 3, 1)])
def test_curl_shape_errors(shape):
    with pytest.raises(ValueError) as e:
        b.curl3d_central(np.zeros(shape), 1.0)
    assert str(e.value) == "curl3d_central: vel must be (Nx,Ny,Nz,3)"


def test_curl_unconvertible():
    with pytest.raises(TypeError):
        b.curl3d_central("field", 1.0)
    with pytest.raises(TypeError):
        b.curl3d_central(np.zeros((2, 2, 2, 3)), "h")


# ------------------------------------------------------------------------------------------------------------
# Long loops stop on a pending signal


@pytest.mark.parametrize("call", [
    lambda X: b.biot_savart_wire_grid(X, X, X, np.random.default_rng(1).uniform(-1, 1, (20000, 3))),
    lambda X: b.dipole_ring_field_grid(X, X, X, np.ones((20000, 3)), np.ones((20000, 3))),
    lambda X: b.biot_savart_vector_potential_grid(np.random.default_rng(1).uniform(-1, 1, (20000, 3)),
                                                   np.stack([X.ravel()] * 3, axis=1)),
], ids=["wire", "dipoles", "potential"])
def test_grid_loops_are_interruptible(call):
    X = np.linspace(-1.0, 1.0, 200000)
    assert_interruptible(lambda: call(X), 0.05)
