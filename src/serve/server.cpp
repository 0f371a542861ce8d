// The service: one thread handles every connection (Asio on epoll) and never draws; the workers
// of a RenderPool draw, fed from one queue. A chart request goes to a worker once it is whole
// and comes back once; everything else (errors, 304, /health, /metrics) is answered here.
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "serve/http_reader.h"
#include "serve/metrics.h"
#include "serve/options.h"
#include "serve/playground.h"
#include "serve/render.h"
#include "serve/render_pool.h"
#include "serve/request.h"
#include "serve/response.h"
#include "serve/serve.h"

namespace norvisk::serve {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kInitialInput = 16 * 1024;
constexpr unsigned kMaxConnections = 4096;
constexpr int kLargeAllocation = 4 << 20;
constexpr const char* kPictureCache = "public, max-age=86400";
constexpr const char* kText = "text/plain; charset=utf-8";
constexpr auto kSweep = std::chrono::milliseconds(250);
// How long a closing connection's input is read and dropped, so that the client reads the
// answer before the close rather than a reset that would discard it.
constexpr auto kLinger = std::chrono::seconds(2);

class Server;

// One client connection. Its fields belong to the connection thread, except what RenderJob
// carries while a worker has it, and `gone`.
class Connection : public RenderJob, public std::enable_shared_from_this<Connection> {
 public:
  Connection(Server* owner, tcp::socket accepted, std::uint32_t address, const Limits& limits)
      : server(owner), socket(std::move(accepted)), client(address), reader(limits) {}
  bool Abandoned() const override { return gone.load(std::memory_order_acquire); }

  Server* server;
  tcp::socket socket;
  std::uint32_t client;
  RequestReader reader;
  std::unique_ptr<char[]> input;  // bytes received and not yet read as requests
  std::size_t inputSize = 0, inputStart = 0, inputEnd = 0;

  std::string head;  // the response being sent: head, then `body`
  std::string text;
  std::string etag;
  const char* body = nullptr;
  std::size_t bodySize = 0, sent = 0;
  Route route = Route::Unknown;
  Precondition precondition = Precondition::None;

  bool reading = false;     // a read is outstanding
  bool writing = false;     // a response is being sent
  bool rendering = false;   // a worker has the request
  bool closeAfter = false;  // the response being sent is the last
  bool lingering = false;   // answered for the last time: input is dropped until the client closes
  bool closed = false;
  bool counted = false;  // counted in flight
  std::atomic<bool> gone{false};
  Clock::time_point active;          // last progress either way
  std::shared_ptr<Connection> self;  // keeps it while a worker has it
  Connection* prev = nullptr;
  Connection* next = nullptr;
};

class Server {
 public:
  Server(const Options& options, int threads)
      : options_(options),
        metrics_(threads),
        acceptor_(io_),
        signals_(io_),
        sweep_(io_),
        deadline_(io_) {}

  int Run(int threads);

  // Called on a worker thread with a job it is done with.
  void Finished(RenderJob* job);

  void OnRead(Connection& c, const error_code& ec, std::size_t n);
  void OnWrote(Connection& c, const error_code& ec, std::size_t n);

 private:
  void Accept();
  void OnAccept(const error_code& ec, tcp::socket socket);
  void StartRead(Connection& c);
  void Process(Connection& c);
  void Dispatch(Connection& c);
  void StartChart(Connection& c);
  void TakeFinished();
  void Answer(Connection& c);

  void SendText(Connection& c, int status, std::string_view text, const char* allow = nullptr,
                bool retry = false, const char* type = kText);
  void SendNotModified(Connection& c);
  void SendPicture(Connection& c);
  void SendPage(Connection& c);
  void Send(Connection& c, ResponseHead& head, const char* body, std::size_t size);
  void Write(Connection& c);
  void Written(Connection& c);
  void Linger(Connection& c);
  void Close(Connection& c);
  Persistence PersistenceOf(const Connection& c) const;
  std::string_view Date();

  void Sweep();
  void Drain();
  bool Listen(std::string* why);

  Options options_;
  Metrics metrics_;
  asio::io_context io_{1};
  tcp::acceptor acceptor_;
  asio::signal_set signals_;
  asio::steady_timer sweep_, deadline_;
  unsigned maxConnections_ = kMaxConnections;
  std::size_t connections_ = 0;
  Connection* first_ = nullptr;  // every open connection, for the sweep and the drain
  std::unordered_map<std::uint32_t, int> perClient_;
  bool draining_ = false;
  std::string date_;
  std::time_t dateTime_ = 0;

  // Jobs the workers are done with, taken by the connection thread in one go.
  std::mutex finishedMutex_;
  std::vector<Connection*> finished_, taking_;
  bool finishPosted_ = false;

