// Fonts of the software back end, the part every platform shares: glyphs kept turned.
#include "raster/soft_font.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace norvisk {

namespace {

// The glyph's ink a quarter turn counter-clockwise, as runs along the turned rows.
Glyph turn_glyph(const Glyph& upright) {
  Glyph turned = upright;
  turned.ink.clear();
  const std::size_t width = static_cast<std::size_t>(std::max(upright.width, 0));
  const std::size_t height = static_cast<std::size_t>(std::max(upright.height, 0));
  std::vector<unsigned char> inked(width * height, 0);
  for (const Glyph::Span& span : upright.ink)
    std::fill_n(inked.begin() + static_cast<std::ptrdiff_t>(span.row * width + span.col),
                span.length, 1);
  for (std::size_t r = 0; r < width; ++r) {
    const std::size_t col = width - 1 - r;
    for (std::size_t row = 0; row < height; ++row) {
      if (!inked[row * width + col]) continue;
      std::size_t end = row;
      while (end < height && inked[end * width + col]) ++end;
      turned.ink.push_back(
          Glyph::Span{static_cast<int>(r), static_cast<int>(row), static_cast<int>(end - row)});
      row = end;
    }
  }
  return turned;
}

}  // namespace

const Glyph& FontInstance::TurnedGlyphFor(char32_t code) {
  if (code < 128) {
    if (!turnedAsciiMade_[code]) {
      turnedAscii_[code] = turn_glyph(GlyphFor(code));
      turnedAsciiMade_[code] = true;
    }
    return turnedAscii_[code];
  }
  auto found = turnedOthers_.find(code);
  if (found != turnedOthers_.end()) return found->second;
  // Turned before it is kept, so that a glyph whose turning ran out of memory is not kept.
  Glyph turned = turn_glyph(GlyphFor(code));
  return turnedOthers_.emplace(code, std::move(turned)).first->second;
}

}  // namespace norvisk
