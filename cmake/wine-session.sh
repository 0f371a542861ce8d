#!/usr/bin/env bash
# Runs a command inside a fresh Wine session: a new prefix under $1, an X server of its own
# (windows need a display from the very first Wine process on), a persistent wineserver (each
# Wine process then starts in ~0.05 s instead of ~2.5 s), torn down on exit.
#   wine-session.sh PREFIX_FOLDER COMMAND [ARGS...]
set -euo pipefail
# As root the session runs in a mount namespace of its own: tests may mount a full or read-only
# folder that every process of the session sees (the Wine server too, which opens the files),
# and what they mount goes with the session. NORVISK_MOUNT_NS=1 tells them so.
if [[ $(id -u) == 0 && -z ${NORVISK_MOUNT_NS:-} ]] && unshare -m --propagation private true 2>/dev/null; then
  export NORVISK_MOUNT_NS=1
  exec unshare -m --propagation private "$0" "$@"
fi
prefix=$(mkdir -p "$1" && cd "$1" && pwd)/prefix
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installers at boot: nothing here needs .NET or HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
mkdir -p "$prefix"

display=99
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done

wineserver -p
wine wineboot -i </dev/null >/dev/null 2>&1
# Without one warm-up process the first test can hang with its pipe held by Wine's services.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
