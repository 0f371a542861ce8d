#include "raster/resource_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace norvisk {
namespace {

using Rgb = std::array<int, 3>;

// What a synthetic file holds. Pixel values come from a function of (x, y), y counted from the
// top: a palette index for 1, 4 and 8 bits per pixel, otherwise a colour.
struct BmpLayout {
  int width = 6;
  int height = 5;  // negative: rows stored top-down
  int bpp = 24;
  std::vector<Rgb> palette;
  std::uint32_t colorsUsed = 0;  // 0: 2^bpp entries written
  std::uint8_t fourthByte = 0;   // the unused byte of 32-bit pixels
};

void Put(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::size_t SourceRowBytes(int width, int bpp) {
  return ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
}

std::vector<std::uint8_t> MakeBmp(const BmpLayout& bmp,
                                  const std::function<std::uint32_t(int, int)>& index,
                                  const std::function<Rgb(int, int)>& color) {
  const int h = std::abs(bmp.height);
  const std::size_t entries =
      bmp.bpp > 8 ? 0 : (bmp.colorsUsed != 0 ? bmp.colorsUsed : std::size_t{1} << bmp.bpp);
  const std::size_t rowBytes = SourceRowBytes(bmp.width, bmp.bpp);
  const std::uint32_t offBits = static_cast<std::uint32_t>(54 + 4 * entries);

  std::vector<std::uint8_t> out = {'B', 'M'};
  Put(out, static_cast<std::uint32_t>(offBits + rowBytes * h), 4);
  Put(out, 0, 4);
  Put(out, offBits, 4);
  Put(out, 40, 4);
  Put(out, static_cast<std::uint32_t>(bmp.width), 4);
  Put(out, static_cast<std::uint32_t>(bmp.height), 4);
  Put(out, 1, 2);
  Put(out, static_cast<std::uint32_t>(bmp.bpp), 2);
  Put(out, 0, 4);
  Put(out, static_cast<std::uint32_t>(rowBytes * h), 4);
  Put(out, 0, 4);
  Put(out, 0, 4);
  Put(out, bmp.colorsUsed, 4);
  Put(out, 0, 4);
  for (std::size_t i = 0; i < entries; ++i) {
    const Rgb c = i < bmp.palette.size() ? bmp.palette[i] : Rgb{0, 0, 0};
    Put(out, static_cast<std::uint32_t>(c[2] | (c[1] << 8) | (c[0] << 16)), 4);
  }
  for (int fileRow = 0; fileRow < h; ++fileRow) {
    const int y = bmp.height < 0 ? fileRow : h - 1 - fileRow;
    std::vector<std::uint8_t> row(rowBytes, 0xEE);  // padding deliberately not zero
    if (bmp.bpp <= 8) std::fill(row.begin(), row.begin() + (bmp.width * bmp.bpp + 7) / 8, 0);
    for (int x = 0; x < bmp.width; ++x) {
      if (bmp.bpp > 8) {
        const Rgb c = color(x, y);
        const std::size_t at = static_cast<std::size_t>(x) * (bmp.bpp / 8);
        row[at] = static_cast<std::uint8_t>(c[2]);
        row[at + 1] = static_cast<std::uint8_t>(c[1]);
        row[at + 2] = static_cast<std::uint8_t>(c[0]);
        if (bmp.bpp == 32) row[at + 3] = bmp.fourthByte;
        continue;
      }
      const int bit = x * bmp.bpp;
      row[bit / 8] |= static_cast<std::uint8_t>(index(x, y) << (8 - bmp.bpp - bit % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// A decoded pixel, y counted from the top (the decoded rows are bottom-up).
Rgb PixelAt(const std::vector<std::uint8_t>& pixels, int width, int height, int x, int y) {
  const std::size_t at = static_cast<std::size_t>(height - 1 - y) * RowBytes(width, 24) +
                         static_cast<std::size_t>(x) * 3;
  return {pixels[at + 2], pixels[at + 1], pixels[at]};
}

// Decodes from a buffer of exactly `size` bytes, so a read past the end is a heap overflow that
// the address sanitizer reports.
bool DecodeExact(const std::vector<std::uint8_t>& file, std::size_t size,
                 std::vector<std::uint8_t>* pixels, int* w, int* h) {
  std::vector<std::uint8_t> copy(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
  return DecodeBmp(copy.data(), copy.size(), pixels, w, h);
}

// Irregular palette indexes: no symmetry for a flipped decoder to hide behind.
std::uint32_t Scatter(int x, int y) {
  std::uint32_t v =
      static_cast<std::uint32_t>(x) * 0x9E3779B1u ^ static_cast<std::uint32_t>(y + 7) * 0x85EBCA77u;
  v ^= v >> 15;
  v *= 0x2C1B3C6Du;
  return v ^ (v >> 12);
}

// Asymmetric in x and y, every channel different, so flips and swapped channels show.
Rgb TrueColor(int x, int y) { return {10 + 40 * x, 7 + 31 * y, 250 - 13 * x - 5 * y}; }

std::vector<Rgb> Palette(int n) {
  std::vector<Rgb> p;
  for (int i = 0; i < n; ++i)
    p.push_back({(i * 37 + 5) % 256, 255 - (i * 11) % 256, (i * 3 + 100) % 256});
  return p;
}

void ExpectPadding(const std::vector<std::uint8_t>& pixels, int width, int height) {
  const std::size_t rowBytes = RowBytes(width, 24);
  ASSERT_EQ(pixels.size(), rowBytes * height);
  for (int row = 0; row < height; ++row)
    for (std::size_t i = static_cast<std::size_t>(width) * 3; i < rowBytes; ++i)
      EXPECT_EQ(pixels[row * rowBytes + i], 0) << "row " << row << " byte " << i;
}

TEST(DecodeBmpTest, DecodesEveryDepthInBothRowOrders) {
  struct Case {
    int bpp;
    int width;
    int paletteSize;
  };
  // Widths that leave partial bytes and row padding in each depth.
  const Case cases[] = {{1, 11, 2}, {4, 5, 16}, {8, 7, 256}, {24, 6, 0}, {32, 5, 0}};
  for (const Case& c : cases) {
    for (const bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.bpp << " bpp, " << (topDown ? "top-down" : "bottom-up"));
      BmpLayout bmp;
      bmp.bpp = c.bpp;
      bmp.width = c.width;
      bmp.height = topDown ? -5 : 5;
      bmp.palette = Palette(c.paletteSize);
      bmp.fourthByte = 0xAB;
      const auto index = [&](int x, int y) { return Scatter(x, y) % (1u << std::min(c.bpp, 8)); };
      const auto file = MakeBmp(bmp, index, TrueColor);

      std::vector<std::uint8_t> pixels;
      int w = 0, h = 0;
      ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &pixels, &w, &h));
      EXPECT_EQ(w, c.width);
      EXPECT_EQ(h, 5);
      ExpectPadding(pixels, w, h);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < c.width; ++x) {
          const Rgb want = c.bpp > 8 ? TrueColor(x, y) : bmp.palette[index(x, y)];
          EXPECT_EQ(PixelAt(pixels, w, h, x, y), want) << "x " << x << " y " << y;
        }
    }
  }
}

// Rows that repeat the row before them, in runs, with rows between that differ from their
// neighbours in one pixel only (the first, a middle one or the last): each row is its own.
TEST(DecodeBmpTest, RepeatedRowsAndRowsDifferingInOnePixel) {
  for (const int bpp : {8, 24, 4}) {
    for (const bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << bpp << " bpp, " << (topDown ? "top-down" : "bottom-up"));
      BmpLayout bmp;
      bmp.bpp = bpp;
      bmp.width = 9;
      bmp.height = topDown ? -8 : 8;
      bmp.palette = Palette(bpp == 4 ? 16 : 256);
      // Rows 0-2 the same; 3 differs in the last pixel, 4 in the first, 5 in the middle; 6-7 as 5.
      const auto differs = [](int x, int y) {
        return (y == 3 && x == 8) || (y == 4 && x == 0) || (y >= 5 && x == 4);
      };
      const auto index = [&](int x, int y) {
        return (x + (differs(x, y) ? 5u : 1u)) % (bpp == 4 ? 16u : 256u);
      };
      const auto color = [&](int x, int y) { return Rgb{10 * x, differs(x, y) ? 200 : 20, 7}; };
      const auto file = MakeBmp(bmp, index, color);

      std::vector<std::uint8_t> pixels;
      int w = 0, h = 0;
      ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &pixels, &w, &h));
      ExpectPadding(pixels, w, h);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) {
          const Rgb want = bpp > 8 ? color(x, y) : bmp.palette[index(x, y)];
          EXPECT_EQ(PixelAt(pixels, w, h, x, y), want) << "x " << x << " y " << y;
        }
    }
  }
}

