#!/usr/bin/env bash
# Unpacks the upstream source of a Debian source package into a folder and prints the path of
# the unpacked tree:  apt-source.sh PACKAGE FOLDER
# Source packages need a deb-src entry; one mirroring the system's own Debian entry is added
# when there is none.
set -euo pipefail
package=${1:?usage: apt-source.sh PACKAGE FOLDER}
folder=${2:?usage: apt-source.sh PACKAGE FOLDER}
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
mkdir -p "$folder"
(cd "$folder" && apt-get source -qq --download-only "$package" >/dev/null 2>&1)
tar -xf "$folder/${package}"_*.orig.tar.* -C "$folder"
find "$folder" -mindepth 1 -maxdepth 1 -type d -name "${package}-*" | head -n 1
