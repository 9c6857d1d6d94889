#!/usr/bin/env bash
# Replays each fuzz target's corpus, then fuzzes it for a fixed time, two
# targets at a time. Fails when any input crashes, hangs or breaks an
# invariant; the input is kept in BUILD_DIR/fuzz/findings/.
#
#   fuzz/run.sh BUILD_DIR [SECONDS_PER_TARGET] [TARGET...]
#
# BUILD_DIR is a clang build with the fuzz targets built
# (cmake --build BUILD_DIR --target morvane_fuzz). Targets: classfile link
# moxload receive rfc2217 options bench jdwp (all by default).
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [SECONDS_PER_TARGET] [TARGET...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-20}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(classfile link moxload receive rfc2217 options bench jdwp)
here=$(cd "$(dirname "$0")" && pwd)
parallel=2

# The seeds the build makes from real inputs, by target.
seeds_of() {
  case $1 in
    classfile) echo "$build/fuzz/seeds/classfile" ;;
    link) echo "$build/fuzz/seeds/link" ;;
    moxload) echo "$build/fuzz/seeds/mox" ;;
  esac
}

# Runs one target; its libFuzzer output goes to a log, shown only on failure.
fuzz_one() {
  local target=$1 binary="$build/fuzz/bin/fuzz_$1"
  local work="$build/fuzz/work/$target" findings="$build/fuzz/findings" log="$build/fuzz/logs/$target.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local corpora=("$here/corpus/$target")
  local seeds
  seeds=$(seeds_of "$target")
  [ -n "$seeds" ] && corpora+=("$seeds")
  local existing=()
  for dir in "${corpora[@]}"; do [ -d "$dir" ] && existing+=("$dir"); done

  local options=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/$target-" -print_final_stats=1)
  if ! "$binary" "${options[@]}" -runs=0 "${existing[@]}" >"$log" 2>&1 ||
     ! "$binary" "${options[@]}" -max_total_time="$seconds" "$work" "${existing[@]}" >>"$log" 2>&1; then
    echo "fuzz_$target: FINDING (inputs in $findings)"
    tail -n 60 "$log"
    return 1
  fi
  local runs coverage
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  echo "fuzz_$target: ${seconds}s, $runs runs, $coverage, no finding"
}

status=0
running=0
for target in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/bin/fuzz_$target" ]; then
    echo "fuzz_$target: not built in $build" >&2
    status=1
    continue
  fi
  fuzz_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit "$status"
