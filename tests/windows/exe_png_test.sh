#!/usr/bin/env bash
# norvisk.exe writes PNGs as the Linux command does: each one holds exactly the pixels of the
# bitmap the same command writes of the same chart, read back here by the tests' own reader, and
# pngcheck (where it is installed) accepts it.
#   exe_png_test.sh SOURCE_FOLDER WORK_FOLDER NORVISK_EXE
set -euo pipefail
src=$1
work=$2
exe=$3
rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pixels() { python3 "$src/tests/support/picture_pixels.py" "$@"; }

# KIND DATA WIDTH HEIGHT: a chart at a width that is a multiple of 4, one that is not, and 1 x 1.
charts=(
  "bar|(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)|640|300"
  "xy|(Jan;10)(Feb;20)(Mar;15)(Apr;-12.5)|301|203"
  "bar|(a)(b;1)|1|1"
)
n=0
for chart in "${charts[@]}"; do
  IFS='|' read -r kind data width height <<<"$chart"
  n=$((n + 1))
  for ext in bmp png; do
    (cd "$work" && wine "$exe" "$kind" "c$n.$ext" "$data" --width "$width" --height "$height" \
      >/dev/null 2>&1 </dev/null) || fail "$kind $width x $height: norvisk.exe wrote no $ext"
  done
  [[ -f $work/c$n.png && -f $work/c$n.bmp ]] || continue
  [[ $(head -c 8 "$work/c$n.png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] ||
    fail "c$n.png does not begin with the PNG signature"
  pixels "$work/c$n.bmp" "$work/c$n.png" || fail "$kind $width x $height: PNG pixels are not the bitmap's"
  if command -v pngcheck >/dev/null; then
    pngcheck -q "$work/c$n.png" || fail "pngcheck refuses c$n.png"
  fi
done
# A name of no format, as on Linux: nothing written, exit 1.
status=0
(cd "$work" && wine "$exe" bar OUT.PNG "(a)(b;1)" >/dev/null 2>&1 </dev/null) || status=$?
[[ $status -eq 1 ]] || fail "OUT.PNG: exit $status, wanted 1"
[[ ! -e $work/OUT.PNG ]] || fail "OUT.PNG was written"
if ((failures > 0)); then
  echo "$failures failures" >&2
  exit 1
fi
echo "norvisk.exe: ${#charts[@]} PNGs with their bitmaps' pixels"
