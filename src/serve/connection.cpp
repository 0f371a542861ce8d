// One connection on the connection thread: reading its requests as bytes arrive, sending
// each answer, lingering after the last and closing.
#include <sys/socket.h>

#include <array>
#include <cstring>

#include "serve/server.h"

namespace norvisk::serve {

std::string_view Server::Date() {
  std::time_t now = std::time(nullptr);
  if (now != dateTime_) {
    dateTime_ = now;
    date_ = HttpDate(now);
  }
  return date_;
}

void Server::StartRead(Connection& c) {
  if (c.reading || c.closed) return;
  if (c.inputEnd == c.inputSize) {
    if (c.inputStart > 0) {
      std::memmove(c.input.get(), c.input.get() + c.inputStart, c.inputEnd - c.inputStart);
      c.inputEnd -= c.inputStart;
      c.inputStart = 0;
    } else if (c.lingering) {
      c.inputStart = c.inputEnd = 0;
    } else if (c.inputSize < options_.limits.maxHead + kInitialInput) {
      // A head must be whole in the buffer to be read; it is refused past Limits::maxHead.
      std::size_t size = c.inputSize * 2;
      std::unique_ptr<char[]> bigger(new char[size]);
      std::memcpy(bigger.get(), c.input.get(), c.inputEnd);
      c.input = std::move(bigger);
      c.inputSize = size;
    } else {
      return;  // full of requests sent ahead: read on once they are answered
    }
  }
  c.reading = true;
  c.socket.async_read_some(asio::buffer(c.input.get() + c.inputEnd, c.inputSize - c.inputEnd),
                           [self = c.shared_from_this()](const error_code& ec, std::size_t n) {
                             self->server->OnRead(*self, ec, n);
                           });
}

void Server::OnRead(Connection& c, const error_code& ec, std::size_t n) {
  c.reading = false;
  if (c.closed) return;
  if (ec || n == 0) {
    // The client has sent all it will: a request a worker has not drawn yet is dropped, an
    // answer being sent is finished first.
    if (c.rendering) {
      c.gone.store(true, std::memory_order_release);
      return;
    }
    if (c.writing) {
      c.closeAfter = true;
      return;
    }
    return Close(c);
  }
  if (c.lingering) {
    // Dropped; the time it may take is counted from the last answer, not from these bytes.
    c.inputStart = c.inputEnd = 0;
    return StartRead(c);
  }
  c.active = Clock::now();
  c.inputEnd += n;
  if (c.rendering || c.writing) return StartRead(c);  // kept for after the answer
  Process(c);
}

void Server::Process(Connection& c) {
  for (;;) {
    std::string_view bytes(c.input.get() + c.inputStart, c.inputEnd - c.inputStart);
    RequestReader::Progress progress;
    std::size_t used = c.reader.Read(bytes, &progress);
    c.inputStart += used;
    if (c.inputStart == c.inputEnd) c.inputStart = c.inputEnd = 0;
    if (!c.counted && c.reader.Started()) {
      c.counted = true;
      metrics_.Enter();
    }
    switch (progress) {
      case RequestReader::Progress::NeedMore: return StartRead(c);
      case RequestReader::Progress::Head:
        // The client waits for this before it sends the body; it goes out ahead of anything.
        if (c.reader.ExpectsContinue() && c.inputStart == c.inputEnd) {
          static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
          if (::send(c.socket.native_handle(), kContinue, sizeof kContinue - 1,
                     MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(sizeof kContinue - 1))
            return Close(c);
        }
        continue;
      case RequestReader::Progress::Done: return Dispatch(c);
      case RequestReader::Progress::Refused: {
        const Decision& d = c.reader.Result();
        c.route = d.chart.route;
        c.closeAfter = true;
        return SendText(c, d.status, d.message + "\n", d.allow);
      }
    }
  }
}

Persistence Server::PersistenceOf(const Connection& c) const {
  if (c.closeAfter || draining_ || !c.reader.KeepAlive()) return Persistence::Close;
  return c.reader.Http11() ? Persistence::KeepAlive : Persistence::KeepAlive10;
}

void Server::SendText(Connection& c, int status, std::string_view text, const char* allow,
                      bool retry, const char* type) {
  if (text.data() != c.text.data()) c.text.assign(text);
  ResponseHead head;
  head.status = status;
  head.contentType = type;
  head.contentLength = c.text.size();
  head.allow = allow;
  head.retryAfter = retry;
  Send(c, head, c.text.data(), c.text.size());
}

void Server::SendNotModified(Connection& c) {
  ResponseHead head;
  head.status = 304;
  head.contentType = Info(c.route).contentType;
  head.hasLength = false;
  head.etag = c.etag;
  head.cacheControl = kPictureCache;
  Send(c, head, nullptr, 0);
}

void Server::SendPicture(Connection& c) {
  ResponseHead head;
  head.contentType = Info(c.route).contentType;
  head.contentLength = c.size;
  head.etag = c.etag;
  head.cacheControl = kPictureCache;
  Send(c, head, reinterpret_cast<const char*>(c.bytes), c.size);
}

void Server::Send(Connection& c, ResponseHead& head, const char* body, std::size_t size) {
  head.persistence = PersistenceOf(c);
  c.closeAfter = head.persistence == Persistence::Close;
  c.head.clear();
  WriteHead(head, Date(), &c.head);
  metrics_.CountResponse(c.route, head.status);
  c.body = body;
  c.bodySize = c.reader.HeadOnly() ? 0 : size;
  c.sent = 0;
  c.writing = true;
  // The idle time of a connection counts from its answer: a chart that waited long for a
  // worker must not have its connection swept before the first byte of it goes out.
  c.active = Clock::now();
  Write(c);
}

void Server::Write(Connection& c) {
  std::size_t headSize = c.head.size();
  std::array<asio::const_buffer, 2> buffers;
  if (c.sent < headSize) {
    buffers[0] = asio::buffer(c.head.data() + c.sent, headSize - c.sent);
    buffers[1] = asio::buffer(c.body, c.bodySize);
  } else {
    buffers[0] = asio::buffer(c.body + (c.sent - headSize), c.bodySize - (c.sent - headSize));
  }
  c.socket.async_write_some(buffers,
                            [self = c.shared_from_this()](const error_code& ec, std::size_t n) {
                              self->server->OnWrote(*self, ec, n);
                            });
}

void Server::OnWrote(Connection& c, const error_code& ec, std::size_t n) {
  if (c.closed) return;
  if (ec) return Close(c);
  c.active = Clock::now();
  c.sent += n;
  if (c.sent < c.head.size() + c.bodySize) return Write(c);
  Written(c);
}

void Server::Written(Connection& c) {
  c.writing = false;
  c.ReleasePicture();
  if (c.text.capacity() > kInitialInput) std::string().swap(c.text);
  if (c.counted) {
    c.counted = false;
    metrics_.Leave();
  }
  if (c.closeAfter || draining_) return Linger(c);
  c.reader.Next();
  // A connection that held a large head goes back to a small buffer once it is idle.
  if (c.inputStart == c.inputEnd && c.inputSize > kInitialInput && !c.reading) {
    c.input.reset(new char[kInitialInput]);
    c.inputSize = kInitialInput;
  }
  Process(c);
}

void Server::Linger(Connection& c) {
  error_code ignored;
  c.socket.shutdown(tcp::socket::shutdown_send, ignored);
  c.lingering = true;
  c.active = Clock::now();
  c.inputStart = c.inputEnd = 0;
  StartRead(c);
}

void Server::Close(Connection& c) {
  if (c.closed) return;
  c.closed = true;
  error_code ignored;
  c.socket.close(ignored);
  if (c.counted) {
    c.counted = false;
    metrics_.Leave();
  }
  if (c.prev) c.prev->next = c.next;
  if (c.next) c.next->prev = c.prev;
  if (first_ == &c) first_ = c.next;
  c.prev = c.next = nullptr;
  --connections_;
  auto it = perClient_.find(c.client);
  if (it != perClient_.end() && --it->second <= 0) perClient_.erase(it);
  if (!c.rendering) c.ReleasePicture();
  if (draining_ && connections_ == 0) io_.stop();
}

}  // namespace norvisk::serve
