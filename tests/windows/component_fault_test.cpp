// The component with memory running out. The module's code is linked into this program, whose
// operator new fails on demand (one allocation, or every one from there on), and is called as
// COM calls it: the class factory, each method through the vtable and through IDispatch::Invoke,
// and the registration entry points (against a private registry tree). Every call reports its
// own status or E_OUTOFMEMORY, nothing escapes, and once every object is released the module
// can be unloaded.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "com_refs.h"
#include "norvisk_h.h"
#include "support/failing_allocator.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
extern "C" HRESULT WINAPI DllCanUnloadNow();
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);
extern "C" HRESULT WINAPI DllRegisterServer();
extern "C" HRESULT WINAPI DllUnregisterServer();

namespace norvisk_win_test {
namespace {

using norvisk_com::Bstr;
using norvisk_com::DispatchArgs;
using norvisk_com::Ref;
using norvisk_test::FailingAllocator;

// The module's code runs in this program: its instance is the program's, with the module's
// resources (scripts, type library, bitmaps) linked in.
class ModuleInProcess : public ::testing::Environment {
 public:
  void SetUp() override { DllMain(GetModuleHandleW(nullptr), DLL_PROCESS_ATTACH, nullptr); }
};
const auto* const kModule = ::testing::AddGlobalTestEnvironment(new ModuleInProcess);

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"norvisk-fault-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         name;
}

class ComFaults : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
  void TearDown() override {
    factory_.reset();
    // No object, class object or lock is left behind by a failed call.
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    CoUninitialize();
    DeleteFileW(bmp.c_str());
    DeleteFileW(jpg.c_str());
  }
  bool sticky() const { return GetParam(); }

  IClassFactory* Factory(REFCLSID clsid) {
    factory_.reset();
    EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory_.put()), S_OK);
    return factory_.get();
  }
  template <class T>
  void Make(REFCLSID clsid, REFIID iid, Ref<T>* object) {
    ASSERT_EQ(Factory(clsid)->CreateInstance(nullptr, iid, object->put()), S_OK);
  }

  // Runs `call` once for every allocation it makes, that allocation refused; `fresh` makes the
  // object it is called on. Returns how many calls reported E_OUTOFMEMORY.
  template <class T>
  int EveryAllocation(const char* name, const std::function<void(Ref<T>*)>& fresh,
                      const std::function<HRESULT(T*)>& call, HRESULT status) {
    int outOfMemory = 0;
    for (long n = 0; n < 5000; ++n) {
      Ref<T> object;
      fresh(&object);
      if (!object) return outOfMemory;
      FailingAllocator::Arm(n, sticky());
      HRESULT hr = call(object.get());
      if (FailingAllocator::Disarm() == 0) {
        EXPECT_EQ(hr, status) << name << " with memory enough";
        EXPECT_GT(n, 0) << name << " allocates nothing: the test would prove nothing";
        return outOfMemory;
      }
      if (hr == E_OUTOFMEMORY) {
        ++outOfMemory;
      } else {
        EXPECT_EQ(hr, status) << name << ", allocation " << n << " refused";
      }
      // The object goes on working.
      EXPECT_EQ(call(object.get()), status) << name << " again after allocation " << n;
    }
    ADD_FAILURE() << name << " never finished";
    return outOfMemory;
  }

  const std::wstring bmp = TempFile(L"chart.bmp");
  const std::wstring jpg = TempFile(L"chart.jpg");

 private:
  Ref<IClassFactory> factory_;
};

TEST_P(ComFaults, CreatingAnObjectFailsWholly) {
  for (const CLSID* clsid : {&CLSID_NVGraph, &CLSID_VGraph}) {
    IClassFactory* factory = Factory(*clsid);
    int outOfMemory = 0;
    for (long n = 0; n < 1000; ++n) {
      IUnknown* object = reinterpret_cast<IUnknown*>(1);
      FailingAllocator::Arm(n, sticky());
      HRESULT hr =
          factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object));
      long refused = FailingAllocator::Disarm();
      if (refused == 0) {
        EXPECT_EQ(hr, S_OK);
        if (object) object->Release();
        break;
      }
      EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
      EXPECT_EQ(object, nullptr) << "allocation " << n;
      ++outOfMemory;
    }
    EXPECT_GT(outOfMemory, 0);
  }
}

TEST_P(ComFaults, NVGraphMethodsThroughTheVtable) {
  auto fresh = [&](Ref<INVGraph>* o) { Make(CLSID_NVGraph, IID_INVGraph, o); };
  auto bar = [&](Ref<INVGraph>* o) {
    Make(CLSID_NVGraph, IID_INVGraph, o);
    Bstr legend(L"Q1"), name(L"North");
    (*o)->CreateBarGraph();
    (*o)->AddBarLegend(legend);
    (*o)->AddBarBar(name);
    (*o)->AddBarValue(10);
  };
  Bstr bmpName(bmp), jpgName(jpg), barData(L"(Q1;Q2)(North;10;20)(South;15;25)"),
      xyData(L"(Jan;10)(Feb;20)(Mar;15)"), text(L"South");
  int outOfMemory = 0;
  outOfMemory += EveryAllocation<INVGraph>(
      "DrawBarGraph", fresh, [&](INVGraph* g) { return g->DrawBarGraph(bmpName, barData); }, S_OK);
  outOfMemory += EveryAllocation<INVGraph>(
      "DrawXYGraph", fresh, [&](INVGraph* g) { return g->DrawXYGraph(jpgName, xyData); }, S_OK);
  outOfMemory += EveryAllocation<INVGraph>(
      "CreateBarGraph", fresh, [](INVGraph* g) { return g->CreateBarGraph(); }, S_OK);
  outOfMemory += EveryAllocation<INVGraph>(
      "AddBarBar", bar, [&](INVGraph* g) { return g->AddBarBar(text); }, S_OK);
  outOfMemory += EveryAllocation<INVGraph>(
      "SaveToFile", bar, [&](INVGraph* g) { return g->SaveToFile(jpgName); }, S_OK);
  EXPECT_GT(outOfMemory, 0);
}

