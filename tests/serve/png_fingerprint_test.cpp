// The version text of entity tags: a PNG route's names this machine's PNG bytes as well.
#include "serve/png_fingerprint.h"

#include <gtest/gtest.h>

#include <string>

#include "serve/render.h"

namespace norvisk::serve {
namespace {

TEST(PngFingerprint, OnlyPngTagsCarryIt) {
  TakePngFingerprint();
  const std::string version = ProgramVersion();
  for (Route route : {Route::BarJpeg, Route::BarBmp, Route::XYJpeg, Route::XYBmp})
    EXPECT_EQ(TagVersion(route), version) << static_cast<int>(route);
  const std::string png(TagVersion(Route::BarPng));
  EXPECT_EQ(TagVersion(Route::XYPng), png);
  // The version, then a hash of the reference chart's PNG: a picture was encoded ("-" when none).
  ASSERT_EQ(png.rfind(version + " png \"", 0), 0u) << png;
  EXPECT_EQ(png.size(), version.size() + 5 + 34) << png;
  // Taken once: a second call draws nothing new and gives the same text.
  TakePngFingerprint();
  EXPECT_EQ(std::string(TagVersion(Route::BarPng)), png);
  // The same chart as a PNG and as a bitmap gets other tags even where the path would not part
  // them.
  ChartRequest chart;
  chart.data = "(a;b)(x;1;2)";
  EXPECT_NE(EntityTag(chart, TagVersion(Route::BarPng)),
            EntityTag(chart, TagVersion(Route::BarBmp)));
}

}  // namespace
}  // namespace norvisk::serve
