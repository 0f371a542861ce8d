#!/usr/bin/env bash
# Whole-process comparison of norvisk with gnuplot (jpeg terminal), both drawing the same
# 640 x 300 stacked bar chart with a legend into JPEG files, and with the floor of any such
# process: jpeg_floor, a C program that takes the chart's pixels ready-made from a bitmap and
# only compresses and writes them (its file must be norvisk's, byte for byte).
#
#   (a) one chart per process: `norvisk bar OUT.jpg DATA`, `gnuplot SCRIPT` and `jpeg_floor`,
#       RUNS runs each, interleaved run by run (hyperfine, no shell in between), median wall time.
#       Goals: norvisk at most 1.5x the floor, and at least 4x faster than gnuplot.
#   (b) many charts in one process: `norvisk run SCRIPT` writing BATCH_CHARTS charts against one
#       gnuplot script that sets its output and plots GNUPLOT_BATCH_CHARTS times; time per chart.
#       Goal: norvisk at least 5x faster per chart.
#
# Every output file is checked to be there and to start like a JPEG (FF D8): a tool that failed
# would otherwise look fast. Exit status: 0 measured (a missed goal only prints MISS),
# 1 a tool did not write its files, 2 the set-up failed. Figures move with the machine's load:
# only the ratios of one run, taken alternately, compare.
#
# Knobs (environment): NORVISK (the command, default build/native/norvisk), FLOOR (default
# build/native/bench/jpeg_floor), RUNS (100),
# BLOCK (runs per hyperfine call, 10), BATCH_CHARTS (1000), GNUPLOT_BATCH_CHARTS (200),
# BATCH_REPS (5), BATCH=0 leaves pass (b) out, KEEP=1 keeps the work folder.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
norvisk=${NORVISK:-$root/build/native/norvisk}
floor=${FLOOR:-$root/build/native/bench/jpeg_floor}
runs=${RUNS:-100}
block=${BLOCK:-10}
batch_charts=${BATCH_CHARTS:-1000}
gp_batch_charts=${GNUPLOT_BATCH_CHARTS:-200}
batch_reps=${BATCH_REPS:-5}

data='(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'
goal_floor_ratio=1.5
goal_single_ratio=4
goal_batch_ratio=5

die() { echo "compare_gnuplot: $*" >&2; exit 2; }
fail() { echo "compare_gnuplot: FAILED: $*" >&2; exit 1; }

# Set-up.
"$root/cmake/install-deps.sh" gnuplot-nox hyperfine || die "cannot install gnuplot-nox and hyperfine"
command -v gnuplot >/dev/null || die "gnuplot is not installed"
command -v hyperfine >/dev/null || die "hyperfine is not installed"
[[ -x $norvisk ]] || die "$norvisk is missing: run make build first"
[[ -x $floor ]] || die "$floor is missing: run make build first"
for n in "$runs" "$block" "$batch_charts" "$gp_batch_charts" "$batch_reps"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || die "RUNS, BLOCK, BATCH_CHARTS, GNUPLOT_BATCH_CHARTS and BATCH_REPS must be positive"
done

work=$(mktemp -d /tmp/norvisk-compare.XXXXXX)
if [[ ${KEEP:-0} == 1 ]]; then
  echo "work folder kept: $work"
else
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/a" "$work/b"

# The chart settings of gnuplot, shared by both parts: the data as an inline block (norvisk gets
# it on the command line), rows stacked, one colour per column, legend right of the plot.
gp_head="$work/head.gp"
cat >"$gp_head" <<'EOF'
set terminal jpeg size 640,300
$data << EOD
Bar Q1 Q2 Q3
North 10 20 30
South 15 25 35
East 5 10 5
West 30 20 25
EOD
set style data histograms
set style histogram rowstacked
set style fill solid border -1
set boxwidth 0.6
set key outside right
EOF
gp_plot="plot \$data using 2:xtic(1) title columnheader(2), '' using 3 title columnheader(3), '' using 4 title columnheader(4)"

# Pass (a): the output name comes in as the variable outfile (gnuplot -e "outfile='...'").
gp_single="$work/single.gp"
{ cat "$gp_head"; echo "set output outfile"; echo "$gp_plot"; } >"$gp_single"

