// Fonts of the software back end: fontconfig lookup, FreeType monochrome glyphs, GDI metrics.
#include "raster/soft_font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <strings.h>
#include <utility>

#include "base/optional_library.h"

namespace norvisk {

namespace {

// fontconfig, opened by name the first time a face must be looked up: the face files found at
// build time answer the common case, and a process that never asks spares its start-up (the
// library, its configuration and its font cache).
struct Fontconfig {
// clang-format off
#define NORVISK_FC_FUNCTIONS(X)                                                                   \
  X(FcInitLoadConfigAndFonts) X(FcConfigDestroy) X(FcPatternCreate) X(FcPatternDestroy)           \
  X(FcPatternAddString) X(FcPatternGetString) X(FcConfigSubstitute) X(FcDefaultSubstitute)        \
  X(FcFontMatch)
// clang-format on
#define NORVISK_FC_MEMBER(name) decltype(&::name) name = nullptr;
  NORVISK_FC_FUNCTIONS(NORVISK_FC_MEMBER)
#undef NORVISK_FC_MEMBER
};

// Null when the library or one of its functions is missing: no face is then found through it.
const Fontconfig* LoadFontconfig() {
  static const Fontconfig* loaded = []() -> const Fontconfig* {
    static Fontconfig fc;
    OptionalLibrary library(NORVISK_FONTCONFIG_SONAME);
#define NORVISK_FC_FIND(name) library.Find(#name, &fc.name);
    NORVISK_FC_FUNCTIONS(NORVISK_FC_FIND)
#undef NORVISK_FC_FIND
#undef NORVISK_FC_FUNCTIONS
    return library.Keep() ? &fc : nullptr;  // a kept library stays open for the process's life
  }();
  return loaded;
}

// Asks fontconfig for a family; with `exact`, an answer of another family counts as none
// (fontconfig always answers with some face).
std::string match_family(const Fontconfig& fc, FcConfig* config, const char* family, bool exact) {
  std::string file;
  FcPattern* pattern = fc.FcPatternCreate();
  if (!pattern) return file;
  fc.FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  fc.FcConfigSubstitute(config, pattern, FcMatchPattern);
  fc.FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = fc.FcFontMatch(config, pattern, &result);
  if (match) {
    bool familyMatches = !exact;
    FcChar8* name = nullptr;
    for (int i = 0;
         !familyMatches && fc.FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i)
      familyMatches = strcasecmp(reinterpret_cast<const char*>(name), family) == 0;
    FcChar8* path = nullptr;
    if (familyMatches && fc.FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch)
      file = reinterpret_cast<const char*>(path);
    fc.FcPatternDestroy(match);
  }
  fc.FcPatternDestroy(pattern);
  return file;
}

struct KnownFace {
  const char* face;
  const char* file;
  const char* families;
};

constexpr KnownFace kKnownFaces[] = {
#include "known_faces.inc"
};

struct ThreadFonts {
  FT_Library library = nullptr;
  bool libraryTried = false;
  // By file and height: the file changes with the face asked for and with NORVISK_FONT. The file
  // is FontFile's string, kept for the process's life, so that a lookup allocates nothing.
  std::map<std::pair<const std::string*, int>, std::unique_ptr<FontInstance>> fonts;
  ~ThreadFonts() {
    fonts.clear();
    if (library) FT_Done_FreeType(library);
  }
};

thread_local ThreadFonts thread_fonts;

constexpr int kMaxPixelHeight = 2048;
constexpr int kDefaultCellHeight = 16;

}  // namespace

struct FontInstance::FaceHandle {
  FT_Face face = nullptr;
  ~FaceHandle() {
    if (face) FT_Done_Face(face);
  }
};

std::string FontconfigFile(const std::string& face) {
  const Fontconfig* loaded = LoadFontconfig();
  if (!loaded) return {};
  const Fontconfig& fc = *loaded;
  FcConfig* config = fc.FcInitLoadConfigAndFonts();
  if (!config) return {};
  std::string file = match_family(fc, config, face.c_str(), true);
  // "Arial" is mapped by fontconfig to its metric-compatible substitute.
  if (file.empty()) file = match_family(fc, config, "Arial", false);
  fc.FcConfigDestroy(config);
  return file;
}

bool FaceFileIs(const std::string& file, std::string_view families) {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return false;
  bool same = false;
  FT_Face face = nullptr;
  if (FT_New_Face(library, file.c_str(), 0, &face) == 0) {
    const std::string_view family = face->family_name ? face->family_name : "";
    while (!same && !families.empty()) {
      const std::size_t comma = families.find(',');
      const std::string_view one = families.substr(0, comma);
      same = !family.empty() && one.size() == family.size() &&
             strncasecmp(one.data(), family.data(), family.size()) == 0;
      families = comma == std::string_view::npos ? std::string_view() : families.substr(comma + 1);
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(library);
  return same;
}

std::string KnownFaceFile(const std::string& face) {
  for (const KnownFace& known : kKnownFaces)
    if (known.face && strcasecmp(known.face, face.c_str()) == 0)
      return FaceFileIs(known.file, known.families) ? known.file : std::string();
  return {};
}

const std::string& FontFile(const std::string& face) {
  static std::mutex mutex;
  static std::set<std::string, std::less<>> pinned;  // every NORVISK_FONT seen
  static std::map<std::string, std::string> found;   // by face
  std::lock_guard<std::mutex> lock(mutex);
  // Only a file or face not seen before allocates: an answer given once is found again without
  // any, so that a caller short of memory still gets it.
  if (const char* file = std::getenv("NORVISK_FONT"); file && *file) {
    auto known = pinned.find(std::string_view(file));
    return known != pinned.end() ? *known : *pinned.emplace(file).first;
  }
  auto it = found.find(face);
  if (it == found.end()) {
    std::string file = KnownFaceFile(face);
    if (file.empty()) file = FontconfigFile(face);
    it = found.emplace(face, std::move(file)).first;
  }
  return it->second;
}

FontInstance* FontInstance::Get(const std::string& face, int height) {
  ThreadFonts& cache = thread_fonts;
  const std::string& file = FontFile(face);
  if (file.empty()) return nullptr;
  auto found = cache.fonts.find({&file, height});
  if (found != cache.fonts.end()) return found->second.get();
  std::unique_ptr<FontInstance>& slot = cache.fonts[{&file, height}];

  if (!cache.libraryTried) {
    cache.libraryTried = true;
    if (FT_Init_FreeType(&cache.library) != 0) cache.library = nullptr;
  }
  if (!cache.library) return nullptr;

  auto handle = std::make_unique<FaceHandle>();
  if (FT_New_Face(cache.library, file.c_str(), 0, &handle->face) != 0) {
    handle->face = nullptr;
    return nullptr;
  }
  FT_Face ft = handle->face;
  TT_OS2* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
  long up = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinAscent : ft->ascender;
  long down = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinDescent : -ft->descender;
  long units = ft->units_per_EM > 0 ? ft->units_per_EM : 2048;

  // A negative height asks for the em height; a positive one for the cell height.
  long ppem;
  if (height < 0)
    ppem = -static_cast<long>(height);
  else {
    long cell = height > 0 ? height : kDefaultCellHeight;
    ppem = up + down > 0 ? (cell * units + (up + down) / 2) / (up + down) : cell;
  }
  ppem = std::clamp<long>(ppem, 1, kMaxPixelHeight);
  if (FT_Set_Pixel_Sizes(ft, 0, static_cast<FT_UInt>(ppem)) != 0) return nullptr;

  // The cell follows the face's Windows ascent and descent, rounded as GDI rounds them.
  FT_Fixed scale = ft->size->metrics.y_scale;
  std::unique_ptr<FontInstance> font(new FontInstance);
  font->ascent_ = static_cast<int>((FT_MulFix(up, scale) + 32) >> 6);
  font->descent_ = static_cast<int>((FT_MulFix(down, scale) + 32) >> 6);
  font->face_ = std::move(handle);
  slot = std::move(font);
  return slot.get();
}

FontInstance::~FontInstance() = default;

const Glyph& FontInstance::GlyphFor(char32_t code) {
  if (code < 128) {
    if (!asciiLoaded_[code]) {
      Render(code, &ascii_[code]);
      asciiLoaded_[code] = true;
    }
    return ascii_[code];
  }
  auto found = others_.find(code);
  if (found != others_.end()) return found->second;
  Glyph& glyph = others_[code];
  Render(code, &glyph);
  return glyph;
}

void FontInstance::Render(char32_t code, Glyph* glyph) {
  FT_Face ft = face_->face;
  // Monochrome rendering: glyph pixels are exactly the text colour, no grey edges.
  if (FT_Load_Char(ft, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return;
  FT_GlyphSlot slot = ft->glyph;
  glyph->advance = static_cast<int>((slot->advance.x + 32) >> 6);
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO || bitmap.width == 0 || bitmap.rows == 0) return;
  glyph->left = slot->bitmap_left;
  glyph->top = slot->bitmap_top;
  glyph->width = static_cast<int>(bitmap.width);
  glyph->height = static_cast<int>(bitmap.rows);
  for (int row = 0; row < glyph->height; ++row) {
    const unsigned char* bits = bitmap.buffer + static_cast<std::ptrdiff_t>(row) * bitmap.pitch;
    auto inked = [&](int col) {
      return col < glyph->width && ((bits[col >> 3] >> (7 - (col & 7))) & 1);
    };
    for (int col = 0; col < glyph->width; ++col) {
      if (!inked(col)) continue;
      int end = col;
      while (inked(end)) ++end;
      glyph->ink.push_back(Glyph::Span{row, col, end - col});
      col = end;
    }
  }
}

}  // namespace norvisk
