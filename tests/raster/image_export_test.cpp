// Canvas::SaveImage: BMP and JPEG files of a canvas, and the file-name rule choosing between them.
#include <gtest/gtest.h>

#include "support/test_support.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "raster/canvas.h"
#include "raster/file_sink.h"
#include "raster/memory_sink.h"
#include "raster/jpeg_writer.h"

#include "support/limited_child.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace norvisk {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le16(const std::vector<std::uint8_t>& f, std::size_t at) {
  return f[at] | (f[at + 1] << 8);
}
std::uint32_t Le32(const std::vector<std::uint8_t>& f, std::size_t at) {
  return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) |
         (static_cast<std::uint32_t>(f[at + 3]) << 24);
}

// Sets pixel (x, y) through the surface memory: bottom-up rows of blue, green, red.
void Poke(Canvas& canvas, int x, int y, Color c) {
  const SurfaceBits bits = canvas.Bits();
  std::uint8_t* p = bits.bits + static_cast<std::size_t>(bits.height - 1 - y) * bits.rowBytes +
                    3 * static_cast<std::size_t>(x);
  p[0] = static_cast<std::uint8_t>(BlueOf(c));
  p[1] = static_cast<std::uint8_t>(GreenOf(c));
  p[2] = static_cast<std::uint8_t>(RedOf(c));
}

// 6 x 5: blue, red upper half, a yellow top-left corner and a white bottom-right corner.
void PaintSmallPicture(Canvas& canvas) {
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x)
      Poke(canvas, x, y, y < 2 ? MakeColor(255, 0, 0) : MakeColor(0, 0, 255));
  }
  Poke(canvas, 0, 0, MakeColor(255, 255, 0));
  Poke(canvas, 5, 4, MakeColor(255, 255, 255));
}

#if !defined(_WIN32)
// Every pixel different from its neighbours: a JPEG of tens of kilobytes.
void PaintGradient(Canvas& canvas) {
  for (int y = 0; y < canvas.surfaceDesc().height; ++y) {
    for (int x = 0; x < canvas.surfaceDesc().width; ++x)
      Poke(canvas, x, y, MakeColor(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF));
  }
}
#endif

// Decoding with the library, failures returned instead of ending the process.
struct DecodeError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void LeaveDecoding(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<DecodeError*>(cinfo->err)->jump, 1);
}

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  Color At(int x, int y) const {
    const std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    return MakeColor(p[0], p[1], p[2]);
  }
};

struct DecodeSession {
  jpeg_decompress_struct cinfo;
  DecodeError err;
};

bool DecodeInto(DecodeSession* s, const std::vector<std::uint8_t>* file, Decoded* out) {
  s->cinfo.err = jpeg_std_error(&s->err.mgr);
  s->err.mgr.error_exit = LeaveDecoding;
  if (setjmp(s->err.jump)) {
    jpeg_destroy_decompress(&s->cinfo);
    return false;
  }
  jpeg_create_decompress(&s->cinfo);
  jpeg_mem_src(&s->cinfo, file->data(), static_cast<unsigned long>(file->size()));
  jpeg_read_header(&s->cinfo, TRUE);
  s->cinfo.out_color_space = JCS_RGB;
  // Plain pixel replication: smoothing would blend chroma across the 16-pixel blocks.
  s->cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&s->cinfo);
  out->width = static_cast<int>(s->cinfo.output_width);
  out->height = static_cast<int>(s->cinfo.output_height);
  out->rgb.resize(static_cast<std::size_t>(out->width) * out->height * 3);
  while (s->cinfo.output_scanline < s->cinfo.output_height) {
    JSAMPROW row =
        out->rgb.data() + static_cast<std::size_t>(s->cinfo.output_scanline) * out->width * 3;
    jpeg_read_scanlines(&s->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&s->cinfo);
  jpeg_destroy_decompress(&s->cinfo);
  return true;
}

bool Decode(const std::vector<std::uint8_t>& file, Decoded* out) {
  DecodeSession session;
  return DecodeInto(&session, &file, out);
}

