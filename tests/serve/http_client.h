// The service as a child process on 127.0.0.1 and a small HTTP/1.1 client over raw sockets.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace norvisk_serve_test {

using Clock = std::chrono::steady_clock;

// Runs `argv` (argv[0] the program) with `input` on standard input; returns the exit status
// and standard output. Used for the command's reference files, which may hold NUL bytes.
inline int RunProgram(const std::vector<std::string>& args, const std::string& input,
                      std::string* out) {
  int in[2], outPipe[2];
  if (pipe(in) != 0 || pipe(outPipe) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(outPipe[1], 1);
    close(in[1]);
    close(outPipe[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(outPipe[1]);
  (void)!write(in[1], input.data(), input.size());
  close(in[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(outPipe[0], buf, sizeof buf)) > 0)
    if (out) out->append(buf, static_cast<std::size_t>(n));
  close(outPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `norvisk serve ARGS` started on 127.0.0.1 port 0; the port comes from its first line.
class ServerProcess {
 public:
  explicit ServerProcess(std::vector<std::string> args = {}) {
    int outPipe[2];
    if (pipe(outPipe) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outPipe[1], 1);
      close(outPipe[0]);
      std::vector<std::string> all = {NORVISK_BINARY, "serve", "--listen", "127.0.0.1:0"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(outPipe[1]);
    out_ = outPipe[0];
    std::string line;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      line += c;
    }
    firstLine = line;
    const std::string prefix = "norvisk: listening on http://127.0.0.1:";
    if (line.rfind(prefix, 0) == 0) port = std::atoi(line.c_str() + prefix.size());
  }
  ~ServerProcess() {
    if (pid_ > 0 && !stopped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  pid_t pid() const { return pid_; }

  // Sends `sig` and waits (at most `seconds`) for the exit; the exit status, or -1 on a
  // signal death or when it did not end in time (it is then killed).
  int Stop(int sig = SIGTERM, int seconds = 20) {
    kill(pid_, sig);
    return Wait(seconds);
  }
  int Wait(int seconds) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (Clock::now() < deadline) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        stopped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  // Resident memory of the server in KiB, from /proc.
  long RssKiB() const {
    std::string status;
    int fd = open(("/proc/" + std::to_string(pid_) + "/status").c_str(), O_RDONLY);
    if (fd < 0) return -1;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) status.append(buf, static_cast<std::size_t>(n));
    close(fd);
    std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
  }

  int port = 0;
  std::string firstLine;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool stopped_ = false;
};

// A connection to the server from `source` (any 127.x.y.z: all of them are this machine), with
// send and receive timeouts so that no test waits for ever.
inline int Connect(int port, const char* source = "127.0.0.1", int timeoutSeconds = 10) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  timeval tv{timeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    close(fd);
    return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

struct Response {
  int status = 0;                              // 0: no response (closed or timed out)
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  bool Has(const std::string& name) const { return headers.count(name) != 0; }
  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// Reads one response; `head` when it answers a HEAD request (no body whatever the length).
// `pending` keeps bytes read past the response for the next one on the same connection.
inline Response ReadResponse(int fd, bool head, std::string* pending) {
  Response r;
  std::string& buf = *pending;
  char chunk[65536];
  auto fill = [&]() {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buf.append(chunk, static_cast<std::size_t>(n));
    return true;
  };
  std::size_t end;
  while ((end = buf.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return r;
  std::string headText = buf.substr(0, end);
  buf.erase(0, end + 4);
  std::size_t lineEnd = headText.find("\r\n");
  std::string statusLine = headText.substr(0, lineEnd);
  if (statusLine.size() < 12 || statusLine.compare(0, 5, "HTTP/") != 0) return r;
  int status = std::atoi(statusLine.c_str() + 9);
  while (lineEnd != std::string::npos) {
    std::size_t next = headText.find("\r\n", lineEnd + 2);
    std::string line = headText.substr(
        lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      std::size_t v = line.find_first_not_of(' ', colon + 1);
      r.headers[name] = v == std::string::npos ? "" : line.substr(v);
    }
    lineEnd = next;
  }
  std::size_t length = 0;
  if (!head && r.Has("content-length")) length = std::stoul(r.Header("content-length"));
  while (buf.size() < length)
    if (!fill()) return r;
  r.body = buf.substr(0, length);
  buf.erase(0, length);
  r.status = status;
  return r;
}

// Every byte the server sends until it closes the connection, waiting at most `seconds`;
// `closed` tells whether it did close.
inline std::string ReadUntilClose(int fd, int seconds, bool* closed) {
  std::string all;
  *closed = false;
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  char buf[65536];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      *closed = true;
      break;
    }
    all.append(buf, static_cast<std::size_t>(n));
  }
  return all;
}

// Reads until the server closes or `seconds` pass; true when it closed.
inline bool ClosedWithin(int fd, int seconds) {
  bool closed = false;
  ReadUntilClose(fd, seconds, &closed);
  return closed;
}

// Room for many connections: the soft descriptor limit raised to the hard one, which is returned.
inline rlim_t RaiseDescriptorLimit() {
  rlimit rl;
  getrlimit(RLIMIT_NOFILE, &rl);
  rl.rlim_cur = rl.rlim_max;
  setrlimit(RLIMIT_NOFILE, &rl);
  return rl.rlim_cur;
}

// A metric's value in /metrics text, or -1 when the line is not there.
inline long MetricValue(const std::string& text, const std::string& series) {
  std::size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::atol(text.c_str() + at + series.size() + 2);
}

// One request on a fresh connection: `raw` is sent as it stands.
inline Response Exchange(int port, const std::string& raw, bool head = false) {
  int fd = Connect(port);
  if (fd < 0) return Response();
  std::string pending;
  Response r = SendAll(fd, raw) ? ReadResponse(fd, head, &pending) : Response();
  close(fd);
  return r;
}

inline std::string GetRequest(const std::string& target, const std::string& extra = "",
                              const char* method = "GET") {
  return std::string(method) + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

inline std::string PostRequest(const std::string& target, const std::string& body) {
  return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n" +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Percent-encodes every byte that is not an unreserved character.
inline std::string Encode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace norvisk_serve_test
