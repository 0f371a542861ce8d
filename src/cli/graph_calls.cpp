// GraphCalls on an NVGraph: each call passed straight through, inside the exception boundary,
// so that a call that runs out of memory reports it as the COM class does.
#include "cli/graph_calls.h"

#include "cli/script_text.h"
#include "objects/boundary.h"
#include "objects/nv_graph.h"

namespace norvisk::cli {
namespace {

class NVGraphCalls final : public GraphCalls {
 public:
  HRESULT AddBarBar(std::string_view legend) override {
    return Guarded([&] { return graph_.AddBarBar(ScriptText(legend, &first_)); });
  }
  HRESULT AddBarLegend(std::string_view legend) override {
    return Guarded([&] { return graph_.AddBarLegend(ScriptText(legend, &first_)); });
  }
  HRESULT AddBarValue(double value) override {
    return Guarded([&] { return graph_.AddBarValue(value); });
  }
  HRESULT AddXYValue(std::string_view legend, double value) override {
    return Guarded([&] { return graph_.AddXYValue(ScriptText(legend, &first_), value); });
  }
  HRESULT Clear() override {
    return Guarded([&] { return graph_.Clear(); });
  }
  HRESULT CreateXYGraph() override {
    return Guarded([&] { return graph_.CreateXYGraph(); });
  }
  HRESULT SaveToFile(std::string_view fileName) override {
    return Guarded([&] { return graph_.SaveToFile(ScriptText(fileName, &first_)); });
  }
  HRESULT DrawBarGraph(std::string_view fileName, std::string_view data) override {
    return Guarded([&] {
      return graph_.DrawBarGraph(ScriptText(fileName, &first_), ScriptText(data, &second_));
    });
  }
  HRESULT DrawXYGraph(std::string_view fileName, std::string_view data) override {
    return Guarded([&] {
      return graph_.DrawXYGraph(ScriptText(fileName, &first_), ScriptText(data, &second_));
    });
  }
  HRESULT CreateBarGraph() override {
    return Guarded([&] { return graph_.CreateBarGraph(); });
  }
  HRESULT SetWidth(int width) override {
    return Guarded([&] { return graph_.SetWidth(width); });
  }
  HRESULT SetHeight(int height) override {
    return Guarded([&] { return graph_.SetHeight(height); });
  }

 private:
  NVGraph graph_;
  std::u16string first_;  // converted texts of the current call
  std::u16string second_;
};

}  // namespace

std::unique_ptr<GraphCalls> MakeNVGraphCalls() { return std::make_unique<NVGraphCalls>(); }

}  // namespace norvisk::cli
