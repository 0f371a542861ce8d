// The PNG writer: filtered rows made piece by piece and compressed as they come by igzip (ISA-L),
// whose zlib stream goes out in IDAT chunks of up to 64 KB.
#include "raster/png_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "raster/jpeg_writer.h"
#include "raster/png_deflate.h"

namespace norvisk {
namespace {

// Level 1: a chart's picture in well under the time of its JPEG, at less than half its size
// (bench/png_bench.cpp has the other levels and libraries). A larger level buffer than the small
// one compresses no better.
constexpr int kLevel = 1;
constexpr std::size_t kLevelBuffer = ISAL_DEF_LVL1_SMALL;
// Filtered rows are handed to the compressor this many bytes at a time.
constexpr std::size_t kRowsBuffer = 64 * 1024;
// A chart's PNG is a few tens of kilobytes: the whole file usually goes to the sink in one piece.
constexpr std::size_t kOutputBuffer = 64 * 1024;

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkHead = 8;  // length, type
constexpr std::size_t kChunkTail = 4;  // CRC of type and data
constexpr std::size_t kIhdrData = 13;
// Kept free at the end of the output buffer for the last IDAT's CRC and the IEND chunk.
constexpr std::size_t kReserve = kChunkTail + kChunkHead + kChunkTail;

constexpr unsigned char kFilterNone = 0;
constexpr unsigned char kFilterUp = 2;

unsigned char* PutBig32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
  return p + 4;
}

// The surface's rows, top first, as PNG scanlines: a filter byte, then red-green-blue samples.
// Handed out in pieces of any size, a row possibly split between two.
class Scanlines {
 public:
  explicit Scanlines(const SurfaceBits& bitmap) : rows_(bitmap.Rows()) {}

  bool done() const { return y_ == rows_.height; }

  // Fills up to `space` bytes of `out`; returns how many.
  std::size_t Fill(unsigned char* out, std::size_t space) {
    std::size_t n = 0;
    const int width = rows_.width;
    while (y_ < rows_.height) {
      std::uint8_t* row = rows_.Row(y_);
      if (!started_) {
        if (n == space) break;
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
        repeat_ = y_ > 0 && std::memcmp(row, rows_.Row(y_ - 1), rowBytes) == 0;
        out[n++] = repeat_ ? kFilterUp : kFilterNone;
        started_ = true;
      }
      const int pixels = static_cast<int>(
          std::min<std::size_t>(static_cast<std::size_t>(width - x_), (space - n) / 3));
      if (pixels == 0) break;
      if (repeat_) {
        std::memset(out + n, 0, static_cast<std::size_t>(pixels) * 3);
      } else {
        SurfaceBits piece;
        piece.bits = row + static_cast<std::ptrdiff_t>(x_) * 3;
        piece.width = pixels;
        piece.height = 1;
        piece.bitsPerPixel = 24;
        unsigned char* samples = out + n;
        ToRgbRows(&piece, pixels * 3, &samples);
      }
      n += static_cast<std::size_t>(pixels) * 3;
      x_ += pixels;
      if (x_ == width) {
        ++y_;
        x_ = 0;
        started_ = false;
      }
    }
    return n;
  }

 private:
  PixelRows rows_;
  int y_ = 0;             // the row being handed out, 0 at the top
  int x_ = 0;             // its next pixel
  bool started_ = false;  // its filter byte is out
  bool repeat_ = false;   // it equals the row above
};

// Everything one picture needs, taken in one allocation before the sink sees a byte.
struct Workspace {
  isal_zstream stream;
  unsigned char level[kLevelBuffer];
  unsigned char rows[kRowsBuffer];
  unsigned char out[kOutputBuffer];
};

class Encoder {
 public:
  Encoder(const PngDeflate& z, Workspace* w, const ImageSink& sink) : z_(z), w_(w), sink_(sink) {}

  bool Run(const SurfaceBits& bitmap) {
    unsigned char* p = w_->out;
    std::memcpy(p, kSignature, sizeof kSignature);
    p += sizeof kSignature;
    unsigned char ihdr[kIhdrData];
    unsigned char* q = PutBig32(ihdr, static_cast<std::uint32_t>(bitmap.width));
    q = PutBig32(q, static_cast<std::uint32_t>(bitmap.height));
    q[0] = 8;  // bits per sample
    q[1] = 2;  // colour type: red, green, blue
    q[2] = 0;  // deflate
    q[3] = 0;  // adaptive filtering, a filter byte per row
    q[4] = 0;  // not interlaced
    p = PutChunk(p, "IHDR", ihdr, sizeof ihdr);
    used_ = static_cast<std::size_t>(p - w_->out);
    OpenIdat();

    isal_zstream& s = w_->stream;
    z_.init(&s);
    s.level = kLevel;
    s.level_buf = w_->level;
    s.level_buf_size = sizeof w_->level;
    s.gzip_flag = IGZIP_ZLIB;
    s.flush = NO_FLUSH;
    Scanlines lines(bitmap);
    while (!lines.done()) {
      s.next_in = w_->rows;
      s.avail_in = static_cast<std::uint32_t>(lines.Fill(w_->rows, sizeof w_->rows));
      s.end_of_stream = lines.done() ? 1 : 0;
      if (!Compress()) return false;
    }
    CloseIdat();
    std::memcpy(PutBig32(w_->out + used_, 0), "IEND", 4);
    used_ += kChunkHead;
    PutBig32(w_->out + used_, z_.crc32(0, w_->out + used_ - 4, 4));
    used_ += kChunkTail;
    return sink_.Write(w_->out, used_);
  }

