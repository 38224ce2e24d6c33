# Sourced by the project scripts: finds CPython 3.10, prepares .venv and the system packages the build needs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
# The build, the tests and the benchmarks use the packages of .venv and the module installed there (the
# sanitizer run names its own build explicitly), never what a PYTHONPATH of the caller names.
unset PYTHONPATH

find_python310() {
    if command -v pyenv >/dev/null 2>&1 && pyenv prefix 3.10 >/dev/null 2>&1; then
        echo "$(pyenv prefix 3.10)/bin/python3.10"
    elif command -v python3.10 >/dev/null 2>&1; then
        command -v python3.10
    else
        echo "CPython 3.10 not found (tried 'pyenv prefix 3.10' and python3.10)" >&2
        return 1
    fi
}

# GoogleTest and ccache come from Debian's packages.
if [ ! -f /usr/include/gtest/gtest.h ] || ! command -v ccache >/dev/null 2>&1; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update -qq >/dev/null
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev ccache >/dev/null
    else
        echo "warning: libgtest-dev or ccache missing and not root; install them with apt-get" >&2
    fi
fi

VENV="$ROOT/.venv"
if [ ! -x "$VENV/bin/python" ]; then
    "$(find_python310)" -m venv "$VENV"
fi
PY="$VENV/bin/python"
STAMP="$VENV/.deps-installed"
if [ ! -f "$STAMP" ] || [ "$ROOT/tools/requirements-dev.txt" -nt "$STAMP" ]; then
    "$PY" -m pip install -q --upgrade pip >/dev/null
    "$PY" -m pip install -q -r "$ROOT/tools/requirements-dev.txt"
    touch "$STAMP"
fi
export PATH="$VENV/bin:$PATH"
# Unquoted, so that "~" names the home directory also where HOME is unset (set -u would stop on $HOME).
export CCACHE_DIR=${CCACHE_DIR:-~/.cache/ccache}
export CCACHE_BASEDIR="$ROOT"
export CCACHE_NOHASHDIR=1
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# Builds and installs _bindings into .venv; the same build tree also holds the C++ tests and benchmarks.
build_and_install() {
    "$PY" -m pip install -q --no-build-isolation --no-deps \
        -Cbuild-dir="$ROOT/build/py" \
        -Ccmake.define.TARQ_BUILD_TESTS=ON \
        -Ccmake.define.TARQ_BUILD_BENCH=ON \
        "$ROOT"
}
