// Reading chart requests: routes, methods, the query, sizes, limits and entity tags.
#include "serve/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "serve/metrics.h"

namespace norvisk::serve {
namespace {

Decision Get(const std::string& target, const Limits& limits = Limits()) {
  return ReadRequest("GET", target, limits);
}

TEST(Routes, EachPathItsRouteAndNothingElse) {
  EXPECT_EQ(FindRoute("/bar.jpg"), Route::BarJpeg);
  EXPECT_EQ(FindRoute("/bar.bmp"), Route::BarBmp);
  EXPECT_EQ(FindRoute("/xy.jpg"), Route::XYJpeg);
  EXPECT_EQ(FindRoute("/xy.bmp"), Route::XYBmp);
  EXPECT_EQ(FindRoute("/bar.png"), Route::BarPng);
  EXPECT_EQ(FindRoute("/xy.png"), Route::XYPng);
  EXPECT_EQ(FindRoute("/health"), Route::Health);
  EXPECT_EQ(FindRoute("/metrics"), Route::Metrics);
  EXPECT_EQ(FindRoute("/parse/bar"), Route::ParseBar);
  EXPECT_EQ(FindRoute("/parse/xy"), Route::ParseXY);
  EXPECT_EQ(FindRoute("/"), Route::Page);
  for (const char* other :
       {"/parse", "/parse/", "/index.html", "", "/bar.JPG", "/bar.jpg/", "bar.jpg", "/bar.jpeg",
        "//bar.jpg", "/bar%2Ejpg", "/health/", "/bar.PNG", "/xy.png/"})
    EXPECT_EQ(FindRoute(other), Route::Unknown) << other;
  EXPECT_TRUE(IsBar(Route::BarBmp));
  EXPECT_FALSE(IsBar(Route::XYJpeg));
  EXPECT_TRUE(IsBar(Route::BarPng));
  EXPECT_FALSE(IsBar(Route::XYPng));
  EXPECT_EQ(FormatOf(Route::XYJpeg), ChartFormat::Jpeg);
  EXPECT_EQ(FormatOf(Route::BarBmp), ChartFormat::Bmp);
  EXPECT_EQ(FormatOf(Route::BarPng), ChartFormat::Png);
  EXPECT_EQ(FormatOf(Route::XYPng), ChartFormat::Png);
  EXPECT_EQ(FormatOf(Route::Metrics), ChartFormat::None);
  EXPECT_FALSE(IsChart(Route::Health));
}

TEST(Methods, ChartsTakeGetHeadPostPagesGetHead) {
  for (const char* m : {"GET", "HEAD"})
    EXPECT_EQ(ReadRequest(m, "/bar.jpg?data=x", Limits()).status, 200) << m;
  EXPECT_EQ(ReadRequest("POST", "/xy.bmp", Limits()).status, 200);
  for (const char* m : {"PUT", "DELETE", "OPTIONS", "PATCH", "get", "BREW"}) {
    Decision d = ReadRequest(m, "/bar.jpg?data=x", Limits());
    EXPECT_EQ(d.status, 405) << m;
    ASSERT_NE(d.allow, nullptr);
    EXPECT_STREQ(d.allow, "GET, HEAD, POST");
  }
  Decision post = ReadRequest("POST", "/health", Limits());
  EXPECT_EQ(post.status, 405);
  EXPECT_STREQ(post.allow, "GET, HEAD");
  // An unknown path is 404 whatever the method.
  EXPECT_EQ(ReadRequest("DELETE", "/nothing", Limits()).status, 404);
  EXPECT_EQ(ReadRequest("GET", "/metrics?x=1", Limits()).status, 200);
}

TEST(Query, PercentEscapesPlusAndOnlyAmpersandSeparates) {
  Decision d = Get("/bar.jpg?data=(Q+1;Q%202)(A%26B;1%3B2;%2B3)&width=320");
  ASSERT_EQ(d.status, 200) << d.message;
  EXPECT_EQ(d.chart.data, "(Q 1;Q 2)(A&B;1;2;+3)");
  EXPECT_EQ(d.chart.width, 320);
  EXPECT_EQ(d.chart.height, 300);
  // ";" and "=" beyond the first belong to the value.
  d = Get("/xy.jpg?data=(a;1)(b=c;2);height=5");
  ASSERT_EQ(d.status, 200);
  EXPECT_EQ(d.chart.data, "(a;1)(b=c;2);height=5");
  // Empty items separate nothing; a name without "=" has an empty value.
  d = Get("/bar.bmp?&&data&&");
  ASSERT_EQ(d.status, 200);
  EXPECT_EQ(d.chart.data, "");
  // Bytes that are neither text nor UTF-8 come through as they are.
  d = Get("/bar.bmp?data=%01%FF%c3%28");
  ASSERT_EQ(d.status, 200);
  EXPECT_EQ(d.chart.data, std::string("\x01\xFF\xC3\x28", 4));
  // The names are decoded too.
  d = Get("/bar.bmp?%64ata=z&wid%74h=7");
  ASSERT_EQ(d.status, 200);
  EXPECT_EQ(d.chart.data, "z");
  EXPECT_EQ(d.chart.width, 7);
}

TEST(Query, RefusalsAre400WithOneLine) {
  for (const char* target : {"/bar.jpg",
                             "/bar.jpg?",
                             "/bar.jpg?width=5",
                             "/bar.jpg?data=a&data=b",
                             "/bar.jpg?data=a&%64ata=b",
                             "/bar.jpg?data=%",
                             "/bar.jpg?data=%4",
                             "/bar.jpg?data=%G0",
                             "/bar.jpg?data=a%2",
                             "/bar.jpg?d%zta=1",
                             "/bar.jpg?data=a&color=red",
                             "/bar.jpg?data=a&Data=b",
                             "/bar.jpg?data=a&width=",
                             "/bar.jpg?data=a&width=12px",
                             "/bar.jpg?data=a&width=1.5",
                             "/bar.jpg?data=a&width=+5",
                             "/bar.jpg?data=a&width=%2010",
                             "/bar.jpg?data=a&height=-",
                             "/bar.jpg?data=a&width=1&width=2",
                             "/bar.jpg?data=a&height=1&height=1"}) {
    Decision d = Get(target);
    EXPECT_EQ(d.status, 400) << target;
    EXPECT_FALSE(d.message.empty());
    EXPECT_EQ(d.message.find('\n'), std::string::npos) << target;
  }
  // A POST carries its data in the body only.
  EXPECT_EQ(ReadRequest("POST", "/bar.jpg?data=x", Limits()).status, 400);
  // Unknown names are quoted only when they are short and printable.
  EXPECT_NE(Get("/bar.jpg?data=a&colour=1").message.find("\"colour\""), std::string::npos);
  Decision odd = Get("/bar.jpg?data=a&%0A%0D=1");
  EXPECT_EQ(odd.status, 400);
  EXPECT_EQ(odd.message.find('\n'), std::string::npos);
  EXPECT_EQ(odd.message.find('\r'), std::string::npos);
}

TEST(Sizes, WholeNumbersHeldAtTheIntRange) {
  int v = 0;
  EXPECT_TRUE(ParseSize("0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseSize("-12", &v));
  EXPECT_EQ(v, -12);
  EXPECT_TRUE(ParseSize("2147483647", &v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(ParseSize("99999999999999999999999", &v));
  EXPECT_EQ(v, INT_MAX);
  EXPECT_TRUE(ParseSize("-99999999999999999999999", &v));
  EXPECT_EQ(v, INT_MIN);
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "0x10", "1e3", "--1", "١"})
    EXPECT_FALSE(ParseSize(bad, &v)) << bad;
}

TEST(Sizes, NothingToDrawIs422TooManyPixelsIs413) {
  EXPECT_EQ(Get("/bar.jpg?data=a&width=0").status, 422);
  EXPECT_EQ(Get("/bar.jpg?data=a&height=-1").status, 422);
  EXPECT_EQ(Get("/bar.jpg?data=a&width=-99999999999").status, 422);
  EXPECT_EQ(ReadRequest("POST", "/xy.jpg?width=0", Limits()).status, 422);
  Limits small;
  small.maxPixels = 100;
  EXPECT_EQ(Get("/bar.jpg?data=a&width=10&height=10", small).status, 200);
  EXPECT_EQ(Get("/bar.jpg?data=a&width=10&height=11", small).status, 413);
  EXPECT_EQ(Get("/bar.jpg?data=a&width=99999999999&height=99999999999").status, 413);
  // The default limit counts the default height.
  EXPECT_EQ(Get("/bar.jpg?data=a&width=53333").status, 200);
  EXPECT_EQ(Get("/bar.jpg?data=a&width=53334").status, 413);
}

TEST(Sizes, RequestLineOver16KiBIs414) {
  // "GET " + target + " HTTP/1.1" is the request line.
  std::string head = "/bar.jpg?data=";
  std::string fits = head + std::string(16384 - 4 - 9 - head.size() - 1, 'a');
  EXPECT_EQ(Get(fits).status, 200);
  EXPECT_EQ(Get(fits + "a").status, 200);
  EXPECT_EQ(Get(fits + "aa").status, 414);
  EXPECT_EQ(Get("/nothing" + std::string(20000, 'a')).status, 404);
}

TEST(Body, NulBytesAreRefusedInTheQueryAndTheBody) {
  // The drawing library takes the data as a C string, which a NUL would cut short.
  Decision d = Get("/bar.bmp?data=(a)(b%00;1)");
  EXPECT_EQ(d.status, 400);
  EXPECT_EQ(d.chart.route, Route::BarBmp);
  d = ReadRequest("POST", "/xy.jpg", Limits());
  ASSERT_EQ(d.status, 200);
  ReadBody(std::string_view("(a;1)\0(b;2)", 12), &d);
  EXPECT_EQ(d.status, 400);
  EXPECT_EQ(d.chart.route, Route::XYJpeg);
  EXPECT_EQ(d.message.find('\n'), std::string::npos);
}

TEST(Body, PostTakesTheBodyAsItStands) {
  Decision d = ReadRequest("POST", "/bar.bmp?height=100", Limits());
  ASSERT_TRUE(TakesBody("POST", d.chart.route));
  EXPECT_FALSE(TakesBody("GET", d.chart.route));
  EXPECT_FALSE(TakesBody("POST", Route::Health));
  ReadBody("(a+b;%41)(x;1)", &d);
  EXPECT_EQ(d.chart.data, "(a+b;%41)(x;1)");
  EXPECT_EQ(d.chart.height, 100);
}

TEST(EntityTags, EveryFieldCountsAndTheTagIsStable) {
  ChartRequest base;
  base.route = Route::BarJpeg;
  base.data = "(a;b)(x;1;2)";
  std::string tag = EntityTag(base, "1.0.0");
  ASSERT_EQ(tag.size(), 34u);
  EXPECT_EQ(tag.front(), '"');
  EXPECT_EQ(tag.back(), '"');
  EXPECT_EQ(tag.find_first_not_of("0123456789abcdef", 1), 33u);
  EXPECT_EQ(EntityTag(base, "1.0.0"), tag);

  std::set<std::string> tags = {tag};
  auto differs = [&](ChartRequest c, const char* version) {
    return tags.insert(EntityTag(c, version)).second;
  };
  ChartRequest c = base;
  c.route = Route::BarBmp;
  EXPECT_TRUE(differs(c, "1.0.0"));
  c = base;
  c.route = Route::XYJpeg;
  EXPECT_TRUE(differs(c, "1.0.0"));
  c = base;
  c.width = 641;
  EXPECT_TRUE(differs(c, "1.0.0"));
  c = base;
  c.height = 301;
  EXPECT_TRUE(differs(c, "1.0.0"));
  c = base;
  c.data += ' ';
  EXPECT_TRUE(differs(c, "1.0.0"));
  EXPECT_TRUE(differs(base, "1.0.1"));
  // Width 64 and height 1 must not read the same as width 6 and height 41.
  c = base;
  c.width = 64;
  c.height = 1;
  EXPECT_TRUE(differs(c, "1.0.0"));
  c.width = 6;
  c.height = 41;
  EXPECT_TRUE(differs(c, "1.0.0"));
}

TEST(EntityTags, IfNoneMatchLists) {
  const std::string tag = "\"0123abcd\"";
  EXPECT_TRUE(MatchesNoneMatch(tag, tag));
  EXPECT_TRUE(MatchesNoneMatch("*", tag));
  EXPECT_TRUE(MatchesNoneMatch("W/" + tag, tag));
  EXPECT_TRUE(MatchesNoneMatch("\"x\", " + tag, tag));
  EXPECT_TRUE(MatchesNoneMatch("\"x\",W/\"y\" ,\t" + tag + " ", tag));
  EXPECT_FALSE(MatchesNoneMatch("", tag));
  EXPECT_FALSE(MatchesNoneMatch("\"0123abc\"", tag));
  EXPECT_FALSE(MatchesNoneMatch("\"0123abcd", tag));
  EXPECT_FALSE(MatchesNoneMatch("0123abcd", tag));
  EXPECT_FALSE(MatchesNoneMatch("\"x\" " + tag.substr(1), tag));
}

TEST(MetricsText, CountsByPathAndStatusAndRenderHistogram) {
  Metrics m;
  m.CountResponse(Route::BarJpeg, 200);
  m.CountResponse(Route::BarJpeg, 200);
  m.CountResponse(Route::BarJpeg, 304);
  m.CountResponse(Route::XYBmp, 422);
  m.CountResponse(Route::Unknown, 404);
  m.CountResponse(Route::Health, 299);
  m.CountRender(0.0003);
  m.CountRender(0.002);
  m.CountRender(7.0);
  m.Enter();
  m.Enter();
  m.Leave();
  std::string t = m.Text();
  auto has = [&](const std::string& line) {
    return t.find("\n" + line + "\n") != std::string::npos;
  };
  EXPECT_TRUE(has("norvisk_requests_total{path=\"/bar.jpg\",status=\"200\"} 2")) << t;
  EXPECT_TRUE(has("norvisk_requests_total{path=\"/bar.jpg\",status=\"304\"} 1"));
  EXPECT_TRUE(has("norvisk_requests_total{path=\"/xy.bmp\",status=\"422\"} 1"));
  EXPECT_TRUE(has("norvisk_requests_total{path=\"other\",status=\"404\"} 1"));
  EXPECT_TRUE(has("norvisk_requests_total{path=\"/health\",status=\"other\"} 1"));
  EXPECT_EQ(t.find("status=\"500\""), std::string::npos);
  EXPECT_TRUE(has("norvisk_not_modified_total 1"));
  EXPECT_TRUE(has("norvisk_requests_in_flight 1"));
  EXPECT_TRUE(has("norvisk_render_seconds_bucket{le=\"0.0005\"} 1"));
  EXPECT_TRUE(has("norvisk_render_seconds_bucket{le=\"0.001\"} 1"));
  EXPECT_TRUE(has("norvisk_render_seconds_bucket{le=\"0.0025\"} 2"));
  EXPECT_TRUE(has("norvisk_render_seconds_bucket{le=\"1\"} 2"));
  EXPECT_TRUE(has("norvisk_render_seconds_bucket{le=\"+Inf\"} 3"));
  EXPECT_TRUE(has("norvisk_render_seconds_count 3"));
  EXPECT_TRUE(has("norvisk_render_seconds_sum 7.002300000"));
  EXPECT_TRUE(has("# TYPE norvisk_render_seconds histogram"));
  EXPECT_EQ(t.back(), '\n');
}

}  // namespace
}  // namespace norvisk::serve
