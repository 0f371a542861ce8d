// References and automation strings held for a COM client, released with their holders: what
// the component's tests and its benchmark share.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

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

// An object of one of the registered classes, created as any client would.
template <class T>
HRESULT Create(REFCLSID clsid, REFIID iid, Ref<T>* object) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object->put());
}

}  // namespace norvisk_com
