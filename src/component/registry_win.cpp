// The Windows registry behind the registrar: keys in the process's own view (a 32-bit module
// registers into the 32-bit view, as its clients will look for it there), strings as REG_SZ.
#include <windows.h>

#include <new>

#include "component/registrar.h"

namespace norvisk {
namespace {

HKEY RootKey(const std::string& root) {
  const std::optional<RegistryRoot> found = FindRegistryRoot(root);
  if (!found) return nullptr;
  switch (*found) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

bool IsMissing(LONG error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HRESULT FromError(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

// Closes the key it holds.
class OpenKey {
 public:
  OpenKey(HKEY root, const std::string& path, REGSAM access)
      : error_(RegOpenKeyExA(root, path.c_str(), 0, access, &key_)) {}
  ~OpenKey() {
    if (error_ == ERROR_SUCCESS) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  LONG error() const { return error_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LONG error_;
};

class WindowsRegistry final : public Registry {
 public:
  HRESULT CreateKey(const std::string& root, const std::string& path) override {
    HKEY base = RootKey(root);
    if (base == nullptr || path.empty()) return E_INVALIDARG;
    HKEY key = nullptr;
    const LONG error = RegCreateKeyExA(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_WRITE, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) RegCloseKey(key);
    return FromError(error);
  }

  bool KeyExists(const std::string& root, const std::string& path) override {
    HKEY base = RootKey(root);
    if (base == nullptr) return false;
    OpenKey key(base, path, KEY_QUERY_VALUE);
    // A key we may not read is still there.
    return key.error() == ERROR_SUCCESS || key.error() == ERROR_ACCESS_DENIED;
  }

  HRESULT SetString(const std::string& root, const std::string& path, const std::string& name,
                    const std::string& value) override {
    HKEY base = RootKey(root);
    if (base == nullptr) return E_INVALIDARG;
    OpenKey key(base, path, KEY_SET_VALUE);
    if (key.error() != ERROR_SUCCESS) return FromError(key.error());
    // REG_SZ data includes its terminator.
    return FromError(RegSetValueExA(key.get(), name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1)));
  }

  HRESULT DeleteValue(const std::string& root, const std::string& path,
                      const std::string& name) override {
    HKEY base = RootKey(root);
    if (base == nullptr || path.empty()) return E_INVALIDARG;
    OpenKey key(base, path, KEY_SET_VALUE);
    if (IsMissing(key.error())) return S_FALSE;
    if (key.error() != ERROR_SUCCESS) return FromError(key.error());
    const LONG error = RegDeleteValueA(key.get(), name.empty() ? nullptr : name.c_str());
    return IsMissing(error) ? S_FALSE : FromError(error);
  }

  HRESULT DeleteKey(const std::string& root, const std::string& path) override {
    HKEY base = RootKey(root);
    if (base == nullptr || path.empty()) return E_INVALIDARG;
    const LONG error = RegDeleteKeyA(base, path.c_str());
    return IsMissing(error) ? S_FALSE : FromError(error);
  }

  HRESULT DeleteTree(const std::string& root, const std::string& path) override {
    HKEY base = RootKey(root);
    // The empty path would empty the whole root.
    if (base == nullptr || path.empty()) return E_INVALIDARG;
    const LONG error = RegDeleteTreeA(base, path.c_str());
    if (IsMissing(error)) return S_FALSE;
    if (error != ERROR_SUCCESS) return FromError(error);
    return S_OK;
  }

  bool IsEmpty(const std::string& root, const std::string& path) override {
    HKEY base = RootKey(root);
    if (base == nullptr) return true;
    OpenKey key(base, path, KEY_QUERY_VALUE);
    if (IsMissing(key.error())) return true;
    if (key.error() != ERROR_SUCCESS) return false;  // cannot look inside: keep it
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return false;
    // The count includes the default value when it is set; that one does not keep a key.
    if (values > 0 &&
        RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      --values;
    return subkeys == 0 && values == 0;
  }
};

}  // namespace

std::unique_ptr<Registry> MakeWindowsRegistry() {
  return std::unique_ptr<Registry>(new (std::nothrow) WindowsRegistry);
}

}  // namespace norvisk
