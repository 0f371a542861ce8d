// JpegWriter, ToRgbRows and Expand555: file structure, pixels read back, and failures.
#include "raster/jpeg_writer.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "raster/canvas.h"
#include "raster/memory_sink.h"

namespace norvisk {
namespace {

namespace fs = std::filesystem;

struct Rgb {
  int r, g, b;
};

using PixelFn = std::function<Rgb(int x, int y)>;

// A surface built by hand in the layout a bitmap query reports: bottom row first, rows padded.
struct Surface {
  std::vector<std::uint8_t> memory;
  std::vector<std::uint8_t> palette;
  SurfaceBits bits;
};

Surface MakeSurface(int width, int height, int bpp) {
  Surface s;
  s.bits.width = width;
  s.bits.height = height;
  s.bits.bitsPerPixel = bpp;
  s.bits.rowBytes = static_cast<int>(RowBytes(width, bpp));
  s.memory.assign(static_cast<std::size_t>(s.bits.rowBytes) * height, 0);
  s.bits.bits = s.memory.data();
  return s;
}

std::uint8_t* PixelAt(Surface& s, int x, int y) {
  return s.memory.data() + static_cast<std::size_t>(s.bits.height - 1 - y) * s.bits.rowBytes +
         static_cast<std::size_t>(x) * s.bits.bitsPerPixel / 8;
}

// `padding` fills the bytes after each row's last pixel: they must never show in the output.
Surface Make24(int width, int height, const PixelFn& pixel, std::uint8_t padding = 0) {
  Surface s = MakeSurface(width, height, 24);
  std::fill(s.memory.begin(), s.memory.end(), padding);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = pixel(x, y);
      std::uint8_t* p = PixelAt(s, x, y);
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
    }
  }
  return s;
}

Surface Make32(int width, int height, const PixelFn& pixel, std::uint8_t unused) {
  Surface s = MakeSurface(width, height, 32);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = pixel(x, y);
      std::uint8_t* p = PixelAt(s, x, y);
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
      p[3] = unused;
    }
  }
  return s;
}

Surface Make16(int width, int height, const std::function<std::uint16_t(int, int)>& pixel) {
  Surface s = MakeSurface(width, height, 16);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint16_t v = pixel(x, y);
      std::uint8_t* p = PixelAt(s, x, y);
      p[0] = static_cast<std::uint8_t>(v & 0xFF);
      p[1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
  return s;
}

// Indexed pixels are packed most significant bits first.
Surface MakeIndexed(int width, int height, int bpp, const std::vector<Rgb>& table,
                    const std::function<int(int, int)>& index) {
  Surface s = MakeSurface(width, height, bpp);
  for (const Rgb& c : table) {
    s.palette.insert(s.palette.end(),
                     {static_cast<std::uint8_t>(c.b), static_cast<std::uint8_t>(c.g),
                      static_cast<std::uint8_t>(c.r), 0x77});
  }
  s.bits.colorTable = s.palette.data();
  s.bits.colorCount = static_cast<int>(table.size());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row =
        s.memory.data() + static_cast<std::size_t>(height - 1 - y) * s.bits.rowBytes;
    for (int x = 0; x < width; ++x) {
      const int bit = x * bpp;
      row[bit / 8] |= static_cast<std::uint8_t>(index(x, y) << (8 - bpp - bit % 8));
    }
  }
  return s;
}

// Every pixel different, so that any flip, shift or channel swap shows.
Rgb Distinct(int x, int y) { return {10 + 40 * x, 20 + 45 * y, 250 - 20 * x - 7 * y}; }

PixelFn Gradient(int width, int height) {
  return [width, height](int x, int y) {
    return Rgb{x * 255 / (width - 1), y * 255 / (height - 1), (x * 7 + y * 3) & 0xFF};
  };
}

