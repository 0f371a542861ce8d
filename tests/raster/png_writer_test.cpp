// WritePng: charts read back by a decoder of the test's own (zlib, the five filters written out)
// against the BMP of the same picture, every file checked by pngcheck, the same bytes every
// time, and failures: memory, a refusing sink, input it does not take.
#include "raster/png_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "graph/bar_graph.h"
#include "graph/xy_graph.h"
#include "raster/bmp_writer.h"
#include "raster/memory_sink.h"
#include "support/failing_allocator.h"
#include "support/test_support.h"

namespace norvisk {
namespace {

using Bytes = std::vector<unsigned char>;

std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

struct Decoded {
  std::string error;  // empty when the file was read
  int width = 0;
  int height = 0;
  std::vector<std::string> chunks;  // types in file order
  Bytes filters;                    // each row's filter type
  Bytes rgb;                        // top row first, 3 bytes a pixel
};

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Any 8-bit RGB PNG without interlacing: chunk lengths and CRCs, the IHDR, the zlib stream of
// the IDAT chunks, the filters of every row.
Decoded ReadPng(const Bytes& file) {
  Decoded d;
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
    d.error = "no PNG signature";
    return d;
  }
  Bytes stream;
  std::size_t at = 8;
  while (at < file.size()) {
    if (file.size() - at < 12) {
      d.error = "chunk cut short at " + std::to_string(at);
      return d;
    }
    const std::uint32_t length = Big32(&file[at]);
    if (length > file.size() - at - 12) {
      d.error = "chunk length past the end at " + std::to_string(at);
      return d;
    }
    const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
    const unsigned char* data = &file[at + 8];
    const uLong crc = crc32(crc32(0, nullptr, 0), &file[at + 4], length + 4);
    if (crc != Big32(data + length)) {
      d.error = "bad CRC in " + type;
      return d;
    }
    d.chunks.push_back(type);
    if (type == "IHDR") {
      if (length != 13) {
        d.error = "IHDR of " + std::to_string(length) + " bytes";
        return d;
      }
      d.width = static_cast<int>(Big32(data));
      d.height = static_cast<int>(Big32(data + 4));
      if (data[8] != 8 || data[9] != 2 || data[10] != 0 || data[11] != 0 || data[12] != 0) {
        d.error = "not 8-bit RGB without interlacing";
        return d;
      }
    } else if (type == "IDAT") {
      stream.insert(stream.end(), data, data + length);
    }
    at += 12 + length;
  }
  if (d.width <= 0 || d.height <= 0) {
    d.error = "no picture size";
    return d;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(d.width) * 3;
  Bytes raw((rowBytes + 1) * d.height + 1);  // one byte more: a longer stream is an error
  uLongf rawSize = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &rawSize, stream.data(), static_cast<uLong>(stream.size())) != Z_OK) {
    d.error = "the IDAT data is not one zlib stream";
    return d;
  }
  if (rawSize != raw.size() - 1) {
    d.error = "inflated to " + std::to_string(rawSize) + " bytes";
    return d;
  }
  d.rgb.assign(rowBytes * d.height, 0);
  const Bytes zero(rowBytes, 0);
  for (int y = 0; y < d.height; ++y) {
    const unsigned char* in = &raw[(rowBytes + 1) * y];
    unsigned char* out = &d.rgb[rowBytes * y];
    const unsigned char* up = y > 0 ? out - rowBytes : zero.data();
    d.filters.push_back(in[0]);
    for (std::size_t i = 0; i < rowBytes; ++i) {
      const int a = i >= 3 ? out[i - 3] : 0;
      const int b = up[i];
      const int c = i >= 3 ? up[i - 3] : 0;
      int predicted = 0;
      switch (in[0]) {
        case 0: predicted = 0; break;
        case 1: predicted = a; break;
        case 2: predicted = b; break;
        case 3: predicted = (a + b) / 2; break;
        case 4: predicted = Paeth(a, b, c); break;
        default: d.error = "filter type " + std::to_string(in[0]); return d;
      }
      out[i] = static_cast<unsigned char>(in[1 + i] + predicted);
    }
  }
  return d;
}

