// VGraph: graphs sized by the control window and drawn into it.
#include "objects/v_graph.h"

#include "base/text_number.h"

namespace norvisk {

namespace {
constexpr int kHimetricPerInch = 2540;
constexpr int kScreenDpi = 96;

int himetric_to_pixels(long himetric) {
  long clamped = himetric > 0x7FFFFFFF    ? 0x7FFFFFFF
                 : himetric < -0x7FFFFFFF ? -0x7FFFFFFF
                                          : himetric;
  return MulDiv(static_cast<int>(clamped), kScreenDpi, kHimetricPerInch);
}
}  // namespace

void VGraph::NewGraphSize(int* width, int* height) {
  if (window_.Exists()) {
    window_.ClientSize(width, height);
    return;
  }
  long cx = 0, cy = 0;
  window_.Extent(&cx, &cy);
  *width = himetric_to_pixels(cx);
  *height = himetric_to_pixels(cy);
}

HRESULT VGraph::Create(GraphKind kind) {
  // The window's size is read before anything changes.
  int width = 0, height = 0;
  NewGraphSize(&width, &height);
  return Replace(kind, width, height);
}

HRESULT VGraph::CreateBarGraph() { return Create(GraphKind::Bar); }

HRESULT VGraph::CreateXYGraph() { return Create(GraphKind::XY); }

bool VGraph::DrawIntoWindow() {
  if (!graph() || !window_.Exists()) return false;
  DeviceContext target = window_.AcquireTarget();
  if (!target) return false;
  bool drawn = DrawTo(target);
  window_.ReleaseTarget(target);
  return drawn;
}

bool VGraph::DrawTo(DeviceContext target) { return graph() && graph()->DrawToDC(target); }

SurfaceBits VGraph::RenderedPicture() {
  if (!graph() || !graph()->Prepare()) return SurfaceBits{};
  return graph()->PictureBits();
}

HRESULT VGraph::Draw(GraphKind kind, const TextArg& data) {
  if (HRESULT hr = Create(kind); hr != S_OK) return hr;
  LoadBackground();
  if (HRESULT hr = LoadData(data); hr != S_OK) return hr;
  DrawIntoWindow();
  return S_OK;
}

HRESULT VGraph::DrawBarGraph(TextArg data) { return Draw(GraphKind::Bar, data); }

HRESULT VGraph::DrawXYGraph(TextArg data) { return Draw(GraphKind::XY, data); }

HRESULT VGraph::DrawGraph() {
  if (!graph()) return S_FALSE;
  // A fresh background marks the graph dirty: the window gets a complete rendering.
  LoadBackground();
  DrawIntoWindow();
  return S_OK;
}

// The canvas as it stands, after any pending change is rendered; the background is not put
// back, so the file holds what the window shows or would show now.
HRESULT VGraph::SaveToFile(TextArg fileName) {
  if (!graph()) return S_OK;
  return SaveGraph(fileName);
}

}  // namespace norvisk