jpeg_magic=$'\xff\xd8'
# True when every file named exists and starts with the JPEG start-of-image marker.
all_jpeg() {
  local f sig
  for f in "$@"; do
    [[ -f $f ]] || { echo "missing: $f" >&2; return 1; }
    sig=""
    IFS= read -r -n2 -d '' sig <"$f" || true
    [[ $sig == "$jpeg_magic" ]] || { echo "not a JPEG: $f" >&2; return 1; }
  done
}

# Makes every file named empty, creating the missing ones. The tools then write into files that
# exist: creating a file right after many were deleted can cost more than drawing a chart
# (ext4 looks past recently deleted inodes), and that is no part of what is compared here. An
# emptied file that the tool does not write again fails the JPEG check.
empty_files() {
  local f
  for f in "$@"; do : >"$f"; done
}

median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) exit 1; m = int((NR + 1) / 2); print ((NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
verdict() { awk -v ok="$1" 'BEGIN {print (ok ? "PASS" : "MISS")}'; }

echo "norvisk: $("$norvisk" --version 2>/dev/null | head -n 1) ($norvisk)"
echo "gnuplot: $(gnuplot --version)"
echo "machine: $(nproc) CPU(s), $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
echo

# Each tool once, with its messages shown if it fails; the floor's input is norvisk's bitmap.
if ! "$norvisk" bar "$work/smoke.jpg" "$data" 2>"$work/smoke.err" || ! all_jpeg "$work/smoke.jpg"; then
  cat "$work/smoke.err" >&2
  fail "norvisk bar did not write a JPEG"
fi
if ! gnuplot -e "outfile='$work/smoke-gp.jpg'" "$gp_single" 2>"$work/smoke-gp.err" ||
  ! all_jpeg "$work/smoke-gp.jpg"; then
  cat "$work/smoke-gp.err" >&2
  fail "gnuplot did not write a JPEG"
fi
"$norvisk" bar "$work/chart.bmp" "$data" || fail "norvisk bar did not write a bitmap"
"$floor" "$work/chart.bmp" "$work/smoke-floor.jpg" || fail "jpeg_floor did not write a JPEG"
cmp -s "$work/smoke.jpg" "$work/smoke-floor.jpg" || fail "jpeg_floor's file is not norvisk's"

# (a) One chart per process.
# hyperfine runs each parameter value's commands one after the other, so with one run per value
# the three alternate run by run; the order flips from block to block. Every run writes a file
# of its own, so each can be checked.
times_a="$work/times-a.txt"
: >"$times_a"
expected_a=()
done_runs=0
blk=0
while ((done_runs < runs)); do
  n=$((runs - done_runs < block ? runs - done_runs : block))
  ids=()
  for ((i = 0; i < n; ++i)); do
    id=$(printf 'r%04d' $((done_runs + i)))
    ids+=("$id")
    expected_a+=("$work/a/norvisk-$id.jpg" "$work/a/gnuplot-$id.jpg" "$work/a/floor-$id.jpg")
    empty_files "$work/a/norvisk-$id.jpg" "$work/a/gnuplot-$id.jpg" "$work/a/floor-$id.jpg"
  done
  cmd_norvisk="$norvisk bar $work/a/norvisk-{id}.jpg $data"
  cmd_gnuplot="gnuplot -e \"outfile='$work/a/gnuplot-{id}.jpg'\" $gp_single"
  cmd_floor="$floor $work/chart.bmp $work/a/floor-{id}.jpg"
  if ((blk % 2 == 0)); then
    order=("$cmd_norvisk" "$cmd_gnuplot" "$cmd_floor")
  else
    order=("$cmd_floor" "$cmd_gnuplot" "$cmd_norvisk")
  fi
  json="$work/a/block$blk.json"
  if ! hyperfine -N --style none --runs 1 -L id "$(IFS=,; echo "${ids[*]}")" \
    --export-json "$json" "${order[@]}" 2>"$work/a/block$blk.err"; then
    cat "$work/a/block$blk.err" >&2
    # hyperfine does not say which command it was: one more run of each, with its messages.
    "$norvisk" bar "$work/a/again.jpg" "$data" || fail "pass (a): norvisk bar exited with an error"
    gnuplot -e "outfile='$work/a/again-gp.jpg'" "$gp_single" || fail "pass (a): gnuplot exited with an error"
    "$floor" "$work/chart.bmp" "$work/a/again-floor.jpg" || fail "pass (a): jpeg_floor exited with an error"
    fail "pass (a): a command exited with an error once (both ran again without one)"
  fi
  # Seconds from the "times" arrays, as "tool milliseconds" lines.
  awk '/"command":/ {tool = /gnuplot/ ? "gnuplot" : /jpeg_floor/ ? "floor" : "norvisk"}
       /"times": \[/ {in_times = 1; next}
       in_times && /\]/ {in_times = 0}
       in_times {gsub(/[ ,]/, ""); printf "%s %.6f\n", tool, $0 * 1000}' "$json" >>"$times_a"
  done_runs=$((done_runs + n))
  blk=$((blk + 1))
done
all_jpeg "${expected_a[@]}" || fail "pass (a): an output file is missing or is not a JPEG"

a_norvisk_n=$(grep -c '^norvisk ' "$times_a" || true)
a_gnuplot_n=$(grep -c '^gnuplot ' "$times_a" || true)
a_floor_n=$(grep -c '^floor ' "$times_a" || true)
[[ $a_norvisk_n == "$runs" && $a_gnuplot_n == "$runs" && $a_floor_n == "$runs" ]] ||
  fail "pass (a): expected $runs times per tool"
a_norvisk=$(awk '$1 == "norvisk" {print $2}' "$times_a" | median)
a_gnuplot=$(awk '$1 == "gnuplot" {print $2}' "$times_a" | median)
a_floor=$(awk '$1 == "floor" {print $2}' "$times_a" | median)
a_ratio=$(ratio "$a_gnuplot" "$a_norvisk")
a_floor_ratio=$(ratio "$a_norvisk" "$a_floor")

# (b) Many charts in one process.
b_state=skipped
if [[ ${BATCH:-1} != 0 ]]; then
  b_state=measured
  # One call per line; the names need no escapes (mktemp gives plain characters) but get them
  # anyway, so that the script stays valid wherever the work folder is.
  quote() { local s=${1//\\/\\\\}; s=${s//\"/\\\"}; printf '"%s"' "$s"; }
  nv_script="$work/batch.norvisk"
  nv_out="$work/b/norvisk"
  {
    echo "# $batch_charts bar charts, each drawn from its data string and written as a JPEG"
    for ((i = 1; i <= batch_charts; ++i)); do
      printf 'DrawBarGraph %s %s\n' "$(quote "$(printf '%s/chart%04d.jpg' "$nv_out" "$i")")" "$(quote "$data")"
    done
  } >"$nv_script"
  expected_nv=()
  for ((i = 1; i <= batch_charts; ++i)); do expected_nv+=("$(printf '%s/chart%04d.jpg' "$nv_out" "$i")"); done

  gp_script="$work/batch.gp"
  gp_out="$work/b/gnuplot"
  {
    cat "$gp_head"
    for ((i = 1; i <= gp_batch_charts; ++i)); do
      printf "set output '%s/chart%04d.jpg'\n%s\n" "$gp_out" "$i" "$gp_plot"
    done
    echo "unset output"
  } >"$gp_script"
  expected_gp=()
  for ((i = 1; i <= gp_batch_charts; ++i)); do expected_gp+=("$(printf '%s/chart%04d.jpg' "$gp_out" "$i")"); done

  # Long runs: a bash loop's own cost (well under a millisecond) does not matter here.
  elapsed_ms() {
    local t0 t1
    t0=$EPOCHREALTIME
    "$@" >/dev/null 2>"$work/b/last.err" || return 1
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", (b - a) * 1000}'
  }
  times_b="$work/times-b.txt"
  : >"$times_b"
  for ((rep = 0; rep < batch_reps; ++rep)); do
    # The order flips from repetition to repetition, as in pass (a).
    if ((rep % 2 == 0)); then tools=(norvisk gnuplot); else tools=(gnuplot norvisk); fi
    for tool in "${tools[@]}"; do
      mkdir -p "$nv_out" "$gp_out"
      empty_files "${expected_nv[@]}" "${expected_gp[@]}"
      # The files of the run before are on disk before the clock starts: their write-back would
      # otherwise land in this run (1000 charts are some 40 MB).
      sync
      if [[ $tool == norvisk ]]; then
        ms=$(elapsed_ms "$norvisk" run "$nv_script") || { cat "$work/b/last.err" >&2; fail "norvisk run exited with an error"; }
        all_jpeg "${expected_nv[@]}" || fail "pass (b): norvisk run did not write all its JPEG files"
        awk -v ms="$ms" -v n="$batch_charts" 'BEGIN {printf "norvisk %.3f %.6f\n", ms, ms / n}' >>"$times_b"
      else
        ms=$(elapsed_ms gnuplot "$gp_script") || { cat "$work/b/last.err" >&2; fail "gnuplot exited with an error"; }
        all_jpeg "${expected_gp[@]}" || fail "pass (b): gnuplot did not write all its JPEG files"
        awk -v ms="$ms" -v n="$gp_batch_charts" 'BEGIN {printf "gnuplot %.3f %.6f\n", ms, ms / n}' >>"$times_b"
      fi
    done
  done
  b_norvisk_total=$(awk '$1 == "norvisk" {print $2}' "$times_b" | median)
  b_gnuplot_total=$(awk '$1 == "gnuplot" {print $2}' "$times_b" | median)
  b_norvisk=$(awk '$1 == "norvisk" {print $3}' "$times_b" | median)
  b_gnuplot=$(awk '$1 == "gnuplot" {print $3}' "$times_b" | median)
  b_ratio=$(ratio "$b_gnuplot" "$b_norvisk")
fi

# Report.
printf '%-44s %-8s %6s %12s %8s\n' "measure" "tool" "runs" "median ms" "ratio"
printf '%-44s %-8s %6d %12.3f %8s\n' "(a) one chart per process" norvisk "$runs" "$a_norvisk" "1.00"
printf '%-44s %-8s %6d %12.3f %8s\n' "(a) one chart per process" gnuplot "$runs" "$a_gnuplot" "$a_ratio"
printf '%-44s %-8s %6d %12.3f %8s\n' "(a) one chart per process" floor "$runs" "$a_floor" \
  "$(ratio "$a_floor" "$a_norvisk")"
if [[ $b_state == measured ]]; then
  printf '%-44s %-8s %6d %12.3f %8s\n' "(b) per chart, $batch_charts charts in one process" norvisk "$batch_reps" "$b_norvisk" "1.00"
  printf '%-44s %-8s %6d %12.3f %8s\n' "(b) per chart, $gp_batch_charts charts in one process" gnuplot "$batch_reps" "$b_gnuplot" "$b_ratio"
  printf '    whole process: norvisk %.1f ms for %d charts, gnuplot %.1f ms for %d charts\n' \
    "$b_norvisk_total" "$batch_charts" "$b_gnuplot_total" "$gp_batch_charts"
fi
echo
echo "$(verdict "$(awk -v r="$a_floor_ratio" -v t="$goal_floor_ratio" 'BEGIN {print (r <= t)}')")" \
  "(a) norvisk at most ${goal_floor_ratio}x the floor per process: ${a_floor_ratio}x"
echo "$(verdict "$(awk -v r="$a_ratio" -v t="$goal_single_ratio" 'BEGIN {print (r >= t)}')")" \
  "(a) norvisk at least ${goal_single_ratio}x faster than gnuplot per process: ${a_ratio}x"
if [[ $b_state == measured ]]; then
  echo "$(verdict "$(awk -v r="$b_ratio" -v t="$goal_batch_ratio" 'BEGIN {print (r >= t)}')")" \
    "(b) norvisk at least ${goal_batch_ratio}x faster than gnuplot per chart: ${b_ratio}x"
else
  echo "SKIP (b) left out (BATCH=0)"
fi
echo "All $((${#expected_a[@]})) files of (a)$([[ $b_state == measured ]] && echo " and $((batch_charts * batch_reps + gp_batch_charts * batch_reps)) of (b)") checked: JPEG."
