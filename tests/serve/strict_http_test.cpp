// norvisk serve against requests an adversarial client sends: each refused with one well-formed
// answer of its own, the connection then closed with nothing behind it answered, and every
// refusal counted; bodies over the limit refused as soon as they pass it.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "http_client.h"

namespace norvisk_serve_test {
namespace {

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 505: return "HTTP Version Not Supported";
    default: return "?";
  }
}

struct Hostile {
  std::string what;
  std::string request;
  int status;
  std::string path;  // as /metrics counts it
};

std::vector<Hostile> HostileRequests() {
  const std::string post = "POST /bar.jpg HTTP/1.1\r\nHost: x\r\n";
  const std::string body5 = "(a)()";
  const std::string health = "GET /health HTTP/1.1\r\n";
  return {
      {"a negative length", post + "Content-Length: -1\r\n\r\n", 400, "/bar.jpg"},
      {"a length past any integer", post + "Content-Length: 99999999999999999999999\r\n\r\n", 413,
       "/bar.jpg"},
      {"a signed length", post + "Content-Length: +5\r\n\r\n" + body5, 400, "/bar.jpg"},
      {"a hexadecimal length", post + "Content-Length: 0x5\r\n\r\n" + body5, 400, "/bar.jpg"},
      {"a list of lengths", post + "Content-Length: 5, 5\r\n\r\n" + body5, 400, "/bar.jpg"},
      {"two different lengths", post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n" + body5,
       400, "/bar.jpg"},
      {"the same length twice", post + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n" + body5,
       400, "/bar.jpg"},
      {"a length, then chunked",
       post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400, "/bar.jpg"},
      {"chunked, then a length",
       post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", 400, "/bar.jpg"},
      {"an unknown coding", post + "Transfer-Encoding: xchunked\r\n\r\n0\r\n\r\n", 501, "/bar.jpg"},
      {"identity", post + "Transfer-Encoding: identity\r\n\r\n" + body5, 501, "/bar.jpg"},
      {"gzip alone", post + "Transfer-Encoding: gzip\r\n\r\n" + body5, 400, "/bar.jpg"},
      {"gzip, then chunked", post + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501,
       "/bar.jpg"},
      {"chunked twice", post + "Transfer-Encoding: chunked, chunked\r\n\r\n0\r\n\r\n", 400,
       "/bar.jpg"},
      {"chunked in HTTP/1.0",
       "POST /bar.jpg HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400, "/bar.jpg"},
      {"a malformed chunk", post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", 400, "/bar.jpg"},
      {"no Host", health + "\r\n", 400, "/health"},
      {"two Hosts", health + "Host: x\r\nHost: y\r\n\r\n", 400, "/health"},
      {"a blank before the colon", health + "Host : x\r\n\r\n", 400, "/health"},
      {"a NUL in a name", health + std::string("Host: x\r\nX-\0A: 1\r\n\r\n", 20), 400, "/health"},
      {"a control byte in a value", health + "Host: x\r\nX-A: 1\x7f\r\n\r\n", 400, "/health"},
      {"lines ended by LF", "GET /health HTTP/1.1\nHost: x\n\n", 400, "other"},
      {"HTTP/2.0", "GET /health HTTP/2.0\r\nHost: x\r\n\r\n", 505, "other"},
      {"HTTP/1.2", "GET /health HTTP/1.2\r\nHost: x\r\n\r\n", 505, "other"},
      {"a version that is none", "GET /health HTTP/x.y\r\nHost: x\r\n\r\n", 400, "other"},
      {"a blank in the target", "GET /health x HTTP/1.1\r\nHost: x\r\n\r\n", 400, "other"},
      {"a request line over 64 KiB",
       "GET /health?" + std::string(70 * 1024, 'q') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414, "other"},
      {"a head over 64 KiB",
       health + "Host: x\r\nX-Big: " + std::string(70 * 1024, 'b') + "\r\n\r\n", 431, "/health"},
      {"TLS", std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11), 400, "other"},
  };
}

class Strict : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(server.port, 0) << "first line: " << server.firstLine; }
  void TearDown() override { EXPECT_EQ(server.Stop(SIGTERM), 0); }
  ServerProcess server{{"--threads", "2"}};
};

