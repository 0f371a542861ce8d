// Listening and accepting, the sweep of idle connections, the stop signals and the drain, and
// the command that runs the service.
#include <malloc.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <thread>

#include "serve/png_fingerprint.h"
#include "serve/serve.h"
#include "serve/server.h"

namespace norvisk::serve {
namespace {

constexpr int kLargeAllocation = 4 << 20;
// How long a chart waits for room in the memory budget before it is refused.
constexpr auto kRoomWait = std::chrono::milliseconds(5000);
constexpr auto kSweep = std::chrono::milliseconds(250);
// How long a closing connection's input is read and dropped, so that the client reads the
// answer before the close rather than a reset that would discard it.
constexpr auto kLinger = std::chrono::seconds(2);

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

}  // namespace

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
  pool_ = std::make_unique<RenderPool>(threads, options_.queue, options_.maxMemory, kRoomWait,
                                       &metrics_, [this](RenderJob* job) { Finished(job); });
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
  TakePngFingerprint();
  unsigned cpus = std::thread::hardware_concurrency();
  int threads = options.threads > 0 ? options.threads : static_cast<int>(cpus ? cpus : 1);
  Server server(options, threads);
  return server.Run(threads);
}

}  // namespace norvisk::serve
