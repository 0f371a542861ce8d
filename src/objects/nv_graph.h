// NVGraph: the non-visual graph object; every graph 640 x 300, drawn into files.
#pragma once

#include "objects/graph_holder.h"

namespace norvisk {

class NVGraph : public GraphHolder {
 public:
  explicit NVGraph(ModuleHandle module = nullptr) : GraphHolder(module) {}

  HRESULT CreateBarGraph();
  HRESULT CreateXYGraph();
  // The drawing methods and SaveToFile return S_OK whatever became of the file, as automation
  // clients expect; `outcome`, when given, says whether it was written.
  HRESULT DrawBarGraph(TextArg fileName, TextArg data, ExportResult* outcome = nullptr);
  HRESULT DrawXYGraph(TextArg fileName, TextArg data, ExportResult* outcome = nullptr);
  HRESULT SaveToFile(TextArg fileName, ExportResult* outcome = nullptr);
  // S_FALSE without a graph; E_OUTOFMEMORY when a size that fits could not be given a surface.
  HRESULT SetWidth(int width);
  HRESULT SetHeight(int height);

  // For callers in the same process: the current graph reads a data string (S_FALSE without
  // one), and the picture SaveToFile would write goes into `sink` as the bytes `writer` makes
  // (WriterFor gives those of the component's formats), or into a file as SaveToFile writes
  // it, but in the writer's format whatever the name. Unlike SaveToFile, a graph whose size
  // gives no picture writes nothing.
  HRESULT ReadData(TextArg data);
  HRESULT Encode(PictureWriter writer, const ImageSink& sink, ExportResult* outcome);
  HRESULT SaveAs(TextArg fileName, PictureWriter writer, ExportResult* outcome);

  // The size of every graph this object makes; no method changes it.
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  HRESULT Draw(GraphKind kind, const TextArg& fileName, const TextArg& data, ExportResult* outcome);

  int width_ = 640;
  int height_ = 300;
};

}  // namespace norvisk