bool Near(Color a, Color b, int tolerance) {
  return std::abs(static_cast<int>(RedOf(a)) - static_cast<int>(RedOf(b))) <= tolerance &&
         std::abs(static_cast<int>(GreenOf(a)) - static_cast<int>(GreenOf(b))) <= tolerance &&
         std::abs(static_cast<int>(BlueOf(a)) - static_cast<int>(BlueOf(b))) <= tolerance;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Every name in a folder, hidden ones included, in order: a file left behind shows.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The bytes a save of `canvas` in `format` must give.
std::vector<std::uint8_t> Encoded(Canvas& canvas, ImageFormat format) {
  MemorySink memory;
  if (canvas.EncodeImage(format, memory.sink()) != ExportResult::Written) return {};
  return std::vector<std::uint8_t>(memory.data(), memory.data() + memory.size());
}

class ImageExportTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.File(name); }

  norvisk_test::TestDir folder_;
  const fs::path& dir_ = folder_.path();
};

// --- BMP --------------------------------------------------------------------------------------

struct BmpCase {
  int width, height;
  std::uint32_t rowBytes, imageSize, fileSize;
};

void PrintTo(const BmpCase& c, std::ostream* os) { *os << c.width << "x" << c.height; }

class BmpLayoutTest : public ImageExportTest, public ::testing::WithParamInterface<BmpCase> {};

TEST_P(BmpLayoutTest, HeadersDescribeTheSurface) {
  const BmpCase c = GetParam();
  Canvas canvas(c.width, c.height);
  ASSERT_TRUE(canvas.ready());
  ASSERT_TRUE(canvas.SaveImage(Path("chart.bmp").c_str()));
  const std::vector<std::uint8_t> f = ReadFile(Path("chart.bmp"));
  ASSERT_EQ(f.size(), c.fileSize);

  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(Le32(f, 2), c.fileSize);
  EXPECT_EQ(Le32(f, 6), 0u);  // both reserved words
  EXPECT_EQ(Le32(f, 10), 54u);

  const SurfaceDesc& desc = canvas.surfaceDesc();
  EXPECT_EQ(Le32(f, 14), 40u);
  EXPECT_EQ(Le32(f, 18), static_cast<std::uint32_t>(c.width));
  EXPECT_EQ(Le32(f, 22), static_cast<std::uint32_t>(c.height));
  EXPECT_EQ(Le16(f, 26), 1u);
  EXPECT_EQ(Le16(f, 28), 24u);
  EXPECT_EQ(Le32(f, 30), 0u);
  EXPECT_EQ(Le32(f, 34), c.imageSize);
  EXPECT_EQ(Le32(f, 38), static_cast<std::uint32_t>(desc.xPelsPerMeter));
  EXPECT_EQ(Le32(f, 42), static_cast<std::uint32_t>(desc.yPelsPerMeter));
  EXPECT_EQ(Le32(f, 46), desc.colorsUsed);
  EXPECT_EQ(Le32(f, 50), desc.colorsImportant);
  EXPECT_EQ(c.imageSize, c.rowBytes * c.height);
}

