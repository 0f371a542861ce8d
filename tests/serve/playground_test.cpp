// /parse against `norvisk parse`, and the playground's files as the service serves them (the page
// itself is tried in a browser by tests/browser).
#include <gtest/gtest.h>

#include "http_client.h"

namespace norvisk_serve_test {
namespace {

// What `norvisk parse KIND -` prints for `data` on stdin.
std::string CommandParse(const std::string& kind, const std::string& data) {
  std::string out;
  EXPECT_EQ(RunProgram({NORVISK_BINARY, "parse", kind, "-"}, data, &out), 0) << data;
  return out;
}

class Parse : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(server.port, 0) << "first line: " << server.firstLine; }
  Response Get(const std::string& target, const std::string& extra = "") {
    return Exchange(server.port, GetRequest(target, extra));
  }
  ServerProcess server{{"--threads", "2", "--max-body", "4096"}};
};

TEST_F(Parse, EveryGrammarCaseGivesTheCommandsBytes) {
  // The cases the command's own tests read: skipped first characters, unreadable numbers,
  // brackets in labels, text after the last ")", bytes that are not UTF-8, no data at all.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"bar", "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)"},
      {"bar", "(Q1;Q2)(North;10;0.1)(South;-1.5e2;1d400)"},
      {"bar", "(A;B)(x;12abc;abc) (y;1.5e2)"},
      {"bar", "[Q1;Q2)[North;10)"},
      {"bar", "(a\"b\\c\tx\xe9)(\xc3\xa9;1)"},
      {"bar", ""},
      {"xy", "(Jan;10)(Feb;20)(Mar;15)(Apr;12)(May;18)(Jun;25)"},
      {"xy", "(f(x);0.1)(g) (b;-1.5e2)"},
      {"xy", "(a;1) (b;-1.5e2)(c;1d400"},
      {"xy", "(q\"t\\\x01;0.30000000000000004)(\xe9;-2)"},
      {"xy", "(no point"},
      {"xy", "\xffQ1;1)"},
  };
  for (const auto& [kind, data] : cases) {
    SCOPED_TRACE(kind + " " + data);
    const std::string expected = CommandParse(kind, data);
    ASSERT_EQ(expected.front(), '{');
    Response get = Get("/parse/" + kind + "?data=" + Encode(data));
    ASSERT_EQ(get.status, 200);
    EXPECT_EQ(get.body, expected);
    EXPECT_EQ(get.Header("content-type"), "application/json");
    EXPECT_EQ(get.Header("content-length"), std::to_string(expected.size()));
    EXPECT_EQ(get.Header("etag").size(), 34u);
    EXPECT_EQ(get.Header("cache-control"), "public, max-age=86400");

    Response post = Exchange(server.port, PostRequest("/parse/" + kind, data));
    EXPECT_EQ(post.status, 200);
    EXPECT_EQ(post.body, expected);
    EXPECT_EQ(post.Header("etag"), get.Header("etag"));

    Response again = Get("/parse/" + kind + "?data=" + Encode(data),
                         "If-None-Match: " + get.Header("etag") + "\r\n");
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.body.empty());
  }
  // The two kinds read the same string differently, and their tags differ with them.
  Response bar = Get("/parse/bar?data=(a;1)");
  Response xy = Get("/parse/xy?data=(a;1)");
  EXPECT_NE(bar.body, xy.body);
  EXPECT_NE(bar.Header("etag"), xy.Header("etag"));
}

