// JpegWriter: a surface compressed by libjpeg into a baseline JPEG, never ending the process.
#include "raster/jpeg_writer.h"

#include <array>
#include <bit>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "base/byte_order.h"

namespace norvisk {
namespace {

constexpr std::array<unsigned char, 32> kLevels5 = [] {
  std::array<unsigned char, 32> levels{};
  for (int k = 1; k < 31; ++k) levels[k] = static_cast<unsigned char>(8 * k + 8);
  levels[31] = 255;
  return levels;
}();

// The library reports fatal errors through error_exit and expects it not to return; ours jumps
// back into Compress instead of ending the process.
struct ErrorExit {
  jpeg_error_mgr mgr;  // first: the library only knows this part
  std::jmp_buf jump;
  int code;  // the library's message code of the error
};

void LeaveCompression(j_common_ptr cinfo) {
  ErrorExit* err = reinterpret_cast<ErrorExit*>(cinfo->err);
  err->code = cinfo->err->msg_code;
  std::longjmp(err->jump, 1);
}

void DropMessage(j_common_ptr) {}

// A chart's file is a few tens of kilobytes: one buffer takes all of it, so the sink gets it in
// one piece rather than in many small ones.
constexpr std::size_t kOutputBuffer = 64 * 1024;

// The library's output goes through this destination into the sink, a full buffer at a time.
struct SinkDestination {
  jpeg_destination_mgr mgr;  // first: the library only knows this part
  ImageSink sink;
  JOCTET* buffer;
  bool sinkFailed;
};

SinkDestination* DestinationOf(j_compress_ptr cinfo) {
  return reinterpret_cast<SinkDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
  SinkDestination* d = DestinationOf(cinfo);
  // From the image pool: the library frees it with the picture, also after an error.
  d->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_large)(reinterpret_cast<j_common_ptr>(cinfo),
                                                              JPOOL_IMAGE, kOutputBuffer));
  d->mgr.next_output_byte = d->buffer;
  d->mgr.free_in_buffer = kOutputBuffer;
}