  std::unique_ptr<RenderPool> pool_;  // last: its workers stop before the rest goes
};

// Room for the connection limit: the soft descriptor limit raised to the hard one.
unsigned ConnectionLimit() {
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return 256;
  if (rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
    getrlimit(RLIMIT_NOFILE, &rl);
  }
  if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > kMaxConnections + 64) return kMaxConnections;
  return rl.rlim_cur > 128 ? static_cast<unsigned>(rl.rlim_cur - 64) : 64;
}

std::string_view Server::Date() {
  std::time_t now = std::time(nullptr);
  if (now != dateTime_) {
    dateTime_ = now;
    date_ = HttpDate(now);
  }
  return date_;
}

bool Server::Listen(std::string* why) {
  error_code ec;
  tcp::endpoint endpoint(asio::ip::make_address_v4(options_.host, ec),
                         static_cast<unsigned short>(options_.port));
  if (!ec) acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) *why = ec.message();
  return !ec;
}

void Server::Accept() {
  acceptor_.async_accept(
      [this](const error_code& ec, tcp::socket socket) { OnAccept(ec, std::move(socket)); });
}

void Server::OnAccept(const error_code& ec, tcp::socket socket) {
  if (!acceptor_.is_open()) return;
  if (ec) {
    // Out of descriptors: the sweep frees some; try again shortly rather than spin.
    if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space) {
      auto retry = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(50));
      retry->async_wait([this, retry](const error_code&) { Accept(); });
      return;
    }
    return Accept();
  }
  error_code ignored;
  tcp::endpoint peer = socket.remote_endpoint(ignored);
  std::uint32_t client = peer.address().is_v4() ? peer.address().to_v4().to_uint() : 0;
  if (connections_ >= maxConnections_) {
    socket.close(ignored);
    return Accept();
  }
  socket.set_option(tcp::no_delay(true), ignored);
  auto c = std::make_shared<Connection>(this, std::move(socket), client, options_.limits);
  c->input.reset(new char[kInitialInput]);
  c->inputSize = kInitialInput;
  c->active = Clock::now();
  c->next = first_;
  if (first_) first_->prev = c.get();
  first_ = c.get();
  ++connections_;
  int& held = perClient_[client];
  ++held;
  if (options_.maxPerClient > 0 && held > options_.maxPerClient) {
    c->route = Route::Unknown;
    SendText(*c, 503, "unavailable: too many connections from this address\n", nullptr, true);
  } else {
    StartRead(*c);
  }
  Accept();
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

void Server::Dispatch(Connection& c) {
  Decision& d = c.reader.Result();
  c.route = d.chart.route;
  if (d.status != 200) return SendText(c, d.status, d.message + "\n", d.allow);
  switch (Info(c.route).handler) {
    case Handler::Health: return SendText(c, 200, "ok\n");
    case Handler::Metrics:
      c.text = metrics_.Text();
      return SendText(c, 200, c.text, nullptr, false, Info(c.route).contentType);
    case Handler::Chart:
    case Handler::Parse: return StartChart(c);
    case Handler::Page: return SendPage(c);
    case Handler::None: return SendText(c, 404, "not found: no chart or page at this path\n");
  }
}

void Server::StartChart(Connection& c) {
  Decision& d = c.reader.Result();
  EntityTag(d.chart, ProgramVersion(), &c.etag);
  c.precondition =
      EvaluateNoneMatch(c.reader.Method(), c.reader.HasNoneMatch(), c.reader.NoneMatch(), c.etag);
  if (c.precondition == Precondition::NotModified) return SendNotModified(c);
  if (c.precondition == Precondition::Failed)
    return SendText(c, 412, "precondition failed: the picture exists\n");
  c.chart.route = d.chart.route;
  c.chart.width = d.chart.width;
  c.chart.height = d.chart.height;
  c.chart.data.swap(d.chart.data);
  c.gone.store(false, std::memory_order_relaxed);
  c.rendering = true;
  c.self = c.shared_from_this();
  if (!pool_->Submit(&c)) {
    c.rendering = false;
    c.self.reset();
    return SendText(c, 503, "unavailable: too many requests waiting, try again\n", nullptr, true);
  }
  StartRead(c);  // to learn of a client that leaves before its turn
}

void Server::Finished(RenderJob* job) {
  bool post;
  {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    finished_.push_back(static_cast<Connection*>(job));
    post = !finishPosted_;
    finishPosted_ = true;
  }
  if (post) asio::post(io_, [this] { TakeFinished(); });
}

void Server::TakeFinished() {
  {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    taking_.swap(finished_);
    finishPosted_ = false;
  }
  for (Connection* job : taking_) {
    std::shared_ptr<Connection> keep = std::move(job->self);
    Connection& c = *keep;
    c.rendering = false;
    if (c.closed || !c.drawn || c.gone.load(std::memory_order_relaxed)) {
      c.ReleasePicture();
      if (!c.closed) Close(c);
      continue;
    }
    Answer(c);
  }
  taking_.clear();
}

