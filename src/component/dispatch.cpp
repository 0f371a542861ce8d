// Type information for IDispatch, one cached lookup per interface for the whole module.
#include "component/dispatch.h"

#include <mutex>

#include "norvisk_h.h"

namespace norvisk {

namespace {
std::mutex type_info_lock;
ITypeInfo* type_infos[2] = {nullptr, nullptr};  // IVGraph, INVGraph
}  // namespace

HRESULT GetInterfaceTypeInfo(REFIID iid, LCID lcid, ITypeInfo** info) {
  int slot = IsEqualIID(iid, IID_IVGraph) ? 0 : IsEqualIID(iid, IID_INVGraph) ? 1 : -1;
  if (slot < 0) return E_NOINTERFACE;
  std::lock_guard<std::mutex> guard(type_info_lock);
  if (!type_infos[slot]) {
    // Through the registry: late binding works while the type library is registered.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_NORVISKLib, 1, 0, lcid, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(iid, &type_infos[slot]);
    library->Release();
    if (FAILED(hr)) return hr;
  }
  *info = type_infos[slot];
  (*info)->AddRef();
  return S_OK;
}

void ReleaseTypeInfos() {
  std::lock_guard<std::mutex> guard(type_info_lock);
  for (ITypeInfo*& info : type_infos) {
    if (info) info->Release();
    info = nullptr;
  }
}

}  // namespace norvisk