// Splits what a connection received into the head fields and the body of its one answer;
// false when it is not exactly one answer.
bool OneAnswer(const std::string& bytes, std::string* statusLine,
               std::map<std::string, std::string>* fields, std::string* body) {
  std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::string head = bytes.substr(0, end + 2);
  std::size_t line = head.find("\r\n");
  *statusLine = head.substr(0, line);
  for (std::size_t at = line + 2; at < head.size();) {
    std::size_t next = head.find("\r\n", at);
    std::string field = head.substr(at, next - at);
    std::size_t colon = field.find(": ");
    if (colon == std::string::npos) return false;
    std::string name = field.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (fields->count(name)) return false;  // a field twice: two heads run together
    (*fields)[name] = field.substr(colon + 2);
    at = next + 2;
  }
  if (!fields->count("content-length")) return false;
  *body = bytes.substr(end + 4);
  return std::to_string(body->size()) == (*fields)["content-length"];
}

TEST_F(Strict, HostileRequestsGetOneAnswerOfOurOwnThenTheClose) {
  // Sent behind each: a request that must never be answered.
  const std::string behind = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
  std::map<std::pair<std::string, int>, int> expected;
  for (const Hostile& h : HostileRequests()) {
    SCOPED_TRACE(h.what);
    int fd = Connect(server.port);
    ASSERT_GE(fd, 0);
    SendAll(fd, h.request + behind);
    bool closed = false;
    std::string bytes = ReadUntilClose(fd, 10, &closed);
    close(fd);
    EXPECT_TRUE(closed);
    std::string statusLine, body;
    std::map<std::string, std::string> fields;
    ASSERT_TRUE(OneAnswer(bytes, &statusLine, &fields, &body)) << testing::PrintToString(bytes);
    EXPECT_EQ(statusLine, "HTTP/1.1 " + std::to_string(h.status) + " " + Reason(h.status));
    EXPECT_EQ(fields["content-type"], "text/plain; charset=utf-8");
    EXPECT_EQ(fields["cache-control"], "no-store");
    EXPECT_EQ(fields["connection"], "close");
    EXPECT_EQ(fields["x-content-type-options"], "nosniff");
    EXPECT_TRUE(fields.count("date"));
    EXPECT_EQ(body.find('\n'), body.size() - 1) << body;
    for (char c : body) EXPECT_TRUE(c == '\n' || (c >= ' ' && c < 127)) << body;
    ++expected[{h.path, h.status}];
  }
  const std::string metrics = Exchange(server.port, GetRequest("/metrics")).body;
  for (const auto& [key, count] : expected) {
    std::string series = "norvisk_requests_total{path=\"" + key.first + "\",status=\"" +
                         std::to_string(key.second) + "\"}";
    EXPECT_EQ(MetricValue(metrics, series), count) << series << "\n" << metrics;
  }
  // Only the one /metrics request was answered 200 on /health's and the others' behalf.
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/health\",status=\"200\"}"), -1);
}

