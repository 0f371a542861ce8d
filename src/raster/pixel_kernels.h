// Pixel kernels of the software back end: 24-bit blue-green-red pixels combined with a pen
// colour along spans, columns, dashed lines and sloped lines.
//
// Mix modes. Mode m (1 to 16) is a truth table: bit 2P + D of m - 1 is the result for pen bit P
// and destination bit D, bit by bit. With the pen colour fixed, every mode acts on each
// destination byte d as d -> x ^ (d & m), where x is the result for d = 0 and m the bits in which
// the results for d = 0 and d = 0xFF differ: that pair is an Ink. A span against a pattern of pen
// bytes is combined a 64-bit word at a time.
//
// Stepping. A line from its start point (drawn) to its end point (left out) takes one step a
// pixel along its major axis; at step i the minor coordinate is the exact value rounded to
// nearest, halves to the smaller coordinate: minor0 + ceil((2 * delta * i - steps) / (2 * steps)),
// kept as quotient and remainder and advanced without dividing. Pen patterns are runs of pixels
// along the major axis, from an "on" run, alternating between the pen's ink and the gaps'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raster/canvas.h"

namespace norvisk::soft {

// A pen colour through a mix mode, byte by byte: d -> x ^ (d & m).
struct Ink {
  std::uint8_t x[3];
  std::uint8_t m[3];
  // The result does not depend on the destination: written without reading it.
  bool Constant() const { return (m[0] | m[1] | m[2]) == 0; }
  // Every destination stays as it is (white through the mask mode, black through merge, ...).
  bool LeavesAlone() const { return (x[0] | x[1] | x[2]) == 0 && (m[0] & m[1] & m[2]) == 0xFF; }
};

// The ink of a colour through mix mode `mode`.
Ink InkFor(int mode, Color color);

// `count` pixels `stride` bytes apart, each combined with the ink.
void apply_ink(std::uint8_t* p, std::ptrdiff_t stride, long long count, const Ink& ink);

// Combines `bytes` destination bytes with as many pattern bytes through one mix mode.
using SpanFn = void (*)(std::uint8_t*, const std::uint8_t*, std::size_t);
SpanFn span_fn(int mode);

// Colours repeated as blue-green-red bytes, the patterns spans are combined with. Two colours
// are kept, since dotted lines alternate between the pen and the background colour.
class ColorBytes {
 public:
  // The colour's bytes, at least `bytes` long; valid until a call asks for more of them or for
  // a third colour.
  const std::uint8_t* Bytes(Color c, std::size_t bytes);

 private:
  struct Slot {
    Color color = kInvalidColor;
    std::vector<std::uint8_t> bytes;
  };
  Slot slots_[2];
  int next_ = 0;
};

// A pen pattern: runs of pixels along the major axis, starting "on".
struct Dashes {
  const int* runs;
  int count;
};

// The pattern of a pen: only width-1 pens have one; the others draw solid.
Dashes DashesFor(int style, int width);

// A place in a pen pattern: the run and how many of its pixels are already passed.
struct DashPos {
  int run = 0;
  long long phase = 0;
};

// Moves the place on by `pixels` pixels of the pattern.
void Advance(const Dashes& dashes, DashPos* pos, long long pixels);

// A line from (x0, y0) towards (x1, y1) as steps along its major axis: step i lies at major
// coordinate major0 + i * majorStep, for 0 <= i < steps.
struct LineSteps {
  bool xMajor;
  long long major0;
  long long minor0;
  long long majorStep;   // 1 or -1
  long long minorDelta;  // the end point's minor coordinate less the start point's
  long long steps;

  static LineSteps Between(int x0, int y0, int x1, int y1);
  // The steps [*first, *last] whose major coordinate lies in [0, majorLimit); false for none.
  bool Visible(long long majorLimit, long long* first, long long* last) const;
};

// How a line is inked: its pen pattern from place `at` on, the pen's ink (`on`) on the "on"
// runs and `gap` on the others (null leaves the gaps alone).
struct LinePattern {
  Dashes dashes;
  DashPos at;
  const Ink* on;
  const Ink* gap;
};

// A line along a row or a column: `count` pixels `stride` bytes apart, the first at `dst`.
struct DashedLine {
  std::uint8_t* dst;
  std::ptrdiff_t stride;
  long long count;
  LinePattern pattern;
};
void apply_dashed(const DashedLine& line);

// The visible steps [first, last] of a sloped line on `rows`, each drawing a span of the pen
// width across the minor axis, cut to the surface; the pattern's place is that of step `first`.
struct SlopedLine {
  PixelRows rows;
  LineSteps line;
  long long first;
  long long last;
  int width;
  LinePattern pattern;
};
void apply_sloped(const SlopedLine& line);

}  // namespace norvisk::soft
