// BarGraph: stacked bars, one column per bar, one colour per series, with a legend box.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "graph/graph.h"

namespace norvisk {

struct Bar {
  std::string name;
  std::size_t firstValue = 0;  // where the bar's values start in BarData::values
  std::size_t valueCount = 0;
};

class BarData {
 public:
  virtual ~BarData() = default;

  int currentBar = -1;  // index of the bar AddValue appends to; -1 before the first bar
  std::vector<std::string> legends;
  std::vector<Bar> bars;
  // The values of all bars, bar after bar, each bar's stacked bottom-up. Only the last bar
  // grows, so one array holds them all.
  std::vector<double> values;
  int legendCount = 0;
  int barCount = 0;
  double runningTotal = 0.0;
  double maxTotal = 0.0;  // the highest stack reached since the last Clear; never below 0

  std::span<const double> ValuesOf(const Bar& bar) const {
    return std::span<const double>(values).subspan(bar.firstValue, bar.valueCount);
  }
};

// Colour of series `index`: legend k and value k of every bar.
Color SeriesColor(int index);

class BarGraph : public Graph {
 public:
  BarGraph(int width, int height);
  ~BarGraph() override;

  void AddLegend(std::string_view text);
  void AddBar(std::string_view name);
  void AddValue(double value);

  void DrawXLabels() override;
  void DrawLegend() override;
  void DrawData() override;
  bool SetWidth(int width) override;
  bool SetHeight(int height) override;
  void LoadData(std::string_view data) override;
  bool DrawToDC(DeviceContext target) override;
  bool SaveToFile(const char* fileName) override;
  void Clear() override;
  bool Prepare() override;
  void Render();

  const BarData& data() const { return data_; }

  int legendLeft = 0;
  int legendTop = 0;
  int legendWidth = 0;
  int width = 0;
  int height = 0;

 private:
  // Sets the geometry from `width` and `height`.
  void Layout();
  BarData data_;
};

}  // namespace norvisk
