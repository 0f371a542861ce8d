// Upright text on the software back end: glyphs kept turned against the canvas's own turning of
// an upright drawing on a scratch surface, pixel for pixel.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "raster/canvas.h"
#include "raster/device.h"

namespace norvisk {
namespace {

// The software back end's device with everything but turned text: the canvas then turns each
// text through its scratch surface, as it does on back ends without turned glyphs.
class UprightOnlyDevice final : public Device {
 public:
  explicit UprightOnlyDevice(std::unique_ptr<Device> inner) : inner_(std::move(inner)) {}
  SurfaceBits Bits() override { return inner_->Bits(); }
  int LogPixelsY() override { return inner_->LogPixelsY(); }
  void Select(DrawObject::Kind kind, const DrawObject* object) override {
    inner_->Select(kind, object);
  }
  int SetBkMode(int mode) override { return inner_->SetBkMode(mode); }
  void SetRop2(int mode) override { inner_->SetRop2(mode); }
  Color GetTextColor() override { return inner_->GetTextColor(); }
  void MoveTo(int x, int y) override { inner_->MoveTo(x, y); }
  bool LineTo(int x, int y) override { return inner_->LineTo(x, y); }
  void Rectangle(int l, int t, int r, int b) override { inner_->Rectangle(l, t, r, b); }
  void TextOut(int x, int y, std::string_view text) override { inner_->TextOut(x, y, text); }
  bool TextExtent(std::string_view text, int* width, int* height) override {
    return inner_->TextExtent(text, width, height);
  }
  Color GetPixel(int x, int y) override { return inner_->GetPixel(x, y); }
  bool CopyTo(DeviceContext target, int x, int y, int w, int h, int sx, int sy) override {
    return inner_->CopyTo(target, x, y, w, h, sx, sy);
  }

 private:
  std::unique_ptr<Device> inner_;
};

class UprightOnlyBackend final : public Backend {
 public:
  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    std::unique_ptr<Device> inner = SoftBackend().CreateDevice(desc);
    if (!inner) return nullptr;
    return std::make_unique<UprightOnlyDevice>(std::move(inner));
  }
  std::unique_ptr<DrawObject> CreatePen(const PenSpec& s) const override {
    return SoftBackend().CreatePen(s);
  }
  std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& s) const override {
    return SoftBackend().CreateBrush(s);
  }
  std::unique_ptr<DrawObject> CreateFont(const FontSpec& s) const override {
    return SoftBackend().CreateFont(s);
  }
};

// Sets NORVISK_FONT, or (null) removes it.
void set_font_variable(const char* file) {
#if defined(_WIN32)
  _putenv_s("NORVISK_FONT", file ? file : "");
#else
  if (file)
    setenv("NORVISK_FONT", file, 1);
  else
    unsetenv("NORVISK_FONT");
#endif
}

// NORVISK_FONT set for the life of the object, then put back.
class PinnedFont {
 public:
  explicit PinnedFont(const std::string& file) {
    if (const char* was = std::getenv("NORVISK_FONT")) previous_ = was;
    set_font_variable(file.c_str());
  }
  ~PinnedFont() { set_font_variable(previous_ ? previous_->c_str() : nullptr); }

 private:
  std::optional<std::string> previous_;
};

