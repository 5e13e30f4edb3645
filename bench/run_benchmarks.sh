#!/usr/bin/env bash
# Measures the inspector against its targets and prints the figures:
#   1. whole runs on the demo save against the floor program (median ratio);
#   2. loading alone, through the Google Benchmark suite;
#   3. the peak memory of whole runs on every kind of save;
#   4. whole runs on mixed saves of growing size.
# Usage: bench/run_benchmarks.sh [--smoke] [BUILD_DIR]
#   BUILD_DIR defaults to build/ (a Release build with the bench targets).
#   --smoke runs every step on small saves with few repetitions, to show
#   that everything runs; it judges no timing.
# Needs hyperfine and python3. Saves are generated into a temporary folder
# (under $TMPDIR or /tmp) that is removed at the end.
set -euo pipefail

smoke=false
if [ "${1:-}" = "--smoke" ]; then
  smoke=true
  shift
fi
build_dir=$(cd "${1:-build}" && pwd)

if $smoke; then
  runs=3; warmup=1
  scale_sizes=(1 2 4); chain_levels=10000; kind_size=1
  benchmark_flags=(--sizes=1 --kind_size=1 --chain_levels=1000,2000 --benchmark_min_time=0.01)
else
  runs=30; warmup=5
  scale_sizes=(1 16 256); chain_levels=1000000; kind_size=256
  benchmark_flags=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
fi

for tool in orbse orbse_floor orbse_peak_memory make_bench_save make_demo_save; do
  [ -x "$build_dir/$tool" ] || { echo "missing $build_dir/$tool: build the tree first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orbse-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

orbse="$build_dir/orbse"
median_of() { # JSON file, result index
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"])' "$1" "$2"
}
ratio() { python3 -c 'import sys; print(f"{float(sys.argv[1]) / float(sys.argv[2]):.3f}")' "$1" "$2"; }
milliseconds() { python3 -c 'import sys; print(f"{float(sys.argv[1]) * 1000:.2f}")' "$1"; }
file_bytes() { stat -c %s "$1"; }

echo "== 1. Whole run on the demo save against the floor"
mkdir -p "$work/run" "$work/floor"
"$build_dir/make_demo_save" "$work/run/demo.sav"
cp "$work/run/demo.sav" "$work/floor/demo.sav"
"$orbse" "$work/run/demo.sav"
report_bytes=$(file_bytes "$work/run/demo.sav.inf")
hyperfine -N --style basic --warmup "$warmup" --runs "$runs" --export-json "$work/demo.json" \
  -n orbse "$orbse $work/run/demo.sav" \
  -n floor "$build_dir/orbse_floor $work/floor/demo.sav $report_bytes" >"$work/demo.log"
run_median=$(median_of "$work/demo.json" 0)
floor_median=$(median_of "$work/demo.json" 1)
echo "demo save $(file_bytes "$work/run/demo.sav") bytes, report $report_bytes bytes"
echo "median orbse $(milliseconds "$run_median") ms, floor $(milliseconds "$floor_median") ms," \
  "ratio $(ratio "$run_median" "$floor_median") (target at most 1.25)"

if [ -x "$build_dir/inspector_benchmarks" ]; then
  echo "== 2. Stages alone (Google Benchmark)"
  "$build_dir/inspector_benchmarks" "--work_dir=$work/stages" "${benchmark_flags[@]}"
  rm -rf "$work/stages"
else
  echo "== 2. skipped: inspector_benchmarks was not built (libbenchmark-dev missing)"
fi

echo "== 3. Peak memory of whole runs (target: at most twice the save plus 16 MB)"
mkdir -p "$work/memory"
memory_saves=("mixed $kind_size" "reference_lists $kind_size" "long_paths $kind_size"
              "deep_chain $chain_levels" "many_units 0")
for entry in "${memory_saves[@]}"; do
  read -r kind size <<<"$entry"
  save="$work/memory/$kind.sav"
  "$build_dir/make_bench_save" "$kind" "$size" "$save"
  peak=$("$build_dir/orbse_peak_memory" "$orbse" "$save" | awk '/peak_resident_bytes/ {print $2}')
  bytes=$(file_bytes "$save")
  bound=$((2 * bytes + 16 * 1024 * 1024))
  echo "$kind: save $bytes bytes, peak $peak bytes, bound $bound bytes, peak/bound $(ratio "$peak" "$bound")"
  rm -f "$save"*
done

echo "== 4. Whole runs on mixed saves of growing size"
mkdir -p "$work/scale"
"$build_dir/make_bench_save" front_only 0 "$work/scale/front.sav"
commands=(-n front "$orbse $work/scale/front.sav")
for size in "${scale_sizes[@]}"; do
  "$build_dir/make_bench_save" mixed "$size" "$work/scale/mixed_$size.sav"
  commands+=(-n "mixed_$size" "$orbse $work/scale/mixed_$size.sav")
done
hyperfine -N --style basic --warmup 1 --runs "$((runs / 3 + 2))" --export-json "$work/scale.json" \
  "${commands[@]}" >"$work/scale.log"
front_median=$(median_of "$work/scale.json" 0)
front_bytes=$(file_bytes "$work/scale/front.sav")
echo "front only ($front_bytes bytes, no units): median $(milliseconds "$front_median") ms"
index=1
for size in "${scale_sizes[@]}"; do
  median=$(median_of "$work/scale.json" "$index")
  bytes=$(file_bytes "$work/scale/mixed_$size.sav")
  python3 - "$size" "$bytes" "$median" "$front_median" "$front_bytes" <<'PYTHON'
import sys
size, size_bytes, median, front, front_bytes = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), int(sys.argv[5])
megabytes = (size_bytes - front_bytes) / 2**20
per_mb = (median - front) / megabytes * 1000
print(f"mixed {size} MB ({size_bytes} bytes): median {median * 1000:.2f} ms, "
      f"{per_mb:.3f} ms per MB of stream beyond the front-only run")
PYTHON
  index=$((index + 1))
done
