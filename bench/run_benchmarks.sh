#!/usr/bin/env bash
# Measures the inspector against its performance targets and prints the
# figures:
#   1. whole runs on the demo save against the floor program, with the report
#      in one write and in 128-byte blocks (median ratios);
#   2. the stages alone with Google Benchmark: loading each kind of save, the
#      pictures, the report and what its 128-byte blocks cost;
#   3. the peak memory of whole runs on every kind of save;
#   4. whole runs on saves of growing size, per MB beyond a run on the
#      save's front alone.
# Usage: bench/run_benchmarks.sh [--smoke] [BUILD_DIR]
#   BUILD_DIR defaults to build/ (a Release build with the bench targets).
#   --smoke runs every step on small saves with few repetitions, to show
#   that everything runs; it judges no timing.
# With ORBSE_BASELINE set to the folder of another build's programs (orbse
# and inspector_benchmarks), its orbse runs beside this one in steps 1 and 4
# and its benchmarks after this one's, for before-and-after figures.
# Needs hyperfine and python3. Saves are generated into a temporary folder
# (under $TMPDIR or /tmp) that is removed at the end.
set -euo pipefail

smoke=false
if [ "${1:-}" = "--smoke" ]; then
  smoke=true
  shift
fi
build_dir=$(cd "${1:-build}" && pwd)
baseline=${ORBSE_BASELINE:-}

if $smoke; then
  rounds=2; runs_per_round=2; warmup=1; scale_rounds=2; scale_runs=2
  scale_sizes=(1 2); chain_levels=10000; kind_size=1
  benchmark_flags=(--sizes=1,2 --kind_size=1 --chain_levels=1000,2000 --benchmark_min_time=0.01)
else
  rounds=6; runs_per_round=15; warmup=3; scale_rounds=4; scale_runs=6
  scale_sizes=(1 16 256); chain_levels=1000000; kind_size=256
  benchmark_flags=(--sizes=1,16,256 --kind_size=16 --benchmark_repetitions=5
                   --benchmark_report_aggregates_only=true)
fi

