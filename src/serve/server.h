// The service's connection thread: one thread handles every connection (Asio on epoll) and
// never draws; the workers of a RenderPool draw, fed from one queue. A chart request goes to a
// worker once it is whole and comes back once; everything else (errors, 304, /health,
// /metrics) is answered on the connection thread.
//   server.cpp      listening, accepting, the sweep, signals and the drain
//   connection.cpp  reading requests and sending answers on one connection
//   routes.cpp      what each request is answered with, and charts to and from the workers
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "serve/http_reader.h"
#include "serve/metrics.h"
#include "serve/options.h"
#include "serve/render_pool.h"
#include "serve/request.h"
#include "serve/response.h"

namespace norvisk::serve {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kInitialInput = 16 * 1024;
inline constexpr unsigned kMaxConnections = 4096;
inline constexpr const char* kPictureCache = "public, max-age=86400";
inline constexpr const char* kText = "text/plain; charset=utf-8";

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
  // Before the connections' context: a connection that goes with it gives its picture's room
  // back to the pool's budget. Its workers are stopped in Run, before anything else goes.
  std::unique_ptr<RenderPool> pool_;
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
};

}  // namespace norvisk::serve
