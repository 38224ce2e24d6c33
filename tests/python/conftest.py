"""Small fixtures shared by the Python tests, and the process state they rely on."""
import contextlib
import math
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
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


# ---- What the tests rely on is set here, never inherited from whatever started the run: a CI runner, nohup
# or a background job of a script may start it with SIGINT ignored or signals blocked (both survive exec),
# in another locale, working directory or environment.

HERE = pathlib.Path(__file__).parent
# The variables the module reads: the knot file search and the particle evaluator's database.
MODULE_VARIABLES = ("TARQ_KNOT_DATA_DIR", "TARQ_RESOURCE_DIR", "TARQ_IDEAL_DATABASE")
# What a child needs from the run to start the interpreter under test: the sanitizer run preloads its
# runtime and passes its options.
RUN_VARIABLES = ("PATH", "LD_LIBRARY_PATH", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")


def handle_signal(signum, handler):
    """Installs handler for signum and unblocks signum; returns the previous handler and signal mask.
    Python installs no KeyboardInterrupt handler in a process started with SIGINT ignored, and a signal
    blocked by the starter would never arrive."""
    old = signal.signal(signum, handler)
    return old, signal.pthread_sigmask(signal.SIG_UNBLOCK, [signum])


@contextlib.contextmanager
def alarm(handler, after, every=0.0):
    """handler runs on SIGALRM `after` seconds into the block, then every `every` seconds (0: once); the
    timer, handler and mask are restored on leaving."""
    old, mask = handle_signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, after, every)
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)


def child_env(**variables):
    """The whole environment of a child interpreter: what the run needs to start it, the module the tests
    import and the test helpers on its path, a fixed locale and temporary directory, and `variables`; no
    TARQ_* variable unless given."""
    env = {name: os.environ[name] for name in RUN_VARIABLES if name in os.environ}
    env.update(PYTHONPATH=os.pathsep.join([os.path.dirname(_bindings.__file__), str(HERE)]),
               LC_ALL="C.UTF-8", TMPDIR=tempfile.gettempdir())
    env.update(variables)
    return env


def pytest_configure(config):
    # With SIGCHLD ignored, children are reaped unseen and subprocess reads every exit status as 0.
    signal.signal(signal.SIGCHLD, signal.SIG_DFL)


@pytest.fixture(scope="session", autouse=True)
def own_environment(tmp_path_factory):
    """No TARQ_* variable of the caller's, and an empty working directory: the module tries relative paths
    ("knot_fseries/", "resources/", "ideal_database.txt", ...) before giving up. Tests that need either set
    it themselves."""
    with pytest.MonkeyPatch.context() as mp:
        for name in MODULE_VARIABLES:
            mp.delenv(name, raising=False)
        mp.chdir(tmp_path_factory.mktemp("cwd"))
        yield


@pytest.fixture(scope="session")
def comma_locale(tmp_path_factory):
    """(name, child variables) of a locale whose decimal point is a comma: an installed one, or one generated
    with localedef and found through LOCPATH; skips when neither is possible."""
    probe = "import locale, sys\nlocale.setlocale(locale.LC_NUMERIC, sys.argv[1])\n" \
            "assert locale.localeconv()['decimal_point'] == ','"

    def usable(name, variables):
        return subprocess.run([sys.executable, "-c", probe, name], capture_output=True,
                              env=child_env(**variables)).returncode == 0

    for name in ("de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"):
        if usable(name, {}):
            return name, {}
    localedef = shutil.which("localedef")
    if localedef is None:
        pytest.skip("no comma-decimal locale installed and no localedef to generate one")
    folder = tmp_path_factory.mktemp("locales")
    made = subprocess.run([localedef, "-i", "de_DE", "-f", "UTF-8", str(folder / "de_DE.UTF-8")],
                          capture_output=True, text=True)
    variables = {"LOCPATH": str(folder)}
    if not usable("de_DE.UTF-8", variables):
        pytest.skip("localedef could not generate de_DE.UTF-8: " + made.stderr.strip())
    return "de_DE.UTF-8", variables


class AlarmStop(Exception):
    """What the alarm handler of `assert_interruptible` raises."""


def assert_interruptible(call, seconds=0.02):
    """A Python signal handler's exception, raised while `call` runs, stops it and reaches the caller within a
    second of the signal. The calls are sized to run far longer: a loop without interrupt polls would run on
    to its end, and only then would the handler run."""
    def handler(signum, frame):
        raise AlarmStop()

    with alarm(handler, seconds):
        signalled = time.monotonic() + seconds
        with pytest.raises(AlarmStop):
            call()
        stopped_after = time.monotonic() - signalled
    assert stopped_after < 1.0