void Server::Answer(Connection& c) {
  switch (c.result) {
    case RenderResult::Ok:
      if (c.precondition == Precondition::DrawThen304) {
        c.ReleasePicture();
        return SendNotModified(c);
      }
      if (c.precondition == Precondition::DrawThen412) {
        c.ReleasePicture();
        return SendText(c, 412, "precondition failed: the picture exists\n");
      }
      return SendPicture(c);
    case RenderResult::NothingToDraw:
      return SendText(c, 422, "not drawn: the data held no point\n");
    case RenderResult::NoMemory:
      return SendText(c, 503, "unavailable: out of memory\n", nullptr, true);
    case RenderResult::Failed:
      return SendText(c, 500, "internal error: the chart could not be drawn\n");
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

void Server::SendPage(Connection& c) {
  ResponseHead head;
  std::string_view body;
  if (!options_.playground ||
      !AnswerPlayground(c.route, c.reader.HasNoneMatch(), c.reader.NoneMatch(), &head, &body))
    return SendText(c, 404, "not found: no chart or page at this path\n");
  Send(c, head, body.data(), body.size());
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

void Server::Sweep() {
  const Clock::time_point now = Clock::now();
  const auto idle = std::chrono::seconds(options_.timeout);
  for (Connection* c = first_; c;) {
    Connection* next = c->next;
    if (!c->rendering && (now - c->active > (c->lingering ? std::min<Clock::duration>(kLinger, idle)
                                                          : Clock::duration(idle))))
      Close(*c);
    c = next;
  }
  sweep_.expires_after(kSweep);
  sweep_.async_wait([this](const error_code& ec) {
    if (!ec) Sweep();
  });
}

void Server::Drain() {
  draining_ = true;
  error_code ignored;
  acceptor_.close(ignored);
  // Idle connections go now; the others once their request is answered (PersistenceOf).
  for (Connection* c = first_; c;) {
    Connection* next = c->next;
    if (c->lingering || (!c->rendering && !c->writing && !c->reader.Started())) Close(*c);
    c = next;
  }
  if (connections_ == 0) return io_.stop();
  deadline_.expires_after(std::chrono::seconds(options_.timeout));
  deadline_.async_wait([this](const error_code& ec) {
    if (!ec) io_.stop();
  });
}

int Server::Run(int threads) {
  maxConnections_ = ConnectionLimit();
  std::string why;
  if (!Listen(&why)) {
    std::fprintf(stderr, "norvisk: cannot listen on %s:%d: %s\n", options_.host.c_str(),
                 options_.port, why.c_str());
    return 1;
  }
  // The stop signals reach only this thread: the workers start with them blocked.
  sigset_t stop;
  sigemptyset(&stop);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stop, sig);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  pool_ = std::make_unique<RenderPool>(threads, options_.queue, &metrics_,
                                       [this](RenderJob* job) { Finished(job); });
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) signals_.add(sig);
  signals_.async_wait([this](const error_code& ec, int) {
    if (!ec) Drain();
  });
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);

  error_code ignored;
  std::printf("norvisk: listening on http://%s:%d\n", options_.host.c_str(),
              acceptor_.local_endpoint(ignored).port());
  std::fflush(stdout);
  Accept();
  Sweep();
  io_.run();

  // The workers finish what they draw; then every connection is closed, and what it held goes
  // with the last reference to it.
  std::vector<RenderJob*> undrawn = pool_->Stop();
  std::vector<std::shared_ptr<Connection>> open;
  for (Connection* c = first_; c; c = c->next) open.push_back(c->shared_from_this());
  for (const std::shared_ptr<Connection>& c : open) Close(*c);
  for (RenderJob* job : undrawn) static_cast<Connection*>(job)->self.reset();
  {
    std::lock_guard<std::mutex> lock(finishedMutex_);
    for (Connection* c : finished_) c->self.reset();
    finished_.clear();
  }
  for (const std::shared_ptr<Connection>& c : open) c->self.reset();
  return 0;
}

}  // namespace

int ServeCommand(int argc, char** argv) {
  Options options;
  std::string why;
  if (!ParseOptions(argc, argv, &options, &why)) {
    std::fprintf(stderr, "norvisk: %s (see norvisk serve --help)\n", why.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(kServeHelp, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::signal(SIGPIPE, SIG_IGN);
  // Pictures over a few MiB get memory of their own that goes back to the system when they
  // are sent; without a fixed threshold the allocator raises it after the first large picture
  // and keeps each worker's peak for good.
  mallopt(M_MMAP_THRESHOLD, kLargeAllocation);
  unsigned cpus = std::thread::hardware_concurrency();
  int threads = options.threads > 0 ? options.threads : static_cast<int>(cpus ? cpus : 1);
  Server server(options, threads);
  return server.Run(threads);
}

}  // namespace norvisk::serve
