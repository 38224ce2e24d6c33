#!/usr/bin/env bash
# Builds the module and the C++ tests, then runs every test: C++ unit tests, data checks and Python tests.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
build_and_install
ctest --test-dir "$ROOT/build/py" --output-on-failure -j2
cd "$ROOT/tests/python"
"$PY" -m pytest -q
