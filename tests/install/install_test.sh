#!/bin/sh
# make install into a scratch DESTDIR, then use what was installed as its users would: the C
# example through pkg-config, a CMake project through find_package(Norvisk), the Python module,
# the command, the manual page; the exported names; make uninstall leaves no file behind.
# Usage: install_test.sh BUILD SOURCE
set -eu
build=$1
source=$2
stage=$(mktemp -d /tmp/norvisk-install-XXXXXX)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }
unset NORVISK_LIBRARY PYTHONPATH LD_LIBRARY_PATH || true

DESTDIR=$stage/root "$source/cmake/install.sh" "$build" /usr/local "$stage/record"
p=$stage/root/usr/local
for f in bin/norvisk lib/libnorvisk.so lib/libnorvisk.so.1 include/norvisk.h \
         lib/pkgconfig/norvisk.pc lib/cmake/Norvisk/NorviskConfig.cmake share/man/man1/norvisk.1; do
  [ -e "$p/$f" ] || fail "$f was not installed"
done
ls "$p"/lib/libnorvisk.so.1.* >/dev/null 2>&1 || fail "no lib/libnorvisk.so.1.*"
"$source/tests/capi/exports_test.sh" "$p/lib/libnorvisk.so.1" "$p/include/norvisk.h"

bar='(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)'
"$p/bin/norvisk" bar "$stage/command.jpg" "$bar"

# C, through pkg-config alone.
flags=$(PKG_CONFIG_PATH=$p/lib/pkgconfig pkg-config --cflags --libs norvisk)
cc -std=c99 -Wall -Werror "$source/examples/chart.c" $flags -o "$stage/chart"
LD_LIBRARY_PATH=$p/lib "$stage/chart" "$stage/c.jpg" "$stage/c.bmp" >/dev/null
cmp "$stage/c.jpg" "$stage/command.jpg" || fail "the C example's JPEG differs from the command's"
[ "$(head -c 2 "$stage/c.bmp")" = BM ] || fail "the C example wrote no bitmap"

# CMake, through find_package(Norvisk).
cmake -S "$source/examples" -B "$stage/cmake-build" -DCMAKE_PREFIX_PATH="$p" >/dev/null ||
  fail "find_package(Norvisk) failed"
cmake --build "$stage/cmake-build" >/dev/null || fail "the CMake project did not build"
LD_LIBRARY_PATH=$p/lib "$stage/cmake-build/chart" "$stage/cm.jpg" "$stage/cm.bmp" >/dev/null
cmp "$stage/cm.jpg" "$stage/command.jpg" || fail "the CMake build's JPEG differs"

# Python, finding the staged library from where the module lies.
site=$(ls -d "$p"/lib/python3*/dist-packages)
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3  # Debian's, whatever else is on PATH
PYTHONPATH=$site PYTHONDONTWRITEBYTECODE=1 $python - "$stage/py.jpg" "$p/lib" "$site" "$bar" <<'PY'
import sys, norvisk
out, libdir, site, bar = sys.argv[1:]
assert norvisk.__file__.startswith(site + "/"), norvisk.__file__
with open("/proc/self/maps") as maps:
    assert any(libdir + "/libnorvisk.so" in line for line in maps), "not the staged library"
with open(out, "wb") as f:
    f.write(norvisk.bar_chart(bar))
PY
cmp "$stage/py.jpg" "$stage/command.jpg" || fail "the Python module's JPEG differs"

if command -v groff >/dev/null 2>&1; then
  groff -man -Tutf8 -ww -z "$p/share/man/man1/norvisk.1" 2>"$stage/groff.txt"
  [ ! -s "$stage/groff.txt" ] || fail "manual page: $(cat "$stage/groff.txt")"
fi

"$source/cmake/uninstall.sh" "$stage/record" >/dev/null
left=$(find "$stage/root" -type f -o -type l)
[ -z "$left" ] || fail "left after uninstall: $left"
echo "installed, used from C, CMake and Python, and removed"
