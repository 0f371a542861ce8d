#!/bin/sh
# Removes what cmake/install.sh recorded, and the folders of our own it leaves empty.
# Usage: uninstall.sh RECORD
set -eu
record=$1
if [ ! -f "$record" ]; then
  echo "uninstall: $record not found: nothing was installed from this build" >&2
  exit 1
fi
while IFS= read -r file || [ -n "$file" ]; do
  [ -n "$file" ] || continue
  rm -f "$file"
  case $file in
    */dist-packages/norvisk/*) rm -rf "${file%/*}/__pycache__"; rmdir "${file%/*}" 2>/dev/null || true ;;
    */cmake/Norvisk/*) rmdir "${file%/*}" 2>/dev/null || true ;;
  esac
done <"$record"
echo "removed $(wc -l <"$record") files"
rm -f "$record"
