#!/bin/sh
# Installs the native build under PREFIX (below $DESTDIR when set) and records every file it
# put there, DESTDIR included, for cmake/uninstall.sh. Usage: install.sh BUILD PREFIX RECORD
set -eu
build=$1
prefix=$2
record=$3
destdir=${DESTDIR:-}
DESTDIR=$destdir cmake --install "$build" --prefix "$prefix" >/dev/null
# The manifest names the files without DESTDIR and may lack its last newline.
awk -v d="$destdir" 'NF { print d $0 }' "$build/install_manifest.txt" >"$record"
# The system's loader cache learns of the new library when it is really installed.
if [ -z "$destdir" ] && [ "$(id -u)" -eq 0 ] && command -v ldconfig >/dev/null 2>&1; then
  ldconfig
fi
echo "installed $(wc -l <"$record") files under $destdir$prefix"
