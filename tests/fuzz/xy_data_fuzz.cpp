// XY data strings: read, rendered, saved as a bitmap and a JPEG (a graph without points saves
// none).
#include "data_string_fuzz.h"
#include "graph/xy_graph.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return norvisk_fuzz::DrawDataString(
      data, size, norvisk::GraphKind::XY,
      [](norvisk::NVGraph& graph, const std::string& file, std::string_view text) {
        return graph.DrawXYGraph(file, text);
      },
      [](const norvisk::Graph& graph) {
        return static_cast<const norvisk::XYGraph&>(graph).data().Count() > 0;
      });
}
