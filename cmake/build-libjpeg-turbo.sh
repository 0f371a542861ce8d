#!/usr/bin/env bash
# Builds libjpeg-turbo as a static library for mingw-w64 (with its SIMD code) from Debian's
# source package, once, into a cache folder: $1 (include/ and lib/libjpeg.a inside).
set -euo pipefail
dest=${1:?usage: build-libjpeg-turbo.sh CACHE_FOLDER}
[[ -f "$dest/lib/libjpeg.a" && -f "$dest/include/jpeglib.h" ]] && exit 0
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Building libjpeg-turbo for Windows into $dest"
src=$("$here/apt-source.sh" libjpeg-turbo "$work")
cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
  -DCMAKE_INSTALL_PREFIX="$dest" >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target jpeg-static >/dev/null
mkdir -p "$dest/include" "$dest/lib"
cp "$work/build/libjpeg.a" "$dest/lib/"
cp "$work/build/jconfig.h" "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$dest/include/"
