#!/usr/bin/env bash
# Measures orbse-fields against its bounds and prints the figures:
#   1. check on a 256 MB mixed save against the inspector's loading alone of
#      the same save (Google Benchmark's load/mixed/256MB), bound 1.5x;
#   2. list --json of a 16 MB mixed save against writing as many bytes from
#      memory to the same file (fields_write_floor), bound 2x;
#   3. dump of a 256 MB mixed save against writing as many bytes from memory
#      to the same file (fields_write_floor), bound 2x;
#   4. peak resident memory of check, list, list --json, at and dump on every
#      large kind of save, bound 32 MB;
#   5. diff of a 256 MB mixed save against copies with a few bytes changed
#      (near the front; a third of the way in), against copies one byte
#      longer (a byte changed near the front; a byte changed in the first
#      unit of every eighth list) and against a save of another kind (long
#      paths), against check of it, bound 3x;
#   6. peak resident memory of diff on those pairs and on pairs of every
#      large kind, each a copy with one byte changed, bound 64 MB.
# 2, 3 and 5 time each program and what it is measured against in
# alternating rounds (alternating_runs.py).
# With ORBSE_BASELINE set to another build's folder, its inspector_benchmarks
# loads the 256 MB save in rounds alternating with this build's, for the
# loader's before-and-after figure (bound 5 %).
# Usage: bench/fields_benchmarks.sh [--smoke] [BUILD_DIR]
set -euo pipefail

smoke=false
if [ "${1:-}" = "--smoke" ]; then
  smoke=true
  shift
fi
build_dir=$(cd "${1:-build}" && pwd)
baseline=${ORBSE_BASELINE:-}
if $smoke; then
  big=4; small=1; runs=3; rounds=1; repetitions=2; chain=10000; refs=4; tail_mb=4
else
  big=256; small=16; runs=20; rounds=3; repetitions=10; chain=1000000; refs=64; tail_mb=300
fi

for tool in orbse-fields fields_write_floor orbse_peak_memory make_bench_save inspector_benchmarks; do
  [ -x "$build_dir/$tool" ] || { echo "missing $build_dir/$tool: build the tree first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/orbse-fields-bench-XXXXXX")
# The listing and the dump's output are written to a memory file system
# where there is one with room for them: written to disk, gigabytes of
# them are written back while the next runs go, and the system's writing
# takes the second core from a program that uses both (the dump's output
# thread) but not from its floor.
outputs_root=${ORBSE_BENCH_OUTPUTS:-/dev/shm}
needed_kb=$((big * 12 * 1024 + 1024 * 1024))
if ! [ -d "$outputs_root" ] || ! [ -w "$outputs_root" ] ||
   [ "$(df --output=avail -k "$outputs_root" | tail -1)" -lt "$needed_kb" ]; then
  outputs_root=$work
fi
outputs=$(mktemp -d "$outputs_root/orbse-fields-outputs-XXXXXX")
trap 'rm -rf "$work" "$outputs"' EXIT
bench_dir=$(cd "$(dirname "$0")" && pwd)
fields="$build_dir/orbse-fields"

"$build_dir/make_bench_save" mixed "$big" "$work/mixed-big.sav"
"$build_dir/make_bench_save" mixed "$small" "$work/mixed-small.sav"
# The saves just written go to disk before anything is timed: written back
# while the programs run, they take the second core from whichever program
# uses it.
sync

# The median real time of load/mixed/${big}MB in ms, from one build's suite.
load_median_ms() {
  "$1/inspector_benchmarks" --sizes="$big" --kind_size=1 --chain_levels=1000 \
    --benchmark_filter="^load/mixed/${big}MB/real_time\$" --benchmark_repetitions="$repetitions" \
    --benchmark_format=json 2>/dev/null | python3 -c '
import json, sys
runs = json.load(sys.stdin)["benchmarks"]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
print(next(r["real_time"] * scale[r["time_unit"]] for r in runs if r.get("aggregate_name") == "median"))'
}

hyperfine_median_ms() {
  python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["results"][0]["median"] * 1000)' "$1"
}

echo "== 1. check on a ${big} MB mixed save against loading it"
loads=(); baseline_loads=(); checks=()
for round in $(seq "$rounds"); do
  loads+=("$(load_median_ms "$build_dir")")
  if [ -n "$baseline" ]; then
    baseline_loads+=("$(load_median_ms "$baseline")")
  fi
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/check.json" \
    "$fields check $work/mixed-big.sav" >/dev/null
  checks+=("$(hyperfine_median_ms "$work/check.json")")
done
python3 - "${loads[*]}" "${checks[*]}" "${baseline_loads[*]:-}" <<'PYTHON'
import statistics, sys
loads = [float(x) for x in sys.argv[1].split()]
checks = [float(x) for x in sys.argv[2].split()]
load, check = statistics.median(loads), statistics.median(checks)
print(f"loading (this build): rounds {loads} ms, median {load:.1f} ms")
print(f"check (whole process): rounds {checks} ms, median {check:.1f} ms")
print(f"check / loading: {check / load:.2f} (bound 1.5)")
if sys.argv[3].strip():
    base = [float(x) for x in sys.argv[3].split()]
    b = statistics.median(base)
    print(f"loading (baseline build): rounds {base} ms, median {b:.1f} ms")
    print(f"loading, this build / baseline: {load / b:.3f} (bound 1.05)")
PYTHON

echo "== 2. list --json of a ${small} MB mixed save against writing as many bytes (bound 2x)"
"$fields" list --json "$work/mixed-small.sav" >"$outputs/listing.jsonl"
sync
bytes=$(stat -c %s "$outputs/listing.jsonl")
echo "listing: $bytes bytes"
python3 "$bench_dir/alternating_runs.py" "$runs" "$outputs/listing.jsonl" \
  "list --json=$fields list --json $work/mixed-small.sav" \
  "write floor=$build_dir/fields_write_floor $bytes"
