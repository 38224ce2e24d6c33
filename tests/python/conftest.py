"""Small fixtures shared by the Python tests."""
import math
import signal
import time

import numpy as np
import pytest

import _bindings


def doc_body(obj):
    """The docstring without the generated signature line (its layout depends on the binding library)."""
    return obj.__doc__.split("\n", 1)[1]


def trefoil(n):
    """n points of the torus-type trefoil (2 + cos 3t)(cos 2t, sin 2t) + sin 3t e_z, end point excluded."""
    t = 2.0 * math.pi * np.arange(n) / n
    r = 2.0 + np.cos(3.0 * t)
    return np.stack([r * np.cos(2.0 * t), r * np.sin(2.0 * t), np.sin(3.0 * t)], axis=1)


def make_block(a_x=(), b_x=(), a_y=(), b_y=(), a_z=(), b_z=(), header=""):
    block = _bindings.FourierBlock()
    block.header = header
    block.a_x, block.b_x, block.a_y, block.b_y, block.a_z, block.b_z = (
        list(a_x), list(b_x), list(a_y), list(b_y), list(a_z), list(b_z))
    return block


@pytest.fixture
def circle_block():
    """Circle of radius 2 in the xy-plane, traversed once."""
    return make_block([2.0], [0.0], [0.0], [2.0], [0.0], [0.0])


# The embedded "3_1" text: one block of five rows (a_x b_x a_y b_y a_z b_z).
TREFOIL_ROWS = [
    (0.0, 0.224483, 0.224483, 0.0, 0.0, 0.0),
    (0.995730, 0.0, 0.0, 0.995730, 0.0, 0.0),
    (0.0, 0.0, 0.0, 0.0, 0.445727, 0.0),
    (0.0, 0.0, 0.0, 0.0, 0.0, 0.0),
    (0.0, 0.221238, -0.221238, 0.0, 0.0, 0.0),
]


def fseries_text(rows, header="% test knot"):
    return header + "\n" + "".join(" ".join(f"{v:12.6f}" for v in row) + "\n" for row in rows)


@pytest.fixture
def trefoil_block():
    cols = list(zip(*TREFOIL_ROWS))
    return make_block(*cols, header="% test knot")


@pytest.fixture
def fseries_file(tmp_path):
    """A .fseries file with a two-row block followed by the five-row trefoil block."""
    path = tmp_path / "knot.test_1.fseries"
    path.write_text(fseries_text([(1, 0, 0, 1, 0, 0), (0, 0, 0, 0, 0, 0)], "% small") + "\n"
                    + fseries_text(TREFOIL_ROWS))
    return path


def check_keyword_call(fn, kwargs, expected):
    """fn called by keyword and by position (in the keywords' order) returns expected, of expected's type."""
    got = fn(**kwargs)
    assert got == expected and type(got) is type(expected)
    assert fn(*kwargs.values()) == expected


class AlarmStop(Exception):
    """What the alarm handler of `assert_interruptible` raises."""


def assert_interruptible(call, seconds=0.02):
    """A Python signal handler's exception, raised while `call` runs, stops it and reaches the caller within a
    second of the signal. The calls are sized to run far longer: a loop without interrupt polls would run on
    to its end, and only then would the handler run."""
    def handler(signum, frame):
        raise AlarmStop()

    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, seconds)
        signalled = time.monotonic() + seconds
        with pytest.raises(AlarmStop):
            call()
        stopped_after = time.monotonic() - signalled
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert stopped_after < 1.0
