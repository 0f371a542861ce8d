// Reading HTTP/1.1 requests from the bytes of one connection, with the framing checked strictly;
// no sockets. What a request asks for is then read by ReadRequest and ReadBody.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "serve/request.h"

namespace norvisk::serve {

// One request after another from the bytes a connection receives. A request's framing must
// leave no doubt where it ends: one Content-Length of digits or Transfer-Encoding "chunked"
// alone, never both; one Host in HTTP/1.1; header names of token characters up to their colon.
// Anything else is refused (400; 501 for a transfer coding other than chunked, 505 for another
// HTTP version, 414 and 431 for a head over the limit, 413 for a body over it), and a refused
// request ends the connection: nothing after it is read as a request.
class RequestReader {
 public:
  enum class Progress {
    NeedMore,  // give it more bytes
    Head,      // the head is read and accepted and a body follows (see ExpectsContinue)
    Done,      // a whole request: answer Decision(), then call Next() for the following one
    Refused,   // answer Decision() and close the connection
  };

  explicit RequestReader(const Limits& limits);
  ~RequestReader();
  RequestReader(const RequestReader&) = delete;
  RequestReader& operator=(const RequestReader&) = delete;

  // Begins the next request on the connection; buffers keep their memory.
  void Next();

  // Reads from `bytes`, which begin where the last call left off; returns how many bytes it
  // used. The head of a request is read only once it is whole, so the caller keeps the bytes
  // not used and gives them again with more (at least Limits::maxHead of them at once). After
  // Done or Refused it uses nothing until Next().
  std::size_t Read(std::string_view bytes, Progress* progress);

  // Whether any byte of the current request has been read: the connection is not idle.
  bool Started() const;

  // The request as read; Decision().status is the answer to give (200: serve it).
  const Decision& Result() const;
  Decision& Result();
  std::string_view Method() const;
  bool HeadOnly() const;   // a HEAD request: the answer has no body
  bool KeepAlive() const;  // the client keeps the connection after this request
  bool Http11() const;
  bool ExpectsContinue() const;  // "Expect: 100-continue" on a request whose body is to be read
  bool HasNoneMatch() const;
  std::string_view NoneMatch() const;  // every If-None-Match field, joined by commas

 private:
  class Parser;
  std::unique_ptr<Parser> parser_;
};

}  // namespace norvisk::serve
