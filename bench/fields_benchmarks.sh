#!/usr/bin/env bash
# Measures orbse-fields, and the inspector's run on a large save, side by
# side with another build, and prints one line per bound with both figures
# and their ratio. It judges nothing: the bounds are in the headings.
#   1. the demo save: list, list --json, at (one offset), check, dump, and
#      diff against a copy with the byte at 0xcf13 changed, each against the
#      baseline's (bound 1.2x); diff against the demo a turn later with one
#      unit built in the middle of a list (make_demo_save --unit-added)
#      against two checks of a save by the same build (bound 1.2x of their
#      time, 2.4x of one check's);
#   2. a 16 MB mixed save: list --json and dump against the baseline's
#      (bound 1.5x); diff against a copy with one byte changed near the front
#      and one in the middle, against the baseline's (bound 2x); diff against
#      the same save with one unit inserted in its first list, against diff
#      of the copy with one byte changed by the same build (bound 2x), the
#      baseline's beside it;
#   3. at of 100 and of 1,000 offsets spread evenly over the 16 MB save,
#      against list of it by the same build (bounds 1x and 1.5x);
#   4. list --json of 16, 64 and 256 MB mixed saves: time per MB, the largest
#      against the smallest (bound 1.2), for each build;
#   5. peak resident memory of list, at, check and dump on a 256 MB mixed
#      save, a chain of 1,000,000 linked units, 256 MB of reference lists and
#      a 300 MB tail (bound 32 MB), and of diff of two 256 MB mixed saves,
#      one byte changed and one unit inserted (bound 64 MB), beside the
#      baseline's;
#   6. stats --by-type over 100 copies of the demo save against list --json
#      of each of them (bound 1.5x), and its peak memory there and on the
#      256 MB mixed save (bound 64 MB);
#   7. orbse on the 256 MB mixed save against the baseline's (bound 1.05x);
#   8. set of one field of the 16 MB save, in the header and in the stream's
#      last unit, against copying the save and one check of the copy (bound
#      1.5x), and its peak memory on the 256 MB save (this build).
# Times are whole runs in alternating rounds (alternating_runs.py), medians.
#
# Usage: ORBSE_BASELINE=DIR bench/fields_benchmarks.sh [--smoke] [BUILD_DIR]
#   BUILD_DIR (default build/) holds this build's programs: orbse-fields,
#   orbse, make_demo_save, make_bench_save and orbse_peak_memory. DIR holds
#   the other build's orbse-fields and orbse; without ORBSE_BASELINE the
#   build is compared with itself. --smoke runs every step once on small
#   saves (at of 10 and 100 offsets), to show that it runs.
# Saves and outputs go to /dev/shm where it has room (else to $TMPDIR or
# /tmp) and are removed at the end. Needs python3.
set -euo pipefail

smoke=false
if [ "${1:-}" = "--smoke" ]; then
  smoke=true
  shift
fi
build_dir=$(cd "${1:-build}" && pwd)
baseline_dir=$(cd "${ORBSE_BASELINE:-$build_dir}" && pwd)
bench_dir=$(cd "$(dirname "$0")" && pwd)

if $smoke; then
  small=1; sizes=(1 2 4); big=4; chain=10000; refs=4; tail_mb=4; at_counts=(10 100); stats_saves=3
  demo_rounds=1; small_rounds=1; at_rounds=1; big_rounds=1
else
  small=16; sizes=(16 64 256); big=256; chain=1000000; refs=256; tail_mb=300; at_counts=(100 1000); stats_saves=100
  demo_rounds=30; small_rounds=20; at_rounds=5; big_rounds=10
fi

for program in orbse-fields orbse make_demo_save make_bench_save orbse_peak_memory; do
  [ -x "$build_dir/$program" ] || { echo "missing $build_dir/$program: build the tree first" >&2; exit 1; }
done
for program in orbse-fields orbse; do
  [ -x "$baseline_dir/$program" ] || { echo "missing $baseline_dir/$program" >&2; exit 1; }
