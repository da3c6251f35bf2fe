#!/usr/bin/env bash
# Builds the project with the given sanitizers into its own folder and runs the whole suite there.
set -euo pipefail
sanitizers=$1
build=$2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVXA_SANITIZE="$sanitizers" \
  -DVXA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
cd "$build"
ctest --output-on-failure -j"$(nproc)"
