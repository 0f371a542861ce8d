// VGraph: the visual graph object; graphs at the window's size, drawn into the window.
#pragma once

#include "objects/control_window.h"
#include "objects/graph_holder.h"

namespace norvisk {

class VGraph : public GraphHolder {
 public:
  VGraph(ControlWindow& window, ModuleHandle module = nullptr)
      : GraphHolder(module), window_(window) {}

  HRESULT CreateBarGraph();
  HRESULT CreateXYGraph();
  HRESULT DrawBarGraph(TextArg data);
  HRESULT DrawXYGraph(TextArg data);
  HRESULT DrawGraph();
  HRESULT SaveToFile(TextArg fileName);

  // The painting of the window: the current graph copied to the top-left corner of `target`,
  // pending changes rendered first; false without a graph, with nothing to show (an XY graph
  // without points) or when the copy fails.
  bool DrawTo(DeviceContext target);
  // Pending changes rendered, and the current graph's pixels as they now stand; none without
  // a graph, with nothing to show, or without a surface.
  SurfaceBits RenderedPicture();

 private:
  // Copies the current graph into the window, rendering pending changes first.
  bool DrawIntoWindow();
  // The size of a new graph: the client area, or the extent at 96 dots per inch before the
  // window exists.
  void NewGraphSize(int* width, int* height);
  HRESULT Create(GraphKind kind);
  HRESULT Draw(GraphKind kind, const TextArg& data);

  ControlWindow& window_;
};

}  // namespace norvisk