// The bytes the library has put into the buffer so far go to the sink.
bool PassOn(SinkDestination* d) {
  const std::size_t used = kOutputBuffer - d->mgr.free_in_buffer;
  if (d->buffer == nullptr || used == 0 || d->sinkFailed) return !d->sinkFailed;
  d->sinkFailed = !d->sink.Write(d->buffer, used);
  d->mgr.next_output_byte = d->buffer;
  d->mgr.free_in_buffer = kOutputBuffer;
  return !d->sinkFailed;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  SinkDestination* d = DestinationOf(cinfo);
  // The library calls this with the buffer full, whatever free_in_buffer says.
  d->mgr.free_in_buffer = 0;
  if (!PassOn(d)) ERREXIT(cinfo, JERR_FILE_WRITE);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  if (!PassOn(DestinationOf(cinfo))) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Everything the compression touches lives here, outside the frame that calls setjmp, so no
// local of that frame changes between setjmp and a jump back.
struct Session {
  jpeg_compress_struct cinfo;
  ErrorExit err;
  SinkDestination dest;
};

enum class Outcome { kDone, kLibraryError, kUnsupported };

// Trivially destructible locals only: a longjmp lands in here.
Outcome Compress(Session* s, const SurfaceBits* bitmap, int quality, const ImageSink& sink) {
  s->err.code = 0;
  s->cinfo.err = jpeg_std_error(&s->err.mgr);
  s->err.mgr.error_exit = LeaveCompression;
  s->err.mgr.output_message = DropMessage;
  s->dest.sink = sink;
  s->dest.buffer = nullptr;
  s->dest.sinkFailed = false;
  s->dest.mgr.init_destination = InitDestination;
  s->dest.mgr.empty_output_buffer = EmptyOutputBuffer;
  s->dest.mgr.term_destination = TermDestination;
  if (setjmp(s->err.jump)) {
    // What the library had written so far stays written, as with a file it writes itself.
    PassOn(&s->dest);
    jpeg_destroy_compress(&s->cinfo);
    return Outcome::kLibraryError;
  }
  jpeg_create_compress(&s->cinfo);
  s->cinfo.dest = &s->dest.mgr;

  const int width = bitmap->width;
  const int height = bitmap->height;
  // 24-bit rows go to the library as they are: it reads blue-green-red itself, with the same
  // defaults and colour conversion as for red-green-blue input, so the file is the same.
  const bool direct = bitmap->bitsPerPixel == 24;
  s->cinfo.image_width = static_cast<JDIMENSION>(width);
  s->cinfo.image_height = static_cast<JDIMENSION>(height);
  s->cinfo.input_components = 3;
  s->cinfo.in_color_space = direct ? JCS_EXT_BGR : JCS_RGB;
  jpeg_set_defaults(&s->cinfo);
  jpeg_set_quality(&s->cinfo, quality, TRUE);
  jpeg_start_compress(&s->cinfo, TRUE);

  JSAMPARRAY rows;
  if (direct) {
    rows = static_cast<JSAMPARRAY>(
        (*s->cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&s->cinfo), JPOOL_IMAGE,
                                     static_cast<std::size_t>(height) * sizeof(JSAMPROW)));
    const PixelRows in = PixelRows::BottomUp(bitmap->bits, width, height, RowBytes(width, 24));
    for (int r = 0; r < height; ++r) rows[r] = in.Row(r);
  } else {
    const JDIMENSION samples = static_cast<JDIMENSION>(width) * 3;
    rows = (*s->cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s->cinfo), JPOOL_IMAGE,
                                         samples, static_cast<JDIMENSION>(height));
    if (!ToRgbRows(bitmap, static_cast<int>(samples), rows)) {
      PassOn(&s->dest);
      jpeg_abort_compress(&s->cinfo);
      jpeg_destroy_compress(&s->cinfo);
      return Outcome::kUnsupported;
    }
  }
  jpeg_write_scanlines(&s->cinfo, rows, static_cast<JDIMENSION>(height));
  // Fails with "too few scanlines" should the library have taken fewer rows.
  jpeg_finish_compress(&s->cinfo);
  jpeg_destroy_compress(&s->cinfo);
  return Outcome::kDone;
}

}  // namespace

JpegWriter::~JpegWriter() = default;

bool JpegWriter::WriteJpeg(const SurfaceBits* bitmap, int quality, const ImageSink& sink) {
  outOfMemory_ = false;
  if (quality < 0 || quality > 100 || bitmap == nullptr || bitmap->bits == nullptr) return false;
  Session session{};  // zeroed: destroy is safe whatever step failed
  const Outcome outcome = Compress(&session, bitmap, quality, sink);
  outOfMemory_ = outcome == Outcome::kLibraryError && session.err.code == JERR_OUT_OF_MEMORY;
  return outcome == Outcome::kDone;
}

void Expand555(std::uint16_t pixel, unsigned char* red, unsigned char* green, unsigned char* blue) {
  *red = kLevels5[(pixel >> 10) & 0x1F];
  *green = kLevels5[(pixel >> 5) & 0x1F];
  *blue = kLevels5[pixel & 0x1F];
}

