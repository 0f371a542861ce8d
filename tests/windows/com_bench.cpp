// Timings of Norvisk.dll as a client sees them (a benchmark, not a test; run_com_bench.sh runs
// it): NVGraph.DrawBarGraph to a JPEG file through the INVGraph vtable, as the median of many
// calls; and AddBarValue made through the vtable and through IDispatch::Invoke, per call.
//   com_bench.exe OUTPUT_FOLDER [DRAW_CALLS] [ADD_CALLS]
// ADD_CALLS 0 measures the .jpg calls alone, for rounds taken in turn with the native figure.
// The last line sums the figures up as key=value pairs for the script.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

#include "norvisk_h.h"

namespace {

// The chart of the native benchmark BM_DrawBarGraphJpeg.
constexpr wchar_t kFourBars[] = L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

double Now() {
  static const double perSecond = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perSecond;
}

bool Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "com_bench: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return false;
}

template <class T>
T* Make() {
  T* object = nullptr;
  CLSID clsid{};
  if (!Check(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid), "CLSIDFromProgID")) return nullptr;
  IID iid = std::is_same_v<T, INVGraph> ? IID_INVGraph : IID_IDispatch;
  if (!Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object)),
             "CoCreateInstance"))
    return nullptr;
  return object;
}

// A bar graph with one bar for AddBarValue to add to.
bool PrepareBar(INVGraph* graph) {
  BSTR bar = SysAllocString(L"North");
  bool ok = graph->CreateBarGraph() == S_OK && graph->AddBarBar(bar) == S_OK;
  SysFreeString(bar);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: com_bench OUTPUT_FOLDER [DRAW_CALLS] [ADD_CALLS]\n");
    return 2;
  }
  const int drawCalls = argc > 2 ? std::atoi(argv[2]) : 200;
  const int addCalls = argc > 3 ? std::atoi(argv[3]) : 100000;
  if (!Check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx")) return 1;

  // DrawBarGraph to a .jpg: a new graph, the background, the data and the file, per call. Then
  // the same to a .bmp, and to a name of neither kind (rendered, no file), to see where the
  // time goes.
  INVGraph* graph = Make<INVGraph>();
  if (!graph) return 1;
  const std::string folder = argv[1];
  const std::wstring base = std::wstring(folder.begin(), folder.end()) + L"\\bench-bar";
  double median = 0;
  const bool jpegOnly = addCalls <= 0;
  for (const wchar_t* kind : {L".jpg", L".bmp", L""}) {
    BSTR file = SysAllocString((base + kind).c_str());
    BSTR data = SysAllocString(kFourBars);
    for (int i = 0; i < 10; ++i) graph->DrawBarGraph(file, data);  // warm-up
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(drawCalls));
    for (int i = 0; i < drawCalls; ++i) {
      double start = Now();
      HRESULT hr = graph->DrawBarGraph(file, data);
      micros.push_back((Now() - start) * 1e6);
      if (hr != S_OK) {
        std::fprintf(stderr, "com_bench: DrawBarGraph gave 0x%08X\n", static_cast<unsigned>(hr));
        return 1;
      }
    }
    SysFreeString(file);
    SysFreeString(data);
    std::sort(micros.begin(), micros.end());
    const double m = micros[micros.size() / 2];
    if (*kind == L'.' && kind[1] == L'j') median = m;
    if (jpegOnly) break;
    std::printf("DrawBarGraph %-9s through the vtable: median %7.1f us over %d calls (min %.1f, 90%% %.1f)\n",
                *kind ? (kind[1] == L'j' ? "to a .jpg" : "to a .bmp") : "no file", m, drawCalls,
                micros.front(), micros[micros.size() * 9 / 10]);
  }

  if (jpegOnly) {
    graph->Release();
    std::printf("figures: draw_median_us=%.1f\n", median);
    CoUninitialize();
    return 0;
  }

  // Yardsticks: a new empty graph alone, and a file of a bitmap's size written by this process
  // with one call, as the runtime writes files.
  {
    std::vector<double> micros;
    for (int i = 0; i < drawCalls; ++i) {
      double start = Now();
      graph->CreateBarGraph();
      micros.push_back((Now() - start) * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    std::printf("CreateBarGraph (graph and canvas): median %7.1f us\n", micros[micros.size() / 2]);

    const std::string bytes(576054, '\x5a');
    const std::string name = folder + "\\bench-bytes.bin";
    micros.clear();
    for (int i = 0; i < drawCalls; ++i) {
      double start = Now();
      std::FILE* f = std::fopen(name.c_str(), "wb");
      if (!f) break;
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      micros.push_back((Now() - start) * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty())
      std::printf("576054 bytes by fopen, one fwrite, fclose: median %7.1f us\n", micros[micros.size() / 2]);
  }

  // AddBarValue through the vtable.
  if (!PrepareBar(graph)) {
    std::fprintf(stderr, "com_bench: no bar graph to add to\n");
    return 1;
  }
  double start = Now();
  for (int i = 0; i < addCalls; ++i) graph->AddBarValue(1.0);
  const double vtableNs = (Now() - start) * 1e9 / addCalls;
  graph->Release();

  // The same through IDispatch::Invoke, the DISPID looked up once as script engines keep it.
  INVGraph* other = Make<INVGraph>();
  if (!other || !PrepareBar(other)) return 1;
  IDispatch* dispatch = nullptr;
  if (!Check(other->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), "QueryInterface"))
    return 1;
  other->Release();
  LPOLESTR name = const_cast<LPOLESTR>(L"AddBarValue");
  DISPID id = 0;
  if (!Check(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames"))
    return 1;
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_R8;
  V_R8(&arg) = 1.0;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  if (!Check(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                              nullptr, nullptr),
             "Invoke"))
    return 1;
  start = Now();
  for (int i = 0; i < addCalls; ++i)
    dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  const double invokeNs = (Now() - start) * 1e9 / addCalls;

  // And with the name looked up on every call, as a host without a cache does.
  start = Now();
  for (int i = 0; i < addCalls; ++i) {
    dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
  const double namedNs = (Now() - start) * 1e9 / addCalls;
  dispatch->Release();

  std::printf("AddBarValue through the vtable: %.3f us a call over %d calls\n", vtableNs / 1000, addCalls);
  std::printf("AddBarValue through Invoke: %.3f us a call (+%.3f us)\n", invokeNs / 1000,
              (invokeNs - vtableNs) / 1000);
  std::printf("AddBarValue through GetIDsOfNames and Invoke: %.3f us a call (+%.3f us)\n",
              namedNs / 1000, (namedNs - vtableNs) / 1000);
  std::printf("figures: draw_median_us=%.1f vtable_us=%.4f invoke_us=%.4f named_us=%.4f\n", median,
              vtableNs / 1000, invokeNs / 1000, namedNs / 1000);
  CoUninitialize();
  return 0;
}
