// GraphHolder: graph replacement, kind checks and adding, shared by both graph objects.
#include "objects/graph_holder.h"

#include "graph/bar_graph.h"
#include "graph/xy_graph.h"

namespace norvisk {

GraphHolder::~GraphHolder() = default;

HRESULT GraphHolder::Replace(GraphKind kind, int width, int height) {
  // The old graph goes before the new one is made, and the kind follows only a graph that
  // stands: when memory runs out on the way, there is no graph and no kind.
  graph_.reset();
  graphKind_ = GraphKind::None;
  if (kind == GraphKind::Bar)
    graph_ = std::make_unique<BarGraph>(width, height);
  else
    graph_ = std::make_unique<XYGraph>(width, height);
  if (CheckSurface() != S_OK) {
    // Never a graph that cannot draw for want of memory.
    graph_.reset();
    return E_OUTOFMEMORY;
  }
  graphKind_ = kind;
  return S_OK;
}

HRESULT GraphHolder::CheckSurface() const {
  if (!graph_ || graph_->canvas->ready()) return S_OK;
  const SurfaceDesc& desc = graph_->canvas->surfaceDesc();
  // A size beyond the limit has no picture by rule; one within it lacked only memory.
  return SurfaceFits(desc.width, desc.height, desc.bitsPerPixel) ? E_OUTOFMEMORY : S_OK;
}

void GraphHolder::LoadBackground() {
  if (graph_) graph_->LoadBackground(module_, kBackgroundBitmap);
}

HRESULT GraphHolder::LoadData(TextArg data) {
  std::string storage;
  std::string_view text;
  if (!GraphText(data, &storage, &text)) return E_OUTOFMEMORY;
  graph_->LoadData(text);
  return S_OK;
}

HRESULT GraphHolder::SaveGraph(const TextArg& fileName, ExportResult* outcome) {
  if (outcome) *outcome = ExportResult::NotWritten;
  std::string storage;
  std::string_view name;
  if (!GraphText(fileName, &storage, &name)) return E_OUTOFMEMORY;
  std::string terminated(name);
  const ExportResult result = graph_->ExportToFile(terminated.c_str());
  if (outcome) *outcome = result;
  return S_OK;
}

// Runs `add` with the converted text on the current graph when it is of kind `Kind`.
template <class Kind, class Add>
static HRESULT add_text(GraphKind want, GraphKind have, Graph* graph, const TextArg& text,
                        Add add) {
  if (have != want) return S_FALSE;
  std::string storage;
  std::string_view converted;
  if (!GraphText(text, &storage, &converted)) return E_OUTOFMEMORY;
  add(static_cast<Kind*>(graph), converted);
  return S_OK;
}

HRESULT GraphHolder::AddBarBar(TextArg legend) {
  return add_text<BarGraph>(GraphKind::Bar, graphKind_, graph_.get(), legend,
                            [](BarGraph* g, std::string_view t) { g->AddBar(t); });
}

HRESULT GraphHolder::AddBarLegend(TextArg legend) {
  return add_text<BarGraph>(GraphKind::Bar, graphKind_, graph_.get(), legend,
                            [](BarGraph* g, std::string_view t) { g->AddLegend(t); });
}

HRESULT GraphHolder::AddBarValue(double value) {
  if (graphKind_ != GraphKind::Bar) return S_FALSE;
  static_cast<BarGraph*>(graph_.get())->AddValue(value);
  return S_OK;
}

HRESULT GraphHolder::AddXYValue(TextArg legend, double value) {
  return add_text<XYGraph>(GraphKind::XY, graphKind_, graph_.get(), legend,
                           [value](XYGraph* g, std::string_view t) { g->AddXYValue(t, value); });
}

HRESULT GraphHolder::Clear() {
  if (graph_) graph_->Clear();
  return S_OK;
}

}  // namespace norvisk
