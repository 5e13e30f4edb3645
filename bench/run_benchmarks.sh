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
file_bytes() { stat -c %s "$1"; }

# Prints the median of every command over the hyperfine JSON exports given
# after the first argument (the rounds of one comparison, pooled), and each
# median's ratio to those of the commands named in the first argument
# (comma-separated).
summarise_hyperfine() {
  python3 - "$@" <<'PYTHON'
import json, statistics, sys
references = sys.argv[1].split(",")
times, user, system = {}, {}, {}
for export in sys.argv[2:]:
    for r in json.load(open(export))["results"]:
        times.setdefault(r["command"], []).extend(r["times"])
        user.setdefault(r["command"], []).extend(r["user"] for _ in r["times"])
        system.setdefault(r["command"], []).extend(r["system"] for _ in r["times"])
median = {command: statistics.median(values) for command, values in times.items()}
for command in times:
    ratios = ", ".join(f"{median[command] / median[reference]:.3f} x {reference}" for reference in references)
    print(f"  {command:>9}: median {median[command] * 1000:8.2f} ms of {len(times[command])} runs, {ratios}; "
          f"processor user {statistics.mean(user[command]) * 1000:.2f} + system "
          f"{statistics.mean(system[command]) * 1000:.2f} ms")
PYTHON
}

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
  summarise_benchmarks() {
    python3 - "$1" <<'PYTHON'
import json, sys
rows = [b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name", "median") == "median"]
def name(b):
    return (b["run_name"] if "run_name" in b else b["name"]).removesuffix("/real_time")
def per(b, key):
    return b["real_time"] / b[key] if key in b else None
for b in rows:
    line = f"  {name(b):50} {b['real_time']:9.3f} {b['time_unit']} real, {b['cpu_time']:9.3f} {b['time_unit']} cpu"
    if "bytes_per_second" in b:
        line += f", {b['bytes_per_second'] / 1e9:6.2f} GB/s"
    if "items_per_second" in b:
        line += f", {1e9 / b['items_per_second']:8.1f} ns per item"
    print(line)
# Loading in proportion to size: the time per MB of each mixed save's stream
# (its time less that of the front alone) against the largest's, and the
# time per level of each chain against the longest's.
def seconds(b):
    return b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
def proportion(label, costs):
    if len(costs) < 2:
        return
    last = costs[-1][1]
    print(f"  {label} against {costs[-1][0]}: " + ", ".join(f"{n} {c / last:.2f}" for n, c in costs))
front = next((b for b in rows if name(b) == "load/front_only"), None)
if front is not None:
    mixed = [b for b in rows if name(b).startswith("load/mixed/")]
    costs = []
    for b in mixed:
        stream_mb = b["file_MB"] - front["file_MB"]
        costs.append((name(b).split("/")[-1], (seconds(b) - seconds(front)) / stream_mb))
    for n, c in costs:
        print(f"  load/mixed/{n}: {c * 1000:.3f} ms per MB of stream beyond the front alone")
    proportion("load/mixed: time per MB of stream", costs)
    # Per further MB from one size to the next: what a store's first pages
    # cost, whatever the size, drops out.
    steps = []
    for smaller, larger in zip(mixed, mixed[1:]):
        step = (seconds(larger) - seconds(smaller)) / (larger["file_MB"] - smaller["file_MB"])
        label = f"{name(smaller).split('/')[-1]} to {name(larger).split('/')[-1]}"
        steps.append((label, step))
        print(f"  load/mixed from {label}: {step * 1000:.3f} ms per further MB")
    proportion("load/mixed: per further MB", steps)
chains = [b for b in rows if name(b).startswith("load/deep_chain/")]
proportion("load/deep_chain: time per level", [(name(b).split("/")[-1], 1 / b["items_per_second"]) for b in chains])
PYTHON
  }
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
  bound=$((2 * bytes + 16 * 1024 * 1024))
  python3 -c 'import sys; k, s, p, b = sys.argv[1], *map(int, sys.argv[2:]); print(f"  {k:>15}: save {s / 2**20:8.1f} MB, peak {p / 2**20:7.1f} MB, bound {b / 2**20:7.1f} MB, peak/bound {p / b:.3f}")' \
    "$kind" "$bytes" "$peak" "$bound"
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
  python3 - "$work/scale" "$kind" "${exports[@]}" <<'PYTHON'
import json, os, statistics, sys
folder, kind = sys.argv[1], sys.argv[2]
# Each command's runs pooled over the rounds: its median wall time, and its
# mean user and system time.
pooled = {}
for export in sys.argv[3:]:
    for r in json.load(open(export))["results"]:
        entry = pooled.setdefault(r["command"], {"times": [], "user": [], "system": []})
        entry["times"].extend(r["times"])
        entry["user"].append(r["user"])
        entry["system"].append(r["system"])
results = {command: {"median": statistics.median(entry["times"]), "user": statistics.mean(entry["user"]),
                     "system": statistics.mean(entry["system"])}
           for command, entry in pooled.items()}
front = results["front"]["median"]
front_bytes = os.path.getsize(os.path.join(folder, "front.sav"))
print(f"    front only ({front_bytes} bytes): median {front * 1000:.2f} ms")
per_mb = {}
# Wall time on a shared machine swings with the load; the processor time of
# the run itself (user and system, means) swings less, so both are shown.
def cpu(r):
    return r["user"] + r["system"]
front_cpu = cpu(results["front"])
print(f"    front only ({front_bytes} bytes): processor time {front_cpu * 1000:.2f} ms")
per_mb_cpu = {}
for name, r in results.items():
    if name == "front" or name.startswith("baseline_"):
        continue
    size_bytes = os.path.getsize(os.path.join(folder, f"{kind}_{name}.sav"))
    stream_mb = (size_bytes - front_bytes) / 2**20
    per_mb[name] = (r["median"] - front) / stream_mb * 1000
    per_mb_cpu[name] = (cpu(r) - front_cpu) / stream_mb * 1000
    line = (f"    {name:>4} MB ({size_bytes} bytes): median {r['median'] * 1000:9.2f} ms, "
            f"{per_mb[name]:.3f} ms per MB beyond the front; processor {cpu(r) * 1000:9.2f} ms, "
            f"{per_mb_cpu[name]:.3f} ms per MB")
    if f"baseline_{name}" in results:
        old = results[f"baseline_{name}"]
        line += f"; baseline median {old['median'] * 1000:.2f} ms, processor {cpu(old) * 1000:.2f} ms"
    print(line)
largest = list(per_mb)[-1]
for label, costs in (("wall", per_mb), ("processor", per_mb_cpu)):
    print(f"    {label} time per MB against the {largest} MB save: " +
          ", ".join(f"{name} MB {value / costs[largest]:.2f}" for name, value in costs.items()))
# What each further MB costs from one size to the next: the fixed cost of a
# run (the pictures, the start) drops out, and so does most of the noise
# that a single small save's difference from the front alone carries.
sizes = [name for name in per_mb]
def stream_mb_of(name):
    return os.path.getsize(os.path.join(folder, f"{kind}_{name}.sav")) / 2**20
steps = []
for smaller, larger in zip(sizes, sizes[1:]):
    step = (results[larger]["median"] - results[smaller]["median"]) / (stream_mb_of(larger) - stream_mb_of(smaller))
    steps.append((f"{smaller} to {larger} MB", step))
    print(f"    from {smaller} to {larger} MB: {step * 1000:.3f} ms per further MB")
if len(steps) >= 2:
    print("    per further MB against the last step: " +
          ", ".join(f"{label} {step / steps[-1][1]:.2f}" for label, step in steps))
PYTHON
done
