// What a request asks for, read from its method, target and body; no sockets, no drawing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvisk::serve {

enum class Route {
  Unknown,
  BarJpeg,
  BarBmp,
  BarPng,
  XYJpeg,
  XYBmp,
  XYPng,
  ParseBar,
  ParseXY,
  Page,
  PageStyle,
  PageScript,
  PageIcon,
  Health,
  Metrics
};

// The picture a chart route answers with.
enum class ChartFormat { None, Bmp, Jpeg, Png };

// Who answers a route: charts are drawn and data strings read by the workers, the pages by the
// connection handling.
enum class Handler { None, Chart, Parse, Page, Health, Metrics };

// One row of the route table: everything the service knows about a path.
struct RouteInfo {
  std::string_view path;
  Route route;
  Handler handler;
  bool bar;                 // charts and parse: a bar chart, else an XY chart
  ChartFormat format;       // charts: the picture's format
  const char* contentType;  // of a 200
  const char* allow;        // the methods it takes, for 405
};

// The routes with a path, in the order the metrics list them. A new route is a row here and
// its handler in the server.
inline constexpr const char* kChartMethods = "GET, HEAD, POST";
inline constexpr const char* kPageMethods = "GET, HEAD";
inline constexpr RouteInfo kRouteTable[] = {
    {"/bar.jpg", Route::BarJpeg, Handler::Chart, true, ChartFormat::Jpeg, "image/jpeg",
     kChartMethods},
    {"/bar.bmp", Route::BarBmp, Handler::Chart, true, ChartFormat::Bmp, "image/bmp", kChartMethods},
    {"/bar.png", Route::BarPng, Handler::Chart, true, ChartFormat::Png, "image/png", kChartMethods},
    {"/xy.jpg", Route::XYJpeg, Handler::Chart, false, ChartFormat::Jpeg, "image/jpeg",
     kChartMethods},
    {"/xy.bmp", Route::XYBmp, Handler::Chart, false, ChartFormat::Bmp, "image/bmp", kChartMethods},
    {"/xy.png", Route::XYPng, Handler::Chart, false, ChartFormat::Png, "image/png", kChartMethods},
    {"/parse/bar", Route::ParseBar, Handler::Parse, true, ChartFormat::None, "application/json",
     kChartMethods},
    {"/parse/xy", Route::ParseXY, Handler::Parse, false, ChartFormat::None, "application/json",
     kChartMethods},
    {"/", Route::Page, Handler::Page, false, ChartFormat::None, "text/html; charset=utf-8",
     kPageMethods},
    {"/playground.css", Route::PageStyle, Handler::Page, false, ChartFormat::None,
     "text/css; charset=utf-8", kPageMethods},
    {"/playground.js", Route::PageScript, Handler::Page, false, ChartFormat::None,
     "text/javascript; charset=utf-8", kPageMethods},
    {"/playground.svg", Route::PageIcon, Handler::Page, false, ChartFormat::None, "image/svg+xml",
     kPageMethods},
    {"/health", Route::Health, Handler::Health, false, ChartFormat::None,
     "text/plain; charset=utf-8", kPageMethods},
    {"/metrics", Route::Metrics, Handler::Metrics, false, ChartFormat::None,
     "text/plain; version=0.0.4; charset=utf-8", kPageMethods},
};
inline constexpr int kRouteTableSize = sizeof(kRouteTable) / sizeof(kRouteTable[0]);

// The route of a request path (the target before any "?"), compared byte for byte.
Route FindRoute(std::string_view path);
// The table row of a route; Unknown has one of its own.
const RouteInfo& Info(Route route);
// The path of a route as the metrics name it; "other" for Unknown.
const char* RouteName(Route route);
bool IsChart(Route route);
// A route that reads a data string: a chart, or /parse.
bool TakesData(Route route);
bool IsBar(Route route);
// The picture of a chart route; None for any other.
ChartFormat FormatOf(Route route);

// Decodes %XX escapes (either case of hex digit); with plusIsSpace, "+" becomes a blank.
// False on a "%" not followed by two hex digits; `out` is then unspecified.
bool PercentDecode(std::string_view in, bool plusIsSpace, std::string* out);

// A whole number of pixels: an optional "-", then decimal digits and nothing else. Values
// beyond an int are held at INT_MAX / INT_MIN so that they still count as too big or too small.
bool ParseSize(std::string_view text, int* value);

// `text` in double quotes for an error line: at most 64 bytes of it, with control bytes,
// bytes beyond ASCII, quotes and backslashes written as \xHH, so that the line stays one line
// of plain ASCII whatever the request sent.
std::string Quote(std::string_view text);

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
  std::size_t maxHead = 64 * 1024;  // request line and header fields together
};

// The outcome of reading a request: a status other than 200 is answered at once with `message`
// (one line) and, for 405, `allow`.
struct Decision {
  int status = 200;
  std::string message;
  const char* allow = nullptr;
  ChartRequest chart;
};

// Reads the method and request target (path and raw query, origin form) of a request. For POST
// the data is the body and is taken by ReadBody; GET and HEAD carry it in the query. The checks
// run in the order a client would want to fix them: route, method, parameters, size. The
// second form fills `*decision`, keeping the memory of its strings.
Decision ReadRequest(std::string_view method, std::string_view target, const Limits& limits);
void ReadRequest(std::string_view method, std::string_view target, const Limits& limits,
                 Decision* decision);

// Applies a POST body to a decision of ReadRequest that asked for one; a body holding a NUL
// byte turns it into a 400, as such data does in the query.
void ReadBody(std::string_view body, Decision* decision);

// True when a POST to a chart or parse route takes its data from the body.
bool TakesBody(std::string_view method, Route route);

// The strong entity tag of the picture `chart` gives with program `version`, quoted.
std::string EntityTag(const ChartRequest& chart, std::string_view version);
void EntityTag(const ChartRequest& chart, std::string_view version, std::string* tag);

// Whether an If-None-Match header value matches `etag` (weak comparison, "*" matches all).
bool MatchesNoneMatch(std::string_view header, std::string_view etag);

// What If-None-Match makes of a chart request whose picture would carry `etag`.
enum class Precondition {
  None,         // draw and answer as usual
  NotModified,  // 304 without drawing: the tag was given for a picture drawn before
  Failed,       // 412 without drawing
  DrawThen304,  // "*": 304 if the picture can be drawn, else the error drawing gives
  DrawThen412,  // "*" on POST: 412 if the picture can be drawn, else that error
};
// Only GET and HEAD are answered 304; for another method a match means 412. A request that
// would be an error stays that error, so "*" (which names no tag) waits for the drawing.
Precondition EvaluateNoneMatch(std::string_view method, bool present, std::string_view header,
                               std::string_view etag);

}  // namespace norvisk::serve
