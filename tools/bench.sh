#!/usr/bin/env bash
# Times Kestrine.exe and the plain C baseline under Wine against the emulated
# endpoint, and compares their median wall time and peak memory.
#
#   bench.sh BUILD_DIR WINE64
set -euo pipefail

tools=$(dirname "$(realpath "$0")")
build=$(realpath "$1")
wine64=$2
runs=${BENCH_RUNS:-40}
readonly max_ratio=1.10 max_size=1048576

"$tools/wine-prefix.sh" up "$wine64" "$build/emulated_endpoint.dll" \
  "$build/wine"
trap '"$tools/wine-prefix.sh" down "$wine64" "$build/wine"' EXIT
export WINEPREFIX=$build/wine WINEDEBUG=-all
export KESTRINE_EMULATED_STATE="Z:${build//\//\\}\\bench.state"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Succeeds for a number greater than zero only.
positive() { awk -v v="$1" 'BEGIN { exit !(v ~ /^[0-9]*\.?[0-9]+([eE][-+]?[0-9]+)?$/ && v + 0 > 0) }'; }

# Stops the benchmark: a failed run or a missing figure is no measurement.
give_up() {
  echo "bench: $1" >&2
  [ -s "$build/bench.log" ] && cat "$build/bench.log" >&2
  exit 1
}

# Median wall time in seconds of PROGRAM ARGS..., from hyperfine.
median_time() {
  local csv=$build/bench.csv median
  rm -f "$csv"
  hyperfine --shell=none --warmup 3 --runs "$runs" --style none \
    --export-csv "$csv" "$wine64 $*" >"$build/bench.log" 2>&1 ||
    give_up "hyperfine failed on: $wine64 $*"
  median=$(awk -F, 'NR == 2 { print $4 }' "$csv" 2>/dev/null)
  positive "$median" ||
    give_up "hyperfine gave no median time for: $wine64 $* (got '$median')"
  echo "$median"
}

# Median peak resident memory in KiB of PROGRAM ARGS... over the runs.
median_peak_kib() {
  local peak
  for _ in $(seq 1 $((runs / 4))); do
    /usr/bin/time -f '%M' -o "$build/bench.rss" "$wine64" "$@" \
      >/dev/null 2>"$build/bench.log" ||
      give_up "a run failed under /usr/bin/time: $wine64 $*"
    peak=$(tail -n 1 "$build/bench.rss")
    positive "$peak" || give_up "no peak memory for: $wine64 $* (got '$peak')"
    echo "$peak"
  done | median
}

verdict() { awk -v r="$1" -v m="$2" 'BEGIN { print (r <= m) ? "met" : "MISSED" }'; }

printf '%-14s %12s %12s %7s %12s %12s %7s\n' command "Kestrine ms" "baseline ms" ratio \
  "Kestrine KiB" "baseline KiB" ratio
for command in "GetVolume" "SetVolume 40"; do
  # A figure that could not be measured ends the benchmark before any ratio.
  # shellcheck disable=SC2086 # the command's words are the arguments
  kestrine_time=$(median_time "$build/Kestrine.exe" $command) || exit 1
  # shellcheck disable=SC2086
  baseline_time=$(median_time "$build/volume_baseline.exe" $command) || exit 1
  # shellcheck disable=SC2086
  kestrine_peak=$(median_peak_kib "$build/Kestrine.exe" $command) || exit 1
  # shellcheck disable=SC2086
  baseline_peak=$(median_peak_kib "$build/volume_baseline.exe" $command) ||
    exit 1
  awk -v c="$command" -v kt="$kestrine_time" -v bt="$baseline_time" \
    -v km="$kestrine_peak" -v bm="$baseline_peak" -v max="$max_ratio" 'BEGIN {
      tr = kt / bt; mr = km / bm
      printf "%-14s %12.1f %12.1f %7.3f %12d %12d %7.3f   time %s, memory %s\n",
        c, kt * 1000, bt * 1000, tr, km, bm, mr,
        (tr <= max) ? "met" : "MISSED", (mr <= max) ? "met" : "MISSED" }'
done

size=$(stat -c %s "$build/Kestrine.exe")
echo "Kestrine.exe (stripped, with its icon): $size bytes of at most $max_size:" \
  "$(verdict "$size" "$max_size")"
echo "targets: wall-time and peak-memory ratios at most $max_ratio; medians of $runs runs"
