// Bar data strings: read, rendered, saved as a bitmap and a JPEG.
#include "data_string_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return norvisk_fuzz::DrawDataString(
      data, size, norvisk::GraphKind::Bar,
      [](norvisk::NVGraph& graph, const std::string& file, std::string_view text) {
        return graph.DrawBarGraph(file, text);
      },
      [](const norvisk::Graph&) { return true; });
}