TEST(DecodeBmpTest, IndexesBeyondAShortPaletteAreBlack) {
  BmpLayout bmp;
  bmp.bpp = 8;
  bmp.width = 6;
  bmp.palette = Palette(7);
  bmp.colorsUsed = 7;
  const auto index = [](int x, int y) {
    return static_cast<std::uint32_t>(x + 6 * y) % 12 + (y == 4 ? 240 : 0);
  };
  const auto file = MakeBmp(bmp, index, TrueColor);

  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &pixels, &w, &h));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const std::uint32_t i = index(x, y);
      const Rgb want = i < 7 ? bmp.palette[i] : Rgb{0, 0, 0};
      EXPECT_EQ(PixelAt(pixels, w, h, x, y), want) << "x " << x << " y " << y;
    }

  // Same for a 1-bit image whose table has a single entry.
  BmpLayout mono;
  mono.bpp = 1;
  mono.width = 9;
  mono.height = 2;
  mono.palette = {{200, 100, 50}};
  mono.colorsUsed = 1;
  const auto monoFile = MakeBmp(
      mono, [](int x, int y) { return static_cast<std::uint32_t>((x + y) % 2); }, TrueColor);
  ASSERT_TRUE(DecodeBmp(monoFile.data(), monoFile.size(), &pixels, &w, &h));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(PixelAt(pixels, w, h, x, y), ((x + y) % 2 == 0 ? Rgb{200, 100, 50} : Rgb{0, 0, 0}));
}

