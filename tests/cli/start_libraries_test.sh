#!/bin/sh
# What the dynamic loader does before the command's first line: the libraries it maps and where
# it looks for them. Every chart drawn by a process of its own pays for each of them.
#   start_libraries_test.sh COMMAND [LIBRARY...]
# LIBRARY: more libraries the command must not load (those linked into it).
set -eu
command=$1
shift
dynamic=$(readelf -d "$command") || { echo "cannot read $command" >&2; exit 1; }
needed=$(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "no NEEDED entries read from $command" >&2; exit 1; }
status=0
# Opened only when needed (a face not found when the project was built), not at every start;
# the service's HTTP layer is header-only and must stay so: no Boost library is loaded at all.
for late in libfontconfig libboost "$@"; do
  if printf '%s\n' "$needed" | grep -q "^$late[._]"; then
    echo "$command loads $late at start" >&2
    status=1
  fi
done
# A search path with an empty or relative entry makes the loader look in the working folder:
# slower, and whatever library lies there would run.
paths=$(printf '%s\n' "$dynamic" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
for path in $paths; do
  bad=$(printf '%s\n' "$path" | tr ':' '\n' | grep -v -e '^/' -e '^\$ORIGIN' | head -n 1 || true)
  case $path in :* | *: | *::*) bad='(empty)' ;; esac
  if [ -n "$bad" ]; then
    echo "library search path '$path' has an entry $bad outside any fixed folder" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "loads at start: $(printf '%s\n' "$needed" | tr '\n' ' ')"
exit $status
