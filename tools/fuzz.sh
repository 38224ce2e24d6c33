#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and UBSan (build/fuzz) and runs each
# for a bounded time from its seed corpus. Usage: tools/fuzz.sh [seconds per target, default 60] [target ...]
# New inputs that add coverage collect in build/fuzz/corpus/<target>; a crash leaves its input in
# build/fuzz/artifacts/ and fails the run.
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
SECONDS_PER_TARGET="${1:-60}"
shift || true

# clang and its runtime libraries (libFuzzer among them) come from Debian's packages.
if ! command -v clang++ >/dev/null 2>&1 || ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep -q /; then
    if [ "$(id -u)" = 0 ]; then
        apt-get update -qq >/dev/null
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
    else
        echo "clang or libclang-rt-dev missing and not root; install them with apt-get" >&2
        exit 1
    fi
fi

B="$ROOT/build/fuzz"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARQ_BUILD_FUZZ=ON -DTARQ_BUILD_MODULE=OFF -DTARQ_BUILD_TESTS=OFF -DPython_EXECUTABLE="$PY" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for src in "$ROOT"/tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build "$B" --target "${targets[@]}"

export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export ASAN_OPTIONS="detect_leaks=1"
mkdir -p "$B/artifacts"
for name in "${targets[@]}"; do
    work="$B/corpus/$name"
    mkdir -p "$work"
    echo "== $name (${SECONDS_PER_TARGET}s)"
    if ! "$B/$name" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$B/artifacts/$name-" "$work" "$ROOT/tests/fuzz/corpus/$name" >"$B/$name.log" 2>&1; then
        tail -n 60 "$B/$name.log" >&2
        echo "fuzz target $name failed (log: $B/$name.log)" >&2
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$B/$name.log" || true
done
