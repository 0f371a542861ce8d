// Face lookup: the pinned file first, else the build's answer while it holds, else fontconfig's
// for the canvas face, then for "Arial". All in one process: every lookup must follow the face
// asked for and the pinned file of the moment, not the process's first answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "raster/canvas.h"
#include "raster/soft_font.h"

namespace norvisk {
namespace {

const std::string kFonts = "/usr/share/fonts/truetype/liberation2/";
const std::string kSans = kFonts + "LiberationSans-Regular.ttf";
const std::string kMono = kFonts + "LiberationMono-Regular.ttf";
const std::string kSerif = kFonts + "LiberationSerif-Regular.ttf";

int WidthOf(const std::string& text) {
  Canvas c(200, 30);
  c.SetFontSize(11);
  return c.TextWidth(text);
}

TEST(FontLookup, EachLookupFollowsTheFaceAndThePinnedFileOfTheMoment) {
  ::unsetenv("NORVISK_FONT");
  // No face of the canvas's family exists here: "Arial" maps to Liberation Sans.
  EXPECT_EQ(FontFile("MS Sans Serif"), kSans);
  EXPECT_EQ(FontFile("Liberation Mono"), kMono);
  EXPECT_EQ(FontFile("liberation serif"), kSerif);
  EXPECT_EQ(FontFile("MS Sans Serif"), kSans);
  const int sans = WidthOf("iiiiii");
  Canvas c(100, 30);
  c.SetFontSize(11);
  EXPECT_EQ(c.TextHeight("fg"), 17);

  ::setenv("NORVISK_FONT", kMono.c_str(), 1);
  EXPECT_EQ(FontFile("MS Sans Serif"), kMono);
  // The glyphs come from the pinned file too, at a size drawn before with another file.
  const int mono = WidthOf("iiiiii");
  EXPECT_GT(mono, sans);

  ::setenv("NORVISK_FONT", "/nonexistent/font.ttf", 1);
  EXPECT_EQ(FontFile("MS Sans Serif"), "/nonexistent/font.ttf");
  // A face that cannot be opened measures and draws nothing.
  Canvas none(100, 30);
  EXPECT_EQ(none.TextWidth("fg"), 0);
  EXPECT_EQ(none.TextHeight("fg"), 0);
  none.DrawText(0, 0, "fg");
  none.DrawVerticalText(0, 0, "fg");
  EXPECT_EQ(none.GetPixel(1, 1), 0u);

  ::unsetenv("NORVISK_FONT");
  EXPECT_EQ(FontFile("MS Sans Serif"), kSans);
  EXPECT_EQ(WidthOf("iiiiii"), sans);
}

TEST(FontLookup, TheBuildsAnswerIsFontconfigsAndIsCheckedBeforeUse) {
  // The build machine is this one: its answer for the canvas face is fontconfig's.
  EXPECT_EQ(KnownFaceFile("MS Sans Serif"), FontconfigFile("MS Sans Serif"));
  EXPECT_EQ(KnownFaceFile("ms sans serif"), kSans);
  EXPECT_EQ(KnownFaceFile("Liberation Mono"), "");  // not a face canvases ask for

  EXPECT_TRUE(FaceFileIs(kSans, "Liberation Sans"));
  EXPECT_TRUE(FaceFileIs(kSans, "Other,liberation sans"));
  EXPECT_FALSE(FaceFileIs(kMono, "Liberation Sans"));
  EXPECT_FALSE(FaceFileIs(kSans, "Liberation"));
  EXPECT_FALSE(FaceFileIs(kSans, ""));
  EXPECT_FALSE(FaceFileIs("/nonexistent/font.ttf", "Liberation Sans"));
}

}  // namespace
}  // namespace norvisk