TEST_P(BmpLayoutTest, PixelDataIsTheSurfaceBottomRowFirst) {
  const BmpCase c = GetParam();
  Canvas canvas(c.width, c.height);
  ASSERT_TRUE(canvas.ready());
  const int right = c.width - 1;
  const int bottom = c.height - 1;
  Poke(canvas, 0, bottom, MakeColor(0x11, 0x22, 0x33));
  Poke(canvas, right, bottom, MakeColor(0x44, 0x55, 0x66));
  Poke(canvas, 0, 0, MakeColor(0x77, 0x88, 0x99));
  Poke(canvas, right, 0, MakeColor(0xAA, 0xBB, 0xCC));
  // The canvas agrees on where those pixels are.
  ASSERT_EQ(canvas.GetPixel(0, bottom), MakeColor(0x11, 0x22, 0x33));
  ASSERT_EQ(canvas.GetPixel(right, 0), MakeColor(0xAA, 0xBB, 0xCC));

  ASSERT_TRUE(canvas.SaveImage(Path("pixels.bmp").c_str()));
  const std::vector<std::uint8_t> f = ReadFile(Path("pixels.bmp"));
  ASSERT_EQ(f.size(), c.fileSize);

  auto pixel = [&](int x, int rowFromBottom) {
    const std::size_t at = 54 + static_cast<std::size_t>(rowFromBottom) * c.rowBytes + 3 * x;
    return MakeColor(f[at + 2], f[at + 1], f[at]);
  };
  // Blue, green, red of the bottom-left pixel come first.
  EXPECT_EQ(f[54], 0x33);
  EXPECT_EQ(f[55], 0x22);
  EXPECT_EQ(f[56], 0x11);
  EXPECT_EQ(pixel(right, 0), MakeColor(0x44, 0x55, 0x66));
  EXPECT_EQ(pixel(0, bottom), MakeColor(0x77, 0x88, 0x99));
  EXPECT_EQ(pixel(right, bottom), MakeColor(0xAA, 0xBB, 0xCC));
  EXPECT_EQ(pixel(1, 0), MakeColor(0, 0, 0));

  for (int row = 0; row < c.height; ++row) {
    for (std::uint32_t i = 3 * c.width; i < c.rowBytes; ++i) {
      ASSERT_EQ(f[54 + row * c.rowBytes + i], 0) << "padding of row " << row;
    }
  }
  const SurfaceBits bits = canvas.Bits();
  EXPECT_EQ(std::memcmp(f.data() + 54, bits.bits, c.imageSize), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BmpLayoutTest,
                         ::testing::Values(BmpCase{640, 300, 1920, 576000, 576054},
                                           BmpCase{641, 300, 1924, 577200, 577254},
                                           BmpCase{6, 5, 20, 100, 154}));

TEST_F(ImageExportTest, BmpReplacesAnExistingFile) {
  {
    std::ofstream old(Path("old.bmp"), std::ios::binary);
    old << std::string(5000, 'x');
  }
  Canvas canvas(6, 5);
  PaintSmallPicture(canvas);
  ASSERT_TRUE(canvas.SaveImage(Path("old.bmp").c_str()));
  const std::vector<std::uint8_t> f = ReadFile(Path("old.bmp"));
  ASSERT_EQ(f.size(), 154u);
  // Top-left yellow is the first pixel of the last row.
  EXPECT_EQ(f[54 + 4 * 20], 0x00);
  EXPECT_EQ(f[54 + 4 * 20 + 1], 0xFF);
  EXPECT_EQ(f[54 + 4 * 20 + 2], 0xFF);
}

// --- File-name rule ---------------------------------------------------------------------------

enum class Format { None, Bmp, Jpeg };

TEST_F(ImageExportTest, FormatComesFromTheNameCaseSensitively) {
  struct Case {
    const char* name;
    Format format;
  };
  const Case cases[] = {
      {"chart.bmp", Format::Bmp}, {"chart.jpg", Format::Jpeg},    {"x.bmp.jpg", Format::Bmp},
      {"x.jpg.bmp", Format::Bmp}, {"chart.bmp.old", Format::Bmp}, {"a.jpgz", Format::Jpeg},
      {"OUT.BMP", Format::None},  {"OUT.JPG", Format::None},      {"out.jpeg", Format::None},
      {"chart", Format::None},    {"chartbmp", Format::None},     {"chart.png", Format::None},
  };
  Canvas canvas(6, 5);
  PaintSmallPicture(canvas);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    const bool saved = canvas.SaveImage(path.c_str());
    const std::vector<std::uint8_t> f = ReadFile(path);
    switch (c.format) {
      case Format::None:
        EXPECT_FALSE(saved);
        EXPECT_FALSE(fs::exists(path));
        break;
      case Format::Bmp:
        EXPECT_TRUE(saved);
        ASSERT_EQ(f.size(), 154u);
        EXPECT_EQ(f[0], 'B');
        EXPECT_EQ(f[1], 'M');
        break;
      case Format::Jpeg:
        EXPECT_TRUE(saved);
        ASSERT_GT(f.size(), 2u);
        EXPECT_EQ(f[0], 0xFF);
        EXPECT_EQ(f[1], 0xD8);
        break;
    }
  }
  EXPECT_FALSE(canvas.SaveImage(nullptr));
  EXPECT_FALSE(canvas.SaveImage(""));
}

TEST_F(ImageExportTest, CanvasWithoutSurfaceWritesNothing) {
  for (const int width : {0, -5}) {
    Canvas canvas(width, 10);
    ASSERT_FALSE(canvas.ready());
    EXPECT_FALSE(canvas.SaveImage(Path("none.bmp").c_str()));
    EXPECT_FALSE(canvas.SaveImage(Path("none.jpg").c_str()));
    EXPECT_FALSE(fs::exists(Path("none.bmp")));
    EXPECT_FALSE(fs::exists(Path("none.jpg")));
  }
}

