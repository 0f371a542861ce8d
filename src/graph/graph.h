// Graph: the abstract graph both kinds derive from; plot layout, grid and value labels.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "raster/canvas.h"

namespace norvisk {

// Bitmap resource of the 640 x 300 background gradient.
constexpr int kBackgroundBitmap = 202;

class Graph {
 public:
  Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  virtual void DrawXLabels() = 0;
  virtual void DrawLegend() {}
  virtual void DrawData() = 0;
  virtual ~Graph();
  virtual bool SetWidth(int width) = 0;
  virtual bool SetHeight(int height) = 0;
  virtual void LoadData(std::string_view data) = 0;
  virtual bool DrawToDC(DeviceContext target) = 0;
  virtual bool SaveToFile(const char* fileName) = 0;
  virtual void Clear() = 0;
  // Renders what is pending for a save; false when there is nothing to draw (an XY graph
  // without points), and then nothing is rendered.
  virtual bool Prepare() = 0;

  // SaveToFile with the whole outcome: NoMemory when the encoder ran out of memory. Given a
  // writer, the file is written by it whatever its name.
  ExportResult ExportToFile(const char* fileName);
  ExportResult ExportToFile(const char* fileName, PictureWriter writer);
  // The picture SaveToFile would write, as the bytes `writer` makes into `sink`.
  ExportResult Encode(PictureWriter writer, const ImageSink& sink);
  ExportResult Encode(ImageFormat format, const ImageSink& sink) {
    return Encode(WriterFor(format), sink);
  }

  // Puts bitmap resource `id` of `module` onto the canvas; the next draw renders anew.
  bool LoadBackground(ModuleHandle module, int id);
  // Frame and dotted grid of the rectangle (x, y, w, h) with `columns` vertical divisions.
  void DrawGrid(int x, int y, int w, int h, int columns);
  // The eleven value-axis labels left of x, from maxValue at y down to minValue at y + h.
  void DrawValueLabels(int x, int y, int h, double minValue, double maxValue);

  // The picture: whether the canvas has a surface to draw on, and its pixels as they stand
  // (none without a surface).
  bool HasPicture() const { return canvas->ready(); }
  SurfaceBits PictureBits() const { return canvas->Bits(); }
  // Whether the canvas lacks its surface only for want of memory: a size beyond the limit has
  // none by rule.
  bool PictureRefused() const;

  // Graphs alive in this process, to find leaks.
  static int LiveCount();

  bool dirty = true;
  std::unique_ptr<Canvas> canvas;
  int plotTop = 0;
  int plotLeft = 0;
  int plotWidth = 0;
  int plotHeight = 0;

 protected:
  // The steps both kinds take with the image size that each keeps in its own fields:
  // plotTop, plotLeft and plotHeight for a picture of width x height (plotWidth is the kind's);
  void PlacePlot(int width, int height);
  // the canvas made at width x height, with the font for that height;
  void MakeCanvas(int width, int height);
  // a new width or height taken (the kind has laid itself out anew): the graph marked dirty,
  // the canvas resized, and for a new height given the font for it; what Resize returns;
  bool ResizeCanvas(int width, int height, bool newHeight);
  // the picture rendered and copied to the top-left corner of `target`; false when there is
  // nothing to draw (no rendering then) or the copy fails;
  bool CopyPicture(DeviceContext target, int width, int height);
  // the picture rendered and written to the file; true when it was written whole;
  bool SavePicture(const char* fileName);
  // the solid black pen 1 pixel wide that the frame is drawn with and DrawGrid leaves for the
  // rest of a rendering.
  void UseSolidBlackPen();
};

// Text of value-axis label i (0 at the top, 10 at the bottom): fixed point, two decimals.
std::string ValueLabelText(double minValue, double maxValue, int i);

// value * num / den in 64 bits, truncated toward zero: layout fractions of any int size.
constexpr int ScaleInt(int value, int num, int den) {
  return static_cast<int>(static_cast<long long>(value) * num / den);
}

// Font size of a graph of the given height, in points.
constexpr int FontPointsFor(int height) { return ScaleInt(height, 3, 80); }

// A pixel coordinate from a double, truncated toward zero. Infinities and values beyond any
// surface are held at a far-off coordinate; false for not-a-number.
bool ToPixel(double value, int* pixel);

}  // namespace norvisk