 private:
  unsigned char* PutChunk(unsigned char* p, const char* type, const unsigned char* data,
                          std::size_t size) const {
    unsigned char* start = PutBig32(p, static_cast<std::uint32_t>(size));
    std::memcpy(start, type, 4);
    std::memcpy(start + 4, data, size);
    return PutBig32(start + 4 + size, z_.crc32(0, start, 4 + size));
  }

  void OpenIdat() {
    idat_ = used_;
    std::memcpy(w_->out + idat_ + 4, "IDAT", 4);
    used_ += kChunkHead;
  }

  // Ends the open IDAT with its length and CRC; one without data is dropped.
  void CloseIdat() {
    const std::size_t size = used_ - idat_ - kChunkHead;
    if (size == 0) {
      used_ = idat_;
      return;
    }
    PutBig32(w_->out + idat_, static_cast<std::uint32_t>(size));
    const std::uint32_t crc = z_.crc32(0, w_->out + idat_ + 4, 4 + size);
    used_ = static_cast<std::size_t>(PutBig32(w_->out + used_, crc) - w_->out);
  }

  // Runs the compressor over its input, and to the end of the stream after the last rows.
  bool Compress() {
    isal_zstream& s = w_->stream;
    int idle = 0;  // calls in a row that neither took input nor gave output
    for (;;) {
      s.next_out = w_->out + used_;
      s.avail_out = static_cast<std::uint32_t>(kOutputBuffer - kReserve - used_);
      const std::uint32_t inBefore = s.avail_in;
      const std::uint32_t outBefore = s.avail_out;
      if (z_.deflate(&s) != COMP_OK) return false;
      used_ = static_cast<std::size_t>(s.next_out - w_->out);
      const bool finished =
          s.end_of_stream ? s.internal_state.state == ZSTATE_END : s.avail_in == 0;
      if (finished) return true;
      if (s.avail_out == 0) {
        CloseIdat();
        if (!sink_.Write(w_->out, used_)) return false;
        used_ = 0;
        OpenIdat();
      } else if (s.avail_in == inBefore && s.avail_out == outBefore) {
        if (++idle == 4) return false;  // stuck with room on both sides
      } else {
        idle = 0;
      }
    }
  }

  const PngDeflate& z_;
  Workspace* w_;
  ImageSink sink_;
  std::size_t used_ = 0;  // bytes in the output buffer
  std::size_t idat_ = 0;  // where the open IDAT chunk starts in it
};

// Each thread keeps its workspace (about 300 KB) once it has one, so that charts encoded in a
// loop or by a service's workers do not fault in fresh pages for it every time. It goes with
// the thread. Nothing in it is read before this chart writes it.
Workspace* ThreadWorkspace() {
  thread_local std::unique_ptr<Workspace> kept;
  if (kept == nullptr) kept.reset(new (std::nothrow) Workspace);
  return kept.get();
}

}  // namespace

ExportResult WritePng(const SurfaceBits& bitmap, const ImageSink& sink) {
  if (bitmap.bits == nullptr || bitmap.bitsPerPixel != 24 || bitmap.width <= 0 ||
      bitmap.height <= 0) {
    return ExportResult::NotWritten;
  }
  // Never read past the memory the surface reports.
  if (bitmap.rowBytes < RowBytes(bitmap.width, 24)) return ExportResult::NotWritten;
  const PngDeflate* z = FindPngDeflate(nullptr);
  if (z == nullptr) return ExportResult::NotWritten;
  Workspace* workspace = ThreadWorkspace();
  if (workspace == nullptr) return ExportResult::NoMemory;
  Encoder encoder(*z, workspace, sink);
  return encoder.Run(bitmap) ? ExportResult::Written : ExportResult::NotWritten;
}

bool PngWriterReady(std::string* why) { return FindPngDeflate(why) != nullptr; }

}  // namespace norvisk
