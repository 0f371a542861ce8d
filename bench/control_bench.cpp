// VGraph as a control in the system's own container (bench/run_control_bench.sh registers the
// module and runs this under Wine): in an active 640 x 300 control,
// - DrawBarGraph of the four-bar chart (a new graph, background, data, render, copy);
// - DrawGraph (background put back, the whole graph rendered anew, copy);
// - a repaint of the unchanged graph (InvalidateRect + UpdateWindow): erase and copy only;
// and, for scale, NVGraph's DrawBarGraph of the same chart to a .bmp file, the copy of such a
// picture into a window from each of two pixel layouts, and the yardstick of a repaint that
// draws nothing: a plain window of the same size whose paint handler only begins and ends
// painting (under Wine that cycle alone is the window system's work: the update region
// from its server and the window's pixels pushed to the X server).
#include <windows.h>
#include <ole2.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/bench_files.h"
#include "norvisk_h.h"
#include "tests/windows/com_refs.h"

namespace {

constexpr wchar_t kFourBars[] =
    L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";

using norvisk_com::Bstr;
using norvisk_com::Ref;

void PumpMessages() {
  MSG message;
  for (int i = 0; i < 10000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// One control, made and activated in place by the container in a 640 x 300 window.
class HostedControl {
 public:
  HostedControl() {
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    HMODULE atl = GetModuleHandleW(L"atl.dll");
    auto getControl = atl ? reinterpret_cast<GetControlFn>(
                                reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")))
                          : nullptr;
    top_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 640, 300, nullptr,
                           nullptr, nullptr, nullptr);
    host_ = CreateWindowExW(0, L"AtlAxWin", L"Norvisk.VGraph", WS_CHILD | WS_VISIBLE, 0, 0, 640,
                            300, top_, nullptr, nullptr, nullptr);
    Ref<IUnknown> control;
    if (!getControl || !host_ || getControl(host_, control.out()) != S_OK || !control) return;
    control->QueryInterface(IID_IVGraph, graph_.put());
    Ref<IOleWindow> window;
    if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, window.put())))
      window->GetWindow(&window_);
    PumpMessages();
  }
  ~HostedControl() {
    graph_.reset();
    if (top_) DestroyWindow(top_);
    PumpMessages();
  }
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  IVGraph* graph() const { return window_ ? graph_.get() : nullptr; }
  HWND window() const { return window_; }

 private:
  HWND top_ = nullptr;
  HWND host_ = nullptr;
  HWND window_ = nullptr;
  Ref<IVGraph> graph_;
};

void BM_ControlDrawBarGraph(benchmark::State& state) {
  HostedControl control;
  if (!control.graph()) {
    state.SkipWithError("no active control: is Norvisk.dll registered?");
    return;
  }
  Bstr data(kFourBars);
  for (auto _ : state) {
    if (control.graph()->DrawBarGraph(data) != S_OK) {
      state.SkipWithError("DrawBarGraph failed");
      break;
    }
  }
}
BENCHMARK(BM_ControlDrawBarGraph)->Unit(benchmark::kMicrosecond);

void BM_ControlDrawGraph(benchmark::State& state) {
  HostedControl control;
  Bstr data(kFourBars);
  if (!control.graph() || control.graph()->DrawBarGraph(data) != S_OK) {
    state.SkipWithError("no active control with a graph");
    return;
  }
  for (auto _ : state) {
    if (control.graph()->DrawGraph() != S_OK) {
      state.SkipWithError("DrawGraph failed");
      break;
    }
  }
}
BENCHMARK(BM_ControlDrawGraph)->Unit(benchmark::kMicrosecond);

