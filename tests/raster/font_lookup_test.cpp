// Face lookup without a pinned font: fontconfig's answer for the canvas face, then for "Arial".
#include <gtest/gtest.h>

#include <cstdlib>

#include "raster/canvas.h"
#include "raster/soft_font.h"

namespace norvisk {
namespace {

// Each test runs in a process of its own, so the lookup below is the process's first.
TEST(FontLookup, FindsTheSubstituteFaceAndItsMetrics) {
  ::unsetenv("NORVISK_FONT");
  const std::string& file = FontFile("MS Sans Serif");
  // No face of that family exists here: "Arial" maps to Liberation Sans.
  EXPECT_NE(file.find("LiberationSans-Regular"), std::string::npos) << file;
  Canvas c(100, 30);
  c.SetFontSize(11);
  EXPECT_EQ(c.TextHeight("fg"), 17);
  EXPECT_GT(c.TextWidth("fg"), 0);
}

TEST(FontLookup, PinnedFileIsTakenAsItIs) {
  ::setenv("NORVISK_FONT", "/nonexistent/font.ttf", 1);
  EXPECT_EQ(FontFile("MS Sans Serif"), "/nonexistent/font.ttf");
  // A face that cannot be opened measures and draws nothing.
  Canvas c(100, 30);
  EXPECT_EQ(c.TextWidth("fg"), 0);
  EXPECT_EQ(c.TextHeight("fg"), 0);
  c.DrawText(0, 0, "fg");
  c.DrawVerticalText(0, 0, "fg");
  EXPECT_EQ(c.GetPixel(1, 1), 0u);
}

}  // namespace
}  // namespace norvisk
