// What a chart request asks for, read from its method, target and body; no sockets, no drawing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace norvisk::serve {

enum class Route { Unknown, BarJpeg, BarBmp, XYJpeg, XYBmp, Health, Metrics };

// The route of a request path (the target before any "?"), compared byte for byte.
Route FindRoute(std::string_view path);
// The path of a route as the metrics name it; "other" for Unknown.
const char* RouteName(Route route);
bool IsChart(Route route);
bool IsBar(Route route);
bool IsJpeg(Route route);

// Decodes %XX escapes (either case of hex digit); with plusIsSpace, "+" becomes a blank.
// False on a "%" not followed by two hex digits; `out` is then unspecified.
bool PercentDecode(std::string_view in, bool plusIsSpace, std::string* out);

// A whole number of pixels: an optional "-", then decimal digits and nothing else. Values
// beyond an int are held at INT_MAX / INT_MIN so that they still count as too big or too small.
bool ParseSize(std::string_view text, int* value);

// Everything that decides the bytes of a picture.
struct ChartRequest {
  Route route = Route::Unknown;
  int width = 640;
  int height = 300;
  std::string data;
};

struct Limits {
  std::size_t maxBody = 1 << 20;
  long long maxPixels = 16'000'000;
  std::size_t maxRequestLine = 16 * 1024;
};

// The outcome of reading a request: a status other than 200 is answered at once with `message`
// (one line) and, for 405, `allow`.
struct Decision {
  int status = 200;
  std::string message;
  const char* allow = nullptr;
  ChartRequest chart;
};

// Reads the method and request target (path and raw query) of a request. For POST the data is
// the body and is taken by ReadBody; GET and HEAD carry it in the query. The checks run in
// the order a client would want to fix them: route, method, parameters, size.
Decision ReadRequest(std::string_view method, std::string_view target, const Limits& limits);

// Applies a POST body to a decision of ReadRequest that asked for one; a body holding a NUL
// byte turns it into a 400, as such data does in the query.
void ReadBody(std::string_view body, Decision* decision);

// True when a POST to a chart route takes its data from the body.
bool TakesBody(std::string_view method, Route route);

// The strong entity tag of the picture `chart` gives with program `version`, quoted.
std::string EntityTag(const ChartRequest& chart, std::string_view version);

// Whether an If-None-Match header value matches `etag` (weak comparison, "*" matches all).
bool MatchesNoneMatch(std::string_view header, std::string_view etag);

}  // namespace norvisk::serve
