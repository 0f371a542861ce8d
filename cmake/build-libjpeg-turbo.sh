#!/usr/bin/env bash
# Builds libjpeg-turbo as a static library for mingw-w64 (with its SIMD code) from Debian's
# source package, once, into a cache folder: $1 (include/ and lib/libjpeg.a inside).
set -euo pipefail
dest=${1:?usage: build-libjpeg-turbo.sh CACHE_FOLDER}
[[ -f "$dest/lib/libjpeg.a" && -f "$dest/include/jpeglib.h" ]] && exit 0
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Source packages need a deb-src entry; it mirrors the system's own Debian entry.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  sudo=""; [[ $(id -u) -ne 0 ]] && sudo="sudo"
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/norvisk-deb-src.sources >/dev/null
  else
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/norvisk-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi
echo "Building libjpeg-turbo for Windows into $dest"
(cd "$work" && apt-get source -qq --download-only libjpeg-turbo >/dev/null 2>&1)
tar -xzf "$work"/libjpeg-turbo_*.orig.tar.gz -C "$work"
src=$(find "$work" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n 1)
cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF \
  -DCMAKE_INSTALL_PREFIX="$dest" >/dev/null
cmake --build "$work/build" -j"$(nproc)" --target jpeg-static >/dev/null
mkdir -p "$dest/include" "$dest/lib"
cp "$work/build/libjpeg.a" "$dest/lib/"
cp "$work/build/jconfig.h" "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$dest/include/"