TEST_F(Parse, ErrorsAsForThePictures) {
  struct Case {
    std::string request;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {GetRequest("/parse/bar"), 400, "\"data\" is missing"},
      {GetRequest("/parse/bar?data=(a)&data=(b)"), 400, "more than once"},
      {GetRequest("/parse/xy?data=%zz"), 400, "percent-escape"},
      {GetRequest("/parse/xy?data=(a%00;1)"), 400, "NUL"},
      // A reading has no size: width and height are not its parameters.
      {GetRequest("/parse/bar?data=(a)&width=10"), 400, "unknown parameter \"width\""},
      {PostRequest("/parse/xy?data=(a;1)", "(b;2)"), 400, "in its body"},
      {PostRequest("/parse/xy", std::string(5000, 'x')), 413, "too large"},
      {GetRequest("/parse/bar?data=(a)", "", "PUT"), 405, "method not allowed"},
      {GetRequest("/parse/pie?data=(a)"), 404, "not found"},
      {GetRequest("/parse?data=(a)"), 404, "not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request.substr(0, c.request.find('\r')));
    Response r = Exchange(server.port, c.request);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.Header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(r.Header("cache-control"), "no-store");
    EXPECT_NE(r.body.find(c.says), std::string::npos) << r.body;
    EXPECT_EQ(r.body.find('\n'), r.body.size() - 1) << r.body;
    if (c.status == 405) {
      EXPECT_EQ(r.Header("allow"), "GET, HEAD, POST");
    }
  }
}

// The page, its style and its script: one origin, tagged, small, with the version and the
// formats of this build, and off with --no-playground.
TEST_F(Parse, ThePlaygroundFilesAndTheirCounts) {
  std::string version;
  ASSERT_EQ(RunProgram({NORVISK_BINARY, "--version"}, "", &version), 0);
  version = version.substr(version.find(' ') + 1);
  version.pop_back();

  std::size_t firstLoad = 0;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"/", "text/html; charset=utf-8"},
      {"/playground.css", "text/css; charset=utf-8"},
      {"/playground.js", "text/javascript; charset=utf-8"},
      {"/playground.svg", "image/svg+xml"}};
  for (const auto& [path, type] : files) {
    SCOPED_TRACE(path);
    Response r = Get(path);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("content-type"), type);
    EXPECT_EQ(r.Header("content-length"), std::to_string(r.body.size()));
    EXPECT_EQ(r.Header("cache-control"), "no-cache");
    const std::string policy = r.Header("content-security-policy");
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("script-src 'self';"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("http"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
    const std::string tag = r.Header("etag");
    ASSERT_EQ(tag.size(), 34u);
    Response again = Get(path, "If-None-Match: W/" + tag + "\r\n");
    EXPECT_EQ(again.status, 304);
    EXPECT_TRUE(again.body.empty());
    EXPECT_EQ(again.Header("etag"), tag);
    EXPECT_EQ(Get(path, "If-None-Match: \"other\"\r\n").status, 200);
    Response head = Exchange(server.port, GetRequest(path, "", "HEAD"), true);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.Header("content-length"), r.Header("content-length"));
    EXPECT_EQ(Exchange(server.port, PostRequest(path, "x")).status, 405);
    // Nothing the page needs comes from elsewhere, and no placeholder is left unfilled.
    if (!path.ends_with(".svg")) {  // an SVG names its namespace by a URL
      EXPECT_EQ(r.body.find("http://"), std::string::npos);
    }
    EXPECT_EQ(r.body.find("https://"), std::string::npos);
    EXPECT_EQ(r.body.find("@NORVISK"), std::string::npos);
    firstLoad += r.body.size();
  }
  EXPECT_LT(firstLoad, 50u * 1024);
  const std::string page = Get("/").body;
  EXPECT_NE(page.find("norvisk " + version), std::string::npos);
  // The formats offered are the chart paths this build serves.
  EXPECT_NE(page.find("<option value=\"jpg\">JPEG</option>"), std::string::npos);
  EXPECT_NE(page.find("<option value=\"bmp\">BMP</option>"), std::string::npos);
  EXPECT_EQ(page.find("chart formats"), std::string::npos);
  Response png = Get("/bar.png?data=(a)(b;1)");
  EXPECT_EQ(page.find("value=\"png\"") != std::string::npos, png.status == 200);

  ASSERT_EQ(Get("/parse/bar?data=(a)(b;1)").status, 200);
  const std::string metrics = Get("/metrics").body;
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/\",status=\"200\"}"), 4);
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/\",status=\"304\"}"), 1);
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/\",status=\"405\"}"), 1);
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/playground.js\",status=\"200\"}"),
            3);
  EXPECT_EQ(MetricValue(metrics, "norvisk_requests_total{path=\"/parse/bar\",status=\"200\"}"), 1);
  // Readings are not drawings.
  EXPECT_EQ(MetricValue(metrics, "norvisk_render_seconds_count"), png.status == 200 ? 1 : 0);

  ServerProcess bare({"--no-playground"});
  ASSERT_GT(bare.port, 0);
  for (const auto& [path, type] : files) {
    Response r = Exchange(bare.port, GetRequest(path));
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_EQ(r.body, "not found: no chart or page at this path\n");
  }
  EXPECT_EQ(Exchange(bare.port, GetRequest("/parse/xy?data=(a;1)")).status, 200);
  EXPECT_EQ(MetricValue(Exchange(bare.port, GetRequest("/metrics")).body,
                        "norvisk_requests_total{path=\"/\",status=\"404\"}"),
            1);
  EXPECT_EQ(bare.Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace norvisk_serve_test
