// XYGraph: one series of labelled values drawn as a line across the plot.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "graph/graph.h"

namespace norvisk {

// One point as XYData hands it out: the label stays valid until the next point is added.
struct XYPoint {
  std::string_view label;
  double value = 0.0;
};

// The points of one XY graph, in the order they were added, with a running minimum and maximum
// and one cursor for walking them. The labels share one block of text, so that a long series
// costs no allocation per point.
class XYData {
 public:
  virtual ~XYData() = default;

  void Add(std::string_view label, double value);
  void Clear();
  // Makes room for `more` points with `moreText` bytes of labels ahead of adding them.
  void Reserve(std::size_t more, std::size_t moreText);
  int Count() const { return count; }
  double MinValue() const { return minValue; }
  double MaxValue() const { return maxValue; }
  bool First();
  bool Next();
  std::string CurrentLabel() const { return std::string(Label(cursor)); }
  double CurrentValue() const { return points[cursor].value; }
  // Point k, counted from 0 in the order of adding.
  XYPoint Point(std::size_t k) const { return XYPoint{Label(k), points[k].value}; }

 private:
  struct Entry {
    std::size_t labelStart;
    std::size_t labelLength;
    double value;
  };
  std::string_view Label(std::size_t k) const {
    return std::string_view(labels).substr(points[k].labelStart, points[k].labelLength);
  }

  std::string labels;
  std::vector<Entry> points;
  int count = 0;
  double minValue = 0.0;  // meaningful only while count > 0; Clear leaves them
  double maxValue = 0.0;
  std::size_t cursor = 0;
};

class XYGraph : public Graph {
 public:
  XYGraph(int width, int height);
  ~XYGraph() override;

  void AddXYValue(std::string_view label, double value);

  void DrawXLabels() override;
  void DrawData() override;
  bool SetWidth(int width) override;
  bool SetHeight(int height) override;
  void LoadData(std::string_view data) override;
  bool DrawToDC(DeviceContext target) override;
  bool SaveToFile(const char* fileName) override;
  void Clear() override;
  bool Prepare() override;
  void Render();

  const XYData& data() const { return xyData; }
  // Where point k of the current points stands.
  int PointX(int k) const;
  int PointY(double value) const;

  int width = 0;
  int height = 0;

 private:
  // Sets the geometry from `width` and `height`.
  void Layout();
  XYData xyData;
};

}  // namespace norvisk
