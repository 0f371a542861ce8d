#!/usr/bin/env bash
# Builds Google Benchmark as a static library for mingw-w64 from Debian's source package (the
# version of the native libbenchmark-dev), once, into a cache folder: $1, with its CMake package
# files in lib/cmake/benchmark.
set -euo pipefail
dest=${1:?usage: build-benchmark-mingw.sh CACHE_FOLDER}
[[ -f "$dest/lib/libbenchmark.a" && -f "$dest/lib/cmake/benchmark/benchmarkConfig.cmake" ]] && exit 0
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "Building Google Benchmark for Windows into $dest"
src=$("$here/apt-source.sh" benchmark "$work")
cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBENCHMARK_ENABLE_TESTING=OFF \
  -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF \
  -DCMAKE_INSTALL_PREFIX="$dest" >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; exit 1; }  # it warns of every check it cannot run here
cmake --build "$work/build" -j"$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null
