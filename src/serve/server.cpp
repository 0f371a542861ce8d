// The service on libmicrohttpd: a pool of epoll worker threads, each drawing in its own thread.
// The library is loaded when the service starts rather than with the command: it brings a TLS
// stack whose loading alone would double the start of every one-chart process.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "serve/metrics.h"
#include "serve/options.h"
#include "serve/render.h"
#include "serve/request.h"
#include "serve/serve.h"

namespace norvisk::serve {
namespace {

constexpr unsigned kPerClientConnections = 64;
constexpr std::size_t kConnectionMemory = 64 * 1024;
constexpr unsigned kMaxConnections = 4096;
constexpr int kLargeAllocation = 4 << 20;
constexpr std::size_t kDropBound = 16 << 20;
constexpr const char* kPictureCache = "public, max-age=86400";

struct Http {
// clang-format off
#define NORVISK_HTTP_FUNCTIONS(X)                                                                 \
  X(start_daemon) X(stop_daemon) X(quiesce_daemon) X(get_daemon_info) X(queue_response)           \
  X(destroy_response) X(create_response_from_buffer)                                             \
  X(create_response_from_buffer_with_free_callback) X(add_response_header)                       \
  X(lookup_connection_value)
// clang-format on
#define NORVISK_HTTP_MEMBER(name) decltype(&MHD_##name) name = nullptr;
  NORVISK_HTTP_FUNCTIONS(NORVISK_HTTP_MEMBER)
#undef NORVISK_HTTP_MEMBER
};

Http mhd;  // filled once by LoadHttp, before any worker starts; read-only from then on

// Loads the library the build was made against (its SONAME) and every function the service
// calls; false with the reason otherwise.
bool LoadHttp(std::string* why) {
  void* library = dlopen(NORVISK_MICROHTTPD_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* error = dlerror();
    *why = error ? error : "cannot load " NORVISK_MICROHTTPD_SONAME;
    return false;
  }
  Http loaded;
#define NORVISK_HTTP_LOAD(name)                                                        \
  loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(library, "MHD_" #name)); \
  if (!loaded.name) {                                                                  \
    *why = NORVISK_MICROHTTPD_SONAME " has no MHD_" #name;                             \
    dlclose(library);                                                                  \
    return false;                                                                      \
  }
  NORVISK_HTTP_FUNCTIONS(NORVISK_HTTP_LOAD)
#undef NORVISK_HTTP_LOAD
#undef NORVISK_HTTP_FUNCTIONS
  mhd = loaded;  // the library stays loaded for the life of the process
  return true;
}

struct Server {
  Options options;
  int threads = 1;
  Metrics metrics;
};

// What one request has gathered between the calls libmicrohttpd makes for it.
struct RequestState {
  std::string target;  // the request target as sent: path and raw query
  bool started = false;
  bool takesBody = false;
  std::size_t received = 0;  // body bytes so far
  std::string body;
  Decision decision;
};

MHD_Result Queue(Server* s, MHD_Connection* c, Route route, int status, MHD_Response* r) {
  if (!r) return MHD_NO;  // no memory for the response: the connection is closed
  s->metrics.CountResponse(route, status);
  MHD_Result ok = mhd.queue_response(c, status, r);
  mhd.destroy_response(r);
  return ok;
}

// `text` is the whole body, its newline included.
MHD_Result Text(Server* s, MHD_Connection* c, Route route, int status, const std::string& text,
                const char* contentType = "text/plain; charset=utf-8", const char* allow = nullptr,
                bool retry = false) {
  const std::string& body = text;
  MHD_Response* r = mhd.create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
  if (r) {
    mhd.add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, contentType);
    mhd.add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (allow) mhd.add_response_header(r, MHD_HTTP_HEADER_ALLOW, allow);
    if (retry) mhd.add_response_header(r, MHD_HTTP_HEADER_RETRY_AFTER, "1");
  }
  return Queue(s, c, route, status, r);
}

MHD_Result Refusal(Server* s, MHD_Connection* c, const Decision& d) {
  return Text(s, c, d.chart.route, d.status, d.message + "\n", "text/plain; charset=utf-8", d.allow,
              d.status == 503);
}

MHD_Result Picture(Server* s, MHD_Connection* c, const ChartRequest& chart) {
  std::string etag = EntityTag(chart, ProgramVersion());
  const char* none = mhd.lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_IF_NONE_MATCH);
  if (none && MatchesNoneMatch(none, etag)) {
    MHD_Response* r = mhd.create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
    if (r) {
      mhd.add_response_header(r, MHD_HTTP_HEADER_ETAG, etag.c_str());
      mhd.add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, kPictureCache);
    }
    return Queue(s, c, chart.route, MHD_HTTP_NOT_MODIFIED, r);
  }
  unsigned char* bytes = nullptr;
  std::size_t size = 0;
  auto start = std::chrono::steady_clock::now();
  RenderResult result = Render(chart, &bytes, &size);
  s->metrics.CountRender(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (result == RenderResult::NothingToDraw)
    return Text(s, c, chart.route, 422, "not drawn: the data held no point\n");
  if (result == RenderResult::NoMemory)
    return Text(s, c, chart.route, 503, "unavailable: out of memory\n", "text/plain; charset=utf-8",
                nullptr, true);
  if (result != RenderResult::Ok)
    return Text(s, c, chart.route, 500, "internal error: the chart could not be drawn\n");
  MHD_Response* r = mhd.create_response_from_buffer_with_free_callback(size, bytes, FreePicture);
  if (!r) {
    FreePicture(bytes);
    return MHD_NO;
  }
  mhd.add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE,
                          IsJpeg(chart.route) ? "image/jpeg" : "image/bmp");
  mhd.add_response_header(r, MHD_HTTP_HEADER_ETAG, etag.c_str());
  mhd.add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, kPictureCache);
  return Queue(s, c, chart.route, MHD_HTTP_OK, r);
}

