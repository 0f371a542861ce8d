// A long run of the NVGraph class in one process: objects made by the class factory, filled,
// drawn, saved as BMP and JPEG, their graphs replaced, and released, 10,000 times. Afterwards no
// graph or canvas is left, the module can be unloaded, and resident memory, handles and GDI
// objects are within a small margin of what they were after the first 1,000 cycles. The
// module's code is linked in, so that its own counts can be read.
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "com_refs.h"
#include "graph/graph.h"
#include "norvisk_h.h"
#include "raster/canvas.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
extern "C" HRESULT WINAPI DllCanUnloadNow();
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);

namespace norvisk_win_test {
namespace {

using norvisk_com::Bstr;
using norvisk_com::Ref;

// GDI objects the process can still make: counted by making pens until the platform refuses
// (Wine does not report a process's GDI objects; its table has room for 16,384), then freed.
long FreeGdiSlots() {
  std::vector<HPEN> pens;
  for (int i = 0; i < 70000; ++i) {
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(i & 0xFF, (i >> 8) & 0xFF, 7));
    if (!pen) break;
    pens.push_back(pen);
  }
  for (HPEN pen : pens) DeleteObject(pen);
  return static_cast<long>(pens.size());
}

// The lowest free slot of the handle table: a new handle's value, which grows as handles leak.
std::uintptr_t NextHandle() {
  HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto value = reinterpret_cast<std::uintptr_t>(probe);
  CloseHandle(probe);
  return value;
}

struct Usage {
  SIZE_T workingSet = 0;
  std::uintptr_t nextHandle = 0;
  long freeGdiSlots = 0;
};

Usage Measure() {
  Usage u;
  // First: the probe's own objects take memory the first time, which then stays resident.
  u.freeGdiSlots = FreeGdiSlots();
  u.nextHandle = NextHandle();
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
    u.workingSet = counters.WorkingSetSize;
  return u;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::wstring Scratch(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"norvisk-soak-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         name;
}

TEST(ComSoak, TenThousandObjectsLeaveNothingBehind) {
  DllMain(GetModuleHandleW(nullptr), DLL_PROCESS_ATTACH, nullptr);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  const std::wstring bmp = Scratch(L"chart.bmp"), jpg = Scratch(L"chart.jpg");
  Bstr bmpName(bmp), jpgName(jpg), data(L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)"),
      legend(L"Q4"), bar(L"West"), xyData(L"(Jan;10)(Feb;20)(Mar;15)(Apr;12)"), label(L"May");
  const int graphs = norvisk::Graph::LiveCount(), canvases = norvisk::Canvas::LiveCount();
  std::string firstBmp, firstJpg;
  Usage after1000;
  {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_NVGraph, IID_IClassFactory, factory.put()), S_OK);
    for (int cycle = 1; cycle <= 10000; ++cycle) {
      Ref<INVGraph> graph;
      ASSERT_EQ(factory->CreateInstance(nullptr, IID_INVGraph, graph.put()), S_OK) << cycle;
      // Drawn and saved, then replaced by a graph filled call by call, then by an XY graph.
      ASSERT_EQ(graph->DrawBarGraph(bmpName, data), S_OK) << cycle;
      ASSERT_EQ(graph->CreateBarGraph(), S_OK);
      graph->AddBarLegend(legend);
      graph->AddBarBar(bar);
      graph->AddBarValue(30);
      ASSERT_EQ(graph->SaveToFile(jpgName), S_OK);
      ASSERT_EQ(graph->DrawXYGraph(jpgName, xyData), S_OK);
      graph->AddXYValue(label, 18);
      ASSERT_EQ(graph->SaveToFile(bmpName), S_OK);
      if (cycle == 1) {
        firstBmp = ReadBytes(bmp);
        firstJpg = ReadBytes(jpg);
        ASSERT_GT(firstBmp.size(), 54u);
        ASSERT_GT(firstJpg.size(), 100u);
      }
      if (cycle == 1000) after1000 = Measure();
    }
    // Whatever the run used up (GDI objects, handles, memory) would show in the pictures too.
    EXPECT_TRUE(ReadBytes(bmp) == firstBmp);
    EXPECT_TRUE(ReadBytes(jpg) == firstJpg);
  }
  EXPECT_EQ(norvisk::Graph::LiveCount(), graphs);
  EXPECT_EQ(norvisk::Canvas::LiveCount(), canvases);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  Usage end = Measure();
  std::printf("after 1,000 cycles: %zu bytes resident, next handle %#zx, %ld GDI objects free\n",
              static_cast<std::size_t>(after1000.workingSet),
              static_cast<std::size_t>(after1000.nextHandle), after1000.freeGdiSlots);
  std::printf("after 10,000 cycles: %zu bytes resident, next handle %#zx, %ld GDI objects free\n",
              static_cast<std::size_t>(end.workingSet), static_cast<std::size_t>(end.nextHandle),
              end.freeGdiSlots);
  ASSERT_GT(after1000.workingSet, 0u) << "no memory figures";
  ASSERT_GT(after1000.freeGdiSlots, 1000);
  // A leak of 32 bytes a cycle would be 288,000 bytes over the last 9,000: more than the margin.
  EXPECT_LT(end.workingSet, after1000.workingSet + 256 * 1024);
  // Handle values go up in steps of 4: a few more handles at most.
  EXPECT_LE(end.nextHandle, after1000.nextHandle + 8 * 4);
  EXPECT_GE(end.freeGdiSlots, after1000.freeGdiSlots - 8);
  DeleteFileW(bmp.c_str());
  DeleteFileW(jpg.c_str());
  CoUninitialize();
}

}  // namespace
}  // namespace norvisk_win_test
