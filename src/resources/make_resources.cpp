// Draws the bitmaps the library embeds (background 202, logo 203, toolbox 101) and writes them
// as BMP files into the folder given on the command line:
//
//   build/native/make_resources src/resources
//
// The output is deterministic, so rerunning it leaves the checked-in files unchanged.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/byte_order.h"

namespace {

struct Rgb {
  std::uint8_t r = 255, g = 255, b = 255;
};

// An image as palette indexes (1, 4, 8 bits per pixel) or true colour (24), rows top-down.
struct Bitmap {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 24;
  std::vector<Rgb> palette;         // for indexed images
  std::vector<std::uint8_t> index;  // width * height, indexed images
  std::vector<Rgb> color;           // width * height, true colour images
};

std::size_t RowBytes(int width, int bitsPerPixel) {
  return ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

std::vector<std::uint8_t> EncodeBmp(const Bitmap& bmp) {
  const bool indexed = bmp.bitsPerPixel <= 8;
  const std::size_t colors = indexed ? std::size_t{1} << bmp.bitsPerPixel : 0;
  const std::size_t rowBytes = RowBytes(bmp.width, bmp.bitsPerPixel);
  const std::size_t imageSize = rowBytes * bmp.height;
  const std::uint32_t offBits = static_cast<std::uint32_t>(14 + 40 + 4 * colors);

  std::vector<std::uint8_t> out;
  out.reserve(offBits + imageSize);
  out.push_back('B');
  out.push_back('M');
  norvisk::AppendLe32(out, static_cast<std::uint32_t>(offBits + imageSize));
  norvisk::AppendLe16(out, 0);
  norvisk::AppendLe16(out, 0);
  norvisk::AppendLe32(out, offBits);

  norvisk::AppendLe32(out, 40);
  norvisk::AppendLe32(out, static_cast<std::uint32_t>(bmp.width));
  norvisk::AppendLe32(out, static_cast<std::uint32_t>(bmp.height));  // positive: bottom-up rows
  norvisk::AppendLe16(out, 1);
  norvisk::AppendLe16(out, static_cast<std::uint32_t>(bmp.bitsPerPixel));
  norvisk::AppendLe32(out, 0);  // uncompressed
  norvisk::AppendLe32(out, static_cast<std::uint32_t>(imageSize));
  norvisk::AppendLe32(out, 2835);  // 72 dpi
  norvisk::AppendLe32(out, 2835);
  norvisk::AppendLe32(out, static_cast<std::uint32_t>(colors));
  norvisk::AppendLe32(out, 0);

  for (std::size_t i = 0; i < colors; ++i) {
    const Rgb c = i < bmp.palette.size() ? bmp.palette[i] : Rgb{0, 0, 0};
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }

  for (int y = bmp.height - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(rowBytes, 0);
    for (int x = 0; x < bmp.width; ++x) {
      const std::size_t p = static_cast<std::size_t>(y) * bmp.width + x;
      if (!indexed) {
        row[3 * x] = bmp.color[p].b;
        row[3 * x + 1] = bmp.color[p].g;
        row[3 * x + 2] = bmp.color[p].r;
        continue;
      }
      // Leftmost pixel in the most significant bits.
      const int perByte = 8 / bmp.bitsPerPixel;
      const int shift = 8 - bmp.bitsPerPixel * (x % perByte + 1);
      row[x / perByte] |= static_cast<std::uint8_t>(bmp.index[p] << shift);
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

bool WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

std::uint8_t ToByte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Background: a left-to-right gradient from a near white to a pale steel blue, every row the
// same. The palette holds 256 steps of the gradient; a small ordered dither along x hides the
// bands where the channels step at different columns.
Bitmap Background() {
  constexpr int kWidth = 640, kHeight = 300;
  constexpr double kFrom[3] = {244, 247, 247};
  constexpr double kTo[3] = {199, 207, 223};
  // Offsets in palette steps; one level of red is about six steps.
  constexpr std::array<double, 4> kDither = {-4.5, 1.5, -1.5, 4.5};

  Bitmap bmp;
  bmp.width = kWidth;
  bmp.height = kHeight;
  bmp.bitsPerPixel = 8;
  for (int i = 0; i < 256; ++i) {
    const double t = i / 255.0;
    bmp.palette.push_back({ToByte(kFrom[0] + (kTo[0] - kFrom[0]) * t),
                           ToByte(kFrom[1] + (kTo[1] - kFrom[1]) * t),
                           ToByte(kFrom[2] + (kTo[2] - kFrom[2]) * t)});
  }
  std::vector<std::uint8_t> row(kWidth);
  for (int x = 0; x < kWidth; ++x) {
    const double step = 255.0 * x / (kWidth - 1) + kDither[x % kDither.size()];
    row[x] = static_cast<std::uint8_t>(std::clamp(std::lround(step), 0L, 255L));
  }
  for (int y = 0; y < kHeight; ++y) bmp.index.insert(bmp.index.end(), row.begin(), row.end());
  return bmp;
}

// A coverage-accumulating painter: shapes are sampled on a 4 x 4 grid per pixel, so edges and
// the slanted line come out smooth.
class Painter {
 public:
  Painter(int width, int height) : width_(width), height_(height) {
    for (auto& channel : sum_) channel.assign(static_cast<std::size_t>(width) * height * 16, 255.0);
  }

  // Axis-aligned box in pixel coordinates (edges may be fractional).
  void Box(double left, double top, double right, double bottom, Rgb c) {
    Fill(c, [=](double x, double y) { return x >= left && x < right && y >= top && y < bottom; });
  }

  // Line segment with round ends.
  void Line(double x0, double y0, double x1, double y1, double thickness, Rgb c) {
    const double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    const double r = thickness / 2;
    Fill(c, [=](double x, double y) {
      double t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = x0 + t * dx - x, ey = y0 + t * dy - y;
      return ex * ex + ey * ey <= r * r;
    });
  }

  void Disc(double cx, double cy, double radius, Rgb c) {
    Fill(c, [=](double x, double y) {
      return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    });
  }

  std::vector<Rgb> Resolve() const {
    std::vector<Rgb> out(static_cast<std::size_t>(width_) * height_);
    for (std::size_t p = 0; p < out.size(); ++p) {
      double acc[3] = {0, 0, 0};
      for (int s = 0; s < 16; ++s)
        for (int ch = 0; ch < 3; ++ch) acc[ch] += sum_[ch][p * 16 + s];
      out[p] = {ToByte(acc[0] / 16), ToByte(acc[1] / 16), ToByte(acc[2] / 16)};
    }
    return out;
  }

 private:
  template <typename Inside>
  void Fill(Rgb c, Inside inside) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        for (int s = 0; s < 16; ++s) {
          const double sx = x + (s % 4 + 0.5) / 4, sy = y + (s / 4 + 0.5) / 4;
          if (!inside(sx, sy)) continue;
          const std::size_t i = (static_cast<std::size_t>(y) * width_ + x) * 16 + s;
          sum_[0][i] = c.r;
          sum_[1][i] = c.g;
          sum_[2][i] = c.b;
        }
  }

  int width_, height_;
  std::array<std::vector<double>, 3> sum_;
};

Rgb Shade(Rgb c, double f) { return {ToByte(c.r * f), ToByte(c.g * f), ToByte(c.b * f)}; }

// Logo: a small stacked column chart on a baseline with a trend line over it, on white.
Bitmap Logo() {
  constexpr int kWidth = 180, kHeight = 142;
  Painter p(kWidth, kHeight);

  const Rgb axis{70, 78, 92};
  const Rgb grid{222, 227, 235};
  const Rgb lower{46, 104, 178};
  const Rgb upper{118, 170, 222};
  const Rgb trend{222, 92, 38};

  constexpr double kLeft = 28, kRight = 160, kBase = 118, kTop = 22;
  for (int i = 1; i <= 4; ++i) {
    const double y = kBase - i * (kBase - kTop) / 4;
    p.Box(kLeft, y, kRight, y + 1, grid);
  }

  // Columns: lower and upper segment heights in pixels.
  constexpr double kColumns[5][2] = {{26, 12}, {38, 22}, {30, 20}, {50, 22}, {58, 30}};
  constexpr double kColumnWidth = 16, kGap = 10;
  std::array<std::array<double, 2>, 5> tops{};
  for (int i = 0; i < 5; ++i) {
    const double left = kLeft + 10 + i * (kColumnWidth + kGap);
    const double right = left + kColumnWidth;
    const double mid = kBase - kColumns[i][0];
    const double top = mid - kColumns[i][1];
    p.Box(left, mid, right, kBase, lower);
    p.Box(left, top, right, mid, upper);
    // A darker right edge gives the columns a little depth.
    p.Box(right - 3, mid, right, kBase, Shade(lower, 0.78));
    p.Box(right - 3, top, right, mid, Shade(upper, 0.82));
    tops[i] = {(left + right) / 2, top - 12};
  }

  for (int i = 0; i + 1 < 5; ++i)
    p.Line(tops[i][0], tops[i][1], tops[i + 1][0], tops[i + 1][1], 2.6, trend);
  for (const auto& t : tops) {
    p.Disc(t[0], t[1], 4.2, trend);
    p.Disc(t[0], t[1], 2.0, Rgb{255, 255, 255});
  }

  p.Box(kLeft - 2, kBase, kRight, kBase + 2, axis);    // baseline
  p.Box(kLeft - 2, kTop - 6, kLeft, kBase + 2, axis);  // value axis
  for (int i = 0; i <= 4; ++i) {
    const double y = kBase - i * (kBase - kTop) / 4;
    p.Box(kLeft - 6, y, kLeft - 2, y + 1, axis);  // ticks
  }

  Bitmap bmp;
  bmp.width = kWidth;
  bmp.height = kHeight;
  bmp.bitsPerPixel = 24;
  bmp.color = p.Resolve();
  return bmp;
}

// Toolbox icon: three columns on an axis, in the 16 standard colours.
Bitmap Toolbox() {
  Bitmap bmp;
  bmp.width = 16;
  bmp.height = 16;
  bmp.bitsPerPixel = 4;
  bmp.palette = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                 {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                 {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                 {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  // Rows top-down: '.' button face, 'k' black (axes and shadows), 'r' red, 'g' green, 'b' blue.
  // clang-format off
  static const char* const kRows[16] = {
      "................",
      "................",
      ".k..........bb..",
      ".k..........bbk.",
      ".k..........bbk.",
      ".k..........bbk.",
      ".k......gg..bbk.",
      ".k......ggk.bbk.",
      ".k......ggk.bbk.",
      ".k..rr..ggk.bbk.",
      ".k..rrk.ggk.bbk.",
      ".k..rrk.ggk.bbk.",
      ".k..rrk.ggk.bbk.",
      ".kkkkkkkkkkkkkkk",
      "................",
      "................",
  };
  // clang-format on
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      std::uint8_t i = 7;
      switch (kRows[y][x]) {
        case 'k': i = 0; break;
        case 'r': i = 9; break;
        case 'g': i = 2; break;
        case 'b': i = 12; break;
        default: break;
      }
      bmp.index.push_back(i);
    }
  return bmp;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);

  const struct {
    const char* name;
    Bitmap bitmap;
  } files[] = {{"background.bmp", Background()}, {"logo.bmp", Logo()}, {"toolbox.bmp", Toolbox()}};
  for (const auto& f : files) {
    if (!WriteFile(folder / f.name, EncodeBmp(f.bitmap))) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], (folder / f.name).string().c_str());
      return 1;
    }
  }
  return 0;
}
