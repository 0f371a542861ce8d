// Serving the playground's files: built in, tagged once, answered on the connection thread.
#include "serve/playground.h"

#include <array>
#include <cstring>

#include "serve/render.h"

namespace norvisk::serve {
namespace {

constexpr std::string_view kFormatsMarker = "<!-- chart formats -->";

// The formats the page offers, best first, as the chart routes name them.
struct FormatName {
  std::string_view extension;
  std::string_view label;
};
constexpr FormatName kFormatNames[] = {{"png", "PNG"}, {"jpg", "JPEG"}, {"bmp", "BMP"}};

// <option>s for the formats this build draws bar charts in (XY charts come in the same ones).
std::string FormatOptions() {
  std::string out;
  for (const FormatName& f : kFormatNames) {
    bool served = false;
    for (const RouteInfo& r : kRouteTable)
      served = served || (r.handler == Handler::Chart && r.bar && r.path.starts_with("/bar.") &&
                          r.path.substr(5) == f.extension);
    if (!served) continue;
    out += "<option value=\"";
    out += f.extension;
    out += "\">";
    out += f.label;
    out += "</option>";
  }
  return out;
}

struct Files {
  static constexpr const char* kNames[] = {"index.html", "playground.css", "playground.js",
                                           "playground.svg"};
  static constexpr Route kRoutes[] = {Route::Page, Route::PageStyle, Route::PageScript,
                                      Route::PageIcon};
  static constexpr int kCount = 4;
  std::array<PlaygroundFile, kCount> files;
  Files() {
    for (int i = 0; i < kCount; ++i) {
      PlaygroundFile& file = files[static_cast<std::size_t>(i)];
      for (int k = 0; k < kPlaygroundFileCount; ++k) {
        const EmbeddedFile& e = kPlaygroundFiles[k];
        if (std::strcmp(e.name, kNames[i]) == 0)
          file.body.assign(reinterpret_cast<const char*>(e.bytes), e.size);
      }
      if (std::size_t at = file.body.find(kFormatsMarker); at != std::string::npos)
        file.body.replace(at, kFormatsMarker.size(), FormatOptions());
      // Tagged as a chart of its own route whose data is the file: the same strong tag.
      ChartRequest as;
      as.route = kRoutes[i];
      as.data = file.body;
      EntityTag(as, ProgramVersion(), &file.etag);
    }
  }
};

}  // namespace

const PlaygroundFile* FindPlaygroundFile(Route route) {
  static const Files all;
  for (int i = 0; i < Files::kCount; ++i)
    if (Files::kRoutes[i] == route) return &all.files[static_cast<std::size_t>(i)];
  return nullptr;
}

bool AnswerPlayground(Route route, bool hasNoneMatch, std::string_view noneMatch,
                      ResponseHead* head, std::string_view* body) {
  const PlaygroundFile* file = FindPlaygroundFile(route);
  if (!file) return false;
  head->contentType = Info(route).contentType;
  head->etag = file->etag;
  head->cacheControl = kPlaygroundCache;
  head->contentSecurityPolicy = kPlaygroundPolicy;
  if (hasNoneMatch && MatchesNoneMatch(noneMatch, file->etag)) {
    head->status = 304;
    head->hasLength = false;
    *body = {};
  } else {
    head->status = 200;
    head->contentLength = file->body.size();
    *body = file->body;
  }
  return true;
}

}  // namespace norvisk::serve
