// Reading requests from raw bytes: framing, limits, the order of decisions, pipelining, and the
// same outcome whatever pieces the bytes come in.
#include "serve/http_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norvisk::serve {
namespace {

using Progress = RequestReader::Progress;

struct Outcome {
  Progress progress = Progress::NeedMore;
  int status = 0;
  std::string message;
  std::size_t used = 0;  // bytes taken up to the end of the request
  bool keepAlive = false;
  std::string data;
};

// Feeds `bytes` in pieces of `piece` (0: all at once), keeping what the reader leaves, as a
// connection does; stops at the end of the first request.
Outcome Feed(const std::string& bytes, std::size_t piece = 0, Limits limits = Limits()) {
  RequestReader reader(limits);
  Outcome o;
  std::string pending;
  std::size_t given = 0;
  while (true) {
    std::size_t n = piece ? std::min(piece, bytes.size() - given) : bytes.size() - given;
    pending.append(bytes, given, n);
    given += n;
    Progress p;
    std::size_t used;
    do {
      used = reader.Read(pending, &p);
      pending.erase(0, used);
      o.used += used;
    } while (p == Progress::Head);
    if (p == Progress::Done || p == Progress::Refused || given == bytes.size()) {
      o.progress = p;
      break;
    }
  }
  o.status = reader.Result().status;
  o.message = reader.Result().message;
  o.keepAlive = reader.KeepAlive();
  o.data = reader.Result().chart.data;
  return o;
}

std::string Get(const std::string& target, const std::string& fields = "Host: x\r\n",
                const char* version = "HTTP/1.1") {
  return "GET " + target + " " + version + "\r\n" + fields + "\r\n";
}

TEST(Framing, MalformedAndConflictingFramingIsRefused) {
  struct Case {
    std::string request;
    int status;
  };
  const std::string post = "POST /bar.bmp HTTP/1.1\r\nHost: x\r\n";
  const std::vector<Case> cases = {
      {post + "Content-Length: -1\r\n\r\n", 400},
      {post + "Content-Length: +5\r\n\r\n(a)()", 400},
      {post + "Content-Length: 0x5\r\n\r\n", 400},
      {post + "Content-Length: 5, 5\r\n\r\n(a)()", 400},
      {post + "Content-Length: 5\r\nContent-Length: 5\r\n\r\n(a)()", 400},
      {post + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n(a)()", 400},
      {post + "Content-Length: 99999999999999999999999\r\n\r\n", 413},
      {post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n(a)()\r\n0\r\n\r\n",
       400},
      {post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n5\r\n(a)()\r\n0\r\n\r\n",
       400},
      {post + "Transfer-Encoding: gzip\r\nContent-Length: 5\r\n\r\n(a)()", 400},
      {post + "Transfer-Encoding: xchunked\r\n\r\n", 501},
      {post + "Transfer-Encoding: identity\r\n\r\n", 501},
      {post + "Transfer-Encoding: gzip\r\n\r\n", 400},
      {post + "Transfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", 501},
      {post + "Transfer-Encoding: chunked, chunked\r\n\r\n0\r\n\r\n", 400},
      {post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", 400},
      {"POST /bar.bmp HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400},
      {Get("/health", ""), 400},
      {Get("/health", "Host: x\r\nHost: y\r\n"), 400},
      {Get("/health", "Host : x\r\n"), 400},
      {Get("/health", "Host: x y\r\n"), 400},
      {Get("/health", std::string("Host: x\r\nX-A\0b: 1\r\n", 19)), 400},
      {Get("/health", "Host: x\r\nX: a\x01z\r\n"), 400},
      {Get("/health", "Host: x\r\n", "HTTP/2.0"), 505},
      {Get("/health", "Host: x\r\n", "HTTP/1.2"), 505},
      {Get("/health", "Host: x\r\n", "HTTP/x.1"), 400},
      {"GET /health HTTP/1.1\nHost: x\n\n\r\n\r\n", 400},
      {"GET /a b HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {std::string("GET /health\0 HTTP/1.1\r\nHost: x\r\n\r\n", 34), 400},
      {"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(7)}) {
      SCOPED_TRACE(testing::Message()
                   << "piece " << piece << ": " << testing::PrintToString(c.request.substr(0, 90)));
      Outcome o = Feed(c.request, piece);
      EXPECT_EQ(o.progress, Progress::Refused);
      EXPECT_EQ(o.status, c.status) << o.message;
      EXPECT_FALSE(o.keepAlive);
      EXPECT_EQ(o.message.find('\n'), std::string::npos);
    }
  }
}

TEST(Framing, WellFramedRequestsAreRead) {
  const std::string post = "POST /bar.bmp HTTP/1.1\r\nHost: x\r\n";
  struct Case {
    std::string request;
    std::string data;
  };
  const std::vector<Case> cases = {
      {post + "Content-Length: 5\r\n\r\n(a)()", "(a)()"},
      {post + "Content-Length: 0\r\n\r\n", ""},
      {post + "Transfer-Encoding: chunked\r\n\r\n3\r\n(a)\r\n2;x=y\r\n()\r\n0\r\nT: 1\r\n\r\n",
       "(a)()"},
      {post + "transfer-encoding: Chunked\r\n\r\n0\r\n\r\n", ""},
      {"GET http://charts.local:8080/bar.bmp?data=(a)(b;1) HTTP/1.1\r\nHost: x\r\n\r\n",
       "(a)(b;1)"},
      {"GET HTTP://x?data=z HTTP/1.1\r\nHost: x\r\n\r\n", ""},
      {"GET /bar.bmp?data=q HTTP/1.0\r\n\r\n", "q"},
      {"GET /bar.bmp?data=q HTTP/1.1\r\nHost:\r\nX: a\r\n b\r\n\r\n", "q"},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(5)}) {
      SCOPED_TRACE(testing::Message()
                   << "piece " << piece << ": " << testing::PrintToString(c.request));
      Outcome o = Feed(c.request, piece);
      EXPECT_EQ(o.progress, Progress::Done);
      EXPECT_EQ(o.used, c.request.size());
      if (c.request.find("HTTP://x") != std::string::npos) {
        EXPECT_EQ(o.status, 200);  // the target is "/?data=z": the playground, parameters ignored
        continue;
      }
      EXPECT_EQ(o.status, 200) << o.message;
      EXPECT_EQ(o.data, c.data);
    }
  }
}

TEST(Framing, KeepAliveByVersionAndConnection) {
  EXPECT_TRUE(Feed(Get("/health")).keepAlive);
  EXPECT_FALSE(Feed(Get("/health", "Host: x\r\nConnection: close\r\n")).keepAlive);
  EXPECT_FALSE(Feed(Get("/health", "", "HTTP/1.0")).keepAlive);
  EXPECT_TRUE(Feed(Get("/health", "Connection: keep-alive\r\n", "HTTP/1.0")).keepAlive);
  // An ordinary refusal read whole keeps the connection; one with a body left unread does not.
  Outcome notFound = Feed(Get("/nothing"));
  EXPECT_EQ(notFound.status, 404);
  EXPECT_EQ(notFound.progress, Progress::Done);
  EXPECT_TRUE(notFound.keepAlive);
  const std::string withBodyRequest =
      "POST /nothing HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc";
  Outcome withBody = Feed(withBodyRequest);
  EXPECT_EQ(withBody.status, 404);
  EXPECT_EQ(withBody.progress, Progress::Refused);
  EXPECT_EQ(withBody.used, withBodyRequest.size() - 3) << "the body is not read";
}

TEST(Limits, BodiesOverTheLimitAreRefusedBeforeTheyArrive) {
  Limits small;
  small.maxBody = 100;
  const std::string head = "POST /bar.bmp HTTP/1.1\r\nHost: x\r\n";
  // A declared length over the limit: refused from the head alone.
  Outcome declared = Feed(head + "Content-Length: 101\r\n\r\n", 0, small);
  EXPECT_EQ(declared.progress, Progress::Refused);
  EXPECT_EQ(declared.status, 413);
  EXPECT_EQ(Feed(head + "Content-Length: 100\r\n\r\n" + std::string(100, 'a'), 0, small).status,
            200);
  // Chunks: refused at the chunk header that passes the limit, before its data.
  std::string chunked =
      head + "Transfer-Encoding: chunked\r\n\r\n3c\r\n" + std::string(60, 'a') + "\r\n3c\r\n";
  Outcome passed = Feed(chunked, 0, small);
  EXPECT_EQ(passed.progress, Progress::Refused);
  EXPECT_EQ(passed.status, 413);
  Outcome big = Feed(head + "Transfer-Encoding: chunked\r\n\r\n100000\r\n", 0, small);
  EXPECT_EQ(big.status, 413);
  // A route that is refused anyway is refused for that first.
  EXPECT_EQ(
      Feed("POST /nothing HTTP/1.1\r\nHost: x\r\nContent-Length: 999\r\n\r\n", 0, small).status,
      404);
  // A NUL in a body refuses the request once it is read; the connection stays usable.
  Outcome nul = Feed(head + "Content-Length: 3\r\n\r\n" + std::string("a\0b", 3), 0, small);
  EXPECT_EQ(nul.status, 400);
  EXPECT_EQ(nul.progress, Progress::Done);
}

TEST(Limits, HeadsOverTheLimitEvenALineAtATime) {
  Limits limits;
  limits.maxHead = 4096;
  // One field at a time: the parser takes each line as it comes, so only a count of our own
  // bounds the whole.
  std::string many = "GET /health HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 100; ++i)
    many += "X-Field-" + std::to_string(i) + ": " + std::string(50, 'v') + "\r\n";
  many += "\r\n";
  for (std::size_t piece : {std::size_t(0), std::size_t(60), std::size_t(1)}) {
    Outcome o = Feed(many, piece, limits);
    EXPECT_EQ(o.progress, Progress::Refused) << piece;
    EXPECT_EQ(o.status, 431) << piece;
  }
  std::string longLine = "GET /health?" + std::string(5000, 'q') + " HTTP/1.1\r\nHost: x\r\n\r\n";
  EXPECT_EQ(Feed(longLine, 0, limits).status, 414);
  EXPECT_EQ(Feed(longLine, 1000, limits).status, 414);
  std::string fits = "GET /health HTTP/1.1\r\nHost: x\r\nX: " + std::string(3000, 'v') + "\r\n\r\n";
  EXPECT_EQ(Feed(fits, 100, limits).status, 200);
}

TEST(Pipelining, OneRequestAtATimeAndNothingAfterARefusal) {
  RequestReader reader{Limits()};
  std::string bytes = Get("/health") +
                      "POST /bar.bmp HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab" +
                      Get("/metrics");
  Progress p;
  std::size_t used = reader.Read(bytes, &p);
  EXPECT_EQ(p, Progress::Done);
  EXPECT_EQ(reader.Result().chart.route, Route::Health);
  EXPECT_EQ(reader.Read(std::string_view(bytes).substr(used), &p), 0u) << "nothing before Next()";
  reader.Next();
  std::size_t second = 0;
  do second += reader.Read(std::string_view(bytes).substr(used + second), &p);
  while (p == Progress::Head);
  EXPECT_EQ(p, Progress::Done);
  EXPECT_EQ(reader.Result().chart.data, "ab");
  used += second;
  reader.Next();
  EXPECT_EQ(reader.Read(std::string_view(bytes).substr(used), &p), bytes.size() - used);
  EXPECT_EQ(reader.Result().chart.route, Route::Metrics);

  RequestReader refused{Limits()};
  std::string smuggled =
      "POST /bar.bmp HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n"
      "0\r\n\r\n" +
      Get("/health");
  refused.Read(smuggled, &p);
  EXPECT_EQ(p, Progress::Refused);
  EXPECT_EQ(refused.Read("", &p), 0u);
  EXPECT_EQ(p, Progress::Refused);
  EXPECT_FALSE(refused.KeepAlive());
}

TEST(Conditional, ExpectAndIfNoneMatchAreKept) {
  RequestReader reader{Limits()};
  Progress p;
  std::string head =
      "POST /xy.bmp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nIf-None-Match: \"a\"\r\n"
      "If-None-Match: W/\"b\"\r\nContent-Length: 5\r\n\r\n";
  EXPECT_EQ(reader.Read(head, &p), head.size());
  EXPECT_EQ(p, Progress::Head);
  EXPECT_TRUE(reader.ExpectsContinue());
  EXPECT_TRUE(reader.HasNoneMatch());
  EXPECT_EQ(reader.NoneMatch(), "\"a\",W/\"b\"");
  EXPECT_EQ(reader.Method(), "POST");
  EXPECT_EQ(reader.Read("(a;1)", &p), 5u);
  EXPECT_EQ(p, Progress::Done);
  reader.Next();
  EXPECT_FALSE(reader.Started());
  reader.Read("GET /health HTTP/1.0\r\nExpect: 100-continue\r\n\r\n", &p);
  EXPECT_FALSE(reader.ExpectsContinue()) << "HTTP/1.0 clients are not sent 100";
  EXPECT_FALSE(reader.HasNoneMatch());
}

}  // namespace
}  // namespace norvisk::serve
