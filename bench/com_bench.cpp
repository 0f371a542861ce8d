// Norvisk.dll as a client sees it, under Wine (bench/run_com_bench.sh registers the module and
// runs this beside the native bar_bench):
// - DrawBarGraph through the INVGraph vtable, to a .jpg file (the figure compared with the
//   native BM_DrawBarGraphJpeg), to a .bmp file and to a name of neither kind (drawn, no file);
// - AddBarValue through the vtable, through IDispatch::Invoke with the DISPID kept, and with the
//   name looked up on every call;
// - the yardstick of a chart-sized file written alone.
#include <windows.h>
#include <oleauto.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_files.h"
#include "norvisk_h.h"
#include "tests/windows/com_refs.h"

namespace {

// The chart of the native BM_DrawBarGraphJpeg.
constexpr wchar_t kFourBars[] =
    L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

using norvisk_com::Bstr;
using norvisk_com::Create;
using norvisk_com::Ref;

// An NVGraph made through the registry by its ProgID, as clients make it.
void Make(Ref<INVGraph>* graph) {
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid))) Create(clsid, IID_INVGraph, graph);
}

std::wstring TempFile(const char* name) {
  const std::string path = norvisk_bench::TempPath(name);
  return std::wstring(path.begin(), path.end());
}

// DrawBarGraph makes a new graph, loads the background and the data, renders and writes the
// file on every call.
void DrawBarGraph(benchmark::State& state, const char* fileName) {
  Ref<INVGraph> graph;
  Make(&graph);
  if (!graph) {
    state.SkipWithError("no NVGraph: is Norvisk.dll registered?");
    return;
  }
  Bstr file(*fileName ? TempFile(fileName) : L"no-file");
  Bstr data(kFourBars);
  for (auto _ : state) {
    if (graph->DrawBarGraph(file, data) != S_OK) {
      state.SkipWithError("DrawBarGraph failed");
      break;
    }
  }
}
BENCHMARK_CAPTURE(DrawBarGraph, jpeg, "com-bar.jpg")->Unit(benchmark::kMicrosecond);
// One call a repetition: the median of single calls, as BM_DrawBarGraphJpeg/single natively.
BENCHMARK_CAPTURE(DrawBarGraph, jpeg_single, "com-bar.jpg")
    ->Iterations(1)
    ->Repetitions(200)
    ->ReportAggregatesOnly()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DrawBarGraph, bmp, "com-bar.bmp")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DrawBarGraph, no_file, "")->Unit(benchmark::kMicrosecond);

// A graph with one bar for AddBarValue to add to.
bool PrepareBar(const Ref<INVGraph>& graph) {
  Bstr bar(L"North");
  return graph && graph->CreateBarGraph() == S_OK && graph->AddBarBar(bar) == S_OK;
}

void BM_AddBarValueVtable(benchmark::State& state) {
  Ref<INVGraph> graph;
  Make(&graph);
  if (!PrepareBar(graph)) {
    state.SkipWithError("no bar graph to add to");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(graph->AddBarValue(1.0));
}
BENCHMARK(BM_AddBarValueVtable);

// Late binding: the DISPID looked up once, as script engines keep it, or on every call, as a
// host without a cache does.
void AddBarValueInvoke(benchmark::State& state, bool lookUpEveryCall) {
  Ref<INVGraph> graph;
  Make(&graph);
  Ref<IDispatch> dispatch;
  if (!PrepareBar(graph) || FAILED(graph->QueryInterface(IID_IDispatch, dispatch.put()))) {
    state.SkipWithError("no bar graph to add to");
    return;
  }
  LPOLESTR name = const_cast<LPOLESTR>(L"AddBarValue");
  DISPID id = 0;
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_R8;
  V_R8(&arg) = 1.0;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  if (FAILED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) ||
      FAILED(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                              nullptr, nullptr))) {
    state.SkipWithError("AddBarValue cannot be invoked");
  } else {
    for (auto _ : state) {
      if (lookUpEveryCall) dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
      benchmark::DoNotOptimize(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                &params, nullptr, nullptr, nullptr));
    }
  }
}
BENCHMARK_CAPTURE(AddBarValueInvoke, kept_dispid, false);
BENCHMARK_CAPTURE(AddBarValueInvoke, names_every_call, true);

BENCHMARK(norvisk_bench::BM_WriteChartSizedFile)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "com_bench: COM could not be initialised\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CoUninitialize();
  return 0;
}