// The 5-bit to 8-bit level rule.
int Level5(int k) { return k == 0 ? 0 : k == 31 ? 255 : 8 * k + 8; }

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The RGB route as the library documents it: converted rows handed over as red-green-blue.
bool WriteReference(const SurfaceBits& bits, int quality, const fs::path& path) {
  const int samples = bits.width * 3;
  std::vector<unsigned char> buffer(static_cast<std::size_t>(samples) * bits.height);
  std::vector<unsigned char*> rows(bits.height);
  for (int r = 0; r < bits.height; ++r)
    rows[r] = buffer.data() + static_cast<std::size_t>(r) * samples;
  if (!ToRgbRows(&bits, samples, rows.data())) return false;

  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(bits.width);
  cinfo.image_height = static_cast<JDIMENSION>(bits.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  jpeg_write_scanlines(&cinfo, rows.data(), static_cast<JDIMENSION>(bits.height));
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(file) == 0;
}

// Marker segments from SOI up to and including SOS: marker code and payload after the length.
struct Segment {
  int marker;
  std::vector<std::uint8_t> data;
};

std::vector<Segment> HeaderSegments(const std::vector<std::uint8_t>& file) {
  std::vector<Segment> segments;
  std::size_t pos = 2;
  while (pos + 4 <= file.size() && file[pos] == 0xFF) {
    const int marker = file[pos + 1];
    const std::size_t length = (file[pos + 2] << 8) | file[pos + 3];
    if (length < 2 || pos + 2 + length > file.size()) break;
    segments.push_back({marker, std::vector<std::uint8_t>(file.begin() + pos + 4,
                                                          file.begin() + pos + 2 + length)});
    if (marker == 0xDA) break;
    pos += 2 + length;
  }
  return segments;
}

const Segment* Find(const std::vector<Segment>& segments, int marker) {
  for (const Segment& s : segments) {
    if (s.marker == marker) return &s;
  }
  return nullptr;
}

// Example quantisation tables of the JPEG standard (luminance, chrominance), row by row.
constexpr int kLuminance[64] = {16,  11,  10,  16,  24, 40, 51,  61,  12,  12,  14,  19,  26,
                                58,  60,  55,  14,  13, 16, 24,  40,  57,  69,  56,  14,  17,
                                22,  29,  51,  87,  80, 62, 18,  22,  37,  56,  68,  109, 103,
                                77,  24,  35,  55,  64, 81, 104, 113, 92,  49,  64,  78,  87,
                                103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99};
constexpr int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                  24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                  99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// DQT stores coefficients in zigzag order: walk the anti-diagonals, alternating direction.
std::vector<int> ZigzagToRowMajor() {
  std::vector<int> order;
  for (int sum = 0; sum <= 14; ++sum) {
    const int low = std::max(0, sum - 7);
    const int high = std::min(sum, 7);
    for (int i = 0; i <= high - low; ++i) {
      const int row = sum % 2 == 0 ? high - i : low + i;
      order.push_back(row * 8 + (sum - row));
    }
  }
  return order;
}

// The documented quality scaling, limited to baseline (8-bit) values.
std::vector<int> ScaledTable(const int* table, int quality) {
  const int q = std::clamp(quality, 1, 100);
  const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
  std::vector<int> scaled(64);
  for (int i = 0; i < 64; ++i) scaled[i] = std::clamp((table[i] * scale + 50) / 100, 1, 255);
  return scaled;
}

// DQT tables of a file by table number, in row-major order.
std::vector<std::vector<int>> QuantTables(const std::vector<Segment>& segments) {
  const std::vector<int> order = ZigzagToRowMajor();
  std::vector<std::vector<int>> tables(4);
  for (const Segment& s : segments) {
    if (s.marker != 0xDB) continue;
    std::size_t pos = 0;
    while (pos + 65 <= s.data.size()) {
      const int precision = s.data[pos] >> 4;
      const int id = s.data[pos] & 0x0F;
      if (precision != 0 || id > 3) return {};
      tables[id].assign(64, 0);
      for (int i = 0; i < 64; ++i) tables[id][order[i]] = s.data[pos + 1 + i];
      pos += 65;
    }
  }
  return tables;
}

class JpegWriterTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.File(name); }

  // WriteJpeg's bytes, empty when it failed.
  static std::vector<std::uint8_t> Written(const SurfaceBits& bits, int quality) {
    JpegWriter writer;
    MemorySink memory;
    if (!writer.WriteJpeg(&bits, quality, memory.sink())) return {};
    return {memory.data(), memory.data() + memory.size()};
  }
  std::vector<std::uint8_t> Reference(const SurfaceBits& bits, int quality,
                                      const std::string& name) {
    if (!WriteReference(bits, quality, Path(name))) return {};
    return ReadFile(Path(name));
  }

  norvisk_test::TestDir folder_;
};