// The whole window invalidated and painted at once: erased with the background, the rendered
// canvas copied again.
void BM_ControlRepaint(benchmark::State& state) {
  HostedControl control;
  Bstr data(kFourBars);
  if (!control.graph() || control.graph()->DrawBarGraph(data) != S_OK) {
    state.SkipWithError("no active control with a graph");
    return;
  }
  UpdateWindow(control.window());
  for (auto _ : state) {
    InvalidateRect(control.window(), nullptr, TRUE);
    UpdateWindow(control.window());
  }
}
BENCHMARK(BM_ControlRepaint)->Unit(benchmark::kMicrosecond);

void BM_NVGraphDrawBarGraphBmp(benchmark::State& state) {
  Ref<INVGraph> graph;
  CLSID clsid{};
  if (SUCCEEDED(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid)))
    norvisk_com::Create(clsid, IID_INVGraph, &graph);
  if (!graph) {
    state.SkipWithError("no NVGraph: is Norvisk.dll registered?");
    return;
  }
  const std::string path = norvisk_bench::TempPath("control-bench.bmp");
  Bstr file(std::wstring(path.begin(), path.end())), data(kFourBars);
  for (auto _ : state) {
    if (graph->DrawBarGraph(file, data) != S_OK) {
      state.SkipWithError("DrawBarGraph failed");
      break;
    }
  }
}
BENCHMARK(BM_NVGraphDrawBarGraphBmp)->Unit(benchmark::kMicrosecond);

LRESULT CALLBACK EmptyPaintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcW(window, message, wParam, lParam);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);
  EndPaint(window, &paint);
  return 0;
}

void BM_EmptyPaintYardstick(benchmark::State& state) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = EmptyPaintProc;
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  windowClass.lpszClassName = L"NorviskBenchEmptyPaint";
  RegisterClassW(&windowClass);
  HWND top = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 640, 300, nullptr,
                             nullptr, nullptr, nullptr);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 640,
                                300, top, nullptr, nullptr, nullptr);
  if (!window) {
    state.SkipWithError("no window");
    return;
  }
  PumpMessages();
  for (auto _ : state) {
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
  }
  DestroyWindow(top);
  PumpMessages();
}
BENCHMARK(BM_EmptyPaintYardstick)->Unit(benchmark::kMicrosecond);

// What a copy of a 640 x 300 picture into a window costs by itself (GetDC, BitBlt, ReleaseDC),
// from a 24-bit DIB section, the canvas's layout, and from a 32-bit one, the layout of window
// surfaces: the first converts every pixel, the second copies rows.
void BM_WindowCopyFromDib(benchmark::State& state) {
  const int bits = static_cast<int>(state.range(0));
  HDC memory = CreateCompatibleDC(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 640;
  info.bmiHeader.biHeight = 300;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bits);
  void* pixels = nullptr;
  HBITMAP section =
      memory ? CreateDIBSection(memory, &info, DIB_RGB_COLORS, &pixels, nullptr, 0) : nullptr;
  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 640, 300, nullptr,
                                nullptr, nullptr, nullptr);
  if (!section || !window) {
    state.SkipWithError("no section or no window");
  } else {
    HGDIOBJ old = SelectObject(memory, section);
    PumpMessages();
    for (auto _ : state) {
      HDC target = GetDC(window);
      BitBlt(target, 0, 0, 640, 300, memory, 0, 0, SRCCOPY);
      ReleaseDC(window, target);
    }
    SelectObject(memory, old);
  }
  if (window) DestroyWindow(window);
  if (section) DeleteObject(section);
  if (memory) DeleteDC(memory);
  PumpMessages();
}
BENCHMARK(BM_WindowCopyFromDib)->Arg(24)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(OleInitialize(nullptr))) {
    std::fprintf(stderr, "control_bench: OLE could not be initialised\n");
    return 1;
  }
  using InitFn = BOOL(WINAPI*)();
  HMODULE atl = LoadLibraryW(L"atl.dll");
  auto init =
      atl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")))
          : nullptr;
  if (!init || !init()) {
    std::fprintf(stderr, "control_bench: the system's control container is not there\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  OleUninitialize();
  return 0;
}
