// Reading chart requests: routes, the query, percent-escapes, sizes and entity tags.
#include "serve/request.h"

#include <climits>

namespace norvisk::serve {
namespace {

struct RouteEntry {
  std::string_view path;
  Route route;
};

constexpr RouteEntry kRoutes[] = {
    {"/bar.jpg", Route::BarJpeg}, {"/bar.bmp", Route::BarBmp}, {"/xy.jpg", Route::XYJpeg},
    {"/xy.bmp", Route::XYBmp},    {"/health", Route::Health},  {"/metrics", Route::Metrics},
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Decision Refuse(int status, std::string message, const char* allow = nullptr) {
  Decision d;
  d.status = status;
  d.message = std::move(message);
  d.allow = allow;
  return d;
}

// One "name=value" of the query applied to the decision; false (with the refusal made) when
// the parameter cannot be used.
bool ApplyParameter(std::string_view item, bool dataInQuery, bool* seenData, bool* seenWidth,
                    bool* seenHeight, Decision* d) {
  std::size_t eq = item.find('=');
  std::string name, value;
  std::string_view rawName = item.substr(0, eq);
  std::string_view rawValue =
      eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
  if (!PercentDecode(rawName, true, &name) || !PercentDecode(rawValue, true, &value)) {
    *d = Refuse(400, "bad request: a malformed percent-escape in the query");
    return false;
  }
  if (name == "data") {
    if (!dataInQuery) {
      *d = Refuse(400, "bad request: a POST carries the data in its body, not in the query");
      return false;
    }
    if (*seenData) {
      *d = Refuse(400, "bad request: the parameter \"data\" is given more than once");
      return false;
    }
    *seenData = true;
    d->chart.data = std::move(value);
    return true;
  }
  if (name == "width" || name == "height") {
    bool* seen = name == "width" ? seenWidth : seenHeight;
    if (*seen) {
      *d = Refuse(400, "bad request: the parameter \"" + name + "\" is given more than once");
      return false;
    }
    *seen = true;
    if (!ParseSize(value, name == "width" ? &d->chart.width : &d->chart.height)) {
      *d = Refuse(400, "bad request: " + name + " must be a whole number");
      return false;
    }
    return true;
  }
  // Names are echoed only when short and printable, so the answer stays one safe line.
  bool printable = name.size() <= 64;
  for (char c : name) printable = printable && c > ' ' && c < 127;
  *d = Refuse(400, printable ? "bad request: unknown parameter \"" + name + "\""
                             : std::string("bad request: an unknown parameter"));
  return false;
}

// A data string is a C string to the drawing library: a NUL would cut it short unseen.
constexpr const char* kNulInData = "bad request: the data holds a NUL byte";

constexpr unsigned __int128 kFnvPrime = (static_cast<unsigned __int128>(1) << 88) + 0x13B;
constexpr unsigned __int128 kFnvOffset =
    (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;

void Mix(unsigned __int128* h, std::string_view bytes) {
  for (unsigned char c : bytes) {
    *h ^= c;
    *h *= kFnvPrime;
  }
}

}  // namespace

Route FindRoute(std::string_view path) {
  for (const RouteEntry& e : kRoutes)
    if (e.path == path) return e.route;
  return Route::Unknown;
}

const char* RouteName(Route route) {
  for (const RouteEntry& e : kRoutes)
    if (e.route == route) return e.path.data();
  return "other";
}

bool IsChart(Route route) {
  return route == Route::BarJpeg || route == Route::BarBmp || route == Route::XYJpeg ||
         route == Route::XYBmp;
}
bool IsBar(Route route) { return route == Route::BarJpeg || route == Route::BarBmp; }
bool IsJpeg(Route route) { return route == Route::BarJpeg || route == Route::XYJpeg; }

bool PercentDecode(std::string_view in, bool plusIsSpace, std::string* out) {
  out->clear();
  out->reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '%') {
      if (i + 2 >= in.size()) return false;
      int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out->push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out->push_back(plusIsSpace && c == '+' ? ' ' : c);
    }
  }
  return true;
}

bool ParseSize(std::string_view text, int* value) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (v <= INT_MAX) v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  *value = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  return true;
}

