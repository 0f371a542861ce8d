// JPEG export speed: the bare library with row-by-row RGB input against the writer on a surface.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bare_jpeg.h"
#include "raster/canvas.h"
#include "raster/file_sink.h"
#include "raster/jpeg_writer.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 300;

unsigned char Red(int x, int) { return static_cast<unsigned char>(x * 255 / (kWidth - 1)); }
unsigned char Green(int, int y) { return static_cast<unsigned char>(y * 255 / (kHeight - 1)); }
unsigned char Blue(int x, int y) { return static_cast<unsigned char>((x + 2 * y) & 0xFF); }

std::string OutputPath(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

// The gradient as top-down RGB rows, the input the library documents.
norvisk_bench::RgbPicture GradientRgb() {
  norvisk_bench::RgbPicture picture(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      unsigned char* p = picture.rgb.data() + (static_cast<std::size_t>(y) * kWidth + x) * 3;
      p[0] = Red(x, y);
      p[1] = Green(x, y);
      p[2] = Blue(x, y);
    }
  }
  return picture;
}

// The same gradient on a canvas surface (bottom-up, blue-green-red).
void PaintGradient(norvisk::Canvas& canvas) {
  const norvisk::SurfaceBits bits = canvas.Bits();
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      unsigned char* p = bits.bits + static_cast<std::size_t>(kHeight - 1 - y) * bits.rowBytes +
                         3 * static_cast<std::size_t>(x);
      p[0] = Blue(x, y);
      p[1] = Green(x, y);
      p[2] = Red(x, y);
    }
  }
}

void BM_BareLibjpeg640x300(benchmark::State& state) {
  const norvisk_bench::RgbPicture picture = GradientRgb();
  const std::string path = OutputPath("norvisk-bench-bare.jpg");
  for (auto _ : state) {
    if (!norvisk_bench::CompressToFile(picture, path)) {
      state.SkipWithError("cannot write the output file");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_BareLibjpeg640x300);

void BM_WriteJpegSurface(benchmark::State& state) {
  norvisk::Canvas canvas(kWidth, kHeight);
  if (!canvas.ready()) {
    state.SkipWithError("no surface");
    return;
  }
  PaintGradient(canvas);
  const norvisk::SurfaceBits bits = canvas.Bits();
  const std::string path = OutputPath("norvisk-bench-surface.jpg");
  for (auto _ : state) {
    norvisk::JpegWriter writer;
    norvisk::FileSink file;
    if (!file.Open(path.c_str()) || !writer.WriteJpeg(&bits, 90, file.sink()) || !file.Close()) {
      state.SkipWithError("WriteJpeg failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_WriteJpegSurface);

// The conversion the writer runs for surfaces other than 24 bits (argument: bits per pixel).
void BM_ToRgbRows640x300(benchmark::State& state) {
  const int bpp = static_cast<int>(state.range(0));
  const int rowBytes = static_cast<int>(norvisk::RowBytes(kWidth, bpp));
  std::vector<std::uint8_t> memory(static_cast<std::size_t>(rowBytes) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = memory.data() + static_cast<std::size_t>(kHeight - 1 - y) * rowBytes +
                        static_cast<std::size_t>(x) * (bpp / 8);
      p[0] = Blue(x, y);
      p[1] = Green(x, y);
      p[2] = Red(x, y);
    }
  }
  norvisk::SurfaceBits bits;
  bits.bits = memory.data();
  bits.width = kWidth;
  bits.height = kHeight;
  bits.bitsPerPixel = bpp;
  bits.rowBytes = rowBytes;
  std::vector<unsigned char> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
  std::vector<unsigned char*> rows(kHeight);
  for (int r = 0; r < kHeight; ++r) rows[r] = rgb.data() + static_cast<std::size_t>(r) * kWidth * 3;
  for (auto _ : state) {
    if (!norvisk::ToRgbRows(&bits, kWidth * 3, rows.data())) {
      state.SkipWithError("ToRgbRows failed");
      break;
    }
    benchmark::DoNotOptimize(rgb.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ToRgbRows640x300)->Arg(24)->Arg(32);

}  // namespace
