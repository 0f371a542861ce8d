// XYGraph: points, the XY data string, and drawing of the line and its labels.
#include "graph/xy_graph.h"

#include <algorithm>
#include <cmath>

#include "base/first_character.h"
#include "base/reserve.h"
#include "graph/number_reader.h"

namespace norvisk {

void XYData::Add(std::string_view label, double value) {
  points.push_back(Entry{labels.size(), label.size(), value});
  labels.append(label);
  ++count;
  if (count == 1) {
    minValue = value;
    maxValue = value;
    cursor = 0;
  } else {
    if (value < minValue) minValue = value;
    if (value > maxValue) maxValue = value;
  }
}

void XYData::Reserve(std::size_t more, std::size_t moreText) {
  ReserveMore(points, more);
  ReserveMore(labels, moreText);
}

void XYData::Clear() {
  points.clear();
  labels.clear();
  count = 0;
  cursor = 0;
}

bool XYData::First() {
  cursor = 0;
  return count != 0 && !points.empty();
}

bool XYData::Next() {
  if (cursor >= points.size()) return false;
  ++cursor;
  return cursor < points.size();
}

XYGraph::XYGraph(int w, int h) : width(w), height(h) {
  Layout();
  MakeCanvas(width, height);
}

XYGraph::~XYGraph() { canvas.reset(); }

void XYGraph::Layout() {
  PlacePlot(width, height);
  // Without a legend the plot takes 14/16 of the width.
  plotWidth = ScaleInt(width, 14, 16);
}

void XYGraph::AddXYValue(std::string_view label, double value) {
  xyData.Add(label, value);
  dirty = true;
}

// "(label;number)(label;number)...": the first character is skipped, then each label runs to
// the next ";", each number to the next ")", and one character after the ")" is skipped.
// Views only move forward, so the time is linear in the length of the text.
void XYGraph::LoadData(std::string_view s) {
  dirty = true;
  // The first character, whatever it is: all the bytes of it.
  s.remove_prefix(FirstCharLength(s));
  // A long text gets room for all its points at once (at most one per ";").
  if (s.size() > 4096)
    xyData.Reserve(static_cast<std::size_t>(std::count(s.begin(), s.end(), ';')), s.size());
  for (std::size_t semi; (semi = s.find(';')) != std::string_view::npos;) {
    std::string_view label = s.substr(0, semi);
    s.remove_prefix(semi + 1);
    std::size_t close = s.find(')');
    // Without a ")" the number is the whole rest, and the rest is used up; else the ")" goes
    // with the one character after it.
    std::string_view number = s.substr(0, close);
    s.remove_prefix(close == std::string_view::npos ? s.size() : close + 1);
    s.remove_prefix(FirstCharLength(s));
    AddXYValue(label, ReadNumber(number));
  }
}

int XYGraph::PointX(int k) const {
  int n = xyData.Count();
  if (k <= 0) return plotLeft;
  if (k >= n - 1) return plotLeft + plotWidth;
  return plotLeft + static_cast<int>(static_cast<long long>(plotWidth) * k / (n - 1));
}

int XYGraph::PointY(double value) const {
  int bottom = plotTop + plotHeight;
  double range = xyData.MaxValue() - xyData.MinValue();
  // A flat series has no scale: every point sits half-way up the plot.
  int flat = plotTop + plotHeight / 2;
  if (!(range > 0.0) || !std::isfinite(range)) return flat;
  double scale = plotHeight / range;
  int y = flat;
  if (!ToPixel(bottom - (value - xyData.MinValue()) * scale, &y)) return flat;
  return y;
}

void XYGraph::Render() {
  if (!dirty) return;
  // The pen every rendering starts with, whatever one cut short left behind.
  UseSolidBlackPen();
  DrawGrid(plotLeft, plotTop, plotWidth, plotHeight + 1, xyData.Count());
  DrawValueLabels(plotLeft, plotTop, plotHeight, xyData.MinValue(), xyData.MaxValue());
  DrawData();
  DrawXLabels();
  dirty = false;  // as for bar graphs: a rendering cut short is done again
}

// The line, in the pen and mix mode the grid leaves: solid black, one pixel.
void XYGraph::DrawData() {
  if (!xyData.First()) return;
  canvas->MoveTo(PointX(0), PointY(xyData.CurrentValue()));
  for (int k = 1; k < xyData.Count() && xyData.Next(); ++k)
    canvas->LineTo(PointX(k), PointY(xyData.CurrentValue()));
}

void XYGraph::DrawXLabels() {
  int yLabel = plotTop + plotHeight + 5;
  if (!xyData.First()) return;
  int k = 0;
  do {
    canvas->DrawVerticalText(PointX(k) - 7, yLabel,
                             xyData.Point(static_cast<std::size_t>(k)).label);
    ++k;
  } while (k < xyData.Count() && xyData.Next());
}

bool XYGraph::SetWidth(int w) {
  width = w;
  Layout();
  return ResizeCanvas(width, height, false);
}

bool XYGraph::SetHeight(int h) {
  height = h;
  Layout();
  return ResizeCanvas(width, height, true);
}

// Without a point there is nothing to draw (Prepare says so): nothing is rendered or copied.
bool XYGraph::DrawToDC(DeviceContext target) { return CopyPicture(target, width, height); }

bool XYGraph::SaveToFile(const char* fileName) { return SavePicture(fileName); }

bool XYGraph::Prepare() {
  // Without a point there is no line and no picture: nothing is written.
  if (xyData.Count() == 0) return false;
  Render();
  return true;
}

void XYGraph::Clear() {
  xyData.Clear();
  dirty = true;
}

}  // namespace norvisk
