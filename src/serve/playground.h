// The chart playground: a page in which a person types a data string and sees the chart and how
// the string was read, served by the service itself from files built into the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "serve/request.h"
#include "serve/response.h"

namespace norvisk::serve {

// One file of src/serve/playground as the build embedded it (the version filled in).
struct EmbeddedFile {
  const char* name;
  const unsigned char* bytes;
  std::size_t size;
};
extern const EmbeddedFile kPlaygroundFiles[];
extern const int kPlaygroundFileCount;

// What the page may load and talk to: the service itself only, and the pictures it holds as
// blob: objects.
inline constexpr const char* kPlaygroundPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
// Kept, but asked about again each time with its tag: a newer service may serve another page.
inline constexpr const char* kPlaygroundCache = "no-cache";

struct PlaygroundFile {
  std::string body;
  std::string etag;
};

// The file of a page route (Route::Page, PageStyle, PageScript), or null for another route.
// The page's list of formats is that of the chart routes of this build.
const PlaygroundFile* FindPlaygroundFile(Route route);

// The answer to a GET or HEAD of a page route: 200 with the file, or 304 when If-None-Match
// names its tag; false (nothing filled) when the route is not a page.
bool AnswerPlayground(Route route, bool hasNoneMatch, std::string_view noneMatch,
                      ResponseHead* head, std::string_view* body);

}  // namespace norvisk::serve
