// Fonts of the software back end on Windows: none. Text there goes through GDI; the software
// back end serves pixel comparisons of lines, rectangles and mix modes only.
#include "raster/soft_font.h"

namespace norvisk {

struct FontInstance::FaceHandle {};

const std::string& FontFile(const std::string&) {
  static const std::string none;
  return none;
}

FontInstance* FontInstance::Get(const std::string&, int) { return nullptr; }

FontInstance::~FontInstance() = default;

const Glyph& FontInstance::GlyphFor(char32_t) {
  static const Glyph empty;
  return empty;
}

void FontInstance::Render(char32_t, Glyph*) {}

}  // namespace norvisk
