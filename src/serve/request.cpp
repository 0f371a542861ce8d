// Reading chart requests: routes, the query, percent-escapes, sizes and entity tags.
#include "serve/request.h"

#include <climits>

namespace norvisk::serve {

namespace {

constexpr RouteInfo kUnknownRoute = {
    "", Route::Unknown, Handler::None, false, ChartFormat::None, nullptr, nullptr};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void Refuse(Decision* d, int status, std::string_view message, const char* allow = nullptr) {
  d->status = status;
  d->message.assign(message);
  d->allow = allow;
}

// The parameters of one query as they are read.
struct QueryState {
  bool dataInQuery = true;
  bool sized = true;  // width and height are parameters (not of /parse)
  bool seenData = false, seenWidth = false, seenHeight = false;
  std::string name;  // the decoded name of the parameter at hand
};

// One "name=value" of the query applied to the decision; false (with the refusal made) when
// the parameter cannot be used.
bool ApplyParameter(std::string_view item, QueryState* q, Decision* d) {
  std::size_t eq = item.find('=');
  std::string_view rawName = item.substr(0, eq);
  std::string_view rawValue =
      eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
  if (!PercentDecode(rawName, true, &q->name)) {
    Refuse(d, 400, "bad request: a malformed percent-escape in the query");
    return false;
  }
  const std::string& name = q->name;
  if (name == "data") {
    if (!q->dataInQuery) {
      Refuse(d, 400, "bad request: a POST carries the data in its body, not in the query");
      return false;
    }
    if (q->seenData) {
      Refuse(d, 400, "bad request: the parameter \"data\" is given more than once");
      return false;
    }
    q->seenData = true;
    if (!PercentDecode(rawValue, true, &d->chart.data)) {
      Refuse(d, 400, "bad request: a malformed percent-escape in the query");
      return false;
    }
    return true;
  }
  if (q->sized && (name == "width" || name == "height")) {
    bool* seen = name == "width" ? &q->seenWidth : &q->seenHeight;
    if (*seen) {
      Refuse(d, 400, "bad request: the parameter \"" + name + "\" is given more than once");
      return false;
    }
    *seen = true;
    std::string value;
    if (!PercentDecode(rawValue, true, &value)) {
      Refuse(d, 400, "bad request: a malformed percent-escape in the query");
      return false;
    }
    if (!ParseSize(value, name == "width" ? &d->chart.width : &d->chart.height)) {
      Refuse(d, 400, "bad request: " + name + " must be a whole number");
      return false;
    }
    return true;
  }
  std::string value;
  if (!PercentDecode(rawValue, true, &value)) {
    Refuse(d, 400, "bad request: a malformed percent-escape in the query");
    return false;
  }
  Refuse(d, 400, "bad request: unknown parameter " + Quote(name));
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

// A number and the NUL that ends it, as the tag mixes them.
void MixNumber(unsigned __int128* h, long long value) {
  char buf[24];
  int n = 0;
  bool negative = value < 0;
  unsigned long long v = negative ? 0ULL - static_cast<unsigned long long>(value)
                                  : static_cast<unsigned long long>(value);
  do {
    buf[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  if (negative) buf[n++] = '-';
  for (int i = n - 1; i >= 0; --i) Mix(h, std::string_view(&buf[i], 1));
  Mix(h, std::string_view("", 1));
}

}  // namespace

Route FindRoute(std::string_view path) {
  for (const RouteInfo& e : kRouteTable)
    if (e.path == path) return e.route;
  return Route::Unknown;
}

const RouteInfo& Info(Route route) {
  for (const RouteInfo& e : kRouteTable)
    if (e.route == route) return e;
  return kUnknownRoute;
}

const char* RouteName(Route route) {
  return route == Route::Unknown ? "other" : Info(route).path.data();
}

bool IsChart(Route route) { return Info(route).handler == Handler::Chart; }
bool TakesData(Route route) {
  return Info(route).handler == Handler::Chart || Info(route).handler == Handler::Parse;
}
bool IsBar(Route route) { return IsChart(route) && Info(route).bar; }
ChartFormat FormatOf(Route route) { return Info(route).format; }

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

std::string Quote(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  constexpr std::size_t kShown = 64;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  if (text.size() > kShown) out += "...";
  return out;
}

bool TakesBody(std::string_view method, Route route) {
  return method == "POST" && TakesData(route);
}

void ReadRequest(std::string_view method, std::string_view target, const Limits& limits,
                 Decision* d) {
  d->status = 200;
  d->message.clear();
  d->allow = nullptr;
  std::size_t q = target.find('?');
  std::string_view path = target.substr(0, q);
  std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);

  // Refusals are counted under the path they were sent to.
  const RouteInfo& route = Info(FindRoute(path));
  ChartRequest& chart = d->chart;
  chart.route = route.route;
  chart.width = 640;
  chart.height = 300;
  chart.data.clear();
  if (route.route == Route::Unknown)
    return Refuse(d, 404, "not found: no chart or page at this path");
  bool takesData = TakesData(route.route);
  bool get = method == "GET" || method == "HEAD";
  if (!get && !(takesData && method == "POST"))
    return Refuse(d, 405, "method not allowed", route.allow);
  // The request line is the method, a blank, the target, a blank and an 8-byte version.
  if (method.size() + target.size() + 10 > limits.maxRequestLine)
    return Refuse(d, 414,
                  "URI too long: the request line is over " +
                      std::to_string(limits.maxRequestLine) + " bytes");
  // The pages, /health and /metrics take no parameters and ignore any given.
  if (!takesData) return;

  QueryState state;
  state.dataInQuery = get;
  state.sized = route.handler == Handler::Chart;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view item = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (item.empty()) continue;  // "a=1&&b=2" and a trailing "&" separate nothing.
    if (!ApplyParameter(item, &state, d)) return;
  }
  if (get && !state.seenData)
    return Refuse(d, 400, "bad request: the parameter \"data\" is missing");
  if (chart.data.find('\0') != std::string::npos) return Refuse(d, 400, kNulInData);
  if (chart.width <= 0 || chart.height <= 0)
    return Refuse(d, 422,
                  "not drawn: a picture of " + std::to_string(chart.width) + " x " +
                      std::to_string(chart.height) + " pixels cannot be made");
  if (static_cast<long long>(chart.width) * chart.height > limits.maxPixels)
    return Refuse(d, 413,
                  "too large: a picture of " + std::to_string(chart.width) + " x " +
                      std::to_string(chart.height) + " pixels is over " +
                      std::to_string(limits.maxPixels) + " pixels");
}

Decision ReadRequest(std::string_view method, std::string_view target, const Limits& limits) {
  Decision d;
  ReadRequest(method, target, limits, &d);
  return d;
}

void ReadBody(std::string_view body, Decision* decision) {
  if (body.find('\0') != std::string_view::npos) return Refuse(decision, 400, kNulInData);
  decision->chart.data.assign(body);
}

void EntityTag(const ChartRequest& chart, std::string_view version, std::string* tag) {
  unsigned __int128 h = kFnvOffset;
  // Each field ends in a NUL and the data comes last with its length, so no two different
  // requests give the same byte sequence.
  Mix(&h, "norvisk ");
  Mix(&h, version);
  Mix(&h, std::string_view("", 1));
  Mix(&h, RouteName(chart.route));
  Mix(&h, std::string_view("", 1));
  MixNumber(&h, chart.width);
  MixNumber(&h, chart.height);
  MixNumber(&h, static_cast<long long>(chart.data.size()));
  Mix(&h, chart.data);
  static constexpr char kHex[] = "0123456789abcdef";
  tag->assign(34, '"');
  for (int i = 0; i < 32; ++i) (*tag)[1 + i] = kHex[static_cast<unsigned>(h >> (124 - 4 * i)) & 15];
}

std::string EntityTag(const ChartRequest& chart, std::string_view version) {
  std::string tag;
  EntityTag(chart, version, &tag);
  return tag;
}

namespace {

// Reads an If-None-Match list: whether it names `etag` and whether it holds "*". A value that
// is not a list of tags stops the reading where it goes wrong.
void ScanNoneMatch(std::string_view header, std::string_view etag, bool* tag, bool* star) {
  *tag = *star = false;
  std::size_t i = 0;
  while (i < header.size()) {
    while (i < header.size() && (header[i] == ' ' || header[i] == '\t' || header[i] == ',')) ++i;
    if (i >= header.size()) break;
    if (header[i] == '*') {
      *star = true;
      ++i;
      continue;
    }
    if (header.substr(i, 2) == "W/") i += 2;
    if (i >= header.size() || header[i] != '"') return;  // not a list of tags
    std::size_t end = header.find('"', i + 1);
    if (end == std::string_view::npos) return;
    if (header.substr(i, end + 1 - i) == etag) *tag = true;
    i = end + 1;
  }
}

}  // namespace

bool MatchesNoneMatch(std::string_view header, std::string_view etag) {
  bool tag, star;
  ScanNoneMatch(header, etag, &tag, &star);
  return tag || star;
}

Precondition EvaluateNoneMatch(std::string_view method, bool present, std::string_view header,
                               std::string_view etag) {
  if (!present) return Precondition::None;
  bool tag, star;
  ScanNoneMatch(header, etag, &tag, &star);
  bool get = method == "GET" || method == "HEAD";
  // A tag of ours is only ever given with a picture, so a match means the picture exists.
  if (tag) return get ? Precondition::NotModified : Precondition::Failed;
  if (star) return get ? Precondition::DrawThen304 : Precondition::DrawThen412;
  return Precondition::None;
}

}  // namespace norvisk::serve