// The BMP of the same surface, as top-down RGB.
Bytes BmpPixels(const SurfaceBits& bits) {
  SurfaceDesc desc;
  desc.width = bits.width;
  desc.height = bits.height;
  MemorySink bmp;
  if (!WriteBmp(bits, desc, bmp.sink())) return {};
  const unsigned char* file = bmp.data();
  const std::uint32_t offset = file[10] | (file[11] << 8) | (file[12] << 16) | (file[13] << 24);
  const std::size_t stride = static_cast<std::size_t>(RowBytes(bits.width, 24));
  Bytes rgb;
  for (int y = 0; y < bits.height; ++y) {
    const unsigned char* row = file + offset + stride * (bits.height - 1 - y);
    for (int x = 0; x < bits.width; ++x) {
      rgb.push_back(row[3 * x + 2]);
      rgb.push_back(row[3 * x + 1]);
      rgb.push_back(row[3 * x]);
    }
  }
  return rgb;
}

Bytes Encode(const SurfaceBits& bits, ExportResult* result = nullptr) {
  MemorySink sink;
  const ExportResult r = WritePng(bits, sink.sink());
  if (result != nullptr) *result = r;
  return Bytes(sink.data(), sink.data() + sink.size());
}

// What pngcheck says of the file; empty when it accepts it.
std::string PngcheckComplaint(const norvisk_test::TestDir& dir, const Bytes& png) {
#if defined(_WIN32)
  (void)dir;
  (void)png;
  return "";  // Linux only; the decoder above checks the CRCs here
#else
  const std::string path = dir.File("picture.png");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  const std::string report = dir.File("pngcheck.txt");
  const int status = std::system(("pngcheck '" + path + "' > '" + report + "' 2>&1").c_str());
  if (status == 0) return "";
  std::ifstream in(report);
  return "pngcheck exit " + std::to_string(status) + ": " +
         std::string(std::istreambuf_iterator<char>(in), {});
#endif
}

constexpr const char* kFourBars =
    "(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

std::string Points(int n) {
  std::string data;
  for (int i = 0; i < n; ++i)
    data += "(M" + std::to_string(i) + ";" + std::to_string((i * 37) % 23) + ")";
  return data;
}

// A picture to write: a chart drawn on its canvas, or pixels made by hand.
struct Picture {
  std::unique_ptr<Graph> graph;
  Bytes memory;
  SurfaceBits bits;
};

Picture Chart(bool bar, int width, int height) {
  Picture p;
  if (bar) {
    p.graph = std::make_unique<BarGraph>(width, height);
  } else {
    p.graph = std::make_unique<XYGraph>(width, height);
  }
  p.graph->LoadBackground(nullptr, kBackgroundBitmap);
  p.graph->LoadData(bar ? std::string(kFourBars) : Points(200));
  p.graph->Prepare();
  p.bits = p.graph->canvas->Bits();
  return p;
}

// Random pixels in rows longer than the writer hands the compressor at once: the stream spans
// several IDAT chunks and rows are split between pieces. A few rows repeat.
Picture Noise(int width, int height) {
  Picture p;
  const std::size_t stride = static_cast<std::size_t>(RowBytes(width, 24));
  p.memory.resize(stride * height);
  std::mt19937 random(7);
  for (auto& byte : p.memory) byte = static_cast<unsigned char>(random());
  for (int y = 2; y < height; y += 3) {
    std::memcpy(&p.memory[stride * y], &p.memory[stride * (y - 1)], stride);
  }
  p.bits.bits = p.memory.data();
  p.bits.width = width;
  p.bits.height = height;
  p.bits.bitsPerPixel = 24;
  p.bits.rowBytes = static_cast<int>(stride);
  return p;
}

struct Case {
  const char* name;
  Picture (*make)();
};