MHD_Result Answer(Server* s, MHD_Connection* c, const ChartRequest& chart) {
  switch (chart.route) {
    case Route::Health: return Text(s, c, chart.route, 200, "ok\n");
    case Route::Metrics:
      return Text(s, c, chart.route, 200, s->metrics.Text(),
                  "text/plain; version=0.0.4; charset=utf-8");
    default: return Picture(s, c, chart);
  }
}

MHD_Result Handle(void* cls, MHD_Connection* c, const char* /*url*/, const char* method,
                  const char* /*version*/, const char* upload, std::size_t* uploadSize,
                  void** context) {
  Server* s = static_cast<Server*>(cls);
  auto* st = static_cast<RequestState*>(*context);
  if (!st) return MHD_NO;  // the request line was never logged: nothing to answer it with
  const std::size_t maxBody = s->options.limits.maxBody;
  if (!st->started) {
    st->started = true;
    st->decision = ReadRequest(method, st->target, s->options.limits);
    Decision& d = st->decision;
    if (d.status == 200 &&
        s->metrics.InFlight() > static_cast<long>(s->threads) + s->options.queue) {
      d.status = 503;
      d.message = "unavailable: too many requests waiting, try again";
    }
    st->takesBody = d.status == 200 && TakesBody(method, d.chart.route);
    if (st->takesBody) {
      const char* length =
          mhd.lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      if (length && std::strtoull(length, nullptr, 10) > maxBody) {
        d.status = 413;
        d.message = "too large: the body is over " + std::to_string(maxBody) + " bytes";
      }
    }
    // A refused POST is answered before its body is read; the connection then closes. The
    // others are answered on the next call, once the request is whole: libmicrohttpd keeps a
    // connection alive only for a response queued after the first call.
    if (d.status != 200 &&
        mhd.lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH))
      return Refusal(s, c, d);
    return MHD_YES;
  }
  if (*uploadSize) {
    // Bodies without a length up front are read and dropped past the limit, up to a bound
    // after which the connection is closed; bodies of other requests are dropped.
    st->received += *uploadSize;
    if (st->takesBody && st->received <= maxBody)
      st->body.append(upload, *uploadSize);
    else
      std::string().swap(st->body);
    *uploadSize = 0;
    return st->received > kDropBound + maxBody ? MHD_NO : MHD_YES;
  }
  Decision& d = st->decision;
  if (d.status == 200 && st->takesBody && st->received > maxBody) {
    d.status = 413;
    d.message = "too large: the body is over " + std::to_string(maxBody) + " bytes";
  }
  if (d.status != 200) return Refusal(s, c, d);
  if (st->takesBody) {
    ReadBody(st->body, &d);
    std::string().swap(st->body);
    if (d.status != 200) return Refusal(s, c, d);
  }
  return Answer(s, c, d.chart);
}

