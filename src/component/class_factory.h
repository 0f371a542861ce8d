// One class-factory class for both creatable classes.
#pragma once

#include <windows.h>

namespace norvisk {

class ClassFactory final : public IClassFactory {
 public:
  using Creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);
  explicit ClassFactory(Creator create) : create_(create) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  // The module keeps the class object; references handed out keep the module loaded.
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  Creator create_;
  LONG refs_ = 0;
};

}  // namespace norvisk
