// NVGraph as a COM object: INVGraph over the graph object of the same name.
#include "component/dispatch.h"
#include "component/graph_objects.h"
#include "norvisk_h.h"
#include "objects/nv_graph.h"

namespace norvisk {

namespace {

// An automation string as a text argument: UTF-16 up to its first zero, null as empty.
TextArg text(BSTR value) { return TextArg(reinterpret_cast<const char16_t*>(value)); }

class NVGraphObject final : public DispatchObject<INVGraph, IID_INVGraph> {
 public:
  explicit NVGraphObject(IUnknown* outer)
      : DispatchObject(outer), graph_(static_cast<ModuleHandle>(ModuleInstance())) {}

  STDMETHODIMP AddBarBar(BSTR legend) override { return graph_.AddBarBar(text(legend)); }
  STDMETHODIMP AddBarLegend(BSTR legend) override { return graph_.AddBarLegend(text(legend)); }
  STDMETHODIMP AddBarValue(double value) override { return graph_.AddBarValue(value); }
  STDMETHODIMP AddXYValue(BSTR legend, double value) override {
    return graph_.AddXYValue(text(legend), value);
  }
  STDMETHODIMP Clear() override { return graph_.Clear(); }
  STDMETHODIMP CreateXYGraph() override { return graph_.CreateXYGraph(); }
  STDMETHODIMP SaveToFile(BSTR fileName) override { return graph_.SaveToFile(text(fileName)); }
  STDMETHODIMP DrawBarGraph(BSTR fileName, BSTR data) override {
    return graph_.DrawBarGraph(text(fileName), text(data));
  }
  STDMETHODIMP DrawXYGraph(BSTR fileName, BSTR data) override {
    return graph_.DrawXYGraph(text(fileName), text(data));
  }
  STDMETHODIMP CreateBarGraph() override { return graph_.CreateBarGraph(); }
  STDMETHODIMP SetWidth(int width) override { return graph_.SetWidth(width); }
  STDMETHODIMP SetHeight(int height) override { return graph_.SetHeight(height); }

 private:
  NVGraph graph_;
};

}  // namespace

HRESULT CreateNVGraphObject(IUnknown* outer, REFIID riid, void** object) {
  return CreateAggregatable<NVGraphObject>(outer, riid, object);
}

}  // namespace norvisk