void Set32(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Set16(std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t v) {
  file[at] = static_cast<std::uint8_t>(v);
  file[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A valid 8-bit file for the malformed cases to break one field of.
std::vector<std::uint8_t> ValidIndexedFile() {
  BmpLayout bmp;
  bmp.bpp = 8;
  bmp.width = 6;
  bmp.palette = Palette(256);
  return MakeBmp(
      bmp, [](int x, int y) { return static_cast<std::uint32_t>(x * 40 + y); }, TrueColor);
}

TEST(DecodeBmpTest, RejectsMalformedHeaders) {
  const auto valid = ValidIndexedFile();
  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0;
  ASSERT_TRUE(DecodeBmp(valid.data(), valid.size(), &pixels, &w, &h));

  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> edit;
  };
  const Case cases[] = {
      {"magic", [](auto& f) { f[1] = 'A'; }},
      {"core header", [](auto& f) { Set32(f, 14, 12); }},
      {"header past the end", [](auto& f) { Set32(f, 14, 0xFFFFFFF0u); }},
      {"zero width", [](auto& f) { Set32(f, 18, 0); }},
      {"negative width", [](auto& f) { Set32(f, 18, static_cast<std::uint32_t>(-6)); }},
      {"zero height", [](auto& f) { Set32(f, 22, 0); }},
      {"most negative height", [](auto& f) { Set32(f, 22, 0x80000000u); }},
      {"huge both ways",
       [](auto& f) {
         Set32(f, 18, 0x7FFFFFFFu);
         Set32(f, 22, 0x7FFFFFFFu);
       }},
      {"width beyond the data", [](auto& f) { Set32(f, 18, 9); }},
      {"height beyond the data", [](auto& f) { Set32(f, 22, 6); }},
      {"planes", [](auto& f) { Set16(f, 26, 2); }},
      {"2 bits per pixel", [](auto& f) { Set16(f, 28, 2); }},
      {"16 bits per pixel", [](auto& f) { Set16(f, 28, 16); }},
      {"run-length compression", [](auto& f) { Set32(f, 30, 1); }},
      {"bit fields", [](auto& f) { Set32(f, 30, 3); }},
      {"colour table past the end", [](auto& f) { Set32(f, 46, 0xFFFFFFFFu); }},
      {"pixels past the end",
       [](auto& f) { Set32(f, 10, static_cast<std::uint32_t>(f.size() - 10)); }},
      {"pixel offset past the end", [](auto& f) { Set32(f, 10, 0xFFFFFFFFu); }},
      {"pixel offset inside the header", [](auto& f) { Set32(f, 10, 20); }},
  };
  for (const Case& c : cases) {
    auto file = valid;
    c.edit(file);
    EXPECT_FALSE(DecodeExact(file, file.size(), &pixels, &w, &h)) << c.what;
  }

  EXPECT_FALSE(DecodeBmp(nullptr, 100, &pixels, &w, &h));
  EXPECT_FALSE(DecodeBmp(valid.data(), valid.size(), nullptr, &w, &h));
  EXPECT_FALSE(DecodeBmp(valid.data(), valid.size(), &pixels, nullptr, &h));
  EXPECT_FALSE(DecodeBmp(valid.data(), valid.size(), &pixels, &w, nullptr));
}

TEST(DecodeBmpTest, RejectsPicturesOverTheMemoryLimit) {
  // 1 bit per pixel keeps the file small (12.5 MB) while 24-bit rows would need 300 MB.
  constexpr int kWidth = 100000, kHeight = 1000;
  ASSERT_GT(RowBytes(kWidth, 24) * kHeight, kMaxSurfaceBytes);
  BmpLayout bmp;
  bmp.bpp = 1;
  bmp.width = 8;
  bmp.height = 1;
  bmp.palette = Palette(2);
  auto file = MakeBmp(
      bmp, [](int, int) { return 0u; }, TrueColor);
  file.resize(54 + 8, 0);  // headers and colour table only
  Set32(file, 18, kWidth);
  Set32(file, 22, kHeight);
  file.resize(file.size() + static_cast<std::size_t>(RowBytes(kWidth, 1)) * kHeight, 0);
  std::vector<std::uint8_t> pixels;
  int w = 0, h = 0;
  EXPECT_FALSE(DecodeBmp(file.data(), file.size(), &pixels, &w, &h));

  // The same file cut to fewer rows is within the limit and decodes.
  Set32(file, 22, 10);
  ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &pixels, &w, &h));
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, 10);
}

