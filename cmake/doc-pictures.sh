#!/bin/sh
# The README's example charts as PNG files, in the face the tests pin (fonts-liberation2), so that
# a fresh render on any machine gives the same pixels.
#   doc-pictures.sh NORVISK FOLDER    writes FOLDER/bar.png and FOLDER/xy.png
set -eu
norvisk=$1
folder=$2
NORVISK_FONT=${NORVISK_FONT:-/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf}
export NORVISK_FONT
"$norvisk" bar "$folder/bar.png" '(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)'
"$norvisk" xy "$folder/xy.png" '(Jan;10)(Feb;20)(Mar;15)(Apr;12)'
