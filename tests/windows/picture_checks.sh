# Checks of written pictures for the shell drivers (sourced): the bitmap and JPEG headers read
# byte by byte. Each check prints why on stderr and returns 1 when the file is not as wanted.

# The unsigned number of $3 bytes at offset $2 of file $1, little-endian (le) or big-endian (be).
le() {
  local -a b
  read -r -a b < <(od -An -v -tu1 -j"$2" -N"$3" "$1")
  local v=0 i
  for ((i = ${#b[@]} - 1; i >= 0; i--)); do v=$((v * 256 + b[i])); done
  echo "$v"
}
be() {
  local -a b
  read -r -a b < <(od -An -v -tu1 -j"$2" -N"$3" "$1")
  local v=0 i
  for ((i = 0; i < ${#b[@]}; i++)); do v=$((v * 256 + b[i])); done
  echo "$v"
}

# check_bmp FILE WIDTH HEIGHT: "BM", a 54-byte header, 24 bits a pixel, no compression, and the
# size of its rows exactly, in the header and on disk.
check_bmp() {
  local file=$1 width=$2 height=$3
  [[ -f $file ]] || { echo "$file: not written" >&2; return 1; }
  local want=$((54 + (width * 3 + 3) / 4 * 4 * height)) size
  size=$(stat -c %s "$file")
  local got
  got="$(head -c2 "$file") size=$(le "$file" 2 4) bits=$(le "$file" 10 4) info=$(le "$file" 14 4)"
  got+=" w=$(le "$file" 18 4) h=$(le "$file" 22 4) planes=$(le "$file" 26 2)"
  got+=" bpp=$(le "$file" 28 2) compression=$(le "$file" 30 4) disk=$size"
  local wanted="BM size=$want bits=54 info=40 w=$width h=$height planes=1 bpp=24 compression=0 disk=$want"
  [[ $got == "$wanted" ]] || { echo "$file: $got; wanted $wanted" >&2; return 1; }
}

# check_jpeg FILE WIDTH HEIGHT: SOI first, EOI last, and a baseline frame (SOF0) of that size
# with three 8-bit components before the scan; between 2 KB and the size of the same bitmap.
check_jpeg() {
  local file=$1 width=$2 height=$3
  [[ -f $file ]] || { echo "$file: not written" >&2; return 1; }
  local size
  size=$(stat -c %s "$file")
  if [[ $(be "$file" 0 2) != 65496 || $(be "$file" $((size - 2)) 2) != 65497 ]]; then
    echo "$file: no SOI ... EOI" >&2
    return 1
  fi
  local bmp=$((54 + (width * 3 + 3) / 4 * 4 * height))
  if ((size < 2048 || size >= bmp)); then
    echo "$file: $size bytes" >&2
    return 1
  fi
  local at=2 marker
  while ((at + 4 <= size)); do
    marker=$(be "$file" "$at" 2)
    if ((marker == 0xFFC0)); then
      local got="$(be "$file" $((at + 4)) 1) bits $(be "$file" $((at + 7)) 2)x$(be "$file" $((at + 5)) 2) $(be "$file" $((at + 9)) 1) components"
      [[ $got == "8 bits ${width}x$height 3 components" ]] && return 0
      echo "$file: SOF0 $got; wanted 8 bits ${width}x$height 3 components" >&2
      return 1
    fi
    if ((marker < 0xFF00 || marker == 0xFFDA)); then
      echo "$file: no SOF0 before offset $at" >&2
      return 1
    fi
    at=$((at + 2 + $(be "$file" $((at + 2)) 2)))
  done
  echo "$file: no SOF0" >&2
  return 1
}
