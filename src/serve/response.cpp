// Response heads: status line, Date, the entity's fields, caching, and what becomes of the
// connection.
#include "serve/response.h"

#include <charconv>
#include <cstdio>

namespace norvisk::serve {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 412: return "Precondition Failed";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 422: return "Unprocessable Content";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

std::string HttpDate(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  // strftime's %a and %b follow the locale; these names must not.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

namespace {

void AppendNumber(std::string* out, std::size_t n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  out->append(buf, r.ptr);
}

void AppendField(std::string* out, std::string_view name, std::string_view value) {
  out->append(name);
  out->append(": ");
  out->append(value);
  out->append("\r\n");
}

}  // namespace

void WriteHead(const ResponseHead& head, std::string_view date, std::string* out) {
  out->append("HTTP/1.1 ");
  AppendNumber(out, static_cast<std::size_t>(head.status));
  out->push_back(' ');
  out->append(ReasonPhrase(head.status));
  out->append("\r\n");
  AppendField(out, "Date", date);
  if (head.contentType) AppendField(out, "Content-Type", head.contentType);
  if (head.hasLength) {
    out->append("Content-Length: ");
    AppendNumber(out, head.contentLength);
    out->append("\r\n");
  }
  if (!head.etag.empty()) AppendField(out, "ETag", head.etag);
  if (head.cacheControl) AppendField(out, "Cache-Control", head.cacheControl);
  if (head.allow) AppendField(out, "Allow", head.allow);
  if (head.contentSecurityPolicy)
    AppendField(out, "Content-Security-Policy", head.contentSecurityPolicy);
  if (head.retryAfter) AppendField(out, "Retry-After", "1");
  // Every answer is what it says it is: no browser reads a picture or an error as a page.
  AppendField(out, "X-Content-Type-Options", "nosniff");
  if (head.persistence == Persistence::Close) AppendField(out, "Connection", "close");
  if (head.persistence == Persistence::KeepAlive10) AppendField(out, "Connection", "keep-alive");
  out->append("\r\n");
}

}  // namespace norvisk::serve