// --- File structure ---------------------------------------------------------------------------

TEST_F(JpegWriterTest, CanvasSurfaceGivesBaselineJfifWithSubsampledChroma) {
  Canvas canvas(37, 23);
  ASSERT_TRUE(canvas.ready());
  SurfaceBits bits = canvas.Bits();
  ASSERT_EQ(bits.bitsPerPixel, 24);
  const PixelFn pixel = Gradient(37, 23);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) {
      std::uint8_t* p = bits.bits + static_cast<std::size_t>(22 - y) * bits.rowBytes + 3 * x;
      const Rgb c = pixel(x, y);
      p[0] = static_cast<std::uint8_t>(c.b);
      p[1] = static_cast<std::uint8_t>(c.g);
      p[2] = static_cast<std::uint8_t>(c.r);
    }
  }
  const std::vector<std::uint8_t> file = Written(bits, 90);
  ASSERT_GT(file.size(), 4u);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(file[1], 0xD8);
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file[file.size() - 1], 0xD9);

  const std::vector<Segment> segments = HeaderSegments(file);
  ASSERT_FALSE(segments.empty());
  EXPECT_EQ(segments.back().marker, 0xDA);

  // JFIF 1.01, no density unit, 1:1 aspect, no thumbnail; the first segment.
  ASSERT_EQ(segments.front().marker, 0xE0);
  const std::vector<std::uint8_t>& app0 = segments.front().data;
  ASSERT_EQ(app0.size(), 14u);
  EXPECT_EQ(std::string(app0.begin(), app0.begin() + 5), std::string("JFIF\0", 5));
  EXPECT_EQ(app0[5], 1);
  EXPECT_EQ(app0[6], 1);
  EXPECT_EQ(app0[7], 0);
  EXPECT_EQ((app0[8] << 8) | app0[9], 1);
  EXPECT_EQ((app0[10] << 8) | app0[11], 1);
  EXPECT_EQ(app0[12], 0);
  EXPECT_EQ(app0[13], 0);

  // Baseline frame only: no progressive or extended frame header.
  for (const Segment& s : segments) {
    if (s.marker >= 0xC1 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 &&
        s.marker != 0xCC) {
      ADD_FAILURE() << "frame marker 0x" << std::hex << s.marker;
    }
  }
  const Segment* sof = Find(segments, 0xC0);
  ASSERT_NE(sof, nullptr);
  const std::vector<std::uint8_t> expectedSof = {8, 0, 23,   0, 37, 3,    1, 0x22,
                                                 0, 2, 0x11, 1, 3,  0x11, 1};
  EXPECT_EQ(sof->data, expectedSof);
}

class JpegQualityTest : public JpegWriterTest, public ::testing::WithParamInterface<int> {};

TEST_P(JpegQualityTest, QuantTablesAreTheStandardTablesScaled) {
  const int quality = GetParam();
  const Surface s = Make24(16, 16, Gradient(16, 16));
  const std::vector<std::uint8_t> file = Written(s.bits, quality);
  ASSERT_FALSE(file.empty());
  const std::vector<std::vector<int>> tables = QuantTables(HeaderSegments(file));
  ASSERT_EQ(tables.size(), 4u);
  EXPECT_EQ(tables[0], ScaledTable(kLuminance, quality));
  EXPECT_EQ(tables[1], ScaledTable(kChrominance, quality));
  EXPECT_TRUE(tables[2].empty());
  EXPECT_TRUE(tables[3].empty());
}

// 0 is the lowest accepted quality and scales like 1; 1 needs the baseline limit of 255.
INSTANTIATE_TEST_SUITE_P(Qualities, JpegQualityTest, ::testing::Values(0, 1, 25, 50, 75, 90, 100));

// --- Pixel sources ----------------------------------------------------------------------------

