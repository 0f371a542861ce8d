// VGraph's automation methods: IVGraph over the graph object of the same name, which draws
// into the control's window once a container has activated the control. Until then its graphs
// take the control's extent and nothing is drawn.
#include "component/v_graph_control.h"
#include "objects/boundary.h"

namespace norvisk {

STDMETHODIMP VGraphControl::DrawBarGraph(BSTR data) {
  return Guarded([&] { return graph_.DrawBarGraph(BstrText(data)); });
}

STDMETHODIMP VGraphControl::DrawXYGraph(BSTR data) {
  return Guarded([&] { return graph_.DrawXYGraph(BstrText(data)); });
}

STDMETHODIMP VGraphControl::AddBarBar(BSTR legend) {
  return Guarded([&] { return graph_.AddBarBar(BstrText(legend)); });
}

STDMETHODIMP VGraphControl::AddBarLegend(BSTR legend) {
  return Guarded([&] { return graph_.AddBarLegend(BstrText(legend)); });
}

STDMETHODIMP VGraphControl::AddBarValue(double value) {
  return Guarded([&] { return graph_.AddBarValue(value); });
}

STDMETHODIMP VGraphControl::AddXYValue(BSTR legend, double value) {
  return Guarded([&] { return graph_.AddXYValue(BstrText(legend), value); });
}

STDMETHODIMP VGraphControl::Clear() {
  return Guarded([&] { return graph_.Clear(); });
}

STDMETHODIMP VGraphControl::CreateBarGraph() {
  return Guarded([&] { return graph_.CreateBarGraph(); });
}

STDMETHODIMP VGraphControl::CreateXYGraph() {
  return Guarded([&] { return graph_.CreateXYGraph(); });
}

STDMETHODIMP VGraphControl::DrawGraph() {
  return Guarded([&] { return graph_.DrawGraph(); });
}

STDMETHODIMP VGraphControl::SaveToFile(BSTR fileName) {
  return Guarded([&] { return graph_.SaveToFile(BstrText(fileName)); });
}

}  // namespace norvisk
