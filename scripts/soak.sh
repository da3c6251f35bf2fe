#!/usr/bin/env bash
# The randomized fault campaign over more seeds than the suite runs: N seeds from FIRST, its six
# shards split over two processes. A failing seed is printed with its faults; replay it with
# VXA_CAMPAIGN_SEED=seed build/tests/robustness/robustness_campaign (VXA_CAMPAIGN_VERBOSE=1 prints
# every run).
set -euo pipefail
build=${1:-build}
count=${2:-20000}
first=${3:-0}
cmake --build "$build" --target robustness_campaign vxa_d2xx_standin
campaign="$build"/tests/robustness/robustness_campaign
export VXA_CAMPAIGN_FIRST=$first VXA_CAMPAIGN_COUNT=$count
status=0
pids=()
for index in 0 1; do
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$index "$campaign" --gtest_filter='Seeds/*' \
    >"$build/soak-$index.log" 2>&1 &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
grep -h -E '^(VXA_CAMPAIGN_SEED|    Which is|shard )' "$build"/soak-0.log "$build"/soak-1.log || true
echo "soak: $count seeds from $first: $([ $status = 0 ] && echo passed || echo FAILED)" \
  "(logs: $build/soak-0.log, $build/soak-1.log)"
exit $status