done
command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 1; }

root=/dev/shm
# The largest output, list --json of the largest save, is about 16 times
# that save; the saves beside it come to less than 4 times.
needed_kb=$(( (big * 20 + 1024) * 1024 ))
if ! [ -d "$root" ] || ! [ -w "$root" ] || [ "$(df --output=avail -k "$root" | tail -1)" -lt "$needed_kb" ]; then
  root=${TMPDIR:-/tmp}
fi
work=$(mktemp -d "$root/orbse-fields-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
out="$work/output"

# The programs timed are copied first, so that a rebuild while the script
# runs does not mix two builds.
mkdir "$work/this" "$work/baseline"
cp "$build_dir/orbse-fields" "$build_dir/orbse" "$work/this/"
cp "$baseline_dir/orbse-fields" "$baseline_dir/orbse" "$work/baseline/"
fields="$work/this/orbse-fields"
old_fields="$work/baseline/orbse-fields"
echo "this build: $build_dir; baseline: $baseline_dir; files in $work"
uptime

# alternate [--accept CODES] ROUNDS NAME=COMMAND... BASE_NAME=COMMAND
alternate() {
  python3 "$bench_dir/alternating_runs.py" "$@"
  rm -f "$out"
}

# changed_copy SAVE COPY OFFSET...: a copy with the bytes at OFFSETs changed.
changed_copy() {
  local save=$1 copy=$2
  shift 2
  cp "$save" "$copy"
  for offset in "$@"; do
    printf '\x07' | dd of="$copy" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  done
}

# The offset of a byte of unit data from the middle of SAVE on: a byte that
# changes a value and nothing of the save's shape.
middle_unit_byte() {
  local half
  half=$(printf '0x%08x' $(( $(stat -c %s "$1") / 2 )))
  # Offsets are printed as 0x and eight hex digits, so they compare as text.
  echo $(( $("$fields" list "$1" 2>/dev/null | awk -v half="$half" '/unit_data@44 / && $1 >= half { print $1; exit }') + 3 ))
}

# offsets SAVE COUNT: COUNT offsets spread evenly over SAVE.
offsets() {
  local size
  size=$(stat -c %s "$1")
  for ((i = 0; i < $2; i++)); do echo $((i * size / $2)); done
}

echo "== 1. The demo save: each command within 1.2x the baseline"
"$build_dir/make_demo_save" "$work/demo.sav"
changed_copy "$work/demo.sav" "$work/demo-changed.sav" $((0xcf13))
for command in "list" "list --json" "at" "check" "dump" "diff"; do
  arguments="$command $work/demo.sav" accept=0
  [ "$command" = at ] && arguments+=" 0xcf13"
  [ "$command" = diff ] && arguments+=" $work/demo-changed.sav" accept=0,1
  alternate --accept "$accept" "$demo_rounds" "$out" "$command=$fields $arguments" "baseline=$old_fields $arguments"
done
"$build_dir/make_demo_save" --unit-added "$work/demo-built.sav"
# Two checks, one run of check for each save, take twice the time of one:
# the bound is 2.4x one check. One run checking both saves is shown beside
# it, sharing the start of one process between the two.
echo "(bound: 2.4x check of one save, the time of two checks 1.2x)"
alternate --accept 0,1 "$demo_rounds" "$out" "diff, a unit built=$fields diff $work/demo.sav $work/demo-built.sav" \
  "check of both in one run=$fields check $work/demo.sav $work/demo-built.sav" \
  "check of one save=$fields check $work/demo.sav"

echo "== 2. A ${small} MB mixed save: list --json and dump within 1.5x the baseline, diff within 2x"
small_save="$work/mixed-$small.sav"
"$build_dir/make_bench_save" mixed "$small" "$small_save"
changed_copy "$small_save" "$work/mixed-$small-changed.sav" $((0xcf13)) "$(middle_unit_byte "$small_save")"
for command in "list --json" "dump"; do
  alternate "$small_rounds" "$out" "$command=$fields $command $small_save" \
    "baseline=$old_fields $command $small_save"
done
alternate --accept 0,1 "$small_rounds" "$out" \
  "diff=$fields diff $small_save $work/mixed-$small-changed.sav" \
  "baseline=$old_fields diff $small_save $work/mixed-$small-changed.sav"
"$build_dir/make_bench_save" mixed_unit_added "$small" "$work/mixed-$small-unit.sav"
alternate --accept 0,1 "$small_rounds" "$out" \
  "diff, a unit inserted=$fields diff $small_save $work/mixed-$small-unit.sav" \
  "baseline, a unit inserted=$old_fields diff $small_save $work/mixed-$small-unit.sav" \
  "diff, one byte changed=$fields diff $small_save $work/mixed-$small-changed.sav"
rm -f "$work/mixed-$small-changed.sav" "$work/mixed-$small-unit.sav"

echo "== 3. at of ${at_counts[0]} offsets of the ${small} MB save at most list of it, of ${at_counts[1]} within 1.5x (this build)"
alternate "$at_rounds" "$out" \
  "at, ${at_counts[0]} offsets=$fields at $small_save $(offsets "$small_save" "${at_counts[0]}" | tr '\n' ' ')" \
  "at, ${at_counts[1]} offsets=$fields at $small_save $(offsets "$small_save" "${at_counts[1]}" | tr '\n' ' ')" \
  "list=$fields list $small_save"

echo "== 4. list --json time per MB at ${sizes[*]} MB mixed within 20 % of each other"
commands=()
for size in "${sizes[@]}"; do
  [ -f "$work/mixed-$size.sav" ] || "$build_dir/make_bench_save" mixed "$size" "$work/mixed-$size.sav"
  commands+=("this $size=$fields list --json $work/mixed-$size.sav"
             "baseline $size=$old_fields list --json $work/mixed-$size.sav")
done
python3 "$bench_dir/alternating_runs.py" --export "$work/scale.json" "$big_rounds" "$out" "${commands[@]}" >/dev/null
rm -f "$out"
python3 - "$work/scale.json" "$work" "${sizes[@]}" <<'PYTHON'
import json, os, statistics, sys
times, work, sizes = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3:]
for build in ("this", "baseline"):
    per_mb = [statistics.median(times[f"{build} {size}"]) * 1000 /
              (os.path.getsize(f"{work}/mixed-{size}.sav") / 2**20) for size in sizes]
    figures = ", ".join(f"{size} MB {ms:.2f} ms/MB" for size, ms in zip(sizes, per_mb))
    print(f"list --json, {build}: {figures}; largest / smallest {max(per_mb) / min(per_mb):.3f} "
          f"({len(times[f'{build} {sizes[0]}'])} rounds)")
