// References, automation strings and call arguments held for a COM client, released with their
// holders: what the component's tests and its benchmark share.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace norvisk_com {

// One counted reference to an interface, released with the holder.
template <class T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For an out parameter: drops what is held first.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  T** out() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// An automation string, freed with the holder; Bstr() is the null BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::wstring& text)
      : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(value_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }  // NOLINT: passed straight to the interfaces

 private:
  BSTR value_ = nullptr;
};

// Arguments of an IDispatch call in the order a caller writes them; Params() gives them as
// Invoke takes them, reversed. Texts are copies of their own, freed with the arguments.
class DispatchArgs {
 public:
  DispatchArgs() = default;
  ~DispatchArgs() {
    for (VARIANT& v : values_) VariantClear(&v);
  }
  DispatchArgs(const DispatchArgs&) = delete;
  DispatchArgs& operator=(const DispatchArgs&) = delete;

  DispatchArgs& Text(const std::wstring& text) {
    V_BSTR(Add(VT_BSTR)) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *this;
  }
  DispatchArgs& Number(double value) {
    V_R8(Add(VT_R8)) = value;
    return *this;
  }
  DispatchArgs& Integer(int value) {
    V_I4(Add(VT_I4)) = value;
    return *this;
  }

  // Valid until the next change; takes memory only the first time.
  DISPPARAMS Params() const {
    reversed_.assign(values_.rbegin(), values_.rend());
    return DISPPARAMS{reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
  }

 private:
  VARIANT* Add(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = type;
    values_.push_back(v);
    return &values_.back();
  }

  std::vector<VARIANT> values_;
  mutable std::vector<VARIANT> reversed_;
};

// An object of one of the registered classes, created as any client would.
template <class T>
HRESULT Create(REFCLSID clsid, REFIID iid, Ref<T>* object) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object->put());
}

}  // namespace norvisk_com
