// The class factory: plain and aggregated instances; class objects kept by the module. Making
// an instance is the one call here that allocates; it runs inside the exception boundary.
#include "component/class_factory.h"

#include "component/module_state.h"
#include "objects/boundary.h"

namespace norvisk {

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() {
  LONG refs = InterlockedIncrement(&refs_);
  if (refs == 1) LockModule();
  return static_cast<ULONG>(refs) + 1;  // plus the module's own reference
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
  LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) UnlockModule();
  return static_cast<ULONG>(refs) + 1;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // An outer object may only ask for the inner unknown.
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return Guarded([&] { return create_(outer, riid, object); });
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
  if (lock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

}  // namespace norvisk