const Case kCases[] = {
    {"Bar640x300", [] { return Chart(true, 640, 300); }},
    {"XY640x300", [] { return Chart(false, 640, 300); }},
    {"Bar333x201", [] { return Chart(true, 333, 201); }},
    {"XY333x201", [] { return Chart(false, 333, 201); }},
    {"Bar1x1", [] { return Chart(true, 1, 1); }},
    {"XY1x1", [] { return Chart(false, 1, 1); }},
    {"Bar900x450", [] { return Chart(true, 900, 450); }},
    {"XY900x450", [] { return Chart(false, 900, 450); }},
    {"Noise30001x7", [] { return Noise(30001, 7); }},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class PngPictureTest : public ::testing::TestWithParam<Case> {};

TEST_P(PngPictureTest, DecodesToTheBmpPixelsInAFilePngcheckAccepts) {
  const Picture p = GetParam().make();
  ASSERT_NE(p.bits.bits, nullptr);
  ExportResult result = ExportResult::NotWritten;
  const Bytes png = Encode(p.bits, &result);
  ASSERT_EQ(result, ExportResult::Written);
  const Decoded d = ReadPng(png);
  ASSERT_EQ(d.error, "");
  EXPECT_EQ(d.width, p.bits.width);
  EXPECT_EQ(d.height, p.bits.height);
  // One IHDR first, then only IDAT chunks, IEND last.
  ASSERT_GE(d.chunks.size(), 3u);
  EXPECT_EQ(d.chunks.front(), "IHDR");
  EXPECT_EQ(d.chunks.back(), "IEND");
  for (std::size_t i = 1; i + 1 < d.chunks.size(); ++i) EXPECT_EQ(d.chunks[i], "IDAT") << i;
  const Bytes expected = BmpPixels(p.bits);
  ASSERT_EQ(d.rgb.size(), expected.size());
  EXPECT_TRUE(d.rgb == expected) << "the pixels differ from the BMP's";
  // A row equal to the one above is up-filtered, any other unfiltered.
  const std::size_t rowBytes = static_cast<std::size_t>(d.width) * 3;
  for (int y = 0; y < d.height; ++y) {
    const bool repeat =
        y > 0 && std::memcmp(&d.rgb[rowBytes * y], &d.rgb[rowBytes * (y - 1)], rowBytes) == 0;
    ASSERT_EQ(d.filters[y], repeat ? 2 : 0) << "row " << y;
  }
  norvisk_test::TestDir dir;
  EXPECT_EQ(PngcheckComplaint(dir, png), "");
}

TEST_P(PngPictureTest, SamePicturesGiveTheSameBytes) {
  const Picture a = GetParam().make();
  const Picture b = GetParam().make();
  const Bytes first = Encode(a.bits);
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(Encode(a.bits) == first);
  EXPECT_TRUE(Encode(b.bits) == first);
}

INSTANTIATE_TEST_SUITE_P(Pictures, PngPictureTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.name);
                         });

TEST(PngWriterTest, ChartIsSmallerThanItsPixelsByFar) {
  const Picture p = Chart(true, 640, 300);
  const Bytes png = Encode(p.bits);
  // 576,000 bytes of pixels; the rows that repeat must cost next to nothing.
  EXPECT_GT(png.size(), 1000u);
  EXPECT_LT(png.size(), 24u * 1024);
}