for tool in orbse orbse_floor orbse_peak_memory make_bench_save make_demo_save; do
  [ -x "$build_dir/$tool" ] || { echo "missing $build_dir/$tool: build the tree first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orbse-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

orbse="$build_dir/orbse"
summarise="$(dirname "$0")/summarise.py"
file_bytes() { stat -c %s "$1"; }

# Prints the median of every command over the hyperfine JSON exports given
# after the first argument (the rounds of one comparison, pooled), and each
# median's ratio to those of the commands named in the first argument
# (comma-separated).
summarise_hyperfine() { python3 "$summarise" hyperfine "$@"; }

# Runs hyperfine on the commands (name and command line, each after -n) in
# `rounds` rounds of `runs` runs each, in turn forwards and backwards, so that
# a machine whose load drifts weighs on every command alike. The JSON
# exports go to PREFIX_1.json and on; their names are left in `exports`.
run_in_rounds() {
  local prefix=$1 rounds=$2 runs=$3 warmup=$4
  shift 4
  local forwards=("$@") backwards=() index round
  for ((index = ${#forwards[@]} - 3; index >= 0; index -= 3)); do
    backwards+=("${forwards[@]:index:3}")
  done
  exports=()
  for ((round = 1; round <= rounds; round++)); do
    if ((round % 2 == 1)); then
      hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-json "${prefix}_$round.json" \
        "${forwards[@]}" >/dev/null
    else
      hyperfine -N --style none --warmup "$warmup" --runs "$runs" --export-json "${prefix}_$round.json" \
        "${backwards[@]}" >/dev/null
    fi
    exports+=("${prefix}_$round.json")
  done
}

echo "== Machine"
lscpu | grep -E '^(Model name|CPU\(s\)|Thread|Core|Socket|L2|L3)' || true
uptime

echo "== 1. Whole run on the demo save against the floor (target: orbse at most 1.25 x floor)"
# Two floors: one writes each file in one write; floor128 writes the report
# in the 128-byte blocks that the inspector's report channel must use, so
# the difference between the floors is what those blocks cost. The commands
# run in rounds, in turn forwards and backwards, and the times of all rounds
# are pooled, so that a machine whose load drifts weighs on each alike.
mkdir -p "$work/run" "$work/floor" "$work/floor128" "$work/baseline"
"$build_dir/make_demo_save" "$work/run/demo.sav"
for copy in floor floor128 baseline; do cp "$work/run/demo.sav" "$work/$copy/demo.sav"; done
"$orbse" "$work/run/demo.sav"
report_bytes=$(file_bytes "$work/run/demo.sav.inf")
echo "demo save $(file_bytes "$work/run/demo.sav") bytes, report $report_bytes bytes"
commands=(-n orbse "$orbse $work/run/demo.sav"
          -n floor "$build_dir/orbse_floor $work/floor/demo.sav $report_bytes"
          -n floor128 "$build_dir/orbse_floor $work/floor128/demo.sav $report_bytes 128")
[ -n "$baseline" ] && commands+=(-n baseline "$baseline/orbse $work/baseline/demo.sav")
run_in_rounds "$work/demo" "$rounds" "$runs_per_round" "$warmup" "${commands[@]}"
summarise_hyperfine floor128,floor "${exports[@]}"

if [ -x "$build_dir/inspector_benchmarks" ]; then
  echo "== 2. Stages alone (Google Benchmark; medians when repeated)"
  summarise_benchmarks() { python3 "$summarise" benchmarks "$1"; }
  "$build_dir/inspector_benchmarks" "--work_dir=$work/stages" "${benchmark_flags[@]}" \
    --benchmark_out="$work/stages.json" --benchmark_out_format=json >/dev/null
  summarise_benchmarks "$work/stages.json"
  rm -rf "$work/stages"
  if [ -n "$baseline" ] && [ -x "$baseline/inspector_benchmarks" ]; then
    echo "   baseline:"
    "$baseline/inspector_benchmarks" "--work_dir=$work/stages" "${benchmark_flags[@]}" \
      --benchmark_out="$work/baseline_stages.json" --benchmark_out_format=json >/dev/null
    summarise_benchmarks "$work/baseline_stages.json"
    rm -rf "$work/stages"
  fi
else
  echo "== 2. skipped: inspector_benchmarks was not built (libbenchmark-dev missing)"
fi

echo "== 3. Peak memory of whole runs (target: at most twice the save plus 16 MB)"
mkdir -p "$work/memory"
memory_saves=("mixed $kind_size" "reference_lists $kind_size" "long_paths $kind_size"
              "deep_chain $chain_levels" "many_units 0" "wrapped_units $kind_size" "long_tail $kind_size")
for entry in "${memory_saves[@]}"; do
  read -r kind size <<<"$entry"
  save="$work/memory/$kind.sav"
  "$build_dir/make_bench_save" "$kind" "$size" "$save"
  peak=$("$build_dir/orbse_peak_memory" "$orbse" "$save" | awk '/peak_resident_bytes/ {print $2}')
  bytes=$(file_bytes "$save")
  python3 "$summarise" memory "$kind" "$bytes" "$peak"
  rm -f "$save"*
done

echo "== 4. Whole runs on saves of growing size (medians, pooled over rounds of alternating order)"
mkdir -p "$work/scale"
"$build_dir/make_bench_save" front_only 0 "$work/scale/front.sav"
for kind in mixed wrapped_units long_tail; do
  commands=(-n front "$orbse $work/scale/front.sav")
  for size in "${scale_sizes[@]}"; do
    "$build_dir/make_bench_save" "$kind" "$size" "$work/scale/${kind}_$size.sav"
    commands+=(-n "$size" "$orbse $work/scale/${kind}_$size.sav")
    if [ -n "$baseline" ]; then
      mkdir -p "$work/scale/baseline"
      ln -sf "$work/scale/${kind}_$size.sav" "$work/scale/baseline/${kind}_$size.sav"
      commands+=(-n "baseline_$size" "$baseline/orbse $work/scale/baseline/${kind}_$size.sav")
    fi
  done
  run_in_rounds "$work/scale_$kind" "$scale_rounds" "$scale_runs" 1 "${commands[@]}"
  echo "  $kind:"
  python3 "$summarise" scale "$work/scale" "$kind" "${exports[@]}"
done
