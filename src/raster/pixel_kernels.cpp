// Pixel kernels of the software back end: mix modes, inks, pen patterns and line stepping.
#include "raster/pixel_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace norvisk::soft {

namespace {

// ceil(a / b) for b > 0.
inline __int128 ceil_div(__int128 a, __int128 b) {
  __int128 q = a / b;
  return (a % b != 0 && a > 0) ? q + 1 : q;
}

// Mix mode t + 1 of pen bits p and destination bits d.
template <class T>
inline T rop_of(unsigned t, T d, T p) {
  T r = 0;
  if (t & 1) r |= ~p & ~d;
  if (t & 2) r |= ~p & d;
  if (t & 4) r |= p & ~d;
  if (t & 8) r |= p & d;
  return r;
}

template <int Mode, class T>
inline T rop(T d, T p) {
  return rop_of<T>(Mode - 1, d, p);
}

// The operation works bit by bit, so whole words are combined at once.
template <int Mode>
void apply_span(std::uint8_t* __restrict dst, const std::uint8_t* __restrict pattern,
                std::size_t bytes) {
  std::size_t i = 0;
  for (; i + 8 <= bytes; i += 8) {
    std::uint64_t d, p;
    std::memcpy(&d, dst + i, 8);
    std::memcpy(&p, pattern + i, 8);
    d = rop<Mode>(d, p);
    std::memcpy(dst + i, &d, 8);
  }
  for (; i < bytes; ++i) dst[i] = rop<Mode>(dst[i], pattern[i]);
}

template <int... Modes>
constexpr SpanFn span_for(int mode, std::integer_sequence<int, Modes...>) {
  SpanFn table[] = {&apply_span<Modes + 1>...};
  return table[mode - 1];
}

// One pixel combined with the ink. Callers pass a local copy, which the compiler keeps in
// registers: the pixel loops then read only the destination, and not even that for a constant
// ink.
template <bool Constant>
inline void ink_pixel(std::uint8_t* p, const Ink& ink) {
  for (int k = 0; k < 3; ++k)
    p[k] = Constant ? ink.x[k] : static_cast<std::uint8_t>(ink.x[k] ^ (p[k] & ink.m[k]));
}

template <bool Constant>
inline void ink_pixels(std::uint8_t* p, std::ptrdiff_t stride, long long count, Ink ink) {
  for (long long k = 0; k < count; ++k, p += stride) ink_pixel<Constant>(p, ink);
}

inline void ink_run(std::uint8_t* p, std::ptrdiff_t stride, long long count, const Ink& ink) {
  if (ink.Constant())
    ink_pixels<true>(p, stride, count, ink);
  else if (!ink.LeavesAlone())
    ink_pixels<false>(p, stride, count, ink);
}

constexpr int kSolid[] = {1};
constexpr int kDash[] = {18, 6};
constexpr int kDot[] = {3, 3};
constexpr int kDashDot[] = {9, 6, 3, 6};
constexpr int kDashDotDot[] = {9, 3, 3, 3, 3, 3};

// The minor coordinate of a sloped line as it steps: minor0 + quotient, the remainder counting
// down by `increment` towards the next change.
struct MinorWalk {
  long long quotient;
  long long remainder;
  long long denominator;
  long long increment;

  // At step `first`: quotient = ceil((increment * first - steps) / denominator).
  static MinorWalk At(const LineSteps& line, long long first) {
    const long long denominator = 2 * line.steps, increment = 2 * line.minorDelta;
    const __int128 numerator = static_cast<__int128>(increment) * first - line.steps;
    const auto quotient = static_cast<long long>(ceil_div(numerator, denominator));
    const auto remainder =
        static_cast<long long>(static_cast<__int128>(quotient) * denominator - numerator);
    return {quotient, remainder, denominator, increment};
  }

