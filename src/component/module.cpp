// Norvisk.dll: the module's entry points. None lets an exception out (objects/boundary.h).
#include <windows.h>

#include "component/class_factory.h"
#include "component/dispatch.h"
#include "component/graph_objects.h"
#include "component/module_state.h"
#include "component/self_registration.h"
#include "norvisk_h.h"
#include "objects/boundary.h"

namespace {

// Class objects, made on first request and kept until the module ends.
norvisk::ClassFactory* class_object(REFCLSID clsid) {
  if (IsEqualCLSID(clsid, CLSID_VGraph)) {
    static norvisk::ClassFactory factory(&norvisk::CreateVGraphObject);
    return &factory;
  }
  if (IsEqualCLSID(clsid, CLSID_NVGraph)) {
    static norvisk::ClassFactory factory(&norvisk::CreateNVGraphObject);
    return &factory;
  }
  return nullptr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  // Nothing here allocates; the releases below call only the automation library.
  if (reason == DLL_PROCESS_ATTACH) {
    norvisk::SetModuleInstance(instance);
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded by FreeLibrary: the automation library is still there to take these back.
    norvisk::ReleaseTypeInfos();
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return norvisk::Guarded([] { return norvisk::ModuleLockCount() == 0 ? S_OK : S_FALSE; });
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  return norvisk::Guarded([&] {
    norvisk::ClassFactory* factory = class_object(clsid);
    if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, object);
  });
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  return norvisk::Guarded([] { return norvisk::RegisterModule(); });
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
  return norvisk::Guarded([] { return norvisk::UnregisterModule(); });
}