// --- JPEG -------------------------------------------------------------------------------------

TEST_F(ImageExportTest, JpegIsTheWriterAtQuality90) {
  Canvas canvas(37, 23);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 37; ++x) Poke(canvas, x, y, MakeColor(x * 7, y * 11, (x * y) & 0xFF));
  }
  ASSERT_TRUE(canvas.SaveImage(Path("saved.jpg").c_str()));
  const SurfaceBits bits = canvas.Bits();
  auto encoded = [&](int quality) {
    JpegWriter writer;
    MemorySink memory;
    EXPECT_TRUE(writer.WriteJpeg(&bits, quality, memory.sink()));
    return std::vector<std::uint8_t>(memory.data(), memory.data() + memory.size());
  };
  const std::vector<std::uint8_t> saved = ReadFile(Path("saved.jpg"));
  EXPECT_FALSE(saved.empty());
  EXPECT_TRUE(saved == encoded(90));
  EXPECT_FALSE(saved == encoded(89));
}

TEST_F(ImageExportTest, JpegDecodesToTheCanvasPicture) {
  // Areas aligned to the 16-pixel blocks of subsampled chroma keep their colours through
  // compression: green top-left block, red rest of the top band, blue below. Width 50 pads rows.
  const Color green = MakeColor(0, 200, 0);
  const Color red = MakeColor(230, 20, 20);
  const Color blue = MakeColor(10, 30, 220);
  Canvas canvas(50, 30);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 50; ++x) Poke(canvas, x, y, y >= 16 ? blue : x < 16 ? green : red);
  }
  ASSERT_TRUE(canvas.SaveImage(Path("round.jpg").c_str()));
  Decoded d;
  ASSERT_TRUE(Decode(ReadFile(Path("round.jpg")), &d));
  ASSERT_EQ(d.width, 50);
  ASSERT_EQ(d.height, 30);
  constexpr int kTolerance = 10;
  for (int x = 0; x < 50; ++x) {
    EXPECT_TRUE(Near(d.At(x, 0), canvas.GetPixel(x, 0), kTolerance)) << "top row, x " << x;
    EXPECT_TRUE(Near(d.At(x, 29), canvas.GetPixel(x, 29), kTolerance)) << "bottom row, x " << x;
  }
  EXPECT_TRUE(Near(d.At(8, 8), green, kTolerance));
  EXPECT_TRUE(Near(d.At(40, 8), red, kTolerance));
  EXPECT_TRUE(Near(d.At(8, 24), blue, kTolerance));
}

TEST_F(ImageExportTest, JpegIntoMissingFolderFails) {
  Canvas canvas(6, 5);
  EXPECT_FALSE(canvas.SaveImage(Path("missing/chart.jpg").c_str()));
  EXPECT_FALSE(canvas.SaveImage(Path("missing/chart.bmp").c_str()));
  EXPECT_FALSE(fs::exists(Path("missing")));
}

// --- Write failures ---------------------------------------------------------------------------

TEST_F(ImageExportTest, ReadOnlyFileIsLeftAsItWas) {
  const std::string path = Path("locked.bmp");
  const std::string before(300, 'k');
  WriteText(path, before);
  // Read-only for everyone: the read-only attribute on Windows, mode 0444 elsewhere.
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  Canvas canvas(6, 5);
  PaintSmallPicture(canvas);
#if defined(_WIN32)
  EXPECT_FALSE(canvas.SaveImage(path.c_str()));
#else
  // Root may write any file: the save is made as a user who may not write this one, in a
  // folder where they could make a file of their own to put in its place.
  fs::permissions(dir_, fs::perms::all);
  EXPECT_EQ(norvisk_test::Unprivileged([&] { return canvas.SaveImage(path.c_str()) ? 1 : 0; }), 0)
      << "1: written; 1000 and more: no child, or ended by a signal";
#endif
  EXPECT_EQ(ReadText(path), before);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"locked.bmp"});
  // Writable again, so that the folder can be removed.
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_TRUE(canvas.SaveImage(path.c_str()));
  EXPECT_EQ(ReadFile(path).size(), 154u);
}