  // |increment| <= denominator, so one correction is always enough.
  void Step() {
    remainder -= increment;
    if (remainder < 0) {
      ++quotient;
      remainder += denominator;
    } else if (remainder >= denominator) {
      --quotient;
      remainder -= denominator;
    }
  }
};

// Where (major, minor) of a line lies on the rows.
inline std::uint8_t* pixel_at(const PixelRows& rows, bool xMajor, long long major,
                              long long minor) {
  return xMajor ? rows.Row(minor) + 3 * major : rows.Row(major) + 3 * minor;
}

// The common sloped line: one pixel wide, solid, wholly on the surface. One pixel a step, the
// minor coordinate moved by a byte offset when the remainder wraps.
template <bool Constant>
void ink_thin_line(std::uint8_t* p, std::ptrdiff_t majorBytes, std::ptrdiff_t minorBytes,
                   long long count, MinorWalk walk, Ink ink) {
  // Walking forwards or backwards on the minor axis, the remainder wraps one way only.
  const bool up = walk.increment > 0;
  const long long delta = up ? walk.increment : -walk.increment;
  long long remainder = up ? walk.remainder : walk.denominator - 1 - walk.remainder;
  for (long long k = 0; k < count; ++k) {
    ink_pixel<Constant>(p, ink);
    p += majorBytes;
    remainder -= delta;
    if (remainder < 0) {
      remainder += walk.denominator;
      p += minorBytes;
    }
  }
}

// Draws a one-pixel solid line whose every pixel is on the surface by ink_thin_line; false,
// drawing nothing, for any other line.
bool apply_thin_sloped(const SlopedLine& s, const MinorWalk& walk) {
  const LineSteps& line = s.line;
  const Ink& on = *s.pattern.on;
  if (s.width != 1 || s.pattern.dashes.count > 1 || on.LeavesAlone()) return false;
  // The minor coordinate moves monotonically, so the two ends tell whether all is inside.
  const long long minorLimit = line.xMajor ? s.rows.height : s.rows.width;
  const long long minorFirst = line.minor0 + walk.quotient;
  const long long minorLast =
      line.minor0 +
      static_cast<long long>(
          ceil_div(static_cast<__int128>(walk.increment) * s.last - line.steps, walk.denominator));
  if (std::min(minorFirst, minorLast) < 0 || std::max(minorFirst, minorLast) >= minorLimit)
    return false;
  const std::ptrdiff_t majorBytes = line.majorStep * (line.xMajor ? 3 : s.rows.stride);
  const std::ptrdiff_t minorUnit = line.xMajor ? s.rows.stride : 3;
  const std::ptrdiff_t minorBytes = walk.increment > 0 ? minorUnit : -minorUnit;
  std::uint8_t* start =
      pixel_at(s.rows, line.xMajor, line.major0 + line.majorStep * s.first, minorFirst);
  const long long count = s.last - s.first + 1;
  if (on.Constant())
    ink_thin_line<true>(start, majorBytes, minorBytes, count, walk, on);
  else
    ink_thin_line<false>(start, majorBytes, minorBytes, count, walk, on);
  return true;
}

}  // namespace

Ink InkFor(int mode, Color color) {
  const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(BlueOf(color)),
                               static_cast<std::uint8_t>(GreenOf(color)),
                               static_cast<std::uint8_t>(RedOf(color))};
  const unsigned t = static_cast<unsigned>(mode - 1);
  Ink ink{};
  for (int k = 0; k < 3; ++k) {
    ink.x[k] = rop_of<std::uint8_t>(t, 0, bgr[k]);
    ink.m[k] = static_cast<std::uint8_t>(ink.x[k] ^ rop_of<std::uint8_t>(t, 0xFF, bgr[k]));
  }
  return ink;
}

void apply_ink(std::uint8_t* p, std::ptrdiff_t stride, long long count, const Ink& ink) {
  ink_run(p, stride, count, ink);
}

SpanFn span_fn(int mode) { return span_for(mode, std::make_integer_sequence<int, 16>{}); }

const std::uint8_t* ColorBytes::Bytes(Color c, std::size_t bytes) {
  Slot* slot = slots_[0].color == c ? &slots_[0] : slots_[1].color == c ? &slots_[1] : nullptr;
  if (!slot) {
    slot = &slots_[next_];
    next_ ^= 1;
    slot->color = c;
    slot->bytes.clear();
  }
  std::vector<std::uint8_t>& data = slot->bytes;
  if (data.size() < bytes) {
    std::size_t size = std::max<std::size_t>(bytes, 48);
    data.resize(size);
    data[0] = static_cast<std::uint8_t>(BlueOf(c));
    data[1] = static_cast<std::uint8_t>(GreenOf(c));
    data[2] = static_cast<std::uint8_t>(RedOf(c));
    for (std::size_t filled = 3; filled < size; filled *= 2)
      std::memcpy(data.data() + filled, data.data(), std::min(filled, size - filled));
  }
  return data.data();
}

