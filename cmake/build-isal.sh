#!/usr/bin/env bash
# Builds ISA-L's compression (igzip, with the CRC code it needs) as a static library for
# mingw-w64 from Debian's source package, once, into a cache folder: $1 (include/isa-l/ and
# lib/libisal.a inside). Its own Windows build assembles with yasm; nasm reads the same sources.
set -euo pipefail
dest=${1:?usage: build-isal.sh CACHE_FOLDER}
[[ -f "$dest/lib/libisal.a" && -f "$dest/include/isa-l/igzip_lib.h" ]] && exit 0
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Building ISA-L for Windows into $dest"
src=$("$here/apt-source.sh" libisal "$work")
# Its makefile probes the compiler with snippets that fail on purpose: the log is shown only when
# the build fails.
make -C "$src" -f Makefile.unx -j"$(nproc)" arch=mingw AS=nasm \
  CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar units=igzip lib >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
mkdir -p "$dest/include/isa-l" "$dest/lib"
cp "$src/bin/isa-l.a" "$dest/lib/libisal.a"
cp "$src"/include/*.h "$dest/include/isa-l/"
