// The data-string targets: a new non-visual graph reads the input as its data string, draws it
// and saves it as a bitmap and as a JPEG. Whatever the data, both files are written whole, unless
// the graph has nothing it could draw (`drawable` says whether it has), when neither is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "objects/nv_graph.h"

namespace norvisk_fuzz {

template <class Draw, class Drawable>
int DrawDataString(const std::uint8_t* data, std::size_t size, norvisk::GraphKind kind, Draw draw,
                   Drawable drawable) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string bmp = (ScratchDir() / "chart.bmp").string();
  const std::string jpg = (ScratchDir() / "chart.jpg").string();
  {
    norvisk::NVGraph graph;
    Check(draw(graph, bmp, text) == S_OK, "the graph draws into the bitmap file");
    Check(graph.graphKind() == kind, "the graph is of the kind drawn");
    Check(graph.SaveToFile(jpg) == S_OK, "the graph saves to the JPEG file");
    if (drawable(*graph.graph())) {
      Check(IsBitmapOf(ReadFile(bmp), graph.width(), graph.height()), "the bitmap file is whole");
      Check(IsWholeJpeg(ReadFile(jpg)), "the JPEG file is whole");
    } else {
      Check(!std::filesystem::exists(bmp) && !std::filesystem::exists(jpg),
            "nothing to draw writes no file");
    }
  }
  CheckNothingAlive();
  ClearScratch();
  return 0;
}

}  // namespace norvisk_fuzz