namespace {

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store64(unsigned char* p, std::uint64_t v) { std::memcpy(p, &v, sizeof v); }

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Blue-green-red to red-green-blue. Two pixels a step through one 64-bit word: green stays, red
// and blue trade places. The word's last two bytes belong to the next pixel and are written
// again by the next step, so a step needs a third pixel after its two.
void Row24(const std::uint8_t* __restrict src, unsigned char* __restrict dst, int width) {
  int j = 0;
  if constexpr (kLittleEndian) {
    constexpr std::uint64_t kKeep = 0x0000'00FF'0000'FF00;  // bytes 1 and 4
    constexpr std::uint64_t kDown = 0x0000'0000'FF00'00FF;  // bytes 0 and 3
    constexpr std::uint64_t kUp = 0x0000'FF00'00FF'0000;    // bytes 2 and 5
    for (; j + 3 <= width; j += 2) {
      const std::uint64_t v = Load64(src + 3 * j);
      Store64(dst + 3 * j, (v & kKeep) | ((v >> 16) & kDown) | ((v << 16) & kUp));
    }
  }
  for (; j < width; ++j) {
    dst[3 * j] = src[3 * j + 2];
    dst[3 * j + 1] = src[3 * j + 1];
    dst[3 * j + 2] = src[3 * j];
  }
}

std::uint64_t BgrxToRgb(std::uint32_t v) {
  return ((v >> 16) & 0xFF) | (v & 0xFF00) | ((v & 0xFF) << 16);
}

// Blue-green-red-unused to red-green-blue, two pixels a step as for 24 bits.
void Row32(const std::uint8_t* __restrict src, unsigned char* __restrict dst, int width) {
  int j = 0;
  if constexpr (kLittleEndian) {
    for (; j + 3 <= width; j += 2) {
      const std::uint64_t v = Load64(src + 4 * j);
      Store64(dst + 3 * j, BgrxToRgb(static_cast<std::uint32_t>(v)) |
                               (BgrxToRgb(static_cast<std::uint32_t>(v >> 32)) << 24));
    }
  }
  for (; j < width; ++j) {
    dst[3 * j] = src[4 * j + 2];
    dst[3 * j + 1] = src[4 * j + 1];
    dst[3 * j + 2] = src[4 * j];
  }
}

void Rows16(const PixelRows& in, unsigned char** rows) {
  for (int r = 0; r < in.height; ++r) {
    const std::uint8_t* src = in.Row(r);
    unsigned char* dst = rows[r];
    for (int j = 0; j < in.width; ++j) {
      const auto pixel = static_cast<std::uint16_t>(LoadLe16(src + 2 * j));
      Expand555(pixel, dst + 3 * j, dst + 3 * j + 1, dst + 3 * j + 2);
    }
  }
}

void RowsIndexed(const SurfaceBits& b, const PixelRows& in, unsigned char** rows) {
  // Entries past the table (or without one) read as black.
  unsigned char rgb[256][3] = {};
  const int entries = b.colorTable == nullptr ? 0 : (b.colorCount < 256 ? b.colorCount : 256);
  for (int i = 0; i < entries; ++i) {
    rgb[i][0] = b.colorTable[4 * i + 2];
    rgb[i][1] = b.colorTable[4 * i + 1];
    rgb[i][2] = b.colorTable[4 * i];
  }
  const int bpp = b.bitsPerPixel;
  const int perByte = 8 / bpp;
  const unsigned mask = (1u << bpp) - 1;
  for (int r = 0; r < in.height; ++r) {
    const std::uint8_t* src = in.Row(r);
    unsigned char* dst = rows[r];
    for (int j = 0; j < in.width; ++j) {
      // The leftmost pixel is in the most significant bits.
      const int shift = 8 - bpp * (j % perByte + 1);
      const unsigned index = (src[j / perByte] >> shift) & mask;
      std::memcpy(dst + 3 * j, rgb[index], 3);
    }
  }
}

}  // namespace

bool ToRgbRows(const SurfaceBits* bitmap, int samplesPerRow, unsigned char** rows) {
  if (bitmap == nullptr || bitmap->bits == nullptr || rows == nullptr || samplesPerRow <= 0 ||
      bitmap->width <= 0 || bitmap->height <= 0 ||
      samplesPerRow < static_cast<std::int64_t>(bitmap->width) * 3) {
    return false;
  }
  const int bpp = bitmap->bitsPerPixel;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  const PixelRows in = PixelRows::BottomUp(bitmap->bits, bitmap->width, bitmap->height,
                                           RowBytes(bitmap->width, bpp));
  switch (bpp) {
    case 24:
      for (int r = 0; r < in.height; ++r) Row24(in.Row(r), rows[r], in.width);
      break;
    case 32:
      for (int r = 0; r < in.height; ++r) Row32(in.Row(r), rows[r], in.width);
      break;
    case 16: Rows16(in, rows); break;
    default: RowsIndexed(*bitmap, in, rows); break;
  }
  return true;
}

}  // namespace norvisk
