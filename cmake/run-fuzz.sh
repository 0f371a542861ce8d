#!/usr/bin/env bash
# Runs every libFuzzer target of the fuzz build for FUZZ_SECONDS each (default 60), one after the
# other, and fails when any of them found a crash, a leak or a timeout. What each found is kept
# under the build folder: new inputs in build/fuzz/corpus/<name>/ (the checked-in seeds are read,
# never written), failing inputs in build/fuzz/crashes/<name>/; a fixed one belongs in
# tests/fuzz/crashes/<name>/, where every test run replays it.
#   cmake/run-fuzz.sh [name...]     only the targets named
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
seconds=${FUZZ_SECONDS:-60}
font=${NORVISK_FONT:-/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf}
names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for bin in "$build"/tests/fuzz/*_fuzz; do names+=("$(basename "$bin" _fuzz)"); done
fi
failed=()
for name in "${names[@]}"; do
  bin=$build/tests/fuzz/${name}_fuzz
  [[ -x $bin ]] || { echo "no fuzz target $name" >&2; failed+=("$name"); continue; }
  mkdir -p "$build/corpus/$name" "$build/crashes/$name"
  args=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/crashes/$name/")
  [[ -f $root/tests/fuzz/$name.dict ]] && args+=(-dict="$root/tests/fuzz/$name.dict")
  echo "== $name: $seconds s"
  log=$build/$name.log
  NORVISK_FONT=$font "$bin" "${args[@]}" "$build/corpus/$name" "$root/tests/fuzz/corpus/$name" >"$log" 2>&1
  status=$?
  grep -aE '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$log" | sed 's/^/   /'
  if [[ $status -ne 0 ]]; then
    failed+=("$name")
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -20 | sed 's/^/   /'
    echo "   (whole log: $log)"
  fi
done
if [[ ${#failed[@]} -ne 0 ]]; then
  echo "fuzzing found failures in: ${failed[*]}" >&2
  exit 1
fi