TEST_F(JpegWriterTest, TwentyFourBitFileEqualsTheRgbRoute) {
  struct Case {
    int width, height, quality;
    PixelFn pixel;
  };
  const std::vector<Case> cases = {
      {6, 5, 90, Distinct},
      {37, 23, 90, Gradient(37, 23)},
      {37, 23, 75, Gradient(37, 23)},
      {640, 300, 90, Gradient(640, 300)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " q" +
                 std::to_string(c.quality));
    const Surface s = Make24(c.width, c.height, c.pixel);
    const std::vector<std::uint8_t> fast = Written(s.bits, c.quality);
    const std::vector<std::uint8_t> reference = Reference(s.bits, c.quality, "rgb.jpg");
    ASSERT_FALSE(fast.empty());
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(fast == reference);
  }
}

TEST_F(JpegWriterTest, RowPaddingNeverReachesTheFile) {
  const Surface clean = Make24(37, 23, Gradient(37, 23), 0x00);
  const Surface dirty = Make24(37, 23, Gradient(37, 23), 0xEE);
  const std::vector<std::uint8_t> a = Written(clean.bits, 90);
  const std::vector<std::uint8_t> b = Written(dirty.bits, 90);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
}

TEST_F(JpegWriterTest, ThirtyTwoBitSourceEqualsTwentyFourBit) {
  for (const std::uint8_t unused : {0x00, 0xA5}) {
    const Surface s24 = Make24(37, 23, Gradient(37, 23));
    const Surface s32 = Make32(37, 23, Gradient(37, 23), unused);
    const std::vector<std::uint8_t> a = Written(s24.bits, 90);
    const std::vector<std::uint8_t> b = Written(s32.bits, 90);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << "unused byte " << int{unused};
  }
}

TEST_F(JpegWriterTest, SixteenBitSourceEqualsItsExpandedColours) {
  // Levels cover 0 and 31; the top bit is set on every other pixel and must not matter.
  auto r5 = [](int x, int y) { return (x * 5 + y * 3) % 32; };
  auto g5 = [](int x, int y) { return (x * 11 + y * 7 + 31) % 32; };
  auto b5 = [](int x, int y) { return (x + y * 13) % 32; };
  const Surface s16 = Make16(19, 13, [&](int x, int y) {
    return static_cast<std::uint16_t>(((x + y) % 2 ? 0x8000 : 0) | (r5(x, y) << 10) |
                                      (g5(x, y) << 5) | b5(x, y));
  });
  const Surface s24 = Make24(19, 13, [&](int x, int y) {
    return Rgb{Level5(r5(x, y)), Level5(g5(x, y)), Level5(b5(x, y))};
  });
  const std::vector<std::uint8_t> a = Written(s16.bits, 90);
  const std::vector<std::uint8_t> b = Written(s24.bits, 90);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
}

TEST_F(JpegWriterTest, EightBitSourceEqualsItsPaletteColours) {
  const std::vector<Rgb> table = {
      {0, 0, 0}, {255, 0, 0}, {0, 0, 255}, {30, 200, 90}, {250, 250, 5}};
  // Index 9 is beyond the table and reads as black.
  auto index = [](int x, int y) { return (x == 3 && y == 2) ? 9 : (x * 3 + y) % 5; };
  const Surface s8 = MakeIndexed(13, 9, 8, table, index);
  const Surface s24 = Make24(13, 9, [&](int x, int y) {
    const int i = index(x, y);
    return i < 5 ? table[i] : Rgb{0, 0, 0};
  });
  const std::vector<std::uint8_t> a = Written(s8.bits, 90);
  const std::vector<std::uint8_t> b = Written(s24.bits, 90);
  ASSERT_FALSE(a.empty());
  EXPECT_TRUE(a == b);
}

// --- Failures ---------------------------------------------------------------------------------

// Counts what reaches it; refuses every piece after the first `accepted`.
struct CountingSink {
  int accepted = 1 << 30;
  int pieces = 0;
  std::size_t bytes = 0;
  static bool Write(void* context, const void*, std::size_t size) {
    auto* self = static_cast<CountingSink*>(context);
    if (self->pieces++ == self->accepted) return false;
    self->bytes += size;
    return true;
  }
  ImageSink sink() { return ImageSink{&CountingSink::Write, this}; }
};