TEST_F(ImageExportTest, FolderOfTheSameNameIsNotReplaced) {
  const std::string path = Path("taken.bmp");
  fs::create_directory(path);
  Canvas canvas(6, 5);
  EXPECT_FALSE(canvas.SaveImage(path.c_str()));
  EXPECT_TRUE(fs::is_directory(path));
}

// --- Replacing a file -------------------------------------------------------------------------

TEST_F(ImageExportTest, FailedSaveLeavesTheOldFileAsItWas) {
  const std::string old(5000, 'o');
  // Wider than the JPEG encoder's 65,500 pixels: it gives up before its first byte.
  Canvas wide(70000, 2);
  ASSERT_TRUE(wide.ready());
  WriteText(Path("chart.jpg"), old);
  EXPECT_FALSE(wide.SaveImage(Path("chart.jpg").c_str()));
  EXPECT_EQ(ReadText(Path("chart.jpg")), old);
  for (const char* name : {"chart.bmp", "chart.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    WriteText(path, old);
    // Pieces taken, then the picture dropped; a sink never closed drops it as well.
    {
      FileSink file;
      ASSERT_TRUE(file.Open(path.c_str()));
      EXPECT_TRUE(file.sink().Write("new", 3));
      file.Discard();
      EXPECT_FALSE(file.sink().Write("new", 3));
    }
    EXPECT_EQ(ReadText(path), old);
    {
      FileSink file;
      ASSERT_TRUE(file.Open(path.c_str()));
      EXPECT_TRUE(file.sink().Write("new", 3));
    }
    EXPECT_EQ(ReadText(path), old);
#if !defined(_WIN32)
    // Past the file-size limit.
    Canvas canvas(640, 300);
    PaintGradient(canvas);
    EXPECT_EQ(norvisk_test::UnderFileSizeLimit(
                  1000, [&] { return canvas.SaveImage(path.c_str()) ? 1 : 0; }),
              0);
    EXPECT_EQ(ReadText(path), old);
#endif
  }
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"chart.bmp", "chart.jpg"}));
}

TEST_F(ImageExportTest, SaveReplacesTheOldFileWhole) {
  Canvas canvas(6, 5);
  PaintSmallPicture(canvas);
  for (const auto format : {ImageFormat::Bmp, ImageFormat::Jpeg}) {
    const std::string path = Path(format == ImageFormat::Bmp ? "chart.bmp" : "chart.jpg");
    SCOPED_TRACE(path);
    // Longer than the picture: nothing of it may remain after it.
    WriteText(path, std::string(100000, 'o'));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(canvas.SaveImage(path.c_str()));
    EXPECT_TRUE(ReadFile(path) == Encoded(canvas, format));
#if !defined(_WIN32)
    // The old file's mode, and for a new file the mode any new file gets.
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string fresh = path + ".new.bmp";
    const mode_t before = umask(027);
    const bool saved = canvas.SaveImage(fresh.c_str());
    umask(before);
    ASSERT_TRUE(saved);
    EXPECT_EQ(fs::status(fresh).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::remove(fresh);
#endif
  }
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"chart.bmp", "chart.jpg"}));
}

