#!/usr/bin/env bash
# Builds the core, the C++ tests and the module with AddressSanitizer and UBSan (build/asan) and runs the C++
# and Python tests under them; any report fails the run.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
B="$ROOT/build/asan"
# RelWithDebInfo: the project's own -O2 flags still apply, the module keeps its symbols for the reports.
cmake -S "$ROOT" -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARQ_SANITIZE=ON -DTARQ_BUILD_TESTS=ON -DTARQ_BUILD_MODULE=ON \
    -DPython_EXECUTABLE="$PY" -Dpybind11_DIR="$("$PY" -m pybind11 --cmakedir)" >/dev/null
cmake --build "$B"

export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ASAN_OPTIONS="strict_string_checks=1:detect_stack_use_after_return=1" \
    ctest --test-dir "$B" --output-on-failure -j2

# The interpreter itself is not instrumented: the runtime must be loaded first, and libstdc++ with it so that
# exceptions thrown across the module boundary use one copy. CPython's own allocations are not ours to
# judge: no leak report.
LIBASAN="$(g++ -print-file-name=libasan.so)"
LIBSTDCXX="$(g++ -print-file-name=libstdc++.so)"
cd "$ROOT/tests/python"
LD_PRELOAD="$LIBASAN $LIBSTDCXX" ASAN_OPTIONS="detect_leaks=0" PYTHONPATH="$B" \
    "$PY" -m pytest -q -p no:cacheprovider
