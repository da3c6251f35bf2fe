#!/usr/bin/env bash
# Runs the answer fuzzer for a fixed number of inputs, starting from the stored corpus. An input
# that crashes is written to tests/fuzz/corpus/, where the normal suite replays it from then on.
set -euo pipefail
build=${1:-build-fuzz}
runs=${2:-10000}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVXA_FUZZ=ON -DVXA_BUILD_WINDOW=OFF -DVXA_BUILD_BENCH=OFF \
  -DVXA_SANITIZE=address,undefined,fuzzer-no-link >/dev/null
cmake --build "$build" --target answer_fuzzer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp tests/fuzz/corpus/* "$work"/
"$build"/tests/fuzz/answer_fuzzer -runs="$runs" -max_len=4096 -seed=1 \
  -artifact_prefix=tests/fuzz/corpus/crash- "$work"
