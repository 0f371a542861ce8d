// The fingerprint of this process's PNG bytes, for the entity tags of PNG routes.
#include "serve/png_fingerprint.h"

#include <cstdio>
#include <string>

#include "raster/png_writer.h"
#include "serve/render.h"

namespace norvisk::serve {
namespace {

// A chart with bars, labels, a legend and a dithered background: every kind of row the
// compressor sees in a served chart.
constexpr const char* kReferenceData = "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(West;30;20;25)";

std::string Take() {
  ChartRequest reference;
  reference.route = Route::BarPng;
  reference.data = kReferenceData;
  reference.width = 640;
  reference.height = 300;
  std::string version = ProgramVersion();
  unsigned char* bytes = nullptr;
  std::size_t size = 0;
  // Without PNG (the compression library missing) every PNG request fails and no tag is sent.
  std::string why;
  if (!PngWriterReady(&why)) {
    std::fprintf(stderr, "norvisk: /bar.png and /xy.png will fail: %s\n", why.c_str());
    return version + " png -";
  }
  if (Render(reference, &bytes, &size) != RenderResult::Ok) return version + " png -";
  // The bytes hashed as an entity tag's data would be, not as another twin of its hash.
  ChartRequest picture;
  picture.data.assign(reinterpret_cast<const char*>(bytes), size);
  FreePicture(bytes);
  std::string hash;
  EntityTag(picture, "png", &hash);
  return version + " png " + hash;
}

const std::string& PngVersion() {
  static const std::string version = Take();
  return version;
}

}  // namespace

void TakePngFingerprint() { PngVersion(); }

std::string_view TagVersion(Route route) {
  return FormatOf(route) == ChartFormat::Png ? std::string_view(PngVersion())
                                             : std::string_view(ProgramVersion());
}

}  // namespace norvisk::serve