PYTHON
for size in "${sizes[@]}"; do
  [ "$size" = "$big" ] || rm -f "$work/mixed-$size.sav"
done
big_save="$work/mixed-$big.sav"

echo "== 5. Peak resident memory: list, at, check, dump at most 32 MB; diff of two ${big} MB saves at most 64 MB"
# peak PROGRAM ARGUMENTS...: the run's peak resident memory in MB, its
# output thrown away (diff exits 1 for saves that differ).
peak() {
  # shellcheck disable=SC2016 # the inner shell expands them
  { "$build_dir/orbse_peak_memory" /bin/sh -c 'exec "$0" "$@" >/dev/null' "$@" || true; } |
    awk '/^peak_resident_bytes/ { printf "%.1f", $2 / 1048576 }'
}
# memory NAME ARGUMENTS...: both builds' peaks and their ratio.
memory() {
  local name=$1 this baseline
  shift
  this=$(peak "$fields" "$@")
  baseline=$(peak "$old_fields" "$@")
  echo "$name: $this MB against baseline $baseline MB, $(awk -v a="$this" -v b="$baseline" 'BEGIN { printf "%.2fx", a / b }')"
}
saves=("mixed $big MB" "deep_chain $chain units" "reference_lists $refs MB" "long_tail $tail_mb MB")
for entry in "${saves[@]}"; do
  read -r kind size unit <<<"$entry"
  save="$work/$kind.sav"
  if [ "$kind" = mixed ]; then
    save=$big_save
  else
    "$build_dir/make_bench_save" "$kind" "$size" "$save"
  fi
  bytes=$(stat -c %s "$save")
  for command in list at check dump; do
    arguments=("$save")
    if [ "$command" = at ]; then
      arguments+=($((bytes / 2)) $((bytes - 1)))
    fi
    memory "$kind $size $unit, $command" "$command" "${arguments[@]}"
  done
  if [ "$kind" = mixed ]; then
    changed_copy "$save" "$work/mixed-changed.sav" $((0xcf13)) "$(middle_unit_byte "$save")"
    memory "$kind $size $unit, diff" diff "$save" "$work/mixed-changed.sav"
    rm -f "$work/mixed-changed.sav"
    "$build_dir/make_bench_save" mixed_unit_added "$size" "$work/mixed-unit.sav"
    memory "$kind $size $unit, diff with a unit inserted" diff "$save" "$work/mixed-unit.sav"
    rm -f "$work/mixed-unit.sav"
  else
    rm -f "$save"
  fi
