#!/usr/bin/env bash
# examples/chart.php with Debian's php-cli writes the command's bytes, and tests/php/ffi_test.php
# gets statuses, not a crash, for null and wrong-kind calls.
# Usage: php_example_test.sh NORVISK_BINARY LIBRARY HEADER WORK_FOLDER
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
binary=$1
export NORVISK_LIBRARY=$2 NORVISK_HEADER=$3
work=$4
rm -rf "$work" && mkdir -p "$work"
php=(php -n -d ffi.enable=1 -d extension=ffi)
# Debian builds FFI in or as a module; -n leaves out the system's php.ini either way.
"${php[@]}" -r 'exit(class_exists("FFI") ? 0 : 1);' 2>/dev/null || php=(php -d ffi.enable=1)
"${php[@]}" -r 'exit(class_exists("FFI") ? 0 : 1);' || { echo "php has no FFI" >&2; exit 1; }

fail=0
compare() {  # KIND NAME DATA [WIDTH HEIGHT]
  local kind=$1 name=$2 data=$3
  shift 3
  "${php[@]}" "$root/examples/chart.php" "$kind" "$work/php-$name" "$data" "$@" >/dev/null
  local size=()
  [[ $# -eq 2 ]] && size=(--width "$1" --height "$2")
  "$binary" "$kind" "${size[@]}" -- "$work/cmd-$name" "$data"
  if cmp "$work/php-$name" "$work/cmd-$name"; then
    echo "same bytes: $kind $name"
  else
    echo "FAILED: $kind $name differs from the command's file" >&2
    fail=1
  fi
}
compare bar bar.jpg '(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)'
compare bar bar.bmp '(A;B)(x;1;2)(y;3;4)' 320 200
compare xy xy.bmp '(Jan;10)(Feb;20)(M'$'\xc3\xa4''r;15)(Apr;-4)'
compare xy xy.jpg '(Jan;10)(Feb;20)' 800 150
# Nothing to draw: one line and status 1, no file.
if "${php[@]}" "$root/examples/chart.php" xy "$work/none.jpg" '(no point' 2>"$work/err"; then
  echo "FAILED: an XY chart without a point was written" >&2
  fail=1
fi
grep -q "not written" "$work/err" && [[ ! -e $work/none.jpg ]] || { echo "FAILED: no reason" >&2; fail=1; }
"${php[@]}" "$here/ffi_test.php" || fail=1
exit $fail
