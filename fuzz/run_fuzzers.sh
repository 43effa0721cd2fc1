#!/usr/bin/env bash
# Runs every fuzz target listed in BUILD/fuzz/targets.txt for SECONDS each, JOBS at a time, from
# its seeds in fuzz/corpus/<target>/ and what earlier runs found (BUILD/corpus/<target>/). A
# crash leaves its input in BUILD/artifacts/ and fails the run; each target's log is in
# BUILD/logs/. Usage: fuzz/run_fuzzers.sh BUILD SECONDS JOBS
set -u
build=$1 seconds=$2 jobs=$3
cd "$(dirname "$0")/.."
mkdir -p "$build/artifacts" "$build/logs"

run_one() {
  local name=$1 opts=$2 seeds=$3
  mkdir -p "$build/corpus/$name" "fuzz/corpus/$name"
  local log="$build/logs/$name.log"
  # shellcheck disable=SC2086 # options and seed folders are lists
  if UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
     "$build/fuzz/$name" $opts -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" "fuzz/corpus/$name" $seeds \
       >"$log" 2>&1; then
    echo "== $name: $seconds s, $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs," \
         "$(grep -E '^stat::new_units_added' "$log" | awk '{print $2}') new units"
  else
    tail -n 60 "$log"
    echo "fuzz: $name failed; its input is in $build/artifacts/"
    return 1
  fi
}

failed=0
running=0
while IFS='|' read -r name opts seeds; do
  run_one "$name" "$opts" "$seeds" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done < "$build/fuzz/targets.txt"
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
