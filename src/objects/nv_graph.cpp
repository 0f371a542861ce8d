// NVGraph: graphs made at the object's fixed size, saved over a fresh background.
#include "objects/nv_graph.h"

namespace norvisk {

HRESULT NVGraph::CreateBarGraph() { return Replace(GraphKind::Bar, width_, height_); }

HRESULT NVGraph::CreateXYGraph() { return Replace(GraphKind::XY, width_, height_); }

HRESULT NVGraph::Draw(GraphKind kind, const TextArg& fileName, const TextArg& data) {
  if (HRESULT hr = Replace(kind, width_, height_); hr != S_OK) return hr;
  LoadBackground();
  // The data is read before the file name is converted.
  if (HRESULT hr = LoadData(data); hr != S_OK) return hr;
  return SaveGraph(fileName);
}

HRESULT NVGraph::DrawBarGraph(TextArg fileName, TextArg data) {
  return Draw(GraphKind::Bar, fileName, data);
}

HRESULT NVGraph::DrawXYGraph(TextArg fileName, TextArg data) {
  return Draw(GraphKind::XY, fileName, data);
}

HRESULT NVGraph::SaveToFile(TextArg fileName) {
  if (!graph()) return S_OK;
  // Always a complete rendering over a fresh background, however often it is saved.
  LoadBackground();
  return SaveGraph(fileName);
}

HRESULT NVGraph::SetWidth(int width) {
  if (!graph()) return S_FALSE;
  graph()->SetWidth(width);
  return S_OK;
}

HRESULT NVGraph::SetHeight(int height) {
  if (!graph()) return S_FALSE;
  graph()->SetHeight(height);
  return S_OK;
}

}  // namespace norvisk
