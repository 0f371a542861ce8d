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

  // Copies the current graph into the window, rendering pending changes first (repaints).
  bool DrawIntoWindow();

 private:
  // The size of a new graph: the client area, or the extent at 96 dots per inch before the
  // window exists.
  void NewGraphSize(int* width, int* height);
  HRESULT Create(GraphKind kind);
  HRESULT Draw(GraphKind kind, const TextArg& data);

  ControlWindow& window_;
};

}  // namespace norvisk
