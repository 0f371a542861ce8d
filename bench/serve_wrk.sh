#!/usr/bin/env bash
# norvisk serve under wrk (wrk -t2, keep-alive, server at 2 worker threads) against the same chart
# drawn other ways with the same parallelism of 2:
#   (1) the four-bar JPEG, one URL, 4 connections
#   (2) the same chart with data changing every request, 4 and 8 connections
#   (3) 304s for that URL, 8 connections
#   (4) in process: serve_render_bench at 2 threads
#   (5) `norvisk bar` once per chart         (6) gnuplot once per chart
#   (7) data changing, 8 connections, through nginx in front of two instances of 1 worker each
#       (the README's configuration); its CPU share is both instances', nginx's is given apart
#   (8) /parse/bar for that data, 8 connections
# Each round runs them all one after the other; ratios are taken within a round and the median
# of the rounds is reported, since the machine's speed drifts and other work shares its cores.
# For each served figure: the server's CPU share and its minor page faults per request.
# Targets: (2) >= 80% of (4) with p99 <= 3x p50; (3) >= 40,000/s; (1) >= 15x (5), >= 40x (6);
# (8) >= 20,000/s.
# (1p) the same URL as /bar.png, 4 connections, after (1): at least (1)'s charts/s.
#
# BASELINE=/path/to/another/norvisk measures a second server the same way in the same rounds,
# alternating which goes first, for comparing two builds of the service.
# Knobs: ROUNDS (3), SECONDS_EACH (5), PROCESS_CHARTS (200), GNUPLOT_CHARTS (60).
# Exit status: 0 measured (a missed target prints MISS), 1 a tool failed, 2 the set-up failed.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
norvisk=${NORVISK:-$root/build/native/norvisk}
baseline=${BASELINE:-}
render_bench=${RENDER_BENCH:-$root/build/native/bench/serve_render_bench}
rounds=${ROUNDS:-3}
each=${SECONDS_EACH:-5}
process_charts=${PROCESS_CHARTS:-200}
gnuplot_charts=${GNUPLOT_CHARTS:-60}
data='(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'
query='data=(Q1%3BQ2%3BQ3)(North%3B10%3B20%3B30)(South%3B15%3B25%3B35)(East%3B5%3B10%3B5)(West%3B30%3B20%3B25)'

die() { echo "serve_wrk: $*" >&2; exit 2; }
fail() { echo "serve_wrk: FAILED: $*" >&2; exit 1; }

"$root/cmake/install-deps.sh" wrk gnuplot-nox curl nginx-light ||
  die "cannot install wrk, gnuplot-nox, curl and nginx-light"
