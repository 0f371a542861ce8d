// The head of a response, written as bytes: every answer of the service goes through here, so
// that each carries the same fields the same way.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace norvisk::serve {

enum class Persistence {
  KeepAlive,    // HTTP/1.1: nothing to say
  KeepAlive10,  // HTTP/1.0 that asked to keep the connection: "Connection: keep-alive"
  Close,        // "Connection: close"; the connection ends after this answer
};

struct ResponseHead {
  int status = 200;
  const char* contentType = nullptr;
  bool hasLength = true;  // a 304 says no length: it would not be the picture's
  std::size_t contentLength = 0;
  std::string_view etag;
  const char* cacheControl = "no-store";
  const char* allow = nullptr;
  const char* contentSecurityPolicy = nullptr;
  bool retryAfter = false;
  Persistence persistence = Persistence::KeepAlive;
};

const char* ReasonPhrase(int status);

// The IMF-fixdate of `t` ("Sun, 06 Nov 1994 08:49:37 GMT"), 29 characters.
std::string HttpDate(std::time_t t);

// Appends the status line and fields of `head`, and the empty line that ends them, to `*out`.
void WriteHead(const ResponseHead& head, std::string_view date, std::string* out);

}  // namespace norvisk::serve
