// BarGraph: data, the bar data string, and drawing of stacked bars.
#include "graph/bar_graph.h"

#include <algorithm>

#include "base/first_character.h"
#include "base/reserve.h"
#include "graph/number_reader.h"

namespace norvisk {

Color SeriesColor(int index) {
  static constexpr Color kColors[] = {
      MakeColor(254, 40, 40),  MakeColor(242, 254, 40),  MakeColor(26, 215, 1),
      MakeColor(82, 29, 250),  MakeColor(156, 5, 165),   MakeColor(251, 118, 77),
      MakeColor(40, 254, 241), MakeColor(255, 5, 134),   MakeColor(77, 251, 40),
      MakeColor(0, 0, 0),      MakeColor(128, 128, 128), MakeColor(141, 245, 148),
      MakeColor(255, 255, 255)};
  if (index < 0 || index >= static_cast<int>(std::size(kColors))) return 0;
  return kColors[index];
}

BarGraph::BarGraph(int w, int h) : width(w), height(h) {
  Layout();
  MakeCanvas(width, height);
}

BarGraph::~BarGraph() { canvas.reset(); }

void BarGraph::Layout() {
  PlacePlot(width, height);
  // The plot leaves room at the right for the legend box.
  plotWidth = ScaleInt(width, 45, 64);
  legendLeft = ScaleInt(width, 103, 128);
  legendTop = height / 15;
  legendWidth = ScaleInt(width, 3, 16);
}

void BarGraph::AddLegend(std::string_view text) {
  data_.legends.emplace_back(text);
  ++data_.legendCount;
  dirty = true;
}

void BarGraph::AddBar(std::string_view name) {
  data_.runningTotal = 0.0;
  data_.bars.push_back(Bar{std::string(name), data_.values.size(), 0});
  data_.currentBar = static_cast<int>(data_.bars.size()) - 1;
  ++data_.barCount;
  dirty = true;
}

void BarGraph::AddValue(double value) {
  // Without a bar there is nothing to stack the value on.
  if (data_.currentBar < 0) return;
  data_.values.push_back(value);
  ++data_.bars[data_.currentBar].valueCount;
  data_.runningTotal += value;
  if (data_.runningTotal > data_.maxTotal) data_.maxTotal = data_.runningTotal;
  dirty = true;
}

bool BarGraph::SetWidth(int w) {
  width = w;
  Layout();
  return ResizeCanvas(width, height, false);
}

bool BarGraph::SetHeight(int h) {
  height = h;
  Layout();
  return ResizeCanvas(width, height, true);
}

// "(legend;legend;...)(name;value;value...)(name;...)...". Read with views that only move
// forward, so the time is linear in the length of the text.
void BarGraph::LoadData(std::string_view s) {
  dirty = true;
  // The first character, whatever it is: all the bytes of it.
  s.remove_prefix(FirstCharLength(s));

  std::size_t close = s.find(')');
  std::string_view legendSection = s.substr(0, close);
  s = close == std::string_view::npos ? std::string_view{} : s.substr(close + 1);
  for (;;) {
    std::size_t semi = legendSection.find(';');
    AddLegend(legendSection.substr(0, semi));
    if (semi == std::string_view::npos) break;
    legendSection.remove_prefix(semi + 1);
  }

  if (s.size() > 4096) {
    // Room for every bar and value at once: a long text is read without regrowing the lists.
    std::size_t groups = static_cast<std::size_t>(std::count(s.begin(), s.end(), ')'));
    std::size_t fields = static_cast<std::size_t>(std::count(s.begin(), s.end(), ';'));
    ReserveMore(data_.bars, groups);
    ReserveMore(data_.values, groups + fields);
  }

  for (std::size_t q; (q = s.find(')')) != std::string_view::npos;) {
    // The character before the body, normally "(", is skipped unchecked. A ")" right at the
    // front gives an empty body. No character of more than one byte holds a ")".
    std::string_view group = s.substr(0, q);
    group.remove_prefix(FirstCharLength(group));
    s.remove_prefix(q + 1);
    std::size_t semi = group.find(';');
    AddBar(group.substr(0, semi));
    if (semi != std::string_view::npos) group.remove_prefix(semi + 1);
    while ((semi = group.find(';')) != std::string_view::npos) {
      AddValue(ReadNumber(group.substr(0, semi)));
      group.remove_prefix(semi + 1);
    }
    AddValue(ReadNumber(group));
  }
}

void BarGraph::Render() {
  if (!dirty) return;
  // The pen every rendering starts with, whatever one cut short left behind.
  UseSolidBlackPen();
  DrawGrid(plotLeft, plotTop, plotWidth, plotHeight, 0);
  DrawXLabels();
  DrawLegend();
  DrawValueLabels(plotLeft, plotTop, plotHeight, 0.0, data_.maxTotal);
  DrawData();
  // Only a rendering that ran to its end counts: one cut short by memory running out is
  // drawn again, over itself, by the next call.
  dirty = false;
}

void BarGraph::DrawData() {
  long long n = data_.barCount;
  // With no positive stack there is no scale; nothing rises above the baseline.
  if (n == 0 || !(data_.maxTotal > 0.0)) return;
  double scale = plotHeight / data_.maxTotal;
  double baseline = static_cast<double>(plotTop) + plotHeight;
  long long k = 0;
  for (const Bar& bar : data_.bars) {
    int left = static_cast<int>((static_cast<long long>(plotWidth) - 1) * k / n + plotLeft + 2);
    int right = static_cast<int>(left + (static_cast<long long>(plotWidth) - 2) / n - 2);
    ++k;
    double below = 0.0;
    int j = 0;
    for (double value : data_.ValuesOf(bar)) {
      double above = below + value;
      Color color = SeriesColor(j++);
      canvas->SetBrushColor(color);
      canvas->SetPenColor(color);
      int top, bottom;
      if (ToPixel(baseline - below * scale, &top) && ToPixel(baseline - above * scale, &bottom))
        canvas->DrawRectangle(left, top, right, bottom);
      below = above;
    }
  }
}

void BarGraph::DrawXLabels() {
  long long n = data_.barCount;
  if (n == 0) return;
  double half = static_cast<double>(plotWidth / n) * 0.5;
  int y = plotTop + plotHeight + 2;
  long long k = 0;
  for (const Bar& bar : data_.bars) {
    int x = 0;
    ToPixel(plotLeft + static_cast<double>(static_cast<long long>(plotWidth) * k / n) + half - 8.0,
            &x);
    ++k;
    canvas->DrawVerticalText(x, y, bar.name);
  }
}

void BarGraph::DrawLegend() {
  int m = data_.legendCount;
  if (m == 0) return;
  long long boxHeight = 16LL * m + 5;
  int mode = canvas->SetBackgroundMode(kTransparent);
  long long k = 0;
  for (const std::string& legend : data_.legends) {
    int row = static_cast<int>(std::min<long long>(legendTop + 16 * k, 1 << 30));
    ++k;
    canvas->SetBrushColor(SeriesColor(static_cast<int>(std::min<long long>(k - 1, 1 << 30))));
    canvas->DrawRectangle(legendLeft + 5, row + 4, legendLeft + 17, row + 16);
    canvas->DrawText(legendLeft + 20, row + 2, legend);
  }
  canvas->SetBackgroundMode(mode);
  canvas->SetBrushStyle(kBrushHollow);
  canvas->DrawRectangle(legendLeft, legendTop, legendLeft + legendWidth,
                        static_cast<int>(std::min<long long>(legendTop + boxHeight, 1 << 30)));
  canvas->SetBrushStyle(kBrushSolid);
}

bool BarGraph::DrawToDC(DeviceContext target) { return CopyPicture(target, width, height); }

bool BarGraph::SaveToFile(const char* fileName) { return SavePicture(fileName); }

bool BarGraph::Prepare() {
  Render();
  return true;
}

void BarGraph::Clear() {
  data_.currentBar = -1;
  data_.legends.clear();
  data_.bars.clear();
  data_.values.clear();
  data_.legendCount = 0;
  data_.barCount = 0;
  data_.runningTotal = 0.0;
  data_.maxTotal = 0.0;
  dirty = true;
}

}  // namespace norvisk
