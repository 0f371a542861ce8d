#!/usr/bin/env bash
# The component's figures under Wine, beside the native ones (a benchmark, not a test):
#   DrawBarGraph to a .jpg through the INVGraph vtable (median of 200 calls) against the native
#   BM_DrawBarGraphJpeg of the same chart (target: within 1.5 times), and late binding's price,
#   AddBarValue through IDispatch::Invoke against the vtable (target: at most 2 us more a call).
# Needs make build-windows, and make build for the native figure. Runs in a Wine session of its
# own under build/windows/wine-bench.
#   tests/windows/run_com_bench.sh [DRAW_CALLS] [ADD_CALLS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$root/build/windows
bench=$win/tests/windows/com_bench.exe
native=$root/build/native/bench/bar_bench
draws=${1:-200}
adds=${2:-100000}
[[ -f $bench && -f $win/Norvisk.dll ]] || { echo "no Windows build: make build-windows" >&2; exit 1; }

out=$win/tests/windows/bench
rm -rf "$out"
mkdir -p "$out/module"
cp "$win/Norvisk.dll" "$out/module/Norvisk.dll"

echo "== Norvisk.dll under $(wine --version 2>/dev/null) (com_bench.exe)"
"$root/cmake/wine-session.sh" "$win/wine-bench" bash -c '
  wine regsvr32 /s "$(winepath -w "$1")" </dev/null
  wine "$2" "$(winepath -w "$3")" "$4" "$5" </dev/null' \
  _ "$out/module/Norvisk.dll" "$bench" "$out" "$draws" "$adds" | tr -d '\r' | tee "$out/com.txt"
figures=$(sed -n 's/^figures: //p' "$out/com.txt")
[[ -n $figures ]] || { echo "com_bench printed no figures" >&2; exit 1; }
eval "$figures"  # draw_median_us vtable_us invoke_us named_us

if [[ -x $native ]]; then
  echo "== native (bar_bench --benchmark_filter=BM_DrawBarGraphJpeg, median of 5)"
  native_us=$("$native" --benchmark_filter='^BM_DrawBarGraphJpeg$' --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
    awk -F, '/_median"?,/ { print $3 }')  # real time: com_bench measures wall-clock time too
  echo "BM_DrawBarGraphJpeg: median $native_us us (real time)"
  awk -v com="$draw_median_us" -v native="$native_us" 'BEGIN {
    ratio = com / native
    printf "DrawBarGraph .jpg: %.1f us through COM under Wine, %.1f us native: %.2f times (target 1.5): %s\n",
      com, native, ratio, ratio <= 1.5 ? "met" : "missed" }'
else
  echo "== no native figure: make build for $native"
fi
awk -v vt="$vtable_us" -v inv="$invoke_us" 'BEGIN {
  extra = inv - vt
  printf "Invoke over the vtable: +%.3f us a call (target 2 us): %s\n", extra, extra <= 2 ? "met" : "missed" }'
