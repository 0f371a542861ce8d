// The service's request reading: method, target with its query, body and If-None-Match.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "serve/request.h"

using norvisk_fuzz::Check;
namespace serve = norvisk::serve;

// Input: one byte choosing the method, then the target; an optional NUL starts the body, a
// second NUL the If-None-Match header.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const char* const kMethods[] = {"GET", "HEAD", "POST", "PUT", "OPTIONS", ""};
  if (size == 0) return 0;
  std::string_view method = kMethods[data[0] % 6];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t cut = rest.find('\0');
  std::string_view target = rest.substr(0, cut);
  std::string_view body = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  std::size_t cut2 = body.find('\0');
  std::string_view header =
      cut2 == std::string_view::npos ? std::string_view() : body.substr(cut2 + 1);
  body = body.substr(0, cut2);

  serve::Limits limits;
  limits.maxPixels = 1 << 20;
  limits.maxRequestLine = 4096;
  serve::Decision d = serve::ReadRequest(method, target, limits);
  const serve::Route route = serve::FindRoute(target.substr(0, target.find('?')));
  Check(d.chart.route == route, "a decision names the route of its path");
  if (d.status != 200) {
    Check(d.status == 400 || d.status == 404 || d.status == 405 || d.status == 413 ||
              d.status == 414 || d.status == 422,
          "refusals are the statuses the service answers with");
    Check(!d.message.empty() && d.message.find('\n') == std::string::npos &&
              d.message.find('\r') == std::string::npos,
          "a refusal is one line");
    Check((d.status == 405) == (d.allow != nullptr), "405 and only 405 names the methods allowed");
    Check(d.status != 404 || route == serve::Route::Unknown, "404 only for unknown paths");
    return 0;
  }
  Check(route != serve::Route::Unknown, "an unknown path is never answered");
  Check(method.size() + target.size() + 10 <= limits.maxRequestLine, "the request line fits");
  if (!serve::IsChart(route)) return 0;
  Check(d.chart.width > 0 && d.chart.height > 0, "a chart to draw has a size");
  Check(static_cast<long long>(d.chart.width) * d.chart.height <= limits.maxPixels,
        "a chart to draw is within the pixel limit");
  if (serve::TakesBody(method, route)) {
    Check(d.chart.data.empty(), "a POST takes no data from its query");
    serve::ReadBody(body, &d);
    Check(d.chart.data == body, "a body is the data as it stands");
  } else {
    Check(d.chart.data.size() <= target.size(), "decoding never lengthens the data");
  }
  const std::string tag = serve::EntityTag(d.chart, "1");
  Check(serve::MatchesNoneMatch(tag, tag), "a tag matches itself");
  Check(serve::MatchesNoneMatch("\"x\", W/" + tag, tag), "a tag matches in a list");
  serve::MatchesNoneMatch(header, tag);
  return 0;
}
