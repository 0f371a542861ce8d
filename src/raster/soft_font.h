// Fonts of the software back end: faces found through fontconfig, glyphs rendered by FreeType in
// monochrome mode and kept per size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/text_number.h"

namespace norvisk {

struct Glyph {
  int left = 0;  // from the pen position to the first column
  int top = 0;   // from the baseline up to the first row
  int width = 0;
  int height = 0;
  int advance = 0;  // whole pixels
  struct Span {
    int row;
    int col;
    int length;
  };
  std::vector<Span> ink;  // runs of drawn pixels, row by row
};

class FontInstance {
 public:
  // The face at a GDI font height: negative for the character (em) height, positive for the
  // cell height. Shared per thread and kept for the thread's life; nullptr when no face exists.
  static FontInstance* Get(const std::string& face, int height);

  ~FontInstance();
  int ascent() const { return ascent_; }
  int descent() const { return descent_; }
  const Glyph& GlyphFor(char32_t code);
  // GlyphFor's glyph a quarter turn counter-clockwise, reading upwards: the same metrics, its
  // ink runs row by row of the turned glyph, turned row r being upright column width - 1 - r
  // and turned column c upright row c. Kept like the upright glyphs.
  const Glyph& TurnedGlyphFor(char32_t code);

 private:
  FontInstance() = default;
  struct FaceHandle;
  std::unique_ptr<FaceHandle> face_;
  int ascent_ = 0;
  int descent_ = 0;
  Glyph ascii_[128];
  bool asciiLoaded_[128] = {};
  std::unordered_map<char32_t, Glyph> others_;
  Glyph turnedAscii_[128];
  bool turnedAsciiMade_[128] = {};
  std::unordered_map<char32_t, Glyph> turnedOthers_;
  void Render(char32_t code, Glyph* glyph);
};

// The font file drawn with: NORVISK_FONT when set (read at every call), else the face file for
// `face`, else the one for "Arial", as fontconfig names them. The file named when the project was
// built stands in for fontconfig's answer while it is still there and holds that family, which
// spares a process the start-up of fontconfig. Each face is looked up once per process; empty
// when there is none. Safe on any thread; the reference stays valid for the process's life.
const std::string& FontFile(const std::string& face);

// fontconfig's own answer for `face`, as FontFile gives it without the pinned file or the build's.
std::string FontconfigFile(const std::string& face);

// The build's answer for `face` when it still holds (see FontFile), else empty.
std::string KnownFaceFile(const std::string& face);

// Whether `file` opens as a font whose family is one of `families` (separated by ',', compared
// without regard to case).
bool FaceFileIs(const std::string& file, std::string_view families);

}  // namespace norvisk
