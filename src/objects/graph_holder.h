// GraphHolder: the current graph of a graph object, its kind, and what both classes share.
//
// The methods of the graph objects let std::bad_alloc through when memory runs out; their
// callers run them inside the exception boundary (objects/boundary.h), which reports it as
// E_OUTOFMEMORY. A method that fails half-way leaves the object consistent.
#pragma once

#include <cstdint>
#include <memory>

#include "graph/bar_graph.h"
#include "graph/graph.h"
#include "graph/xy_graph.h"
#include "objects/status.h"
#include "objects/text.h"

namespace norvisk {

enum class GraphKind : std::int32_t { None = 0, XY = 1, Bar = 2 };

class GraphHolder {
 public:
  explicit GraphHolder(ModuleHandle module) : module_(module) {}
  GraphHolder(const GraphHolder&) = delete;
  GraphHolder& operator=(const GraphHolder&) = delete;
  ~GraphHolder();

  // The adding methods, each only for its own kind of graph (else S_FALSE).
  HRESULT AddBarBar(TextArg legend);
  HRESULT AddBarLegend(TextArg legend);
  HRESULT AddBarValue(double value);
  HRESULT AddXYValue(TextArg legend, double value);
  HRESULT Clear();

  GraphKind graphKind() const { return graphKind_; }
  Graph* graph() const { return graph_.get(); }
  ModuleHandle module() const { return module_; }
  bool HasGraph() const { return graph_ != nullptr; }
  // Whether there is a graph with a picture to draw into: a size beyond the limit has none.
  bool HasPicture() const { return graph_ && graph_->HasPicture(); }
  // What the current graph holds, read only: the data of a bar graph, the points of an XY
  // graph; nullptr for the other kind and without a graph.
  const BarData* barData() const;
  const XYData* xyData() const;

 protected:
  // Destroys the current graph and makes a new, empty one of `kind`. A size beyond the limit
  // gives a graph without a picture. E_OUTOFMEMORY, with no graph and kind None, when a size
  // within it could not have its surface; when the graph itself cannot be allocated the same
  // state is left, and std::bad_alloc goes on to the boundary.
  HRESULT Replace(GraphKind kind, int width, int height);
  // Puts the background image back into the current graph's canvas.
  void LoadBackground();
  // Reads `data` into the current graph; E_OUTOFMEMORY when it cannot be converted.
  HRESULT LoadData(TextArg data);
  // The current graph renders what is pending and writes its canvas to the file, in the format
  // its name asks for or, given a writer, as the writer makes it. Whether a file came of it goes
  // only to `outcome`, when given.
  HRESULT SaveGraph(const TextArg& fileName, ExportResult* outcome = nullptr,
                    PictureWriter writer = nullptr);
  // S_OK when the current graph has the surface its size asks for; E_OUTOFMEMORY when a size
  // that fits could not be had.
  HRESULT CheckSurface() const;

 private:
  GraphKind graphKind_ = GraphKind::None;
  std::unique_ptr<Graph> graph_;
  ModuleHandle module_;
};

}  // namespace norvisk
