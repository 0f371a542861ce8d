// COM objects of the module: aggregation-aware reference counting and IDispatch through the
// type library, written once for both classes.
//
// No exception leaves a COM method: each method of a class runs its body through Guarded
// (objects/boundary.h), and so do the IDispatch methods here. Invoke reaches the class's own
// (guarded) vtable methods through DispInvoke, so both paths report E_OUTOFMEMORY alike.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "component/module_state.h"
#include "objects/boundary.h"
#include "objects/text.h"

namespace norvisk {

// An automation string as a text argument: UTF-16 up to its first zero, null as empty.
inline TextArg BstrText(BSTR value) { return TextArg(reinterpret_cast<const char16_t*>(value)); }

// The type information of one of the module's interfaces, loaded from the registered type
// library on first use and kept until the module is unloaded.
HRESULT GetInterfaceTypeInfo(REFIID iid, LCID lcid, ITypeInfo** info);
void ReleaseTypeInfos();
// How many arguments the interface's method `id` takes, as its loaded type information says;
// -1 for a DISPID it has no method for, or before the type information is loaded.
int MethodArgumentCount(REFIID iid, DISPID id);

// A COM object answering IUnknown, IDispatch and its dual interface Iface. When aggregated,
// the interface's IUnknown methods go to the outer object; the inner unknown counts references.
template <class Iface, const IID& Iid>
class DispatchObject : public Iface {
 public:
  explicit DispatchObject(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_) {
    LockModule();
  }
  virtual ~DispatchObject() { UnlockModule(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // The non-delegating unknown: what the class factory hands out.
  IUnknown* inner() { return &inner_; }

 protected:
  // The interfaces a derived class answers beyond IUnknown, IDispatch and Iface: the one asked
  // for, or nullptr.
  virtual void* FindInterface(REFIID) { return nullptr; }

 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    return outer_->QueryInterface(riid, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return Guarded([&] { return GetInterfaceTypeInfo(Iid, lcid, info); });
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return Guarded([&] {
      ITypeInfo* info = nullptr;
      HRESULT hr = GetInterfaceTypeInfo(Iid, lcid, &info);
      if (FAILED(hr)) return hr;
      hr = DispGetIDsOfNames(info, names, count, ids);
      info->Release();
      return hr;
    });
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return Guarded(
        [&] { return InvokeMethod(id, lcid, flags, params, result, exception, argError); });
  }

 private:
  HRESULT InvokeMethod(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* exception, UINT* argError) {
    ITypeInfo* info = nullptr;
    HRESULT hr = GetInterfaceTypeInfo(Iid, lcid, &info);
    if (FAILED(hr)) return hr;
    // Every method takes a fixed number of arguments. Not every runtime's DispInvoke refuses
    // extra ones, so they are counted here: a call with the wrong count is not made.
    int wanted = MethodArgumentCount(Iid, id);
    if (params && wanted >= 0 && params->cArgs != static_cast<UINT>(wanted)) {
      info->Release();
      return DISP_E_BADPARAMCOUNT;
    }
    hr =
        DispInvoke(static_cast<Iface*>(this), info, id, flags, params, result, exception, argError);
    info->Release();
    return hr;
  }

  class InnerUnknown : public IUnknown {
   public:
    explicit InnerUnknown(DispatchObject* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
      if (!object) return E_POINTER;
      if (IsEqualIID(riid, IID_IUnknown))
        *object = static_cast<IUnknown*>(this);
      else if (IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, Iid))
        *object = static_cast<Iface*>(owner_);
      else if (void* found = owner_->FindInterface(riid))
        *object = found;
      else {
        *object = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*object)->AddRef();
      return S_OK;
    }
    // Plain counts: the objects live in one single-threaded apartment.
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
      ULONG left = --refs_;
      if (left == 0) delete owner_;
      return left;
    }

   private:
    DispatchObject* owner_;
    ULONG refs_ = 1;  // the creator's reference
  };

  InnerUnknown inner_;
  IUnknown* outer_;
};

// Gives up a held interface, if any, and forgets it.
template <class T>
void ReleaseHeld(T*& pointer) {
  if (pointer) pointer->Release();
  pointer = nullptr;
}

// Creates an object of class T (constructed with the outer unknown) and asks it for `riid`.
// An object that cannot be made, whatever part of it, is E_OUTOFMEMORY and leaves the module
// unlocked: the lock is taken by the base class, which is undone with the rest.
template <class T>
HRESULT CreateAggregatable(IUnknown* outer, REFIID riid, void** object) {
  return Guarded([&] {
    T* made = new T(outer);
    HRESULT hr = made->inner()->QueryInterface(riid, object);
    made->inner()->Release();  // the object now lives on the reference just handed out, if any
    return hr;
  });
}

}  // namespace norvisk
