#!/usr/bin/env bash
# The job of `make bench`: runs the benchmark programs, each part in a process of its own, shows
# what they say on the way, and ends with every figure, one "name value unit" per line.
set -euo pipefail
build=${1:-build}
figures=$(mktemp)
trap 'rm -f "$figures"' EXIT

run() {
  echo "== $*" >&2
  "$@" >>"$figures"
}

run "$build/bench/bench_micro"
run "$build/bench/bench_update" line
run "$build/bench/bench_update" cpu
run "$build/bench/bench_update" rss
run "$build/bench/bench_update" wait
run "$build/bench/bench_update" station

echo "== figures"
cat "$figures"
