// XYGraph: one series of labelled values drawn as a line across the plot.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "graph/graph.h"

namespace norvisk {

struct XYPoint {
  std::string label;
  double value = 0.0;
};

// The points of one XY graph, in the order they were added, with a running minimum and maximum
// and one cursor for walking them.
class XYData {
 public:
  virtual ~XYData() = default;

  void Add(std::string_view label, double value);
  void Clear();
  // Makes room for `more` points ahead of adding them.
  void Reserve(std::size_t more);
  int Count() const { return count; }
  double MinValue() const { return minValue; }
  double MaxValue() const { return maxValue; }
  bool First();
  bool Next();
  std::string CurrentLabel() const { return points[cursor].label; }
  const std::string& CurrentLabelRef() const { return points[cursor].label; }
  double CurrentValue() const { return points[cursor].value; }
  const std::vector<XYPoint>& Points() const { return points; }

 private:
  std::vector<XYPoint> points;
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
  void Render();

  const XYData& data() const { return xyData; }
  // Where point k of the current points stands.
  int PointX(int k) const;
  int PointY(double value) const;

  int width = 0;
  int height = 0;

 private:
  void SetWidthGeometry();
  void SetHeightGeometry();
  XYData xyData;
};

}  // namespace norvisk