TEST_F(JpegWriterTest, InvalidInputReachesNoSink) {
  Surface s = Make24(6, 5, Distinct);
  SurfaceBits noPixels = s.bits;
  noPixels.bits = nullptr;
  struct Case {
    const SurfaceBits* bits;
    int quality;
  };
  const Case cases[] = {{&s.bits, -1}, {&s.bits, 101}, {nullptr, 90}, {&noPixels, 90}};
  for (const Case& c : cases) {
    SCOPED_TRACE("quality " + std::to_string(c.quality));
    JpegWriter writer;
    CountingSink counting;
    EXPECT_FALSE(writer.WriteJpeg(c.bits, c.quality, counting.sink()));
    EXPECT_EQ(counting.pieces, 0);
    EXPECT_FALSE(writer.outOfMemory());
  }
}

TEST_F(JpegWriterTest, QualityLimitsAreAccepted) {
  const Surface s = Make24(6, 5, Distinct);
  for (const int quality : {0, 100}) EXPECT_FALSE(Written(s.bits, quality).empty()) << quality;
}

TEST_F(JpegWriterTest, LibraryErrorReturnsFalseAndTheWriterStaysUsable) {
  // Wider than a JPEG frame can describe: the library refuses while starting.
  Surface wide = Make24(70000, 1, [](int, int) { return Rgb{1, 2, 3}; });
  JpegWriter writer;
  CountingSink refused;
  EXPECT_FALSE(writer.WriteJpeg(&wide.bits, 90, refused.sink()));
  EXPECT_FALSE(writer.outOfMemory());

  const Surface s = Make24(6, 5, Distinct);
  MemorySink memory;
  EXPECT_TRUE(writer.WriteJpeg(&s.bits, 90, memory.sink()));
  EXPECT_TRUE(std::vector<std::uint8_t>(memory.data(), memory.data() + memory.size()) ==
              Reference(s.bits, 90, "ref.jpg"));
}

TEST_F(JpegWriterTest, UnsupportedDepthFails) {
  for (const int bpp : {2, 15}) {
    Surface s = MakeSurface(6, 5, bpp);
    JpegWriter writer;
    CountingSink counting;
    EXPECT_FALSE(writer.WriteJpeg(&s.bits, 90, counting.sink())) << bpp;
    EXPECT_FALSE(writer.outOfMemory());
  }
}

TEST_F(JpegWriterTest, ARefusedPieceEndsTheCompression) {
  // The small picture comes in one piece at the end, the large one in several.
  const Surface small = Make24(6, 5, Distinct);
  const Surface large = Make24(640, 300, [](int x, int y) {
    return Rgb{(x * 7919 + y * 104729) & 0xFF, (x * y) & 0xFF, (x ^ y) & 0xFF};
  });
  for (const Surface* s : {&small, &large}) {
    CountingSink all;
    JpegWriter writer;
    ASSERT_TRUE(writer.WriteJpeg(&s->bits, 90, all.sink()));
    for (int accepted = 0; accepted < all.pieces; ++accepted) {
      SCOPED_TRACE(std::to_string(s->bits.width) + " wide, " + std::to_string(accepted));
      CountingSink refusing;
      refusing.accepted = accepted;
      EXPECT_FALSE(writer.WriteJpeg(&s->bits, 90, refusing.sink()));
      EXPECT_EQ(refusing.pieces, accepted + 1) << "pieces offered after the refusal";
      EXPECT_FALSE(writer.outOfMemory());
    }
  }
}

// --- ToRgbRows --------------------------------------------------------------------------------

class RgbRows {
 public:
  // Rows with room to spare, filled with a sentinel that must survive past width * 3.
  RgbRows(int width, int height, int spare = 6)
      : width_(width), samples_(width * 3 + spare), buffer_(samples_ * height, 0xCD) {
    for (int r = 0; r < height; ++r) rows_.push_back(buffer_.data() + r * samples_);
  }
  unsigned char** rows() { return rows_.data(); }
  int samples() const { return samples_; }
  Rgb At(int x, int y) const {
    const unsigned char* p = rows_[y] + 3 * x;
    return {p[0], p[1], p[2]};
  }
  bool SpareUntouched() const {
    for (unsigned char* row : rows_) {
      for (int i = width_ * 3; i < samples_; ++i) {
        if (row[i] != 0xCD) return false;
      }
    }
    return true;
  }

