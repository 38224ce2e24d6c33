#!/usr/bin/env bash
# Builds everything and runs the benchmarks (speed targets are checked here, never in the tests).
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
build_and_install
for exe in "$ROOT"/build/py/bench_*; do
    [ -x "$exe" ] || continue
    echo "== $(basename "$exe")"
    (cd "$ROOT" && "$exe")
done
for script in "$ROOT"/bench/bench_*.py; do
    echo "== $(basename "$script")"
    "$PY" "$script"
done