// One canvas on each way of turning, reset to the same picture before every text.
class TwoWays {
 public:
  TwoWays(int width, int height)
      : turned_(width, height, SoftBackend()), scratch_(width, height, backend_) {
    SurfaceBits b = turned_.Bits();
    background_.resize(static_cast<std::size_t>(b.rowBytes) * b.height);
    // No pixel of the background is black, so every pixel of ink shows.
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) {
        std::uint8_t* p = background_.data() + static_cast<std::size_t>(y) * b.rowBytes + 3 * x;
        p[0] = static_cast<std::uint8_t>(40 + (x * 7) % 200);
        p[1] = static_cast<std::uint8_t>(40 + (y * 11) % 200);
        p[2] = static_cast<std::uint8_t>(40 + ((x ^ y) * 3) % 200);
      }
  }

  void Reset() {
    for (Canvas* c : {&turned_, &scratch_})
      std::memcpy(c->Bits().bits, background_.data(), background_.size());
  }

  // Text and drawing modes for both canvases alike.
  template <class F>
  void Both(F f) {
    f(turned_);
    f(scratch_);
  }

  // The first pixel where the two canvases differ, as "x,y: turned vs scratch"; empty when none.
  std::string Difference() {
    SurfaceBits a = turned_.Bits();
    if (std::memcmp(a.bits, scratch_.Bits().bits, background_.size()) == 0) return {};
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x)
        if (turned_.GetPixel(x, y) != scratch_.GetPixel(x, y))
          return std::to_string(x) + "," + std::to_string(y) + ": " +
                 std::to_string(turned_.GetPixel(x, y)) + " vs " +
                 std::to_string(scratch_.GetPixel(x, y));
    return "?";
  }

  // Whether the turned canvas differs from the background.
  bool Inked() {
    return std::memcmp(turned_.Bits().bits, background_.data(), background_.size()) != 0;
  }

  Canvas& turned() { return turned_; }

 private:
  UprightOnlyBackend backend_;
  Canvas turned_;
  Canvas scratch_;
  std::vector<std::uint8_t> background_;
};

const char* const kTexts[] = {
    "M0",
    "M199",
    "Feb 2",
    "",
    " ",
    "g",
    "jjj",  // a first glyph that starts left of its pen position
    "Wj_|",
    "\xc3\x85\xc3\x89\xc3\x8e\xc3\xb5\xc3\xbc",  // accents above the capitals
    "\xe2\x82\xac \xc2\xbc \xc3\x9f",            // euro sign, one quarter, sharp s
    "\xe6\x97\xa5\xe6\x9c\xac",                  // letters the face does not have
    "e\xcc\x81\xcc\x81\xcc\x81",                 // combining accents stacked past the cell's top
    "\xff\xfe\xc3(bad utf-8)",
    "A\tB\nC",
    "A rather long label that runs past every edge of a small canvas",
};

// Why the software back end cannot draw text here; null when it can. Windows builds (run under
// Wine) give it no fonts: their text goes through GDI. Elsewhere it always has the tests' face.
const char* NoSoftText() {
  Canvas probe(8, 8, SoftBackend());
  if (probe.TextWidth("M") > 0) return nullptr;
#if defined(_WIN32)
  return "Windows builds (run under Wine) have no fonts for the software back end";
#else
  ADD_FAILURE() << "the software back end found no font";
  return "no font";
#endif
}

TEST(TurnedText, EveryTextAtEveryEdgeGivesTheScratchSurfacesPixels) {
  if (const char* why = NoSoftText()) GTEST_SKIP() << why;
  constexpr int kWidth = 83, kHeight = 61;
  const char* const fonts[] = {
      nullptr,  // the tests' own face
      "/usr/share/fonts/truetype/liberation2/LiberationSerif-Italic.ttf",
      "/usr/share/fonts/truetype/liberation2/LiberationMono-Bold.ttf",
  };
  int cases = 0, inked = 0;
  for (const char* font : fonts) {
    std::optional<PinnedFont> pinned;
    if (font) pinned.emplace(font);
    for (int points : {4, 8, 11, 19, 36}) {
      // A new pair per size, so that each also starts with a fresh scratch surface.
      TwoWays canvases(kWidth, kHeight);
      canvases.Both([&](Canvas& c) { c.SetFontSize(points); });
      for (int modes = 0; modes < 2; ++modes) {
        if (modes == 1) {
          // Neither the mix mode nor the background mode reaches turned text.
          canvases.Both([](Canvas& c) {
            c.SetMixMode(kMixMaskPen);
            c.SetBackgroundMode(kTransparent);
          });
        }
        for (const char* text : kTexts) {
          Canvas& c = canvases.turned();
          const int w = c.TextWidth(text), h = c.TextHeight(text);
          const int xs[] = {INT_MIN,
                            -h - 2,
                            -h,
                            -h + 1,
                            -h / 2,
                            -1,
                            0,
                            1,
                            kWidth / 2 - h / 2,
                            kWidth - h - 1,
                            kWidth - h,
                            kWidth - h + 1,
                            kWidth - 1,
                            kWidth,
                            kWidth + 3,
                            INT_MAX - h / 2};
          const int ys[] = {INT_MIN,
                            -w - 2,
                            -w - 1,
                            -w,
                            -w + 1,
                            -w / 2,
                            -2,
                            -1,
                            0,
                            kHeight / 2 - w / 2,
                            kHeight - w - 2,
                            kHeight - w - 1,
                            kHeight - w,
                            kHeight - 2,
                            kHeight - 1,
                            kHeight,
                            INT_MAX - w / 2,
                            INT_MAX};
          for (int x : xs)
            for (int y : ys) {
              canvases.Reset();
              canvases.Both([&](Canvas& each) { each.DrawVerticalText(x, y, text); });
              ++cases;
              inked += canvases.Inked();
              ASSERT_EQ(canvases.Difference(), "")
                  << "text \"" << text << "\" at " << x << "," << y << ", " << points
                  << " points, font " << (font ? font : "pinned") << ", modes " << modes;
            }
        }
      }
    }
  }
  // About a third of the places show part of a text; those at the far ends of the numbers and
  // just past the edges cannot, nor can the empty and the blank text.
  EXPECT_GT(inked, cases / 5);
  EXPECT_LT(inked, cases);
}

