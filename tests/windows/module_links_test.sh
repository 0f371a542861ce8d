#!/usr/bin/env bash
# Norvisk.dll leaves PNG to the command: neither ISA-L nor the PNG writer is linked into it, and it
# imports no library for them. norvisk.exe, which writes PNGs, holds them: the check that the
# symbols are read at all.
#   module_links_test.sh NORVISK_DLL NORVISK_EXE
set -euo pipefail
dll=$1
exe=$2
prefix=x86_64-w64-mingw32-
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
png_code='isal_deflate|crc32_gzip_refl|WritePng'

dll_symbols=$("${prefix}nm" "$dll")
exe_symbols=$("${prefix}nm" "$exe")
[[ -n $dll_symbols ]] || fail "$dll has no symbol table to read"
grep -Eq "$png_code" <<<"$exe_symbols" || fail "$exe holds none of $png_code: the names are wrong"
if grep -E "$png_code" <<<"$dll_symbols"; then
  fail "$dll holds the PNG code above"
fi
imports=$("${prefix}objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
[[ -n $imports ]] || fail "no imports read from $dll"
if grep -Ei 'isal|igzip|png|zlib|deflate' <<<"$imports"; then
  fail "$dll imports the library above"
fi
if ((failures > 0)); then
  echo "$failures failures" >&2
  exit 1
fi
echo "Norvisk.dll imports only $(tr '\n' ' ' <<<"$imports")and holds no PNG code"