bool TakesBody(std::string_view method, Route route) { return method == "POST" && IsChart(route); }

namespace {

Decision Read(std::string_view method, std::string_view target, const Limits& limits) {
  std::size_t q = target.find('?');
  std::string_view path = target.substr(0, q);
  std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);

  Route route = FindRoute(path);
  if (route == Route::Unknown) return Refuse(404, "not found: no chart or page at this path");
  bool chart = IsChart(route);
  bool get = method == "GET" || method == "HEAD";
  if (!get && !(chart && method == "POST"))
    return Refuse(405, "method not allowed", chart ? "GET, HEAD, POST" : "GET, HEAD");
  // The request line is the method, a blank, the target, a blank and an 8-byte version.
  if (method.size() + target.size() + 10 > limits.maxRequestLine)
    return Refuse(414, "URI too long: the request line is over " +
                           std::to_string(limits.maxRequestLine) + " bytes");

  Decision d;
  d.chart.route = route;
  if (!chart) return d;  // /health and /metrics take no parameters and ignore any given.

  bool seenData = false, seenWidth = false, seenHeight = false;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;  // "a=1&&b=2" and a trailing "&" separate nothing.
    if (!ApplyParameter(item, get, &seenData, &seenWidth, &seenHeight, &d)) return d;
  }
  if (get && !seenData) return Refuse(400, "bad request: the parameter \"data\" is missing");
  if (d.chart.data.find('\0') != std::string::npos) return Refuse(400, kNulInData);
  if (d.chart.width <= 0 || d.chart.height <= 0)
    return Refuse(422, "not drawn: a picture of " + std::to_string(d.chart.width) + " x " +
                           std::to_string(d.chart.height) + " pixels cannot be made");
  if (static_cast<long long>(d.chart.width) * d.chart.height > limits.maxPixels)
    return Refuse(413, "too large: a picture of " + std::to_string(d.chart.width) + " x " +
                           std::to_string(d.chart.height) + " pixels is over " +
                           std::to_string(limits.maxPixels) + " pixels");
  return d;
}

}  // namespace

Decision ReadRequest(std::string_view method, std::string_view target, const Limits& limits) {
  Decision d = Read(method, target, limits);
  // Refusals are counted under the path they were sent to.
  d.chart.route = FindRoute(target.substr(0, target.find('?')));
  return d;
}

void ReadBody(std::string_view body, Decision* decision) {
  if (body.find('\0') != std::string_view::npos) {
    Decision refused = Refuse(400, kNulInData);
    refused.chart.route = decision->chart.route;
    *decision = std::move(refused);
    return;
  }
  decision->chart.data.assign(body);
}

std::string EntityTag(const ChartRequest& chart, std::string_view version) {
  unsigned __int128 h = kFnvOffset;
  // Each field ends in a NUL and the data comes last with its length, so no two different
  // requests give the same byte sequence.
  std::string head = "norvisk ";
  head += version;
  head += '\0';
  head += RouteName(chart.route);
  head += '\0';
  head += std::to_string(chart.width) + '\0' + std::to_string(chart.height) + '\0' +
          std::to_string(chart.data.size()) + '\0';
  Mix(&h, head);
  Mix(&h, chart.data);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string tag = "\"";
  for (int shift = 124; shift >= 0; shift -= 4) tag += kHex[static_cast<unsigned>(h >> shift) & 15];
  tag += '"';
  return tag;
}

bool MatchesNoneMatch(std::string_view header, std::string_view etag) {
  std::size_t i = 0;
  while (i < header.size()) {
    while (i < header.size() && (header[i] == ' ' || header[i] == '\t' || header[i] == ',')) ++i;
    if (i >= header.size()) break;
    if (header[i] == '*') return true;
    if (header.substr(i, 2) == "W/") i += 2;
    if (i >= header.size() || header[i] != '"') return false;  // not a list of tags
    std::size_t end = header.find('"', i + 1);
    if (end == std::string_view::npos) return false;
    if (header.substr(i, end + 1 - i) == etag) return true;
    i = end + 1;
  }
  return false;
}

}  // namespace norvisk::serve
