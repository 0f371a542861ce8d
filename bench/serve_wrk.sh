#!/usr/bin/env bash
# norvisk serve under wrk (keep-alive, server at 2 worker threads) against the same chart drawn
# other ways with the same parallelism of 2:
#   (1) the four-bar JPEG, one URL          (2) the same chart with data changing every request
#   (3) 304s for that URL                   (4) in process: serve_render_bench at 2 threads
#   (5) `norvisk bar` once per chart         (6) gnuplot once per chart
# Each round runs all six one after the other; ratios are taken within a round and the median
# of the rounds is reported, since the machine's speed drifts and other work shares its cores.
# Targets: (1) >= 70% of (4); (1) >= 10x (5); (1) >= 30x (6).
#
# Knobs: ROUNDS (3), SECONDS_EACH (5), CONNECTIONS (4), PROCESS_CHARTS (200), GNUPLOT_CHARTS (60).
# Exit status: 0 measured (a missed target prints MISS), 1 a tool failed, 2 the set-up failed.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
norvisk=${NORVISK:-$root/build/native/norvisk}
render_bench=${RENDER_BENCH:-$root/build/native/bench/serve_render_bench}
rounds=${ROUNDS:-3}
each=${SECONDS_EACH:-5}
connections=${CONNECTIONS:-4}
process_charts=${PROCESS_CHARTS:-200}
gnuplot_charts=${GNUPLOT_CHARTS:-60}
data='(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'
query='data=(Q1%3BQ2%3BQ3)(North%3B10%3B20%3B30)(South%3B15%3B25%3B35)(East%3B5%3B10%3B5)(West%3B30%3B20%3B25)'

die() { echo "serve_wrk: $*" >&2; exit 2; }
fail() { echo "serve_wrk: FAILED: $*" >&2; exit 1; }

