#!/usr/bin/env bash
# A picture that cannot be written whole never costs the file that was there, whichever way a
# program saves it: a save that fails leaves the old file byte for byte (its mode, and a symbolic
# link to it, as they were), a save that succeeds replaces it whole, and no other file is left
# in either case. Tried for bitmaps, JPEGs and (where the entry writes them) PNGs against a JPEG
# too wide for the encoder, a file-size limit, a full disk and a folder the program may not
# write to, through a link and over a file with a mode of its own, and over a file that is a
# mount point. The entries that save as the component does write no PNG: a ".png" name leaves
# the file there as it was.
#   save_trials.sh ENTRY WORK_FOLDER PROGRAM
# ENTRY is how the chart is saved, PROGRAM what does it:
#   command  norvisk bar FILE DATA --width W            (PROGRAM: the native norvisk)
#   run      norvisk run: CreateBarGraph ... SaveToFile   (PROGRAM: the native norvisk)
#   python   Graph.save_to_file of the Python module      (PROGRAM: python3)
#   c        norvisk_save_to_file                         (PROGRAM: tests/capi/save_chart.c)
#   exe      norvisk.exe bar FILE DATA --width W, under Wine: the Windows command's own graph
#            object                                       (PROGRAM: norvisk.exe)
#   com      norvisk.exe run --com: the registered NVGraph's SaveToFile, under Wine
# The full disk and the read-only folder are mounts in a private mount namespace: natively one of
# its own (unshare, also as root); under Wine the session's own (cmake/wine-session.sh makes one
# as root and says so in NORVISK_MOUNT_NS), since the Wine server opens the files.
set -uo pipefail
entry=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
program=$3
# The saves run in folders of their own.
[[ $program == */* ]] && program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")
case $entry in
  command | run | python | c) windows=0 ;;
  exe | com) windows=1 ;;
  *) echo "unknown entry $entry" >&2; exit 2 ;;
esac
# The formats the entry writes: the commands PNG too, the component's SaveToFile only two.
case $entry in
  command | exe) exts=(bmp jpg png) ;;
  *) exts=(bmp jpg) ;;
esac
export entry program windows
rm -rf "${work:?}"/*
failures=0
fail() {
  echo "FAIL: $entry: $*" >&2
  failures=$((failures + 1))
}

DATA="(Q1;Q2)(North;10;20)(South;15;25)"
export DATA

# save WIDTH NAME: the entry saves a bar chart WIDTH pixels wide as NAME (in the current folder).
# Its status: 0 when it says the file was written; the run scripts always end with 0.
save() {
  local script="CreateBarGraph
SetWidth $1
AddBarLegend Q1
AddBarLegend Q2
AddBarBar North
AddBarValue 10
AddBarValue 20
SaveToFile \"$2\""
  case $entry in
    command) "$program" bar "$2" "$DATA" --width "$1" 2>/dev/null ;;
    run) "$program" run - <<<"$script" ;;
    exe) wine "$program" bar "$2" "$DATA" --width "$1" >/dev/null 2>&1 </dev/null ;;
    com) wine "$program" run --com - <<<"$script" >/dev/null 2>&1 ;;
    c) "$program" "$1" "$2" ;;
    python)
      "$program" - "$1" "$2" <<'EOF'
import sys
import norvisk
with norvisk.Graph() as g:
    g.create_bar_graph()
    g.set_width(int(sys.argv[1]))
    for legend in ("Q1", "Q2"):
        g.add_bar_legend(legend)
    g.add_bar_bar("North")
    g.add_bar_value(10)
    g.add_bar_value(20)
    try:
        g.save_to_file(sys.argv[2])
    except norvisk.NotWrittenError:
        sys.exit(1)
EOF
      ;;
  esac
}
export -f save

# Whether the entry tells a failed save from a written one.
reports() { [[ $entry == command || $entry == exe || $entry == c || $entry == python ]]; }

# failed CASE STATUS / written CASE STATUS: what the entry said of a save.
failed() { if reports && [[ $2 == 0 ]]; then fail "$1: the failed save was reported as written"; fi; }
written() { [[ $2 == 0 ]] || fail "$1: the save ended with status $2"; }

# same_files CASE FOLDER NAMES...: the folder holds exactly these names, hidden ones included.
same_files() {
  local what=$1 folder=$2
  shift 2
  local have want
  have=$(cd "$folder" && ls -A | sort | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
  [[ $have == "$want" ]] || fail "$what: $folder holds \"$have\", not \"$want\""
}

# same_bytes CASE FILE WANT
same_bytes() { cmp -s "$2" "$3" || fail "$1: $2 differs from $3"; }

# The pictures each save gives: an old one 1280 pixels wide, a new one of 640, both bigger than
# the file-size limit below.
ref=$work/ref
mkdir -p "$ref"
for ext in "${exts[@]}"; do
  (cd "$ref" && save 1280 "old.$ext" && save 640 "new.$ext")
  [[ -s $ref/old.$ext && -s $ref/new.$ext ]] || { fail "no reference $ext files"; exit 1; }
  cmp -s "$ref/old.$ext" "$ref/new.$ext" && fail "the old and new $ext files are the same"
done
# Too wide for the JPEG encoder (65,500 pixels at most), small enough for a surface.
WIDE=70000

# fresh NAME: an empty folder of the case.
fresh() {
  rm -rf "${work:?}/$1"
  mkdir -p "$work/$1"
  echo "$work/$1"
}

for ext in "${exts[@]}"; do
  # --- A save that works replaces the old file whole, keeps its mode, leaves nothing else.
  d=$(fresh "replace-$ext")
  cp "$ref/old.$ext" "$d/chart.$ext"
  ((windows)) || chmod 640 "$d/chart.$ext"
  status=0
  (cd "$d" && save 640 "chart.$ext") || status=$?
  written "replace $ext" $status
  same_bytes "replace $ext" "$d/chart.$ext" "$ref/new.$ext"
  same_files "replace $ext" "$d" "chart.$ext"
  if ((!windows)); then
    [[ $(stat -c %a "$d/chart.$ext") == 640 ]] || fail "replace $ext: mode $(stat -c %a "$d/chart.$ext")"
    # A new file has the mode any new file gets.
    status=0
    (umask 027 && cd "$d" && save 640 "new.$ext") || status=$?
    written "new $ext" $status
    [[ $(stat -c %a "$d/new.$ext") == 640 ]] || fail "new $ext: mode $(stat -c %a "$d/new.$ext") under umask 027"
  fi

  # --- Through a symbolic link into another folder: the link's target is replaced, in its own
  # folder, and the link stays a link; natively also when the target is not there yet (which
  # Windows programs cannot tell from no file at all under Wine).
  d=$(fresh "link-$ext")
  mkdir "$d/a" "$d/b"
  cp "$ref/old.$ext" "$d/b/target.$ext"
  ln -s "../b/target.$ext" "$d/a/link.$ext"
  links=("link.$ext") targets=("target.$ext")
  if ((!windows)); then
    ln -s "../b/later.$ext" "$d/a/dangling.$ext"
    links+=("dangling.$ext") targets+=("later.$ext")
  fi
  for name in "${links[@]}"; do
    status=0
    (cd "$d/a" && save 640 "$name") || status=$?
    written "link $name" $status
    [[ -L $d/a/$name ]] || fail "link $name: the link was replaced"
  done
  for name in "${targets[@]}"; do same_bytes "link $ext" "$d/b/$name" "$ref/new.$ext"; done
  same_files "link $ext" "$d/a" "${links[@]}"
  same_files "link $ext" "$d/b" "${targets[@]}"
done

# --- A JPEG too wide for the encoder: nothing is written, directly or through a link.
d=$(fresh wide)
mkdir "$d/b"
cp "$ref/old.jpg" "$d/chart.jpg"
cp "$ref/old.jpg" "$d/b/target.jpg"
ln -s b/target.jpg "$d/link.jpg"
for name in chart.jpg link.jpg new.jpg; do
  status=0
  (cd "$d" && save $WIDE $name) || status=$?
  failed "too wide as $name" $status
done
same_bytes "too wide" "$d/chart.jpg" "$ref/old.jpg"
same_bytes "too wide through a link" "$d/b/target.jpg" "$ref/old.jpg"
[[ -L $d/link.jpg ]] || fail "too wide: the link was replaced"
same_files "too wide" "$d" chart.jpg link.jpg b
same_files "too wide" "$d/b" target.jpg

# --- A ".png" name where the component's rule applies: nothing is written, and the file there
# stays as it was.
if [[ ${exts[*]} != *png* ]]; then
  d=$(fresh png-name)
  echo old >"$d/chart.png"
  status=0
  (cd "$d" && save 640 chart.png) || status=$?
  failed "png name" $status
  [[ $(cat "$d/chart.png") == old ]] || fail "png name: the old file was changed"
  status=0
  (cd "$d" && save 640 new.png) || status=$?
  failed "new png name" $status
  same_files "png name" "$d" chart.png
fi

# --- Past the file-size limit (8 KiB): SIGXFSZ does not end the program, and nothing changes.
if ((!windows)); then
  for ext in "${exts[@]}"; do
    d=$(fresh "limit-$ext")
    mkdir "$d/b"
    cp "$ref/old.$ext" "$d/chart.$ext"
    cp "$ref/old.$ext" "$d/b/target.$ext"
    ln -s "b/target.$ext" "$d/link.$ext"
    for name in "chart.$ext" "link.$ext" "new.$ext"; do
      status=0
      (cd "$d" && ulimit -f 8 && save 640 "$name") || status=$?
      ((status < 128)) || fail "limit $name: ended by signal $((status - 128))"
      failed "limit $name" $status
    done
    same_bytes "limit $ext" "$d/chart.$ext" "$ref/old.$ext"
    same_bytes "limit $ext through a link" "$d/b/target.$ext" "$ref/old.$ext"
    [[ -L $d/link.$ext ]] || fail "limit $ext: the link was replaced"
    same_files "limit $ext" "$d" "chart.$ext" "link.$ext" b
    same_files "limit $ext" "$d/b" "target.$ext"
  done
fi

# --- Mounts: a full disk and read-only folders. in_mounts SCRIPT runs SCRIPT (bash) where it may
# mount, with the functions and variables above; what it mounts goes with it.
if ((windows)); then
  if [[ ${NORVISK_MOUNT_NS:-} == 1 ]]; then
    in_mounts() { bash -c "$1"; }
  else
    in_mounts() { return 77; }
  fi
else
  if unshare -rm --propagation private true 2>/dev/null; then
    in_mounts() { unshare -rm --propagation private bash -c "$1"; }
  else
    in_mounts() { return 77; }
  fi
fi
export ref work WIDE
export -f fail same_files same_bytes reports failed written

# written_over CASE MOUNTS UNMOUNTS: the old file, kept in folder w, is bound in as
# $d/chart.$ext by MOUNTS. Saves that fail leave it as it was; a save that works writes the new
# picture over it; no other file is left in either folder.
written_over() {
  local name=${1//[ ,]/-}
  d=$(fresh "$name")
  w=$(fresh "$name-file")
  export what=$1 mounts=$2 unmounts=$3 d w
  cp "$ref/old.$ext" "$d/chart.$ext"
  cp "$ref/old.$ext" "$w/chart.$ext"
  local status=0
  in_mounts '
    failures=0
    eval "$mounts" || exit 3
    if [[ $ext == jpg ]]; then
      status=0
      (cd "$d" && save $WIDE chart.jpg) || status=$?
      failed "$what, too wide" $status
      same_bytes "$what, too wide" "$w/chart.jpg" "$ref/old.jpg"
    fi
    if ((!windows)); then
      status=0
      (cd "$d" && ulimit -f 8 && save 640 "chart.$ext") || status=$?
      failed "$what, limit" $status
      same_bytes "$what, limit" "$w/chart.$ext" "$ref/old.$ext"
    fi
    status=0
    (cd "$d" && save 640 "chart.$ext") || status=$?
    written "$what" $status
    same_bytes "$what" "$w/chart.$ext" "$ref/new.$ext"
    same_files "$what" "$d" "chart.$ext"
    eval "$unmounts"
    exit $((failures > 0))' || status=$?
  case $status in
    0) same_files "$what" "$w" "chart.$ext" ;;
    77) echo "$what: skipped, no mount namespace here" ;;
    *) failures=$((failures + 1)) ;;
  esac
}

for ext in "${exts[@]}"; do
  # A full disk: a small file system with no room left beside the old file.
  d=$(fresh "full-$ext")
  export d ext
  status=0
  in_mounts '
    failures=0
    mount -t tmpfs -o size=2m tmpfs "$d" || exit 3
    cp "$ref/old.$ext" "$d/chart.$ext"
    head -c 4m /dev/zero >"$d/filler" 2>/dev/null
    for name in "chart.$ext" "new.$ext"; do
      status=0
      (cd "$d" && save 640 "$name") || status=$?
      failed "full disk $name" $status
    done
    same_bytes "full disk $ext" "$d/chart.$ext" "$ref/old.$ext"
    same_files "full disk $ext" "$d" "chart.$ext" filler
    umount "$d"
    exit $((failures > 0))' || status=$?
  case $status in
    0) ;;
    77) echo "full disk $ext: skipped, no mount namespace here" ;;
    *) failures=$((failures + 1)) ;;
  esac

  # A folder nobody may write to, not even root: the file in it stays as it was.
  d=$(fresh "read-only-$ext")
  cp "$ref/old.$ext" "$d/chart.$ext"
  status=0
  in_mounts '
    failures=0
    mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" || exit 3
    status=0
    (cd "$d" && save 640 "chart.$ext") || status=$?
    failed "read-only folder $ext" $status
    umount "$d"
    exit $((failures > 0))' || status=$?
  case $status in
    0)
      same_bytes "read-only folder $ext" "$d/chart.$ext" "$ref/old.$ext"
      same_files "read-only folder $ext" "$d" "chart.$ext"
      ;;
    77) echo "read-only folder $ext: skipped, no mount namespace here" ;;
    *) failures=$((failures + 1)) ;;
  esac

  # A read-only folder holding a file that may be written (bound in from folder w): no new file
  # can be made beside it, so the picture is made whole before the file is touched.
  written_over "read-only folder, writable file $ext" \
    'mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" &&
       mount --bind "$w/chart.$ext" "$d/chart.$ext"' \
    'umount "$d/chart.$ext" && umount "$d"'
  # A file that is a mount point of its own, as a file bound into a container: it cannot be
  # renamed over, so the complete picture is written over it. (Linux only.)
  if ((!windows)); then
    written_over "mounted file $ext" 'mount --bind "$w/chart.$ext" "$d/chart.$ext"' \
      'umount "$d/chart.$ext"'
  fi
done

if ((failures > 0)); then
  echo "$entry: $failures failed" >&2
  exit 1
fi
echo "$entry: every failed save left the old file, every save that worked replaced it whole"
