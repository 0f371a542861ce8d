// Type information for IDispatch, one cached lookup per interface for the whole module.
#include "component/dispatch.h"

#include <mutex>

#include "norvisk_h.h"

namespace norvisk {

namespace {
std::mutex type_info_lock;
ITypeInfo* type_infos[2] = {nullptr, nullptr};  // IVGraph, INVGraph

// The argument counts of each interface's methods by DISPID (1 to 15), -1 where there is none.
constexpr int kMaxDispid = 15;
signed char argument_counts[2][kMaxDispid + 1];

int slot_of(REFIID iid) {
  return IsEqualIID(iid, IID_IVGraph) ? 0 : IsEqualIID(iid, IID_INVGraph) ? 1 : -1;
}

void forget_argument_counts(int slot) {
  for (signed char& count : argument_counts[slot]) count = -1;
}

void read_argument_counts(int slot, ITypeInfo* info) {
  forget_argument_counts(slot);
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    if (function->memid >= 0 && function->memid <= kMaxDispid)
      argument_counts[slot][function->memid] = static_cast<signed char>(function->cParams);
    info->ReleaseFuncDesc(function);
  }
  info->ReleaseTypeAttr(attributes);
}
}  // namespace

HRESULT GetInterfaceTypeInfo(REFIID iid, LCID lcid, ITypeInfo** info) {
  int slot = slot_of(iid);
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
    read_argument_counts(slot, type_infos[slot]);
  }
  *info = type_infos[slot];
  (*info)->AddRef();
  return S_OK;
}

void ReleaseTypeInfos() {
  std::lock_guard<std::mutex> guard(type_info_lock);
  for (int slot = 0; slot < 2; ++slot) {
    ReleaseHeld(type_infos[slot]);
    forget_argument_counts(slot);
  }
}

int MethodArgumentCount(REFIID iid, DISPID id) {
  int slot = slot_of(iid);
  if (slot < 0 || id < 0 || id > kMaxDispid) return -1;
  std::lock_guard<std::mutex> guard(type_info_lock);
  return type_infos[slot] ? argument_counts[slot][id] : -1;
}

}  // namespace norvisk