#if !defined(_WIN32)
TEST_F(ImageExportTest, ThroughASymbolicLinkItsTargetIsReplaced) {
  const std::string old(5000, 'o');
  fs::create_directory(dir_ / "a");
  fs::create_directory(dir_ / "b");
  for (const char* ext : {"bmp", "jpg"}) {
    WriteText(Path(std::string("b/target.") + ext), old);
    ASSERT_EQ(symlink((std::string("../b/target.") + ext).c_str(),
                      Path(std::string("a/link.") + ext).c_str()),
              0);
  }
  // A target not there yet is made where the link says.
  ASSERT_EQ(symlink("../b/later.bmp", Path("a/dangling.bmp").c_str()), 0);
  Canvas wide(70000, 2);
  EXPECT_FALSE(wide.SaveImage(Path("a/link.jpg").c_str()));
  Canvas canvas(640, 300);
  PaintGradient(canvas);
  EXPECT_EQ(norvisk_test::UnderFileSizeLimit(
                1000, [&] { return canvas.SaveImage(Path("a/link.bmp").c_str()) ? 1 : 0; }),
            0);
  EXPECT_EQ(ReadText(Path("b/target.bmp")), old);
  EXPECT_EQ(ReadText(Path("b/target.jpg")), old);

  for (const char* name : {"a/link.bmp", "a/link.jpg", "a/dangling.bmp"})
    EXPECT_TRUE(canvas.SaveImage(Path(name).c_str())) << name;
  for (const char* name : {"a/link.bmp", "a/link.jpg", "a/dangling.bmp"})
    EXPECT_TRUE(fs::is_symlink(Path(name))) << name;
  EXPECT_TRUE(ReadFile(Path("b/target.bmp")) == Encoded(canvas, ImageFormat::Bmp));
  EXPECT_TRUE(ReadFile(Path("b/target.jpg")) == Encoded(canvas, ImageFormat::Jpeg));
  EXPECT_TRUE(ReadFile(Path("b/later.bmp")) == Encoded(canvas, ImageFormat::Bmp));
  EXPECT_EQ(Names(dir_ / "a"), (std::vector<std::string>{"dangling.bmp", "link.bmp", "link.jpg"}));
  EXPECT_EQ(Names(dir_ / "b"), (std::vector<std::string>{"later.bmp", "target.bmp", "target.jpg"}));

  // Links that lead round in a circle lead to no file.
  ASSERT_EQ(symlink("loop.bmp", Path("a/loop.bmp").c_str()), 0);
  errno = 0;
  EXPECT_FALSE(canvas.SaveImage(Path("a/loop.bmp").c_str()));
  EXPECT_EQ(errno, ELOOP);
}

TEST_F(ImageExportTest, HardLinkedFileIsWrittenOverOnlyWhenThePictureIsWhole) {
  // Every name of the file keeps showing the one picture: it is written over, not replaced.
  const std::string old(100000, 'o');
  WriteText(Path("one.jpg"), old);
  fs::create_hard_link(Path("one.jpg"), Path("two.jpg"));
  Canvas wide(70000, 2);
  EXPECT_FALSE(wide.SaveImage(Path("one.jpg").c_str()));
  Canvas canvas(640, 300);
  PaintGradient(canvas);
  EXPECT_EQ(norvisk_test::UnderFileSizeLimit(
                10000, [&] { return canvas.SaveImage(Path("two.jpg").c_str()) ? 1 : 0; }),
            0);
  EXPECT_EQ(ReadText(Path("two.jpg")), old);
  ASSERT_TRUE(canvas.SaveImage(Path("one.jpg").c_str()));
  EXPECT_TRUE(fs::equivalent(Path("one.jpg"), Path("two.jpg")));
  EXPECT_TRUE(ReadFile(Path("two.jpg")) == Encoded(canvas, ImageFormat::Jpeg));
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"one.jpg", "two.jpg"}));
}

TEST_F(ImageExportTest, FileInAReadOnlyFolderIsWrittenOverOnlyWhenThePictureIsWhole) {
  // No file can be made beside it: the picture is made in memory first.
  const std::string path = Path("chart.jpg");
  const std::string old(100000, 'o');
  WriteText(path, old);
  fs::permissions(path, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                            ~fs::perms::others_exec);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  Canvas canvas(640, 300);
  PaintGradient(canvas);
  const int result = norvisk_test::Unprivileged([&] {
    Canvas wide(70000, 2);
    if (wide.SaveImage(path.c_str()) || ReadText(path) != old) return 1;
    if (norvisk_test::UnderFileSizeLimit(10000, [&] { return canvas.SaveImage(path.c_str()); }) !=
            0 ||
        ReadText(path) != old)
      return 2;
    return canvas.SaveImage(path.c_str()) ? 0 : 3;
  });
  fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(result, 0) << "1: too wide a JPEG, 2: the file-size limit, 3: not written";
  EXPECT_TRUE(ReadFile(path) == Encoded(canvas, ImageFormat::Jpeg));
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"chart.jpg"});
}
#endif

// --- Sinks ------------------------------------------------------------------------------------

