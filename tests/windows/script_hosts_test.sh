#!/usr/bin/env bash
# Script hosts as clients: a VBScript and a JScript, run by cscript, make Norvisk.NVGraph by its
# ProgID and write a bar and an XY chart as bitmaps and JPEGs into a folder given to them as a
# Windows path. The files are checked for format and size, and must be the very pictures
# norvisk.exe draws from the same data.
#   script_hosts_test.sh SOURCE_FOLDER OUTPUT_FOLDER NORVISK_EXE
set -euo pipefail
source "$1/picture_checks.sh"
src=$1
out=$2
exe=$3
bar_data='(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)'
xy_data='(Jan;10)(Feb;20)(Mar;15)(Apr;12.5)'

rm -rf "$out"
mkdir -p "$out/vbs" "$out/js" "$out/reference"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for ref in bar.bmp bar.jpg; do
  wine "$exe" bar "$(winepath -w "$out/reference/$ref")" "$bar_data" </dev/null || fail "norvisk.exe bar $ref"
done
for ref in xy.bmp xy.jpg; do
  wine "$exe" xy "$(winepath -w "$out/reference/$ref")" "$xy_data" </dev/null || fail "norvisk.exe xy $ref"
done

for host in vbs js; do
  folder=$out/$host
  status=0
  printed=$(wine cscript //nologo "$(winepath -w "$src/charts.$host")" "$(winepath -w "$folder")" \
    </dev/null 2>&1) || status=$?
  printed=${printed//$'\r'/}
  [[ $status -eq 0 ]] || fail "charts.$host: cscript exited with $status"
  [[ $printed == "charts written" ]] || fail "charts.$host printed: $printed"
  check_bmp "$folder/bar.bmp" 640 300 || fail "charts.$host: bar.bmp"
  check_bmp "$folder/xy.bmp" 640 300 || fail "charts.$host: xy.bmp"
  check_jpeg "$folder/bar.jpg" 640 300 || fail "charts.$host: bar.jpg"
  check_jpeg "$folder/xy.jpg" 640 300 || fail "charts.$host: xy.jpg"
  for file in bar.bmp bar.jpg xy.bmp xy.jpg; do
    cmp -s "$folder/$file" "$out/reference/$file" ||
      fail "charts.$host: $file is not the picture norvisk.exe draws from the same data"
  done
  names=$(cd "$folder" && ls | tr '\n' ' ')
  [[ $names == "bar.bmp bar.jpg xy.bmp xy.jpg " ]] || fail "charts.$host wrote: $names"
done

if ((failures > 0)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "both script hosts wrote the four charts"