TEST(PngWriterTest, EveryRefusedAllocationLeavesTheSinkEmpty) {
  const Picture p = Chart(true, 640, 300);
  const Bytes expected = Encode(p.bits);
  long n = 0;
  int noMemory = 0;
  for (; n < 1000; ++n) {
    MemorySink sink;
    ExportResult result = ExportResult::NotWritten;
    long refused = 0;
    // A new thread has no workspace yet: the first picture it encodes makes one.
    std::thread([&] {
      norvisk_test::FailingAllocator::Arm(n);
      result = WritePng(p.bits, sink.sink());
      refused = norvisk_test::FailingAllocator::Disarm();
    }).join();
    const Bytes written(sink.data(), sink.data() + sink.size());
    if (refused == 0) {
      EXPECT_EQ(result, ExportResult::Written);
      EXPECT_TRUE(written == expected);
      break;
    }
    // The runtime's own bookkeeping for the thread's workspace (mingw's) may be what was
    // refused; the picture is then whole. Anything else is no memory and no bytes.
    if (result == ExportResult::Written) {
      EXPECT_TRUE(written == expected) << "allocation " << n;
      continue;
    }
    ++noMemory;
    EXPECT_EQ(result, ExportResult::NoMemory) << "allocation " << n;
    EXPECT_EQ(sink.size(), 0u) << "allocation " << n;
  }
  EXPECT_GE(noMemory, 1) << "the writer allocates nothing that could fail";
  EXPECT_LT(n, 1000);
}

TEST(PngWriterTest, AThreadEncodesAgainWithoutAllocating) {
  const Picture p = Chart(false, 640, 300);
  std::thread([&] {
    const Bytes first = Encode(p.bits);
    // Every allocation from here on would fail: the workspace the thread kept is used.
    MemorySink sink;
    norvisk_test::FailingAllocator::Arm(0, true);
    const ExportResult result = WritePng(p.bits, sink.sink());
    const long refused = norvisk_test::FailingAllocator::Disarm();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(result, ExportResult::Written);
    EXPECT_TRUE(Bytes(sink.data(), sink.data() + sink.size()) == first);
  }).join();
}

// A sink that takes `accept` pieces and refuses the next one.
struct RefusingSink {
  int accept = 0;
  int calls = 0;
  Bytes taken;
  static bool Write(void* context, const void* data, std::size_t size) {
    auto* self = static_cast<RefusingSink*>(context);
    if (self->calls++ == self->accept) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    self->taken.insert(self->taken.end(), bytes, bytes + size);
    return true;
  }
};

TEST(PngWriterTest, RefusedPieceMeansNotWrittenAndNothingMore) {
  const Picture p = Noise(30001, 7);
  RefusingSink all;
  all.accept = -1;
  ASSERT_EQ(WritePng(p.bits, ImageSink{&RefusingSink::Write, &all}), ExportResult::Written);
  ASSERT_GE(all.calls, 3) << "the picture should take several pieces";
  for (int accept = 0; accept < all.calls; ++accept) {
    RefusingSink sink;
    sink.accept = accept;
    EXPECT_EQ(WritePng(p.bits, ImageSink{&RefusingSink::Write, &sink}), ExportResult::NotWritten)
        << accept;
    EXPECT_EQ(sink.calls, accept + 1) << "written on after a refusal";
    EXPECT_TRUE(Bytes(all.taken.begin(), all.taken.begin() + sink.taken.size()) == sink.taken);
  }
}

TEST(PngWriterTest, InputItDoesNotTakeWritesNothing) {
  Picture p = Noise(5, 3);
  const SurfaceBits good = p.bits;
  SurfaceBits noPixels = good;
  noPixels.bits = nullptr;
  SurfaceBits otherDepth = good;
  otherDepth.bitsPerPixel = 32;
  SurfaceBits noWidth = good;
  noWidth.width = 0;
  SurfaceBits noHeight = good;
  noHeight.height = -1;
  SurfaceBits shortRows = good;
  shortRows.rowBytes = 15;  // 5 pixels need 16 bytes a row with the padding
  for (const SurfaceBits& bits : {noPixels, otherDepth, noWidth, noHeight, shortRows}) {
    RefusingSink sink;
    sink.accept = -1;
    EXPECT_EQ(WritePng(bits, ImageSink{&RefusingSink::Write, &sink}), ExportResult::NotWritten);
    EXPECT_EQ(sink.calls, 0);
  }
  EXPECT_EQ(WritePng(good, ImageSink{}), ExportResult::NotWritten) << "a sink without a function";
}

}  // namespace
}  // namespace norvisk
