// NVGraph as a COM object: INVGraph over the graph object of the same name.
#include "component/dispatch.h"
#include "component/graph_objects.h"
#include "norvisk_h.h"
#include "objects/boundary.h"
#include "objects/nv_graph.h"

namespace norvisk {

namespace {

class NVGraphObject final : public DispatchObject<INVGraph, IID_INVGraph> {
 public:
  explicit NVGraphObject(IUnknown* outer)
      : DispatchObject(outer), graph_(static_cast<ModuleHandle>(ModuleInstance())) {}

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
  STDMETHODIMP Clear() override {
    return Guarded([&] { return graph_.Clear(); });
  }
  STDMETHODIMP CreateXYGraph() override {
    return Guarded([&] { return graph_.CreateXYGraph(); });
  }
  STDMETHODIMP SaveToFile(BSTR fileName) override {
    return Guarded([&] { return graph_.SaveToFile(BstrText(fileName)); });
  }
  STDMETHODIMP DrawBarGraph(BSTR fileName, BSTR data) override {
    return Guarded([&] { return graph_.DrawBarGraph(BstrText(fileName), BstrText(data)); });
  }
  STDMETHODIMP DrawXYGraph(BSTR fileName, BSTR data) override {
    return Guarded([&] { return graph_.DrawXYGraph(BstrText(fileName), BstrText(data)); });
  }
  STDMETHODIMP CreateBarGraph() override {
    return Guarded([&] { return graph_.CreateBarGraph(); });
  }
  STDMETHODIMP SetWidth(int width) override {
    return Guarded([&] { return graph_.SetWidth(width); });
  }
  STDMETHODIMP SetHeight(int height) override {
    return Guarded([&] { return graph_.SetHeight(height); });
  }

 private:
  NVGraph graph_;
};

}  // namespace

HRESULT CreateNVGraphObject(IUnknown* outer, REFIID riid, void** object) {
  return CreateAggregatable<NVGraphObject>(outer, riid, object);
}

}  // namespace norvisk
