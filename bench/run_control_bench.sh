#!/usr/bin/env bash
# VGraph as a control under Wine, in an active 640 x 300 control of the system's container:
# DrawBarGraph of the four-bar chart, DrawGraph, and a repaint of the unchanged graph, beside
# NVGraph's DrawBarGraph to a .bmp file, all from one run of control_bench. The benchmarks'
# repetitions are interleaved at random (this machine's speed drifts by a third from minute to
# minute), and each figure is the median of its repetitions. Target: the repaint, which only
# erases and copies, at most half of DrawGraph, which renders the whole graph anew. Under Wine a
# paint cycle costs the same even when it draws nothing (BM_EmptyPaintYardstick, measured in
# the same run), so the repaint's own share is also given: its figure less the yardstick's.
#   bench/run_control_bench.sh [REPETITIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$root/build/windows
bench=$win/bench/control_bench.exe
repetitions=${1:-15}
[[ -f $bench && -f $win/Norvisk.dll ]] || { echo "no Windows benchmark build: make bench" >&2; exit 1; }

out=$win/bench/control
rm -rf "$out"
mkdir -p "$out/module"
cp "$win/Norvisk.dll" "$out/module/Norvisk.dll"

"$root/cmake/wine-session.sh" "$win/wine-control-bench" bash -c '
  set -euo pipefail
  module=$1 bench=$2 out=$3 repetitions=$4
  wine regsvr32 /s "$(winepath -w "$module")" </dev/null
  wine "$bench" --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.1 --benchmark_report_aggregates_only=true \
    --benchmark_out="$(winepath -w "$out/control.csv")" --benchmark_out_format=csv </dev/null |
    tr -d "\r"' _ "$out/module/Norvisk.dll" "$bench" "$out" "$repetitions"

echo "== summary (medians of $repetitions interleaved repetitions)"
tr -d '\r' <"$out/control.csv" | awk -F, '
  $1 ~ /_median"?$/ { name = $1; gsub(/"/, "", name); sub(/_median$/, "", name); us[name] = $3 }
  END {
    split("BM_ControlDrawBarGraph BM_ControlDrawGraph BM_ControlRepaint BM_NVGraphDrawBarGraphBmp BM_EmptyPaintYardstick", order, " ")
    for (i = 1; i <= 5; ++i) {
      if (!(order[i] in us)) { print "no figure for " order[i]; bad = 1; continue }
      printf "%-28s %10.1f us\n", order[i], us[order[i]]
    }
    if (bad) exit 1
    ratio = us["BM_ControlRepaint"] / us["BM_ControlDrawGraph"]
    printf "repaint / DrawGraph: %.3f (target at most 0.5): %s\n", ratio, ratio <= 0.5 ? "met" : "missed"
    own = us["BM_ControlRepaint"] - us["BM_EmptyPaintYardstick"]
    printf "repaint less an empty paint of the same window size: %.1f us, %.3f of DrawGraph\n", own, own / us["BM_ControlDrawGraph"]
  }'
