// GraphHolder: what both graph objects share: replacing the graph, the kind checks of the
// adding methods, reading data, saving, and what callers may read of the graph.
#include "objects/graph_holder.h"

namespace norvisk {

GraphHolder::~GraphHolder() = default;

HRESULT GraphHolder::Replace(GraphKind kind, int width, int height) {
  // The old graph goes before the new one is made, and the kind is set only once the new graph
  // is complete: when memory runs out on the way, there is no graph and the kind is None.
  graph_.reset();
  graphKind_ = GraphKind::None;
  if (kind == GraphKind::Bar)
    graph_ = std::make_unique<BarGraph>(width, height);
  else
    graph_ = std::make_unique<XYGraph>(width, height);
  if (CheckSurface() != S_OK) {
    // A graph whose surface was refused for want of memory is not kept.
    graph_.reset();
    return E_OUTOFMEMORY;
  }
  graphKind_ = kind;
  return S_OK;
}

HRESULT GraphHolder::CheckSurface() const {
  return graph_ && graph_->PictureRefused() ? E_OUTOFMEMORY : S_OK;
}

const BarData* GraphHolder::barData() const {
  if (graphKind_ != GraphKind::Bar) return nullptr;
  return &static_cast<const BarGraph*>(graph_.get())->data();
}

const XYData* GraphHolder::xyData() const {
  if (graphKind_ != GraphKind::XY) return nullptr;
  return &static_cast<const XYGraph*>(graph_.get())->data();
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

HRESULT GraphHolder::SaveGraph(const TextArg& fileName, ExportResult* outcome,
                               PictureWriter writer) {
  if (outcome) *outcome = ExportResult::NotWritten;
  std::string storage;
  std::string_view name;
  if (!GraphText(fileName, &storage, &name)) return E_OUTOFMEMORY;
  std::string terminated(name);
  const ExportResult result = writer ? graph_->ExportToFile(terminated.c_str(), writer)
                                     : graph_->ExportToFile(terminated.c_str());
  if (outcome) *outcome = result;
  return S_OK;
}

// Runs `add` with the converted text on the current graph, as the graph class `Kind`, when the
// object's kind is `want`; S_FALSE otherwise.
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