 private:
  int width_;
  int samples_;
  std::vector<unsigned char> buffer_;
  std::vector<unsigned char*> rows_;
};

void ExpectPicture(const RgbRows& out, int width, int height, const PixelFn& pixel) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb want = pixel(x, y);
      const Rgb got = out.At(x, y);
      EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
          << "(" << x << "," << y << ") got " << got.r << "," << got.g << "," << got.b << " want "
          << want.r << "," << want.g << "," << want.b;
    }
  }
  EXPECT_TRUE(out.SpareUntouched());
}

TEST(ToRgbRowsTest, TrueColourSourcesGiveTopDownRgb) {
  {
    SCOPED_TRACE("24 bits");
    const Surface s = Make24(6, 5, Distinct, 0xEE);
    RgbRows out(6, 5);
    ASSERT_TRUE(ToRgbRows(&s.bits, out.samples(), out.rows()));
    ExpectPicture(out, 6, 5, Distinct);
  }
  {
    SCOPED_TRACE("32 bits");
    const Surface s = Make32(6, 5, Distinct, 0xEE);
    RgbRows out(6, 5);
    ASSERT_TRUE(ToRgbRows(&s.bits, out.samples(), out.rows()));
    ExpectPicture(out, 6, 5, Distinct);
  }
}

TEST(ToRgbRowsTest, EveryRowLengthFillsExactlyItsRow) {
  // Rows exactly width * 3 long and every remainder of a multi-pixel step: nothing is written
  // past a row (the sanitizer build sees the end of each row's allocation).
  for (int width = 1; width <= 10; ++width) {
    SCOPED_TRACE("width " + std::to_string(width));
    const PixelFn pixel = [](int x, int y) { return Distinct(x % 6, y); };
    const Surface s24 = Make24(width, 3, pixel, 0xEE);
    const Surface s32 = Make32(width, 3, pixel, 0xEE);
    for (const Surface* s : {&s24, &s32}) {
      std::vector<std::vector<unsigned char>> buffers(3, std::vector<unsigned char>(width * 3));
      unsigned char* rows[3] = {buffers[0].data(), buffers[1].data(), buffers[2].data()};
      ASSERT_TRUE(ToRgbRows(&s->bits, width * 3, rows));
      for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < width; ++x) {
          const Rgb want = pixel(x, y);
          EXPECT_EQ(rows[y][3 * x], want.r)
              << s->bits.bitsPerPixel << " bits (" << x << "," << y << ")";
          EXPECT_EQ(rows[y][3 * x + 1], want.g)
              << s->bits.bitsPerPixel << " bits (" << x << "," << y << ")";
          EXPECT_EQ(rows[y][3 * x + 2], want.b)
              << s->bits.bitsPerPixel << " bits (" << x << "," << y << ")";
        }
      }
    }
  }
}

TEST(ToRgbRowsTest, SixteenBitSourceIsLittleEndian555) {
  // Odd width: rows are padded to 4 bytes.
  auto value = [](int x, int y) {
    return static_cast<std::uint16_t>(((x * 3 + y) % 32 << 10) | ((y * 7 + 1) % 32 << 5) |
                                      ((x * 9 + 30) % 32) | (x == 1 ? 0x8000 : 0));
  };
  const Surface s = Make16(5, 4, value);
  RgbRows out(5, 4);
  ASSERT_TRUE(ToRgbRows(&s.bits, out.samples(), out.rows()));
  ExpectPicture(out, 5, 4, [](int x, int y) {
    return Rgb{Level5((x * 3 + y) % 32), Level5((y * 7 + 1) % 32), Level5((x * 9 + 30) % 32)};
  });
}

TEST(ToRgbRowsTest, IndexedSourcesReadMostSignificantBitsFirst) {
  const std::vector<Rgb> table = {{0, 10, 20}, {200, 100, 50}, {5, 250, 7}};
  for (const int bpp : {1, 4, 8}) {
    SCOPED_TRACE(std::to_string(bpp) + " bits");
    const int entries = 1 << bpp;
    // Indices up to the format's limit: those past the 3-entry table read black.
    auto index = [entries](int x, int y) { return (x * 5 + y * 3 + x * y) % entries; };
    const Surface s = MakeIndexed(11, 4, bpp, table, index);
    RgbRows out(11, 4);
    ASSERT_TRUE(ToRgbRows(&s.bits, out.samples(), out.rows()));
    ExpectPicture(out, 11, 4, [&](int x, int y) {
      const int i = index(x, y);
      return i < 3 ? table[i] : Rgb{0, 0, 0};
    });
  }
}

