// VGraph as a COM object: IVGraph over the graph object of the same name. Until a container
// gives it a window, its graphs take the control's extent and nothing is drawn.
#include "component/dispatch.h"
#include "component/graph_objects.h"
#include "norvisk_h.h"
#include "objects/boundary.h"
#include "objects/v_graph.h"

namespace norvisk {

namespace {

constexpr long kHimetricPerInch = 2540;

// The control's starting extent: the size of its dialog template, whose dialog units follow
// the template's font ("MS Sans Serif", 8 points), converted to HIMETRIC.
void dialog_extent(long* cx, long* cy) {
  HDC dc = CreateCompatibleDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  int unitX = 6, unitY = 13;
  if (dc) {
    HFONT font = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    TEXTMETRICA metrics{};
    SIZE size{};
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (GetTextMetricsA(dc, &metrics) && GetTextExtentPoint32A(dc, kLetters, 52, &size)) {
      unitX = (size.cx / 26 + 1) / 2;  // the average character width, rounded
      unitY = metrics.tmHeight;
    }
    if (old) SelectObject(dc, old);
    if (font) DeleteObject(font);
    DeleteDC(dc);
  }
  int width = MulDiv(416, unitX, 4), height = MulDiv(186, unitY, 8);
  *cx = MulDiv(width, kHimetricPerInch, dpi);
  *cy = MulDiv(height, kHimetricPerInch, dpi);
}

// The control window before a container activates the control: it does not exist yet.
class PendingWindow final : public ControlWindow {
 public:
  PendingWindow() { dialog_extent(&cx_, &cy_); }
  bool Exists() override { return false; }
  void ClientSize(int* width, int* height) override { *width = *height = 0; }
  void Extent(long* width, long* height) override {
    *width = cx_;
    *height = cy_;
  }
  DeviceContext AcquireTarget() override { return nullptr; }
  void ReleaseTarget(DeviceContext) override {}

 private:
  long cx_ = 0;
  long cy_ = 0;
};

class VGraphObject final : public DispatchObject<IVGraph, IID_IVGraph> {
 public:
  explicit VGraphObject(IUnknown* outer)
      : DispatchObject(outer), graph_(window_, static_cast<ModuleHandle>(ModuleInstance())) {}

  STDMETHODIMP DrawBarGraph(BSTR data) override {
    return Guarded([&] { return graph_.DrawBarGraph(BstrText(data)); });
  }
  STDMETHODIMP DrawXYGraph(BSTR data) override {
    return Guarded([&] { return graph_.DrawXYGraph(BstrText(data)); });
  }
  STDMETHODIMP AddBarBar(BSTR legend) override {
    return Guarded([&] { return graph_.AddBarBar(BstrText(legend)); });
  }
  STDMETHODIMP AddBarLegend(BSTR legend) override {
    return Guarded([&] { return graph_.AddBarLegend(BstrText(legend)); });
  }
  STDMETHODIMP AddBarValue(double value) override {
    return Guarded([&] { return graph_.AddBarValue(value); });
  }
  STDMETHODIMP AddXYValue(BSTR legend, double value) override {
    return Guarded([&] { return graph_.AddXYValue(BstrText(legend), value); });
  }
  STDMETHODIMP Clear() override { return Guarded([&] { return graph_.Clear(); }); }
  STDMETHODIMP CreateBarGraph() override {
    return Guarded([&] { return graph_.CreateBarGraph(); });
  }
  STDMETHODIMP CreateXYGraph() override { return Guarded([&] { return graph_.CreateXYGraph(); }); }
  STDMETHODIMP DrawGraph() override { return Guarded([&] { return graph_.DrawGraph(); }); }
  STDMETHODIMP SaveToFile(BSTR fileName) override {
    return Guarded([&] { return graph_.SaveToFile(BstrText(fileName)); });
  }

 private:
  PendingWindow window_;
  VGraph graph_;
};

}  // namespace

HRESULT CreateVGraphObject(IUnknown* outer, REFIID riid, void** object) {
  return CreateAggregatable<VGraphObject>(outer, riid, object);
}

}  // namespace norvisk
