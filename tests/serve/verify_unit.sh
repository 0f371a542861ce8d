#!/usr/bin/env bash
# Checks a systemd unit such as contrib/norvisk-serve.service with systemd-analyze verify, its ExecStart pointed at the
# built program. Passes with a note where systemd-analyze is not installed.
set -euo pipefail
unit=$1 program=$2
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze not installed: unit not checked"
  exit 0
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed "s|/usr/local/bin/norvisk|$program|" "$unit" >"$dir/norvisk-serve.service"
grep -q "^ExecStart=$program serve" "$dir/norvisk-serve.service"
out=$(systemd-analyze verify --man=no "$dir/norvisk-serve.service" 2>&1) || { echo "$out"; exit 1; }
# verify also reports problems it does not count as failures; any line naming the unit is one.
if grep -q "norvisk-serve.service" <<<"$out"; then echo "$out"; exit 1; fi
for key in DynamicUser=yes ProtectSystem=strict NoNewPrivileges=yes; do
  grep -qx "$key" "$unit" || { echo "missing $key"; exit 1; }
done
if grep -Eq "^(ReadWritePaths|StateDirectory|CacheDirectory|LogsDirectory|RuntimeDirectory)=" "$unit"; then
  echo "the unit names a writable path"
  exit 1
fi
