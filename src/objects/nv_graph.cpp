// NVGraph: graphs made at the object's fixed size, saved over a fresh background.
#include "objects/nv_graph.h"

namespace norvisk {

HRESULT NVGraph::CreateBarGraph() { return Replace(GraphKind::Bar, width_, height_); }

HRESULT NVGraph::CreateXYGraph() { return Replace(GraphKind::XY, width_, height_); }

HRESULT NVGraph::Draw(GraphKind kind, const TextArg& fileName, const TextArg& data,
                      ExportResult* outcome) {
  if (outcome) *outcome = ExportResult::NotWritten;
  if (HRESULT hr = Replace(kind, width_, height_); hr != S_OK) return hr;
  LoadBackground();
  // The data is read before the file name is converted.
  if (HRESULT hr = LoadData(data); hr != S_OK) return hr;
  return SaveGraph(fileName, outcome);
}

HRESULT NVGraph::DrawBarGraph(TextArg fileName, TextArg data, ExportResult* outcome) {
  return Draw(GraphKind::Bar, fileName, data, outcome);
}

HRESULT NVGraph::DrawXYGraph(TextArg fileName, TextArg data, ExportResult* outcome) {
  return Draw(GraphKind::XY, fileName, data, outcome);
}

HRESULT NVGraph::SaveToFile(TextArg fileName, ExportResult* outcome) {
  if (outcome) *outcome = ExportResult::NotWritten;
  if (!graph()) return S_OK;
  // Always a complete rendering over a fresh background, however often it is saved.
  LoadBackground();
  return SaveGraph(fileName, outcome);
}

HRESULT NVGraph::SetWidth(int width) {
  if (!graph()) return S_FALSE;
  graph()->SetWidth(width);
  return CheckSurface();
}

HRESULT NVGraph::SetHeight(int height) {
  if (!graph()) return S_FALSE;
  graph()->SetHeight(height);
  return CheckSurface();
}

HRESULT NVGraph::ReadData(TextArg data) {
  if (!graph()) return S_FALSE;
  return LoadData(data);
}

HRESULT NVGraph::Encode(PictureWriter writer, const ImageSink& sink, ExportResult* outcome) {
  *outcome = ExportResult::NotWritten;
  if (!graph()) return S_FALSE;
  // A size of no picture stays without one: the background would give the canvas its own size.
  if (!HasPicture()) return S_OK;
  LoadBackground();
  *outcome = graph()->Encode(writer, sink);
  return S_OK;
}

HRESULT NVGraph::SaveAs(TextArg fileName, PictureWriter writer, ExportResult* outcome) {
  *outcome = ExportResult::NotWritten;
  if (!graph()) return S_FALSE;
  if (!HasPicture() || writer == nullptr) return S_OK;
  LoadBackground();
  return SaveGraph(fileName, outcome, writer);
}

}  // namespace norvisk
