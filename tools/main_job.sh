#!/usr/bin/env bash
# Builds the module and runs the typical request: a trefoil from the built-in catalogue, evolved in time.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
build_and_install
"$PY" "$ROOT/examples/main_job.py" "$@"
