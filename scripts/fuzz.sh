#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs each for a bounded time, starting from
# the seeds in fuzz/seeds/ and the corpus kept in build/fuzz/corpus/ by earlier runs.
# Installs what it needs first (scripts/install-deps.sh, as root).
#   scripts/fuzz.sh          30 seconds per target
#   scripts/fuzz.sh 5        5 seconds per target (CI's short pass)
# A finding is kept as build/fuzz/finding-<target>-*; the script then fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

"$(pwd)/scripts/install-deps.sh" fuzz
CXX=clang++ cmake -S fuzz -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2

failed=()
for target in report_descriptor replies scenario record; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="build/fuzz/finding-$target-")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  log=build/fuzz/$target.log
  if build/fuzz/velquor_fuzz_$target "${options[@]}" "$corpus" "fuzz/seeds/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target: $runs executions in ${seconds} s, corpus $(ls "$corpus" | wc -l) inputs, nothing found"
  else
    echo "fuzz: $target: FOUND A FAULT (log $log):" >&2
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -n 20 "$log" >&2
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: faults found by: ${failed[*]}" >&2
  exit 1
fi