done

echo "== 6. stats over $stats_saves demo saves within 1.5x list --json of each to /dev/null (this build); at most 64 MB, also over the ${big} MB save"
mkdir "$work/saves"
for ((i = 0; i < stats_saves; i++)); do
  cp "$work/demo.sav" "$work/saves/demo-$i.sav"
done
# shellcheck disable=SC2016 # the inner shell expands them
alternate "$small_rounds" /dev/null "stats --by-type=$fields stats --by-type $work/saves" \
  "list --json of each=sh -c 'for save in \"\$0\"/*; do \"\$1\" list --json \"\$save\"; done' $work/saves $fields"
echo "stats --by-type of $stats_saves demo saves: $(peak "$fields" stats --by-type "$work/saves") MB"
echo "stats --by-type of the ${big} MB mixed save: $(peak "$fields" stats --by-type "$big_save") MB"
rm -rf "$work/saves"

echo "== 7. orbse on the ${big} MB mixed save within 5 % of the baseline's"
# Each build's run writes its pictures and report beside a link of its own.
ln -s "$big_save" "$work/this/mixed.sav"
ln -s "$big_save" "$work/baseline/mixed.sav"
alternate "$big_rounds" "$out" "orbse=$work/this/orbse $work/this/mixed.sav" \
  "baseline=$work/baseline/orbse $work/baseline/mixed.sav"
rm -f "$work"/this/mixed.sav* "$work"/baseline/mixed.sav*

echo "== 8. set of one field of the ${small} MB save within 1.5x copying the save and one check (this build)"
"$build_dir/make_bench_save" mixed "$small" "$small_save"
last_unit_bytes=$("$fields" list "$small_save" | awk '/unit_data@4 / { path = $4 } END { print path }')
# shellcheck disable=SC2016 # the inner shell expands them
alternate "$small_rounds" "$out" \
  "set, header=$fields set $small_save header.start_gold=5000 -o $work/set.sav" \
  "set, last unit=$fields set $small_save $last_unit_bytes+0=ff -o $work/set.sav" \
  "copy and check=sh -c 'cp \"\$0\" \"\$1\" && \"\$2\" check \"\$1\"' $small_save $work/copy.sav $fields"
echo "set of the last unit's bytes in the ${big} MB mixed save: $(peak "$fields" set "$big_save" \
  "$("$fields" list "$big_save" | awk '/unit_data@4 / { path = $4 } END { print path }')+0=ff" -o "$work/set.sav") MB"
rm -f "$work/set.sav" "$work/copy.sav" "$small_save" "$big_save"
uptime
echo "took $SECONDS s"