TEST(DecodeBmpTest, TruncatedFilesFailAtEveryLength) {
  BmpLayout indexed;
  indexed.bpp = 4;
  indexed.width = 5;
  indexed.palette = Palette(16);
  BmpLayout topDown;
  topDown.bpp = 32;
  topDown.height = -5;
  const std::vector<std::uint8_t> files[] = {
      MakeBmp(
          indexed, [](int x, int y) { return static_cast<std::uint32_t>(x + y); }, TrueColor),
      MakeBmp(topDown, nullptr, TrueColor)};
  for (const auto& file : files) {
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(DecodeExact(file, file.size(), &pixels, &w, &h));
    for (std::size_t size = 0; size < file.size(); ++size)
      EXPECT_FALSE(DecodeExact(file, size, &pixels, &w, &h)) << "length " << size;
  }
}

TEST(DecodeBmpTest, CorruptedHeaderBytesNeverGiveAnInconsistentPicture) {
  const auto valid = ValidIndexedFile();
  for (std::size_t at = 0; at < 54 + 16; ++at) {
    for (const std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      auto file = valid;
      file[at] = value;
      std::vector<std::uint8_t> pixels;
      int w = 0, h = 0;
      if (!DecodeExact(file, file.size(), &pixels, &w, &h)) continue;
      ASSERT_GT(w, 0) << "byte " << at << " = " << int{value};
      ASSERT_GT(h, 0) << "byte " << at << " = " << int{value};
      EXPECT_EQ(pixels.size(), static_cast<std::size_t>(RowBytes(w, 24) * h))
          << "byte " << at << " = " << int{value};
    }
  }
}

ResourceImage Load(int id) {
  ResourceImage image;
  EXPECT_TRUE(LoadResourceImage(nullptr, id, &image)) << "resource " << id;
  return image;
}

Rgb ResourcePixel(const ResourceImage& image, int x, int y) {
  const std::uint8_t* p =
      image.bits + static_cast<std::ptrdiff_t>(image.height - 1 - y) * image.rowBytes + x * 3;
  return {p[2], p[1], p[0]};
}

void ExpectNear(const Rgb& got, const Rgb& want, int tolerance) {
  for (int ch = 0; ch < 3; ++ch)
    EXPECT_NEAR(got[ch], want[ch], tolerance)
        << "channel " << ch << " of (" << got[0] << ", " << got[1] << ", " << got[2] << ")";
}

TEST(LoadResourceImageTest, BackgroundIsTheSameHorizontalGradientOnEveryRow) {
  const ResourceImage bg = Load(202);
  ASSERT_EQ(bg.width, 640);
  ASSERT_EQ(bg.height, 300);
  ASSERT_EQ(bg.bitsPerPixel, 24);
  ASSERT_EQ(bg.rowBytes, RowBytes(640, 24));
  ASSERT_NE(bg.bits, nullptr);

  for (int row = 1; row < bg.height; ++row)
    ASSERT_TRUE(std::equal(bg.bits, bg.bits + bg.rowBytes, bg.bits + row * bg.rowBytes))
        << "row " << row;

  ExpectNear(ResourcePixel(bg, 0, 0), {244, 247, 247}, 2);
  ExpectNear(ResourcePixel(bg, 639, 0), {199, 207, 223}, 2);

  // Darker to the right on average, and smooth from column to column.
  std::array<double, 3> previous{1e9, 1e9, 1e9};
  for (int block = 0; block < 8; ++block) {
    std::array<double, 3> mean{};
    for (int x = block * 80; x < (block + 1) * 80; ++x) {
      const Rgb c = ResourcePixel(bg, x, 0);
      for (int ch = 0; ch < 3; ++ch) mean[ch] += c[ch] / 80.0;
    }
    for (int ch = 0; ch < 3; ++ch)
      EXPECT_LT(mean[ch], previous[ch]) << "block " << block << " channel " << ch;
    previous = mean;
  }
  for (int x = 1; x < bg.width; ++x)
    ExpectNear(ResourcePixel(bg, x, 0), ResourcePixel(bg, x - 1, 0), 2);
}