"$root/cmake/install-deps.sh" wrk gnuplot-nox curl || die "cannot install wrk, gnuplot-nox and curl"
[[ -x $norvisk && -x $render_bench ]] || die "build first (make build): $norvisk, $render_bench"
work=$(mktemp -d /tmp/norvisk-serve-bench.XXXXXX)
server=""
cleanup() {
  [[ -n $server ]] && kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$norvisk" serve --listen 127.0.0.1:0 --threads 2 >"$work/server.out" &
server=$!
for ((i = 0; i < 100; ++i)); do
  grep -q "listening on" "$work/server.out" 2>/dev/null && break
  sleep 0.05
done
base=$(sed -n 's/^norvisk: listening on \(http:[^ ]*\)$/\1/p' "$work/server.out")
[[ -n $base ]] || die "the server did not start"
url="$base/bar.jpg?$query"
curl -sf "$url" -o "$work/served.jpg" || fail "the server did not answer"
"$norvisk" bar "$work/command.jpg" "$data" || fail "norvisk bar did not write its file"
cmp -s "$work/served.jpg" "$work/command.jpg" || fail "the served picture differs from the command's file"
etag=$(curl -sfI "$url" | tr -d '\r' | sed -n 's/^ETag: //Ip')
[[ -n $etag ]] || fail "no ETag"

cat >"$work/changing.lua" <<'LUA'
-- Every request a new first value, and each wrk thread its own: no two URLs are the same, and
-- the values stay near 10 so that the chart looks like the fixed one (labels of the same width).
local threads = 0
function setup(thread) thread:set("id", threads); threads = threads + 1 end
function init() n = 0 end
function request()
  n = n + 1
  return wrk.format("GET", "/bar.jpg?data=(Q1%3BQ2%3BQ3)(North%3B10." .. id .. string.format("%07d", n) ..
    "%3B20%3B30)(South%3B15%3B25%3B35)(East%3B5%3B10%3B5)(West%3B30%3B20%3B25)")
end
LUA
cat >"$work/chart.gp" <<'GP'
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
set output outfile
plot $data using 2:xtic(1) title columnheader(2), '' using 3 title columnheader(3), '' using 4 title columnheader(4)
GP

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# wrk ARGS...: prints "requests/s median_ms p99_ms server_cpu% client_cpu%".
run_wrk() {
  local t0 t1 w0 w1 out
  t0=$(cpu_ticks "$server")
  w0=$EPOCHREALTIME
  out=$( { TIMEFORMAT='%U %S'; time wrk -t2 -c"$connections" -d"${each}s" --latency "$@" 2>&1; } 2>&1 )
  w1=$EPOCHREALTIME
  t1=$(cpu_ticks "$server")
  grep -q "Non-2xx" <<<"$out" && ! grep -q "If-None-Match" <<<"$*" && { echo "$out" >&2; fail "wrk saw errors"; }
  awk -v t0="$t0" -v t1="$t1" -v w0="$w0" -v w1="$w1" -v hz="$ticks" '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
    /Requests\/sec:/ {rps = $2}
    /^ +50%/ {p50 = ms($2)}
    /^ +99%/ {p99 = ms($2)}
    /^[0-9.]+ [0-9.]+$/ {client = $1 + $2}
    END {wall = w1 - w0; printf "%.1f %.3f %.3f %.0f %.0f\n", rps, p50, p99, 100 * (t1 - t0) / hz / wall, 100 * client / wall}' <<<"$out"
}
# Charts per second of COMMAND run N times, two at a time.
per_process() {
  local n=$1 t0 t1
  shift
  t0=$EPOCHREALTIME
  seq "$n" | xargs -P2 -I{} "$@" || return 1
  t1=$EPOCHREALTIME
  awk -v n="$n" -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f\n", n / (b - a)}'
}

echo "machine: $(nproc) CPUs, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-28s %10s %9s %9s %8s %8s\n' round measure charts/s "p50 ms" "p99 ms" "srv CPU%" "wrk CPU%"
: >"$work/ratios"
for ((r = 1; r <= rounds; ++r)); do
  read -r fixed p50 p99 scpu ccpu <<<"$(run_wrk "$url")"
  printf '%-6s %-28s %10s %9s %9s %8s %8s\n' "$r" "(1) four bars, one URL" "$fixed" "$p50" "$p99" "$scpu" "$ccpu"
  read -r changing p50 p99 scpu ccpu <<<"$(run_wrk -s "$work/changing.lua" "$base")"
  printf '%-6s %-28s %10s %9s %9s %8s %8s\n' "$r" "(2) data changing" "$changing" "$p50" "$p99" "$scpu" "$ccpu"
  read -r cached p50 p99 scpu ccpu <<<"$(run_wrk -H "If-None-Match: $etag" "$url")"
  printf '%-6s %-28s %10s %9s %9s %8s %8s\n' "$r" "(3) 304 Not Modified" "$cached" "$p50" "$p99" "$scpu" "$ccpu"
  inproc=$("$render_bench" --benchmark_filter='BM_ServeRenderFourBarJpeg/real_time/threads:2' \
    --benchmark_min_time="$each" --benchmark_format=csv 2>/dev/null |
    awk -F, '/threads:2/ {for (i = 1; i <= NF; ++i) if ($i + 0 > 0) last = $i} END {print last}')
  [[ -n $inproc ]] || fail "serve_render_bench gave no figure"
  printf '%-6s %-28s %10.1f\n' "$r" "(4) in process, 2 threads" "$inproc"
  command=$(per_process "$process_charts" "$norvisk" bar "$work/c{}.jpg" "$data") || fail "norvisk bar failed"
  printf '%-6s %-28s %10s\n' "$r" "(5) norvisk bar per chart" "$command"
  gp=$(per_process "$gnuplot_charts" gnuplot -e "outfile='$work/g{}.jpg'" "$work/chart.gp") || fail "gnuplot failed"
  printf '%-6s %-28s %10s\n' "$r" "(6) gnuplot per chart" "$gp"
  awk -v a="$fixed" -v b="$inproc" -v c="$command" -v d="$gp" -v e="$changing" \
    'BEGIN {printf "%.3f %.2f %.2f %.3f\n", a / b, a / c, a / d, e / b}' >>"$work/ratios"
done
median() { sort -g | awk '{v[NR] = $1} END {m = int((NR + 1) / 2); print ((NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2)}'; }
served_share=$(awk '{print $1}' "$work/ratios" | median)
vs_command=$(awk '{print $2}' "$work/ratios" | median)
vs_gnuplot=$(awk '{print $3}' "$work/ratios" | median)
changing_share=$(awk '{print $4}' "$work/ratios" | median)
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
verdict() { awk -v v="$1" -v t="$2" 'BEGIN {print (v >= t ? "PASS" : "MISS")}'; }
echo "$(verdict "$served_share" 0.7) (1) over (4), served against in process: $(awk -v v="$served_share" 'BEGIN {printf "%.0f%%", v * 100}') (target 70%)"
echo "      (2) over (4), changing data: $(awk -v v="$changing_share" 'BEGIN {printf "%.0f%%", v * 100}')"
echo "$(verdict "$vs_command" 10) (1) over (5), against norvisk bar per chart: ${vs_command}x (target 10x)"
echo "$(verdict "$vs_gnuplot" 30) (1) over (6), against gnuplot per chart: ${vs_gnuplot}x (target 30x)"
