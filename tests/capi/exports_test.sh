#!/bin/sh
# The shared library exports exactly the functions norvisk.h declares, and nothing else.
# Usage: exports_test.sh LIBRARY HEADER
set -eu
library=$1
header=$2
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sed 's/@.*//' | grep -v '^$' | sort)
declared=$(sed -n 's/^NORVISK_API[^(]*[ *]\(norvisk_[a-z_0-9]*\)(.*/\1/p' "$header" | sort)
if [ -z "$declared" ]; then
  echo "no declarations found in $header" >&2
  exit 1
fi
if [ "$exported" != "$declared" ]; then
  echo "exported and declared names differ (< exported, > declared):" >&2
  diff -u /dev/fd/3 /dev/fd/4 3<<E1 4<<E2 >&2 || true
$exported
E1
$declared
E2
  exit 1
fi
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libnorvisk.so.1" ]; then
  echo "soname is '$soname', not libnorvisk.so.1" >&2
  exit 1
fi
echo "$(echo "$exported" | wc -l) names exported, all declared; soname $soname"
