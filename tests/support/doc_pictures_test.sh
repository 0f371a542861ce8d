#!/bin/sh
# The pictures the README shows (doc/*.png) hold the pixels a fresh render gives: compared pixel
# by pixel, since another machine's compressor may write other bytes for them.
#   doc_pictures_test.sh NORVISK SOURCE_DIR SCRATCH PYTHON
set -eu
norvisk=$1
source=$2
scratch=$3
python=$4
rm -rf "$scratch"
mkdir -p "$scratch"
"$source/cmake/doc-pictures.sh" "$norvisk" "$scratch"
status=0
for name in bar.png xy.png; do
  [ -f "$scratch/$name" ] || { echo "no fresh $name written" >&2; exit 1; }
  if ! "$python" "$source/tests/support/picture_pixels.py" "$source/doc/$name" "$scratch/$name"; then
    echo "doc/$name is not what the command draws now: run make doc-pictures" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "doc/bar.png and doc/xy.png hold the pixels of a fresh render"
exit $status
