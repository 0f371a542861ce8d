#!/usr/bin/env bash
# Norvisk.dll's figures under Wine beside the native ones (a benchmark, not a test):
# - DrawBarGraph to a .jpg through the INVGraph vtable (com_bench DrawBarGraph/jpeg_single)
#   against the native library drawing the same chart to a file of the same kind
#   (bar_bench BM_DrawBarGraphJpeg/single); target: within 1.5 times. Both are medians of 200
#   single calls. This machine's speed drifts by a third from minute to minute, so the two are
#   taken in turn, ROUNDS times, each round giving a ratio, and the figure is the median of the
#   ratios. The rounds are taken as the machine runs the processes, then again with all of them
#   on one CPU (see below).
# - Late binding's price: AddBarValue through IDispatch::Invoke against the vtable; target: at
#   most 2 us more a call.
# Needs the Windows build with its benchmark (make bench builds it) and the native build. Runs
# in Wine sessions of its own under build/windows/wine-bench.
#   bench/run_com_bench.sh [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$root/build/windows
bench=$win/bench/com_bench.exe
native=$root/build/native/bench/bar_bench
rounds=${1:-7}
[[ -f $bench && -f $win/Norvisk.dll ]] || { echo "no Windows benchmark build: make bench" >&2; exit 1; }
[[ -x $native ]] || { echo "no native build: make build" >&2; exit 1; }

out=$win/bench/com
rm -rf "$out"
mkdir -p "$out/module"
cp "$win/Norvisk.dll" "$out/module/Norvisk.dll"

# One Wine session: the module registered, with FULL=1 every com_bench figure first, then the
# rounds. Everything runs under the command given after FULL (taskset, or nothing).
session() {
  local full=$1; shift
  "$@" "$root/cmake/wine-session.sh" "$win/wine-bench" bash -c '
    set -euo pipefail
    module=$1 bench=$2 out=$3 full=$4 rounds=$5 native=$6
    median() { tr -d "\r" | awk -F, "/_median\"?,/ { print \$3 }"; }
    wine regsvr32 /s "$(winepath -w "$module")" </dev/null
    if ((full)); then
      wine "$bench" --benchmark_min_time=0.2 --benchmark_out="$(winepath -w "$out/com.csv")" \
        --benchmark_out_format=csv </dev/null | tr -d "\r"
    fi
    for ((r = 1; r <= rounds; ++r)); do
      com=$(wine "$bench" --benchmark_filter="^DrawBarGraph/jpeg_single" --benchmark_format=csv \
        </dev/null 2>/dev/null | median)
      mine=$("$native" --benchmark_filter="^BM_DrawBarGraphJpeg/single" --benchmark_format=csv \
        2>/dev/null | median)
      echo "round $r: com_us=$com native_us=$mine"
    done' \
    _ "$out/module/Norvisk.dll" "$bench" "$out" "$full" "$rounds" "$native"
}

# Each round's ratio and the median of them.
ratios() {
  awk -v label="$1" '/^round / {
      split($3, c, "="); split($4, n, "=")
      if (c[2] == "" || n[2] == "") { print "a round gave no figure"; bad = 1; exit 1 }
      ratio[++k] = c[2] / n[2]
      printf "round %d: %.1f us through COM under Wine, %.1f us native: %.2f times\n", k, c[2], n[2], ratio[k]
    }
    END {
      if (bad) exit 1
      if (k == 0) { print "no rounds measured"; exit 1 }
      for (i = 1; i <= k; ++i) for (j = i + 1; j <= k; ++j) if (ratio[j] < ratio[i]) { t = ratio[i]; ratio[i] = ratio[j]; ratio[j] = t }
      m = k % 2 ? ratio[(k + 1) / 2] : (ratio[k / 2] + ratio[k / 2 + 1]) / 2
      printf "DrawBarGraph .jpg, %s: median ratio %.2f over %d rounds (from %.2f to %.2f), target 1.5: %s\n",
        label, m, k, ratio[1], ratio[k], m <= 1.5 ? "met" : "missed"
    }' "$2"
}

echo "== Norvisk.dll under $(wine --version 2>/dev/null): com_bench, then rounds in turn with the native bar_bench"
session 1 | tee "$out/rounds.txt"

# Every request to Wine's server (writing a file takes three: create, its descriptor, close)
# wakes the server and then the caller again. Across this machine's two virtual CPUs each
# wake-up costs tens of microseconds; with the server on the caller's CPU it costs a few. So the
# rounds are taken a second time with everything, the native side included, on one CPU.
echo "== the rounds again with Wine's server, the client and the native side on CPU 0"
session 0 taskset -c 0 | tee "$out/rounds-one-cpu.txt"

echo "== summary"
ratios "as the machine runs them" "$out/rounds.txt"
ratios "all on one CPU" "$out/rounds-one-cpu.txt"
tr -d '\r' <"$out/com.csv" | awk -F, '
  $1 ~ /^"?BM_AddBarValueVtable"?$/ { vtable = $3 }
  $1 ~ /^"?AddBarValueInvoke\/kept_dispid"?$/ { invoke = $3 }
  END {
    if (vtable == "" || invoke == "") { print "no AddBarValue figures"; exit 1 }
    extra = (invoke - vtable) / 1000
    printf "AddBarValue: %.3f us through the vtable, %.3f us through Invoke: +%.3f us a call (target 2 us): %s\n",
      vtable / 1000, invoke / 1000, extra, extra <= 2 ? "met" : "missed"
  }'
