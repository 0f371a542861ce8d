#!/usr/bin/env bash
# The fixture of the component's client tests: a copy of Norvisk.dll in a folder of the tests'
# own, registered with regsvr32 in the session's prefix, its server path checked in the registry.
#   register_module.sh BUILT_DLL FOLDER
set -euo pipefail
dll=$1
folder=$2
mkdir -p "$folder"
cp -f "$dll" "$folder/Norvisk.dll"
module=$(winepath -w "$folder/Norvisk.dll" 2>/dev/null)

status=0
wine regsvr32 /s "$module" </dev/null || status=$?
if [[ $status -ne 0 ]]; then
  echo "regsvr32 /s $module exited with $status" >&2
  exit 1
fi

# The class's server is the copy, by the path regsvr32 was given.
for clsid in '{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}' '{DA51C85E-EF30-4F8F-8C07-29EC487E0176}'; do
  server=$(wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve </dev/null 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *(Default) *REG_SZ *//p')
  if [[ "$server" != "$module" ]]; then
    echo "HKCR\\CLSID\\$clsid\\InprocServer32 is \"$server\", not \"$module\"" >&2
    exit 1
  fi
done
echo "registered $module"