rm -f "$outputs/listing.jsonl"

echo "== 3. dump of a ${big} MB mixed save against writing as many bytes (bound 2x)"
"$fields" dump "$work/mixed-big.sav" >"$outputs/document.json"
sync
bytes=$(stat -c %s "$outputs/document.json")
echo "document: $bytes bytes"
python3 "$bench_dir/alternating_runs.py" "$((runs / 2 > 3 ? runs / 2 : 3))" "$outputs/document.json" \
  "dump=$fields dump $work/mixed-big.sav" \
  "write floor=$build_dir/fields_write_floor $bytes"
rm -f "$outputs/document.json"

echo "== 4. peak resident memory (bound 32 MB)"
"$build_dir/make_bench_save" deep_chain "$chain" "$work/chain.sav"
"$build_dir/make_bench_save" reference_lists "$refs" "$work/refs.sav"
"$build_dir/make_bench_save" long_tail "$tail_mb" "$work/tail.sav"
for save in mixed-big chain refs tail; do
  for command in "check" "list" "list --json" "at" "dump"; do
    extra=(); [ "$command" = at ] && extra=(0x10000)
    # shellcheck disable=SC2086
    peak=$("$build_dir/orbse_peak_memory" /bin/sh -c 'exec "$0" "$@" >/dev/null' "$fields" $command \
           "$work/$save.sav" "${extra[@]}" | sed -n 's/^peak_resident_bytes //p')
    printf '%-10s %-12s %6.1f MB\n' "$save" "$command" "$(python3 -c "print($peak / 1048576)")"
  done
done

echo "== 5. diff of two ${big} MB saves against check of one (bound 3x)"
"$build_dir/make_bench_save" long_paths "$big" "$work/paths-big.sav"
# Copies with a few bytes changed where the file keeps its shape: in the
# header and inside the first unit's data; and one byte a third of the way
# in. changed_copy SAVE COPY OFFSET...
changed_copy() {
  local save=$1 copy=$2
  shift 2
  cp "$save" "$copy"
  for offset in "$@"; do
    printf '\x07' | dd of="$copy" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  done
}
big_size=$(stat -c %s "$work/mixed-big.sav")
changed_copy "$work/mixed-big.sav" "$work/mixed-changed.sav" 200 $((0xcf13))
changed_copy "$work/mixed-big.sav" "$work/mixed-changed-inside.sav" $((big_size / 3))
# Files of different sizes: one byte more of tail, with a byte changed near
# the front, or with a byte changed in the unit data of the first unit of
# every eighth list (found by the listing).
changed_copy "$work/mixed-big.sav" "$work/mixed-longer.sav" $((0xcf13))
printf '\x01' >>"$work/mixed-longer.sav"
# shellcheck disable=SC2046
changed_copy "$work/mixed-big.sav" "$work/mixed-longer-dense.sav" $("$fields" list "$work/mixed-big.sav" |
  awk '/\.slots\[0\]\.unit\.unit_data@44 / && (n++ % 8 == 0) { print $1 }' |
  while read -r offset; do echo $((offset + 3)); done)
printf '\x01' >>"$work/mixed-longer-dense.sav"
sync
# Each diff beside check of the first save, in alternating rounds.
python3 "$bench_dir/alternating_runs.py" --accept 0,1 "$((runs / 2 > 3 ? runs / 2 : 3))" /dev/null \
  "diff, bytes changed near the front=$fields diff $work/mixed-big.sav $work/mixed-changed.sav" \
  "diff, a byte changed a third of the way in=$fields diff $work/mixed-big.sav $work/mixed-changed-inside.sav" \
  "diff, one byte longer, a byte changed near the front=$fields diff $work/mixed-big.sav $work/mixed-longer.sav" \
  "diff, one byte longer, every eighth list changed=$fields diff $work/mixed-big.sav $work/mixed-longer-dense.sav" \
  "diff, another kind=$fields diff $work/mixed-big.sav $work/paths-big.sav" \
  "check=$fields check $work/mixed-big.sav"
# diff exits 1 when the saves differ, as these do.
for other in mixed-changed mixed-changed-inside mixed-longer mixed-longer-dense paths-big; do
  { "$fields" diff "$work/mixed-big.sav" "$work/$other.sav" || true; } | wc -l | sed "s/^/lines against $other: /"
done

echo "== 6. peak resident memory of diff (bound 64 MB)"
changed_copy "$work/chain.sav" "$work/chain-changed.sav" $(( $(stat -c %s "$work/chain.sav") / 2 ))
changed_copy "$work/refs.sav" "$work/refs-changed.sav" $(( $(stat -c %s "$work/refs.sav") / 2 ))
changed_copy "$work/tail.sav" "$work/tail-changed.sav" $(( $(stat -c %s "$work/tail.sav") / 2 ))
for pair in "mixed-big mixed-changed" "mixed-big mixed-changed-inside" "mixed-big paths-big" \
            "mixed-big mixed-longer" "mixed-big mixed-longer-dense" \
            "chain chain-changed" "refs refs-changed" "tail tail-changed"; do
  read -r one two <<<"$pair"
  peak=$({ "$build_dir/orbse_peak_memory" /bin/sh -c 'exec "$0" "$@" >/dev/null' "$fields" diff \
         "$work/$one.sav" "$work/$two.sav" || true; } | sed -n 's/^peak_resident_bytes //p')
  printf '%-26s %6.1f MB\n' "$one / $two" "$(python3 -c "print($peak / 1048576)")"
done
