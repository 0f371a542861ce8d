// Registration of the module: the scripts in REGISTRY resources 102 and 106 with %MODULE%, the
// control's component categories, and the type library from the module (or a .tlb beside it).
#include "component/self_registration.h"

#include <comcat.h>
#include <oleauto.h>

#include <string>
#include <string_view>

#include "component/module_state.h"
#include "component/registrar.h"
#include "norvisk_h.h"
#include "objects/boundary.h"
#include "resource.h"

namespace norvisk {

namespace {

// Controls safe for scripting, and safe for initialising from persistent data.
const CATID kVGraphCategories[] = {
    {0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}},
    {0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}}};

struct Entry {
  const CLSID* clsid;
  int script;
  bool categories;
};
const Entry kObjectMap[] = {{&CLSID_VGraph, IDR_VGRAPH, true},
                            {&CLSID_NVGraph, IDR_NVGRAPH, false}};

// The module file's full, long path.
std::wstring module_path() {
  wchar_t path[MAX_PATH * 4] = {};
  DWORD length = GetModuleFileNameW(ModuleInstance(), path, static_cast<DWORD>(std::size(path)));
  if (length == 0 || length >= std::size(path)) return {};
  wchar_t longPath[MAX_PATH * 4] = {};
  DWORD longLength = GetLongPathNameW(path, longPath, static_cast<DWORD>(std::size(longPath)));
  if (longLength > 0 && longLength < std::size(longPath)) return longPath;
  return path;
}

std::string narrow(const std::wstring& text) {
  int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(bytes) - 1);
  return out;
}

HRESULT run_script(int id, bool registering, const std::string& modulePath) {
  HRSRC found = FindResourceA(ModuleInstance(), MAKEINTRESOURCEA(id), "REGISTRY");
  HGLOBAL loaded = found ? LoadResource(ModuleInstance(), found) : nullptr;
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!bytes) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
  std::string_view script(bytes, SizeofResource(ModuleInstance(), found));
  std::unique_ptr<Registry> registry = MakeWindowsRegistry();
  if (!registry) return E_OUTOFMEMORY;
  return RunRegistrationScript(script, registering, {{"MODULE", modulePath}}, *registry);
}

// The component category manager; null when it cannot be had, and the step is then skipped.
ICatRegister* category_manager() {
  ICatRegister* manager = nullptr;
  if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICatRegister, reinterpret_cast<void**>(&manager))))
    return nullptr;
  return manager;
}

HRESULT register_categories(const CLSID& clsid, bool registering) {
  ICatRegister* manager = category_manager();
  if (!manager) return S_OK;
  CATID ids[std::size(kVGraphCategories)];
  for (std::size_t i = 0; i < std::size(ids); ++i) ids[i] = kVGraphCategories[i];
  HRESULT hr = registering ? manager->RegisterClassImplCategories(clsid, std::size(ids), ids)
                           : manager->UnRegisterClassImplCategories(clsid, std::size(ids), ids);
  manager->Release();
  return hr;
}

// The type library from the module file, else from the same path with ".tlb" for its extension.
HRESULT load_type_library(const std::wstring& modulePath, ITypeLib** library, std::wstring* from) {
  HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, library);
  *from = modulePath;
  if (SUCCEEDED(hr)) return hr;
  std::wstring tlb = modulePath;
  std::size_t dot = tlb.find_last_of(L'.');
  std::size_t slash = tlb.find_last_of(L"\\/");
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) tlb.resize(dot);
  tlb += L".tlb";
  hr = LoadTypeLibEx(tlb.c_str(), REGKIND_NONE, library);
  if (SUCCEEDED(hr)) *from = tlb;
  return hr;
}

// The scripts, the categories and the type library, stopping at the first failure.
HRESULT register_all() {
  std::wstring path = module_path();
  std::string script_path = narrow(path);
  for (const Entry& entry : kObjectMap) {
    HRESULT hr = run_script(entry.script, true, script_path);
    if (FAILED(hr)) return hr;
    if (entry.categories) {
      hr = register_categories(*entry.clsid, true);
      if (FAILED(hr)) return hr;
    }
  }
  ITypeLib* library = nullptr;
  std::wstring from;
  HRESULT hr = load_type_library(path, &library, &from);
  if (FAILED(hr)) return hr;
  // The library is let go whatever happens while it is registered.
  hr = Guarded([&] {
    std::size_t slash = from.find_last_of(L"\\/");
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : from.substr(0, slash);
    return RegisterTypeLib(library, from.data(), folder.empty() ? nullptr : folder.data());
  });
  library->Release();
  return hr;
}

}  // namespace

// A registration that stops is taken back, so that no class is left registered without the
// rest; its own failure is what is returned.
HRESULT RegisterModule() {
  HRESULT hr = Guarded([] { return register_all(); });
  if (FAILED(hr)) UnregisterModule();
  return hr;
}

// Removes all it can; the first failure of a script is returned (what is not there is none).
HRESULT UnregisterModule() {
  return Guarded([] {
    std::wstring path = module_path();
    std::string script_path = narrow(path);
    HRESULT first = S_OK;
    for (const Entry& entry : kObjectMap) {
      HRESULT hr = run_script(entry.script, false, script_path);
      if (FAILED(hr) && SUCCEEDED(first)) first = hr;
      if (entry.categories) register_categories(*entry.clsid, false);
    }
    ITypeLib* library = nullptr;
    std::wstring from;
    if (SUCCEEDED(load_type_library(path, &library, &from))) {
      TLIBATTR* attributes = nullptr;
      if (SUCCEEDED(library->GetLibAttr(&attributes))) {
        UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                          attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
      }
      library->Release();
    }
    return first;
  });
}

}  // namespace norvisk