TEST_F(ImageExportTest, FileSinkWritesPiecesInOrderAndReplacesWhatWasThere) {
  std::vector<std::uint8_t> large(70001);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 31 + 7);
  const std::uint8_t head[] = {'B', 'M', 0x0A};  // 0x0A stays one byte: no text translation
  const std::uint8_t tail[] = {0x0D};
  const std::string path = Path("parts.bin");
  {
    std::ofstream old(path, std::ios::binary);
    old << std::string(100000, 'x');
  }
  {
    FileSink file;
    ASSERT_TRUE(file.Open(path.c_str()));
    const ImageSink sink = file.sink();
    EXPECT_TRUE(sink.Write(head, sizeof head));
    EXPECT_TRUE(sink.Write(tail, 0));
    EXPECT_TRUE(sink.Write(large.data(), large.size()));
    EXPECT_TRUE(sink.Write(tail, sizeof tail));
    EXPECT_TRUE(file.Close());
    // Closed: it takes nothing more.
    EXPECT_FALSE(sink.Write(head, sizeof head));
    EXPECT_FALSE(file.Close());
  }
  std::vector<std::uint8_t> want(head, head + sizeof head);
  want.insert(want.end(), large.begin(), large.end());
  want.push_back(0x0D);
  EXPECT_TRUE(ReadFile(path) == want) << "size " << ReadFile(path).size();

  // Opened and closed without a piece: an empty file.
  {
    FileSink file;
    ASSERT_TRUE(file.Open(path.c_str()));
    EXPECT_TRUE(file.Close());
  }
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);

  FileSink missing;
  EXPECT_FALSE(missing.Open(Path("missing/parts.bin").c_str()));
  EXPECT_FALSE(missing.sink().Write(head, sizeof head));
  EXPECT_FALSE(fs::exists(Path("missing")));
  EXPECT_FALSE(missing.Open(nullptr));
}

