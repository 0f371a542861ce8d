// GraphCalls through COM: an object of the registered class "Norvisk.NVGraph", each call made
// through its INVGraph vtable.
#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <cstdio>
#include <new>

#include "cli/graph_calls_com.h"
#include "norvisk_h.h"

namespace norvisk::cli {
namespace {

std::string Hex(HRESULT status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
  return text;
}

// The BSTR of one call, freed when the call returns. Scripts are UTF-8 (as everywhere else in
// the command), so the text is converted from UTF-8: the class gets the characters the script
// shows and converts them to its own 8-bit text as it does for any automation client. Bytes
// that are not UTF-8 arrive as U+FFFD. Not ok when memory runs out.
class Bstr {
 public:
  explicit Bstr(std::string_view utf8) {
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return;
    int bytes = static_cast<int>(utf8.size());
    int chars = bytes == 0 ? 0 : MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
    if (bytes != 0 && chars <= 0) return;
    value_ = SysAllocStringLen(nullptr, static_cast<UINT>(chars));  // zero-terminated
    if (value_ && chars > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, value_, chars);
  }
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  bool ok() const { return value_ != nullptr; }
  BSTR get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

class ComGraphCalls final : public GraphCalls {
 public:
  // Takes over the reference to `graph` and the apartment the creator entered.
  explicit ComGraphCalls(INVGraph* graph) : graph_(graph) {}
  ~ComGraphCalls() override {
    graph_->Release();
    CoUninitialize();
  }
  ComGraphCalls(const ComGraphCalls&) = delete;
  ComGraphCalls& operator=(const ComGraphCalls&) = delete;

  HRESULT AddBarBar(std::string_view legend) override {
    Bstr text(legend);
    return text.ok() ? graph_->AddBarBar(text.get()) : E_OUTOFMEMORY;
  }
  HRESULT AddBarLegend(std::string_view legend) override {
    Bstr text(legend);
    return text.ok() ? graph_->AddBarLegend(text.get()) : E_OUTOFMEMORY;
  }
  HRESULT AddBarValue(double value) override { return graph_->AddBarValue(value); }
  HRESULT AddXYValue(std::string_view legend, double value) override {
    Bstr text(legend);
    return text.ok() ? graph_->AddXYValue(text.get(), value) : E_OUTOFMEMORY;
  }
  HRESULT Clear() override { return graph_->Clear(); }
  HRESULT CreateXYGraph() override { return graph_->CreateXYGraph(); }
  HRESULT SaveToFile(std::string_view fileName) override {
    Bstr name(fileName);
    return name.ok() ? graph_->SaveToFile(name.get()) : E_OUTOFMEMORY;
  }
  HRESULT DrawBarGraph(std::string_view fileName, std::string_view data) override {
    Bstr name(fileName), text(data);
    return name.ok() && text.ok() ? graph_->DrawBarGraph(name.get(), text.get()) : E_OUTOFMEMORY;
  }
  HRESULT DrawXYGraph(std::string_view fileName, std::string_view data) override {
    Bstr name(fileName), text(data);
    return name.ok() && text.ok() ? graph_->DrawXYGraph(name.get(), text.get()) : E_OUTOFMEMORY;
  }
  HRESULT CreateBarGraph() override { return graph_->CreateBarGraph(); }
  HRESULT SetWidth(int width) override { return graph_->SetWidth(width); }
  HRESULT SetHeight(int height) override { return graph_->SetHeight(height); }

 private:
  INVGraph* graph_;
};

}  // namespace

std::unique_ptr<GraphCalls> MakeComGraphCalls(std::string* why) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    *why = "--com: COM cannot be started (" + Hex(hr) + ")";
    return nullptr;
  }
  CLSID clsid{};
  hr = CLSIDFromProgID(L"Norvisk.NVGraph", &clsid);
  INVGraph* graph = nullptr;
  if (FAILED(hr)) {
    *why = "--com: Norvisk.NVGraph is not registered (" + Hex(hr) + ")";
  } else {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_INVGraph,
                          reinterpret_cast<void**>(&graph));
    if (FAILED(hr)) *why = "--com: Norvisk.NVGraph cannot be created (" + Hex(hr) + ")";
  }
  if (FAILED(hr)) {
    CoUninitialize();
    return nullptr;
  }
  auto* calls = new (std::nothrow) ComGraphCalls(graph);
  if (!calls) {
    graph->Release();
    CoUninitialize();
    *why = "--com: out of memory";
    return nullptr;
  }
  return std::unique_ptr<GraphCalls>(calls);
}

}  // namespace norvisk::cli
