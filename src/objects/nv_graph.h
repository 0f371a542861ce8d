// NVGraph: the non-visual graph object; every graph 640 x 300, drawn into files.
#pragma once

#include "objects/graph_holder.h"

namespace norvisk {

class NVGraph : public GraphHolder {
 public:
  explicit NVGraph(ModuleHandle module = nullptr) : GraphHolder(module) {}

  HRESULT CreateBarGraph();
  HRESULT CreateXYGraph();
  HRESULT DrawBarGraph(TextArg fileName, TextArg data);
  HRESULT DrawXYGraph(TextArg fileName, TextArg data);
  HRESULT SaveToFile(TextArg fileName);
  HRESULT SetWidth(int width);
  HRESULT SetHeight(int height);

  // The size of every graph this object makes; no method changes it.
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  HRESULT Draw(GraphKind kind, const TextArg& fileName, const TextArg& data);

  int width_ = 640;
  int height_ = 300;
};

}  // namespace norvisk