[[ -x $norvisk && -x $render_bench ]] || die "build first (make build): $norvisk, $render_bench"
[[ -z $baseline || -x $baseline ]] || die "BASELINE is not a program: $baseline"
work=$(mktemp -d /tmp/norvisk-serve-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# start NAME PROGRAM [OPTIONS]: a server at 2 threads unless OPTIONS say otherwise; sets
# pid_NAME and base_NAME.
start() {
  local name=$1 program=$2 base
  shift 2
  "$program" serve --listen 127.0.0.1:0 --threads 2 "$@" >"$work/$name.out" &
  pids+=($!)
  printf -v "pid_$name" '%s' "$!"
  for ((i = 0; i < 100; ++i)); do
    grep -q "listening on" "$work/$name.out" 2>/dev/null && break
    sleep 0.05
  done
  base=$(sed -n 's/^norvisk: listening on \(http:[^ ]*\)$/\1/p' "$work/$name.out")
  [[ -n $base ]] || die "the server $program did not start"
  printf -v "base_$name" '%s' "$base"
  curl -sf "$base/bar.jpg?$query" -o "$work/$name.jpg" || fail "$program did not answer"
}
servers=(serve)
start serve "$norvisk"
if [[ -n $baseline ]]; then
  servers+=(baseline)
  start baseline "$baseline"
fi
"$norvisk" bar "$work/command.jpg" "$data" || fail "norvisk bar did not write its file"
for name in "${servers[@]}"; do
  cmp -s "$work/$name.jpg" "$work/command.jpg" || fail "the picture $name served differs from the command's file"
done
"$norvisk" bar "$work/command.png" "$data" || fail "norvisk bar did not write its PNG"
for name in "${servers[@]}"; do
  basevar=base_$name
  curl -sf "${!basevar}/bar.png?$query" -o "$work/$name.png" || fail "$name did not answer /bar.png"
  cmp -s "$work/$name.png" "$work/command.png" || fail "the PNG $name served differs from the command's file"
done
# (7): two instances of one worker each behind nginx, which runs as nobody when this runs as
# root, with everything it writes under $work.
start scale_a "$norvisk" --threads 1 --max-per-client 0
start scale_b "$norvisk" --threads 1 --max-per-client 0
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work/nginx/client_body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    upstream norvisk_charts {
        server ${base_scale_a#http://} max_fails=1 fail_timeout=2s;
        server ${base_scale_b#http://} max_fails=1 fail_timeout=2s;
        keepalive 32;
    }
    server {
        listen 127.0.0.1:$nginx_port;
        location ~ ^/(bar|xy)\.(jpg|bmp|png)\$ {
            proxy_pass http://norvisk_charts;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_next_upstream error timeout;
            proxy_connect_timeout 2s;
        }
    }
}
NGINX
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  chmod 755 "$work"
  chown -R nobody: "$work/nginx"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
"${as_user[@]}" nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
pids+=($!)
pid_nginx=$!
base_nginx=http://127.0.0.1:$nginx_port
for ((i = 0; i < 100; ++i)); do
  curl -sf "$base_nginx/bar.jpg?$query" -o "$work/nginx.jpg" && break
  sleep 0.05
done
cmp -s "$work/nginx.jpg" "$work/command.jpg" || fail "the picture through nginx differs from the command's file"

base=$base_serve
etag=$(curl -sfI "$base/bar.jpg?$query" | tr -d '\r' | sed -n 's/^ETag: //Ip')
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
# CPU ticks and minor faults of processes (a comma-separated list of ids), summed: "ticks faults".
proc_stat() {
  local files=()
  for p in ${1//,/ }; do files+=("/proc/$p/stat"); done
  awk '{t += $14 + $15; f += $10} END {print t, f}' "${files[@]}"
}
# run_wrk PIDS CONNECTIONS ARGS...: prints "requests/s p50_ms p99_ms server_cpu% faults_per_request"
# with the CPU and faults of the processes PIDS (comma-separated).
run_wrk() {
  local pid=$1 connections=$2 t0 f0 t1 f1 w0 w1 out
  shift 2
  read -r t0 f0 <<<"$(proc_stat "$pid")"
  w0=$EPOCHREALTIME
  out=$(wrk -t2 -c"$connections" -d"${each}s" --latency "$@" 2>&1)
  w1=$EPOCHREALTIME
  read -r t1 f1 <<<"$(proc_stat "$pid")"
  grep -q "Non-2xx" <<<"$out" && ! grep -q "If-None-Match" <<<"$*" && { echo "$out" >&2; fail "wrk saw errors"; }
  awk -v t0="$t0" -v t1="$t1" -v f0="$f0" -v f1="$f1" -v w0="$w0" -v w1="$w1" -v hz="$ticks" '
    function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
    /^ +[0-9]+ requests in/ {n = $1}
    /Requests\/sec:/ {rps = $2}
    /^ +50%/ {p50 = ms($2)}
    /^ +99%/ {p99 = ms($2)}
    END {wall = w1 - w0; printf "%.1f %.3f %.3f %.0f %.1f\n", rps, p50, p99, 100 * (t1 - t0) / hz / wall, n ? (f1 - f0) / n : 0}' <<<"$out"
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
row() { printf '%-6s %-9s %-27s %10s %9s %9s %8s %8s\n' "$@"; }

load=$(cut -d' ' -f1 /proc/loadavg)
echo "machine: $(nproc) CPUs, load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v l="$load" 'BEGIN {exit !(l >= 0.5)}' &&
  echo "NOTE: the machine is not quiet (load average $load): the figures are provisional"
row round server measure charts/s "p50 ms" "p99 ms" "srv CPU%" faults/rq
: >"$work/ratios"
for ((r = 1; r <= rounds; ++r)); do
  order=("${servers[@]}")
  ((r % 2 == 0)) && [[ ${#servers[@]} -eq 2 ]] && order=("${servers[1]}" "${servers[0]}")
  for name in "${order[@]}"; do
    pidvar=pid_$name basevar=base_$name
    pid=${!pidvar} b=${!basevar}
    read -r fixed p50 p99 scpu flt <<<"$(run_wrk "$pid" 4 "$b/bar.jpg?$query")"
    row "$r" "$name" "(1) four bars, one URL" "$fixed" "$p50" "$p99" "$scpu" "$flt"
    read -r png p50 p99 scpu flt <<<"$(run_wrk "$pid" 4 "$b/bar.png?$query")"
    row "$r" "$name" "(1p) the same as PNG" "$png" "$p50" "$p99" "$scpu" "$flt"
    awk -v n="$name" -v p="$png" -v j="$fixed" 'BEGIN {printf "%s %.3f\n", n, p / j}' >>"$work/png_ratios"
    read -r ch4 p50_4 p99_4 scpu flt <<<"$(run_wrk "$pid" 4 -s "$work/changing.lua" "$b")"
    row "$r" "$name" "(2) data changing, 4 conn." "$ch4" "$p50_4" "$p99_4" "$scpu" "$flt"
    read -r ch8 p50_8 p99_8 scpu flt <<<"$(run_wrk "$pid" 8 -s "$work/changing.lua" "$b")"
    row "$r" "$name" "(2) data changing, 8 conn." "$ch8" "$p50_8" "$p99_8" "$scpu" "$flt"
    read -r cached p50 p99 scpu flt <<<"$(run_wrk "$pid" 8 -H "If-None-Match: $etag" "$b/bar.jpg?$query")"
    row "$r" "$name" "(3) 304 Not Modified" "$cached" "$p50" "$p99" "$scpu" "$flt"
    read -r parsed p50 p99 scpu flt <<<"$(run_wrk "$pid" 8 "$b/parse/bar?$query")"
    row "$r" "$name" "(8) /parse/bar, 8 conn." "$parsed" "$p50" "$p99" "$scpu" "$flt"
    printf '%s %s %s %s %s %s %s %s %s %s\n' "$name" "$fixed" "$ch4" "$ch8" "$cached" \
      "$p50_4" "$p99_4" "$p50_8" "$p99_8" "$parsed" >>"$work/served.$r"
  done
  nginx_pids=$(pgrep -P "$pid_nginx" | paste -sd, -)
  nginx_pids=$pid_nginx${nginx_pids:+,$nginx_pids}
  read -r t0 _ <<<"$(proc_stat "$nginx_pids")"
  w0=$EPOCHREALTIME
  read -r scaled p50_n p99_n scpu flt <<<"$(run_wrk "$pid_scale_a,$pid_scale_b" 8 -s "$work/changing.lua" "$base_nginx")"
  read -r t1 _ <<<"$(proc_stat "$nginx_pids")"
  nginx_cpu=$(awk -v a="$t0" -v b="$t1" -v w0="$w0" -v w1="$EPOCHREALTIME" -v hz="$ticks" \
    'BEGIN {printf "%.0f", 100 * (b - a) / hz / (w1 - w0)}')
  row "$r" "nginx" "(7) 2 instances, 8 conn." "$scaled" "$p50_n" "$p99_n" "$scpu" "$flt"
  echo "       nginx itself: ${nginx_cpu}% CPU"
  inproc=$("$render_bench" --benchmark_filter='BM_ServeRenderFourBarJpeg/real_time/threads:2' \
    --benchmark_min_time="$each" --benchmark_format=csv 2>/dev/null |
    awk -F, '/threads:2/ {for (i = 1; i <= NF; ++i) if ($i + 0 > 0) last = $i} END {print last}')
  [[ -n $inproc ]] || fail "serve_render_bench gave no figure"
  row "$r" "" "(4) in process, 2 threads" "$inproc"
  command=$(per_process "$process_charts" "$norvisk" bar "$work/c{}.jpg" "$data") || fail "norvisk bar failed"
  row "$r" "" "(5) norvisk bar per chart" "$command"
  gp=$(per_process "$gnuplot_charts" gnuplot -e "outfile='$work/g{}.jpg'" "$work/chart.gp") || fail "gnuplot failed"
  row "$r" "" "(6) gnuplot per chart" "$gp"
  awk -v inp="$inproc" -v c="$command" -v g="$gp" '
    {printf "%s %.3f %.3f %.3f %.0f %.2f %.2f %.2f %.2f %.0f\n", $1, $3 / inp, $4 / inp, $5, $2 / c, $2 / g, $7 / $6, $9 / $8, $2 / inp, $10}' \
    "$work/served.$r" >>"$work/ratios"
  awk -v s="$scaled" -v inp="$inproc" 'BEGIN {printf "%.3f\n", s / inp}' >>"$work/nginx_ratios"
done
median() { sort -g | awk '{v[NR] = $1} END {m = int((NR + 1) / 2); print ((NR % 2) ? v[m] : (v[m] + v[m + 1]) / 2)}'; }
verdict() { awk -v v="$1" -v t="$2" -v dir="${3:-ge}" 'BEGIN {print ((dir == "ge" ? v >= t : v <= t) ? "PASS" : "MISS")}'; }
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
for name in "${servers[@]}"; do
  pick() { awk -v n="$name" -v k="$1" '$1 == n {print $k}' "$work/ratios" | median; }
  share4=$(pick 2) share8=$(pick 3) not_modified=$(pick 4) vs_command=$(pick 5) vs_gnuplot=$(pick 6)
  tail4=$(pick 7) tail8=$(pick 8) fixed_share=$(pick 9) parse=$(pick 10)
  pct() { awk -v v="$1" 'BEGIN {printf "%.0f%%", v * 100}'; }
  echo "== $name (medians of $rounds rounds)"
  echo "$(verdict "$share4" 0.8) (2) over (4), data changing, 4 connections: $(pct "$share4") (target 80%)"
  echo "$(verdict "$share8" 0.8) (2) over (4), data changing, 8 connections: $(pct "$share8") (target 80%)"
  echo "$(verdict "$tail4" 3 le) p99 over p50, 4 connections: ${tail4}x (target at most 3x)"
  echo "$(verdict "$tail8" 3 le) p99 over p50, 8 connections: ${tail8}x (target at most 3x)"
  echo "$(verdict "$not_modified" 40000) (3) 304s: ${not_modified}/s (target 40,000/s)"
  echo "      (1) over (4), one URL: $(pct "$fixed_share")"
  png_share=$(awk -v n="$name" '$1 == n {print $2}' "$work/png_ratios" | median)
  echo "$(verdict "$png_share" 1) (1p) over (1), PNG against JPEG: $(pct "$png_share") (target 100%)"
  echo "$(verdict "$vs_command" 15) (1) over (5), against norvisk bar per chart: ${vs_command}x (target 15x)"
  echo "$(verdict "$vs_gnuplot" 40) (1) over (6), against gnuplot per chart: ${vs_gnuplot}x (target 40x)"
  echo "$(verdict "$parse" 20000) (8) /parse/bar: ${parse}/s (target 20,000/s)"
done
echo "      (7) over (4), through nginx to two instances: $(median <"$work/nginx_ratios" | awk '{printf "%.0f%%", $1 * 100}')"