Dashes DashesFor(int style, int width) {
  if (std::max(1, width) == 1) {
    switch (style) {
      case kPenDash: return {kDash, 2};
      case kPenDot: return {kDot, 2};
      case kPenDashDot: return {kDashDot, 4};
      case kPenDashDotDot: return {kDashDotDot, 6};
      default: break;
    }
  }
  return {kSolid, 1};
}

void Advance(const Dashes& dashes, DashPos* pos, long long pixels) {
  if (dashes.count < 2) return;
  long long period = 0, offset = pos->phase;
  for (int k = 0; k < dashes.count; ++k) {
    period += dashes.runs[k];
    if (k < pos->run) offset += dashes.runs[k];
  }
  offset = (offset + pixels % period) % period;
  pos->run = 0;
  while (offset >= dashes.runs[pos->run]) offset -= dashes.runs[pos->run++];
  pos->phase = offset;
}

LineSteps LineSteps::Between(int x0, int y0, int x1, int y1) {
  const long long dx = static_cast<long long>(x1) - x0, dy = static_cast<long long>(y1) - y0;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  return LineSteps{.xMajor = xMajor,
                   .major0 = xMajor ? x0 : y0,
                   .minor0 = xMajor ? y0 : x0,
                   .majorStep = (xMajor ? dx : dy) > 0 ? 1 : -1,
                   .minorDelta = xMajor ? dy : dx,
                   .steps = std::max(std::llabs(dx), std::llabs(dy))};
}

bool LineSteps::Visible(long long majorLimit, long long* first, long long* last) const {
  *first = 0;
  *last = steps - 1;
  if (majorStep > 0) {
    *first = std::max(*first, -major0);
    *last = std::min(*last, majorLimit - 1 - major0);
  } else {
    *first = std::max(*first, major0 - (majorLimit - 1));
    *last = std::min(*last, major0);
  }
  return *first <= *last;
}

void apply_dashed(const DashedLine& line) {
  const LinePattern& pattern = line.pattern;
  std::uint8_t* dst = line.dst;
  int run = pattern.at.run;
  long long left = pattern.dashes.runs[run] - pattern.at.phase;
  for (long long i = 0; i < line.count;) {
    long long n = std::min(left, line.count - i);
    const Ink* ink = run % 2 == 0 ? pattern.on : pattern.gap;
    if (ink) ink_run(dst, line.stride, n, *ink);
    dst += n * line.stride;
    i += n;
    if (++run == pattern.dashes.count) run = 0;
    left = pattern.dashes.runs[run];
  }
}

// Step by step: the span across the minor axis cut to the surface, in the ink of the pattern's
// run at that step.
void apply_sloped(const SlopedLine& s) {
  MinorWalk walk = MinorWalk::At(s.line, s.first);
  if (apply_thin_sloped(s, walk)) return;
  const LineSteps& line = s.line;
  const long long minorLimit = line.xMajor ? s.rows.height : s.rows.width;
  const long long spanLow = -(s.width - 1) / 2, spanHigh = s.width / 2;
  const std::ptrdiff_t acrossBytes = line.xMajor ? s.rows.stride : 3;
  const Dashes& dashes = s.pattern.dashes;
  const bool patterned = dashes.count > 1;
  DashPos at = s.pattern.at;
  long long major = line.major0 + line.majorStep * s.first;
  for (long long i = s.first; i <= s.last; ++i, major += line.majorStep) {
    const Ink* ink = at.run % 2 == 0 ? s.pattern.on : s.pattern.gap;
    if (ink) {
      const long long minor = line.minor0 + walk.quotient;
      const long long lo = std::max<long long>(minor + spanLow, 0);
      const long long hi = std::min<long long>(minor + spanHigh, minorLimit - 1);
      if (lo <= hi)
        ink_run(pixel_at(s.rows, line.xMajor, major, lo), acrossBytes, hi - lo + 1, *ink);
    }
    walk.Step();
    if (patterned && ++at.phase == dashes.runs[at.run]) {
      at.phase = 0;
      if (++at.run == dashes.count) at.run = 0;
    }
  }
}

}  // namespace norvisk::soft