TEST_P(ComFaults, VGraphMethodsThroughTheVtable) {
  auto fresh = [&](Ref<IVGraph>* o) { Make(CLSID_VGraph, IID_IVGraph, o); };
  Bstr barData(L"(Q1;Q2)(North;10;20)(South;15;25)"), bmpName(bmp);
  auto drawn = [&](Ref<IVGraph>* o) {
    Make(CLSID_VGraph, IID_IVGraph, o);
    (*o)->DrawBarGraph(barData);
    (*o)->AddBarValue(5);
  };
  int outOfMemory = 0;
  outOfMemory += EveryAllocation<IVGraph>(
      "DrawBarGraph", fresh, [&](IVGraph* g) { return g->DrawBarGraph(barData); }, S_OK);
  outOfMemory += EveryAllocation<IVGraph>(
      "SaveToFile", drawn, [&](IVGraph* g) { return g->SaveToFile(bmpName); }, S_OK);
  EXPECT_GT(outOfMemory, 0);
}

// Through Invoke the method's status comes back as Invoke's own, or as DISP_E_EXCEPTION with
// the status in the exception information, as the runtime reports failures of dual interfaces.
HRESULT InvokeMethod(IDispatch* object, const wchar_t* method, DISPPARAMS params) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  EXCEPINFO info{};
  UINT argError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &info,
                      &argError);
  if (hr == DISP_E_EXCEPTION && info.scode != 0) hr = info.scode;
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  return hr;
}

TEST_P(ComFaults, NVGraphMethodsThroughInvoke) {
  DispatchArgs args;
  args.Text(bmp).Text(L"(Q1;Q2)(North;10;20)(South;15;25)");
  const DISPPARAMS params = args.Params();  // before any allocation is made to fail
  auto fresh = [&](Ref<IDispatch>* o) { Make(CLSID_NVGraph, IID_IDispatch, o); };
  int outOfMemory = EveryAllocation<IDispatch>(
      "Invoke DrawBarGraph", fresh,
      [&](IDispatch* g) { return InvokeMethod(g, L"DrawBarGraph", params); }, S_OK);
  EXPECT_GT(outOfMemory, 0);
}

// The registry tree that HKEY_CLASSES_ROOT stands for in this process while it exists.
class PrivateClassesRoot {
 public:
  PrivateClassesRoot() {
    path_ = L"Software\\Norvisk fault test " + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, key_), ERROR_SUCCESS);
  }
  ~PrivateClassesRoot() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  // Keys directly below the root.
  DWORD KeyCount() const {
    DWORD count = 0;
    RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    return count;
  }
  bool Has(const wchar_t* path) const {
    HKEY found = nullptr;
    if (RegOpenKeyExW(key_, path, 0, KEY_READ, &found) != ERROR_SUCCESS) return false;
    RegCloseKey(found);
    return true;
  }

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_P(ComFaults, RegistrationFailsWhollyOrWorks) {
  PrivateClassesRoot root;
  const wchar_t* kProgId = L"Norvisk.NVGraph";
  int outOfMemory = 0;
  long n = 0;
  for (; n < 5000; ++n) {
    FailingAllocator::Arm(n, sticky());
    HRESULT hr = DllRegisterServer();
    if (FailingAllocator::Disarm() == 0) {
      EXPECT_EQ(hr, S_OK);
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
    outOfMemory += hr == E_OUTOFMEMORY;
    // A registration that stops is undone: the classes are not left half-registered. (With
    // every allocation after it refused, the undoing cannot run either.)
    if (!sticky()) {
      EXPECT_FALSE(root.Has(kProgId)) << "allocation " << n;
    }
  }
  EXPECT_GT(outOfMemory, 0);
  ASSERT_TRUE(root.Has(kProgId));
  for (n = 0; n < 5000; ++n) {
    FailingAllocator::Arm(n, sticky());
    HRESULT hr = DllUnregisterServer();
    if (FailingAllocator::Disarm() == 0) {
      EXPECT_EQ(hr, S_OK);
      break;
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
    // What a failed unregistration left is taken away by the next one.
    EXPECT_EQ(DllRegisterServer(), S_OK);
  }
  EXPECT_FALSE(root.Has(kProgId));
}

INSTANTIATE_TEST_SUITE_P(OneRefused, ComFaults, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(AllRefusedFromThereOn, ComFaults, ::testing::Values(true));

}  // namespace
}  // namespace norvisk_win_test