TEST(ToRgbRowsTest, IndexedSourceWithoutTableIsBlack) {
  Surface s = MakeIndexed(9, 2, 4, {{9, 9, 9}}, [](int x, int) { return x % 16; });
  s.bits.colorTable = nullptr;
  RgbRows out(9, 2);
  ASSERT_TRUE(ToRgbRows(&s.bits, out.samples(), out.rows()));
  ExpectPicture(out, 9, 2, [](int, int) { return Rgb{0, 0, 0}; });
}

TEST(ToRgbRowsTest, RejectsBadArguments) {
  Surface s = Make24(6, 5, Distinct);
  RgbRows out(6, 5);
  EXPECT_FALSE(ToRgbRows(nullptr, out.samples(), out.rows()));
  EXPECT_FALSE(ToRgbRows(&s.bits, 0, out.rows()));
  EXPECT_FALSE(ToRgbRows(&s.bits, -18, out.rows()));
  EXPECT_FALSE(ToRgbRows(&s.bits, 6 * 3 - 1, out.rows()));
  EXPECT_FALSE(ToRgbRows(&s.bits, out.samples(), nullptr));

  SurfaceBits noPixels = s.bits;
  noPixels.bits = nullptr;
  EXPECT_FALSE(ToRgbRows(&noPixels, out.samples(), out.rows()));

  for (const int bpp : {0, 2, 15, 48}) {
    SurfaceBits other = s.bits;
    other.bitsPerPixel = bpp;
    EXPECT_FALSE(ToRgbRows(&other, out.samples(), out.rows())) << bpp;
  }
  // Nothing was written by any refusal.
  EXPECT_TRUE(out.SpareUntouched());
  EXPECT_EQ(out.At(0, 0).r, 0xCD);
  EXPECT_EQ(out.At(5, 4).b, 0xCD);
}

// --- Expand555 --------------------------------------------------------------------------------

TEST(Expand555Test, EachChannelFollowsTheLevelTable) {
  for (int k = 0; k < 32; ++k) {
    for (const std::uint16_t top : {0x0000, 0x8000}) {
      unsigned char r = 1, g = 1, b = 1;
      Expand555(static_cast<std::uint16_t>(top | k << 10), &r, &g, &b);
      EXPECT_EQ(r, Level5(k)) << k;
      EXPECT_EQ(g, 0);
      EXPECT_EQ(b, 0);
      Expand555(static_cast<std::uint16_t>(top | k << 5), &r, &g, &b);
      EXPECT_EQ(r, 0);
      EXPECT_EQ(g, Level5(k)) << k;
      EXPECT_EQ(b, 0);
      Expand555(static_cast<std::uint16_t>(top | k), &r, &g, &b);
      EXPECT_EQ(r, 0);
      EXPECT_EQ(g, 0);
      EXPECT_EQ(b, Level5(k)) << k;
    }
  }
}

TEST(Expand555Test, KnownPixels) {
  struct Case {
    std::uint16_t pixel;
    int r, g, b;
  };
  const Case cases[] = {{0x7FFF, 255, 255, 255}, {0xFFFF, 255, 255, 255}, {0x0000, 0, 0, 0},
                        {0x0421, 16, 16, 16},    {0x7C00, 255, 0, 0},     {0x03E0, 0, 255, 0},
                        {0x001F, 0, 0, 255},     {0x7BDE, 248, 248, 248}, {0x0842, 24, 24, 24}};
  for (const Case& c : cases) {
    unsigned char r = 0, g = 0, b = 0;
    Expand555(c.pixel, &r, &g, &b);
    EXPECT_EQ(r, c.r) << std::hex << c.pixel;
    EXPECT_EQ(g, c.g) << std::hex << c.pixel;
    EXPECT_EQ(b, c.b) << std::hex << c.pixel;
  }
}

}  // namespace
}  // namespace norvisk
