#!/usr/bin/env bash
# `norvisk.exe run --com` against the native `norvisk run`: the same traces, exit statuses and
# messages, and the same files. The calls through the class must also write exactly the files
# the Windows command writes with its own graph object. Skipped (77) without a native build.
#   com_run_test.sh SOURCE_FOLDER WORK_FOLDER NORVISK_EXE NATIVE_NORVISK
set -euo pipefail
src=$1
work=$2
exe=$3
native=$4
if [[ ! -x $native ]]; then
  echo "no native build at $native: skipped"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run NAME ARGS...: runs the command in $work/NAME (made fresh, with the scripts in it) and keeps
# its stdout, stderr (both without carriage returns) and exit status there.
run() {
  local name=$1 status=0
  shift
  mkdir -p "$work/$name/files"
  cp "$src"/*.run "$work/$name/files/"
  (cd "$work/$name/files" && "$@" >../out 2>../err </dev/null) || status=$?
  echo "$status" >"$work/$name/status"
  sed -i 's/\r$//' "$work/$name/out" "$work/$name/err"
  rm -f "$work/$name/files/"*.run
}

# A listing of the files written: each name, and for bitmaps their size.
listing() {
  (cd "$1" && find . -type f | sort | while read -r f; do
    if [[ $f == *.bmp ]]; then echo "$f $(stat -c %s "$f")"; else echo "$f"; fi
  done)
}

same() {  # same WHAT A B
  if ! diff -u "$2" "$3" >"$work/diff" 2>&1; then
    fail "$1 differ:"
    cat "$work/diff" >&2
  fi
}

compare() {  # compare CASE A B: traces, messages, statuses, files
  same "$1: traces" "$work/$2/out" "$work/$3/out"
  same "$1: messages" "$work/$2/err" "$work/$3/err"
  same "$1: exit statuses" "$work/$2/status" "$work/$3/status"
  same "$1: written files" <(listing "$work/$2/files") <(listing "$work/$3/files")
}

# Calls with every status and many files.
run calls-native "$native" run --trace calls.run
run calls-com wine "$exe" run --com --trace calls.run
run calls-library wine "$exe" run --trace calls.run
compare calls calls-native calls-com
[[ $(cat "$work/calls-com/status") == 0 ]] || fail "calls: run --com exited with $(cat "$work/calls-com/status")"
grep -q "S_FALSE" "$work/calls-com/out" && grep -q "S_OK" "$work/calls-com/out" ||
  fail "calls: the trace lacks S_OK or S_FALSE"
[[ $(wc -l <"$work/calls-com/out") -eq $(grep -cEv '^[[:space:]]*(#|$)' "$src/calls.run") ]] ||
  fail "calls: not one trace line a call"
# Through the class, the very files the Windows command's own object writes.
compare calls-library calls-library calls-com
while read -r f; do
  cmp -s "$work/calls-com/files/$f" "$work/calls-library/files/$f" ||
    fail "calls: $f differs from the one written without --com"
done < <(cd "$work/calls-com/files" && find . -type f)
[[ -n $(ls "$work/calls-com/files") ]] || fail "calls: no file was written"

# Texts beyond ASCII: the class gets the script's characters, so file names come out the same.
run texts-native "$native" run --trace texts.run
run texts-com wine "$exe" run --com --trace texts.run
compare texts texts-native texts-com
[[ -f "$work/texts-com/files/Zürich.bmp" ]] || fail "texts: no Zürich.bmp"
# Without --com the script's UTF-8 reaches the graphs by the same conversion.
run texts-plain wine "$exe" run --trace texts.run
compare texts-plain texts-com texts-plain
[[ -f "$work/texts-plain/files/Zürich.bmp" ]] || fail "texts without --com: no Zürich.bmp"

# A line that cannot be read: the lines before it are made, then exit status 2 and its number.
run bad-native "$native" run --trace bad.run
run bad-com wine "$exe" run --com --trace bad.run
compare bad bad-native bad-com
[[ $(cat "$work/bad-com/status") == 2 ]] || fail "bad: exit status $(cat "$work/bad-com/status")"

# No script to read: exit status 1.
run missing-native "$native" run --trace no-such.run
run missing-com wine "$exe" run --com --trace no-such.run
same "missing: exit statuses" "$work/missing-native/status" "$work/missing-com/status"
[[ $(cat "$work/missing-com/status") == 1 ]] || fail "missing: exit status $(cat "$work/missing-com/status")"
[[ -s $work/missing-com/err ]] || fail "missing: no message"

# The script from standard input.
mkdir -p "$work/stdin-com/files"
status=0
(cd "$work/stdin-com/files" && wine "$exe" run --com --trace - <"$src/calls.run" >../out 2>../err) || status=$?
sed -i 's/\r$//' "$work/stdin-com/out"
[[ $status == 0 ]] || fail "stdin: exit status $status"
same "stdin: traces" "$work/calls-native/out" "$work/stdin-com/out"

if ((failures > 0)); then
  echo "$failures failed" >&2
  exit 1
fi
echo "run --com matches the native run"