TEST(LoadResourceImageTest, LogoAndToolboxHaveTheirSizes) {
  const ResourceImage logo = Load(203);
  ASSERT_EQ(logo.width, 180);
  ASSERT_EQ(logo.height, 142);
  ASSERT_EQ(logo.rowBytes, RowBytes(180, 24));
  EXPECT_EQ(ResourcePixel(logo, 0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(ResourcePixel(logo, 179, 141), (Rgb{255, 255, 255}));
  std::set<Rgb> logoColors;
  for (int y = 0; y < logo.height; ++y)
    for (int x = 0; x < logo.width; ++x) logoColors.insert(ResourcePixel(logo, x, y));
  EXPECT_GT(logoColors.size(), 8u) << "the logo should be more than a blank";

  const ResourceImage toolbox = Load(101);
  ASSERT_EQ(toolbox.width, 16);
  ASSERT_EQ(toolbox.height, 16);
  ASSERT_EQ(toolbox.rowBytes, RowBytes(16, 24));
  std::set<Rgb> iconColors;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) iconColors.insert(ResourcePixel(toolbox, x, y));
  EXPECT_GE(iconColors.size(), 3u);
}

TEST(LoadResourceImageTest, DecodesOnceAndSharesThePixels) {
  std::vector<const std::uint8_t*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] {
      ResourceImage image;
      if (LoadResourceImage(nullptr, 203, &image)) seen[i] = image.bits;
    });
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  for (const auto* bits : seen) EXPECT_EQ(bits, seen[0]);

#if !defined(_WIN32)
  // The bitmaps are this library's own: the module handle is not consulted.
  int dummy = 0;
  ResourceImage again;
  ASSERT_TRUE(LoadResourceImage(&dummy, 203, &again));
  EXPECT_EQ(again.bits, seen[0]);
#endif
}

#if !defined(_WIN32) && defined(NORVISK_SOURCE_DIR)
// The pixels compiled in when the project was built are those of the files, decoded.
TEST(LoadResourceImageTest, CompiledInBitmapsAreTheirFilesDecoded) {
  const std::pair<int, const char*> resources[] = {
      {202, "background.bmp"}, {203, "logo.bmp"}, {101, "toolbox.bmp"}};
  for (const auto& [id, name] : resources) {
    const std::string path = std::string(NORVISK_SOURCE_DIR) + "/src/resources/" + name;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> decoded;
    int w = 0, h = 0;
    ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &decoded, &w, &h)) << name;
    const ResourceImage image = Load(id);
    ASSERT_EQ(image.width, w) << name;
    ASSERT_EQ(image.height, h) << name;
    ASSERT_EQ(static_cast<std::size_t>(image.rowBytes) * image.height, decoded.size()) << name;
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), image.bits)) << name;
    // Each row's source is an earlier or the same row, with the same bytes.
    ASSERT_NE(image.rowSource, nullptr) << name;
    std::set<std::uint32_t> sources;
    for (int y = 0; y < h; ++y) {
      const std::uint32_t from = image.rowSource[y];
      ASSERT_LE(from, static_cast<std::uint32_t>(y)) << name << " row " << y;
      EXPECT_TRUE(std::equal(image.bits + from * image.rowBytes,
                             image.bits + (from + 1) * image.rowBytes,
                             image.bits + y * image.rowBytes))
          << name << " row " << y << " from " << from;
      sources.insert(from);
    }
    if (id == 202) {
      EXPECT_EQ(sources.size(), 1u) << "the background is one row repeated";
    }
  }
}
#endif

TEST(LoadResourceImageTest, UnknownIdsFail) {
  ResourceImage image;
  EXPECT_FALSE(LoadResourceImage(nullptr, 999, &image));
  EXPECT_FALSE(LoadResourceImage(nullptr, 0, &image));
  EXPECT_FALSE(LoadResourceImage(nullptr, -202, &image));
  EXPECT_EQ(image.bits, nullptr);
  EXPECT_FALSE(LoadResourceImage(nullptr, 202, nullptr));
}

}  // namespace
}  // namespace norvisk