TEST(TurnedText, TheLabelsOfALargeChartGiveTheScratchSurfacesPixels) {
  if (const char* why = NoSoftText()) GTEST_SKIP() << why;
  // As the XY graph writes 200 labels under a 640 x 300 plot: one canvas, labels overlapping.
  TwoWays canvases(640, 300);
  canvases.Reset();
  canvases.Both([](Canvas& c) {
    c.SetFontSize(11);
    for (int k = 0; k < 200; ++k) {
      std::string label = k % 7 == 3 ? "\xc3\x84pfel " : "M";
      label += std::to_string(k);
      c.DrawVerticalText(60 + (k * 560) / 199 - 7, 225, label);
    }
  });
  EXPECT_TRUE(canvases.Inked());
  EXPECT_EQ(canvases.Difference(), "");
}

TEST(TurnedText, ATextTooLargeForASurfaceOfItsOwnIsLeftOutEitherWay) {
  if (const char* why = NoSoftText()) GTEST_SKIP() << why;
  TwoWays canvases(83, 61);
  canvases.Both([](Canvas& c) { c.SetFontSize(36); });
  for (std::size_t letters : {std::size_t{2000}, std::size_t{60000}}) {
    const std::string text(letters, 'M');
    const int w = canvases.turned().TextWidth(text), h = canvases.turned().TextHeight(text);
    const bool fits = SurfaceFits(w, h, 24);
    EXPECT_EQ(fits, letters == 2000) << w << " x " << h;
    canvases.Reset();
    // Its first letters would reach into the picture.
    canvases.Both([&](Canvas& c) { c.DrawVerticalText(10, 40 - w, text); });
    EXPECT_EQ(canvases.Inked(), fits);
    EXPECT_EQ(canvases.Difference(), "");
  }
}

TEST(TurnedText, TheSoftwareBackEndMakesNoScratchSurface) {
  if (const char* why = NoSoftText()) GTEST_SKIP() << why;
  Canvas turned(120, 120, SoftBackend());
  UprightOnlyBackend uprightOnly;
  Canvas scratch(120, 120, uprightOnly);
  for (Canvas* c : {&turned, &scratch}) c->SetFontSize(11);
  const int before = Canvas::LiveCount();
  turned.DrawVerticalText(10, 5, "North");
  EXPECT_EQ(Canvas::LiveCount(), before);
  // The canvas's own turning keeps its scratch surface, a canvas of its own.
  scratch.DrawVerticalText(10, 5, "North");
  EXPECT_EQ(Canvas::LiveCount(), before + 1);
}

}  // namespace
}  // namespace norvisk