TEST_F(Strict, WellFormedRequestsKeepTheConnection) {
  // An absolute-form target, a body on a GET, HTTP/1.0 asking to keep the connection: each
  // answered, and the request behind it too.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"absolute form", "GET http://charts.local/health HTTP/1.1\r\nHost: charts.local\r\n\r\n"},
      {"a body on GET", "GET /health HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc"},
      {"HTTP/1.0 keep-alive", "GET /health HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"},
      {"a chunked POST",
       "POST /bar.bmp?width=40&height=30 HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
       "3\r\n(a)\r\n5;ext=1\r\n(b;1)\r\n0\r\nTrailer: x\r\n\r\n"},
  };
  for (const auto& [what, request] : cases) {
    SCOPED_TRACE(what);
    int fd = Connect(server.port);
    ASSERT_TRUE(SendAll(fd, request + "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string pending;
    Response first = ReadResponse(fd, false, &pending);
    EXPECT_EQ(first.status, 200);
    EXPECT_NE(first.Header("connection"), "close");
    Response second = ReadResponse(fd, false, &pending);
    EXPECT_EQ(second.status, 200);
    EXPECT_EQ(second.body, "ok\n");
    close(fd);
  }
}

TEST_F(Strict, ContinueBeforeTheBody) {
  int fd = Connect(server.port);
  ASSERT_TRUE(SendAll(fd,
                      "POST /xy.bmp?width=50&height=40 HTTP/1.1\r\nHost: x\r\n"
                      "Expect: 100-continue\r\nContent-Length: 10\r\n\r\n"));
  char buf[64];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  ASSERT_GT(n, 0);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(SendAll(fd, "(a;1)(b;2)"));
  std::string pending;
  Response r = ReadResponse(fd, false, &pending);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("content-type"), "image/bmp");
  close(fd);
  // A refused head gets its refusal instead, and the body is never asked for.
  fd = Connect(server.port);
  ASSERT_TRUE(SendAll(fd,
                      "POST /xy.bmp?colour=1 HTTP/1.1\r\nHost: x\r\n"
                      "Expect: 100-continue\r\nContent-Length: 10\r\n\r\n"));
  Response refused = ReadResponse(fd, false, &pending);
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.Header("connection"), "close");
  close(fd);
}

// Sends a chunked body of up to `total` bytes in chunks of `chunk`, watching for an answer
// after each; returns how many body bytes had gone when it came, and the answer.
std::pair<std::size_t, std::string> SendUntilAnswered(int fd, std::size_t total,
                                                      std::size_t chunk) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%zx", chunk);
  const std::string piece = std::string(hex) + "\r\n" + std::string(chunk, 'z') + "\r\n";
  std::size_t sent = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (sent < total && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) break;
    if (!SendAll(fd, piece)) break;
    sent += chunk;
  }
  bool closed = false;
  return {sent, ReadUntilClose(fd, 10, &closed)};
}

TEST(StrictBodies, OverTheLimitRefusedAsSoonAsItIsPassed) {
  ServerProcess server({"--max-body", "100"});
  ASSERT_GT(server.port, 0);
  const std::string head = "POST /bar.bmp HTTP/1.1\r\nHost: x\r\n";
  {  // 20 MiB in chunks of 1 KiB: the first chunk passes the limit
    int fd = Connect(server.port);
    ASSERT_TRUE(SendAll(fd, head + "Transfer-Encoding: chunked\r\n\r\n"));
    auto [sent, answer] = SendUntilAnswered(fd, 20u << 20, 1024);
    close(fd);
    EXPECT_LE(sent, 8u * 1024) << "body bytes sent before the answer";
    EXPECT_EQ(answer.rfind("HTTP/1.1 413 Content Too Large\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
  }
  {  // chunks of 40 bytes: refused at the third, when the total would pass 100
    int fd = Connect(server.port);
    ASSERT_TRUE(SendAll(fd, head + "Transfer-Encoding: chunked\r\n\r\n"));
    auto [sent, answer] = SendUntilAnswered(fd, 1 << 20, 40);
    close(fd);
    EXPECT_LE(sent, 200u);
    EXPECT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
  }
  {  // a declared length: refused from the head, nothing of the body sent
    int fd = Connect(server.port);
    ASSERT_TRUE(SendAll(fd, head + "Content-Length: 20971520\r\n\r\n"));
    bool closed = false;
    std::string answer = ReadUntilClose(fd, 10, &closed);
    close(fd);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 413 ", 0), 0u) << answer;
  }
  // Within the limit all is well.
  Response fits = Exchange(server.port, PostRequest("/bar.bmp?width=40&height=30", "(a)(b;1)"));
  EXPECT_EQ(fits.status, 200);
  EXPECT_EQ(MetricValue(Exchange(server.port, GetRequest("/metrics")).body,
                        "norvisk_requests_total{path=\"/bar.bmp\",status=\"413\"}"),
            3);
  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace norvisk_serve_test