TEST_F(ImageExportTest, MemorySinkKeepsEveryPieceInOrder) {
  MemorySink memory;
  const ImageSink sink = memory.sink();
  std::vector<std::uint8_t> want;
  // Pieces around and across the first block's size, so that the block grows several times.
  for (const std::size_t size : {std::size_t{14}, std::size_t{0}, std::size_t{40},
                                 std::size_t{65536 - 54}, std::size_t{1}, std::size_t{200000}}) {
    std::vector<std::uint8_t> piece(size);
    for (std::size_t i = 0; i < size; ++i)
      piece[i] = static_cast<std::uint8_t>(want.size() + i * 7);
    ASSERT_TRUE(sink.Write(piece.data(), piece.size()));
    want.insert(want.end(), piece.begin(), piece.end());
  }
  EXPECT_FALSE(memory.outOfMemory());
  ASSERT_EQ(memory.size(), want.size());
  EXPECT_EQ(std::memcmp(memory.data(), want.data(), want.size()), 0);
  std::size_t size = 0;
  unsigned char* block = memory.Release(&size);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(size, want.size());
  EXPECT_EQ(std::memcmp(block, want.data(), want.size()), 0);
  std::free(block);
  // Released: empty again, and nothing written gives no block.
  EXPECT_EQ(memory.size(), 0u);
  EXPECT_EQ(memory.Release(&size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST_F(ImageExportTest, EncodedBytesAreTheFileBytes) {
  Canvas canvas(641, 23);  // rows padded
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 641; ++x) Poke(canvas, x, y, MakeColor(x & 0xFF, y * 11, (x * y) & 0xFF));
  }
  const struct {
    ImageFormat format;
    const char* name;
  } cases[] = {{ImageFormat::Bmp, "same.bmp"}, {ImageFormat::Jpeg, "same.jpg"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(canvas.SaveImage(Path(c.name).c_str()));
    MemorySink memory;
    ASSERT_EQ(canvas.EncodeImage(c.format, memory.sink()), ExportResult::Written);
    const std::vector<std::uint8_t> file = ReadFile(Path(c.name));
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(memory.size(), file.size());
    EXPECT_EQ(std::memcmp(memory.data(), file.data(), file.size()), 0);
  }
  MemorySink none;
  EXPECT_EQ(canvas.EncodeImage(ImageFormat::None, none.sink()), ExportResult::NotWritten);
  EXPECT_EQ(none.size(), 0u);
  Canvas empty(0, 5);
  EXPECT_EQ(empty.EncodeImage(ImageFormat::Bmp, none.sink()), ExportResult::NotWritten);
  EXPECT_EQ(none.size(), 0u);
}

// A sink that takes `budget` bytes and refuses the piece that would go beyond, recording the
// pieces it was offered.
struct RefusingSink {
  std::size_t budget;
  std::size_t taken = 0;
  std::vector<std::size_t> pieces;
  static bool Write(void* context, const void*, std::size_t size) {
    auto* self = static_cast<RefusingSink*>(context);
    self->pieces.push_back(size);
    if (self->taken + size > self->budget) return false;
    self->taken += size;
    return true;
  }
  ImageSink sink() { return ImageSink{&RefusingSink::Write, this}; }
};

TEST_F(ImageExportTest, RefusedPieceMeansNotWritten) {
  Canvas canvas(640, 300);
  std::uint32_t noise = 12345;
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 640; ++x) {
      noise = noise * 1664525u + 1013904223u;
      Poke(canvas, x, y, noise >> 8);
    }
  }
  // Unlimited: a noisy picture's JPEG comes in full 64 KB pieces, the rest last.
  RefusingSink all{SIZE_MAX, 0, {}};
  ASSERT_EQ(canvas.EncodeImage(ImageFormat::Jpeg, all.sink()), ExportResult::Written);
  ASSERT_GE(all.pieces.size(), 2u);
  for (std::size_t k = 0; k + 1 < all.pieces.size(); ++k) EXPECT_EQ(all.pieces[k], 65536u);
  EXPECT_GT(all.pieces.back(), 0u);
  EXPECT_LE(all.pieces.back(), 65536u);

  for (const std::size_t budget :
       {std::size_t{0}, std::size_t{14}, std::size_t{54}, std::size_t{70000}}) {
    SCOPED_TRACE(budget);
    RefusingSink bmp{budget, 0, {}};
    EXPECT_EQ(canvas.EncodeImage(ImageFormat::Bmp, bmp.sink()), ExportResult::NotWritten);
    // Nothing is offered after the refusal.
    EXPECT_GT(bmp.taken + bmp.pieces.back(), budget);
    RefusingSink jpeg{budget, 0, {}};
    EXPECT_EQ(canvas.EncodeImage(ImageFormat::Jpeg, jpeg.sink()), ExportResult::NotWritten);
    EXPECT_GT(jpeg.taken + jpeg.pieces.back(), budget);
  }
  // The writers are left usable.
  MemorySink memory;
  EXPECT_EQ(canvas.EncodeImage(ImageFormat::Bmp, memory.sink()), ExportResult::Written);
  EXPECT_EQ(memory.size(), 576054u);
}

#if !defined(_WIN32)
TEST_F(ImageExportTest, FullDeviceReturnsFalse) {
  // The small file fails only when flushed on close, the large one already while writing.
  for (const int width : {6, 640}) {
    Canvas canvas(width, width == 6 ? 5 : 300);
    ASSERT_TRUE(canvas.ready());
    // "/dev/full" has no extension: reach it through a name that has one.
    const std::string bmp = Path("full.bmp");
    const std::string jpg = Path("full.jpg");
    ASSERT_EQ(symlink("/dev/full", bmp.c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", jpg.c_str()), 0);
    EXPECT_FALSE(canvas.SaveImage(bmp.c_str())) << width;
    EXPECT_FALSE(canvas.SaveImage(jpg.c_str())) << width;
    // What failed is not an ordinary file: the names and the device stay.
    EXPECT_TRUE(fs::is_symlink(bmp) && fs::is_symlink(jpg));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    fs::remove(bmp);
    fs::remove(jpg);
  }
}

TEST_F(ImageExportTest, FileSizeLimitReturnsFalseInsteadOfEndingTheProcess) {
  Canvas canvas(640, 300);
  PaintGradient(canvas);
  for (const char* name : {"limited.bmp", "limited.jpg"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    EXPECT_EQ(norvisk_test::UnderFileSizeLimit(
                  1000, [&] { return canvas.SaveImage(path.c_str()) ? 1 : 0; }),
              0)
        << "1: returned true; 1000 and more: no child, or ended by a signal";
    EXPECT_TRUE(fs::is_empty(dir_)) << "the part that was written is left behind";
  }
}
#endif

}  // namespace
}  // namespace norvisk