void* LogTarget(void* cls, const char* uri, MHD_Connection*) {
  Server* s = static_cast<Server*>(cls);
  RequestState* st = new (std::nothrow) RequestState;
  if (!st) return nullptr;
  try {
    st->target = uri ? uri : "";
  } catch (...) {
    delete st;
    return nullptr;
  }
  s->metrics.Enter();
  return st;
}

void Completed(void* cls, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  auto* st = static_cast<RequestState*>(*context);
  if (!st) return;
  static_cast<Server*>(cls)->metrics.Leave();
  delete st;
  *context = nullptr;
}

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

int Run(Server& s) {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  // Blocked before the workers start, so that they inherit the mask and only sigwait sees them.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Pictures over a few MiB get memory of their own that goes back to the system when they
  // are sent; without a fixed threshold the allocator raises it after the first large picture
  // and keeps each worker's peak for good.
  mallopt(M_MMAP_THRESHOLD, kLargeAllocation);

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(s.options.port));
  inet_pton(AF_INET, s.options.host.c_str(), &addr.sin_addr);

  MHD_Daemon* daemon = mhd.start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_USE_TURBO,
      static_cast<std::uint16_t>(s.options.port), nullptr, nullptr, &Handle, &s,
      MHD_OPTION_SOCK_ADDR, &addr, MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(s.threads),
      MHD_OPTION_CONNECTION_LIMIT, ConnectionLimit(), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
      kPerClientConnections, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(s.options.timeout), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_URI_LOG_CALLBACK, &LogTarget, &s, MHD_OPTION_NOTIFY_COMPLETED,
      &Completed, &s, MHD_OPTION_END);
  if (!daemon) {
    std::fprintf(stderr, "norvisk: cannot listen on %s:%d: %s\n", s.options.host.c_str(),
                 s.options.port, errno ? std::strerror(errno) : "the server could not start");
    return 1;
  }
  int port = s.options.port;
  if (const MHD_DaemonInfo* info = mhd.get_daemon_info(daemon, MHD_DAEMON_INFO_LISTEN_FD)) {
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (getsockname(info->listen_fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
      port = ntohs(bound.sin_port);
  }
  std::printf("norvisk: listening on http://%s:%d\n", s.options.host.c_str(), port);
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&stop, &sig) != 0) {
  }
  // Stop accepting, let the requests in flight finish, then close what is left (idle ones).
  MHD_socket listener = mhd.quiesce_daemon(daemon);
  if (listener != MHD_INVALID_SOCKET) close(listener);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(s.options.timeout);
  while (s.metrics.InFlight() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  mhd.stop_daemon(daemon);
  return 0;
}

}  // namespace

int ServeCommand(int argc, char** argv) {
  Server s;
  std::string why;
  if (!ParseOptions(argc, argv, &s.options, &why)) {
    std::fprintf(stderr, "norvisk: %s (see norvisk serve --help)\n", why.c_str());
    return 2;
  }
  if (s.options.help) {
    std::fputs(kServeHelp, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!LoadHttp(&why)) {
    std::fprintf(stderr, "norvisk: the service cannot start: %s\n", why.c_str());
    return 1;
  }
  unsigned cpus = std::thread::hardware_concurrency();
  s.threads = s.options.threads > 0 ? s.options.threads : static_cast<int>(cpus ? cpus : 1);
  return Run(s);
}

}  // namespace norvisk::serve
