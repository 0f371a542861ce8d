// The registrar: runs the component's registration scripts against a registry.
//
// The script language, as the component's scripts use it:
//   HKCR                                  a root (HKCR, HKCU, HKLM, HKU, HKCC, or the long names)
//   {
//     [NoRemove|ForceRemove] name [= s 'text'] [{ ... }]     a key, with its default value
//     val name = s 'text'                                     a named value of the enclosing key
//   }
// Names are bare words (up to white space, '=', a quote or a brace; "{GUID}", a brace pair with
// only name characters between, is a name too) or quoted with single quotes, where '' stands for
// one quote. A key name is one level: not empty, no '\'. In names and texts %NAME% is replaced
// from the replacements (names compared without regard to case) and %% gives one %. Only string
// values (s) exist; NUL is refused inside quotes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/status.h"

namespace norvisk {

// A registry as the scripts see it: keys below a root ("HKCR", ...), addressed by their path of
// names separated by '\\'; values are strings; the empty name is the key's default value.
// Names compare without regard to case. The Delete* calls report something that is not there
// with S_FALSE (or the platform's not-found status, which the registrar accepts as well); they
// refuse the empty path, which would be the root itself.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual HRESULT CreateKey(const std::string& root,
                            const std::string& path) = 0;  // creates missing parents too
  virtual bool KeyExists(const std::string& root, const std::string& path) = 0;
  virtual HRESULT SetString(const std::string& root, const std::string& path,
                            const std::string& name, const std::string& value) = 0;
  virtual HRESULT DeleteValue(const std::string& root, const std::string& path,
                              const std::string& name) = 0;
  virtual HRESULT DeleteKey(const std::string& root,
                            const std::string& path) = 0;  // only a key without subkeys
  virtual HRESULT DeleteTree(const std::string& root,
                             const std::string& path) = 0;  // the key with everything under it
  virtual bool IsEmpty(const std::string& root,
                       const std::string& path) = 0;  // no subkeys and no named values
};

// The roots a script may name, each by a short or a long name ("HKCR" or "HKEY_CLASSES_ROOT"),
// without regard to case.
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };
std::optional<RegistryRoot> FindRegistryRoot(std::string_view name);
// The root's short name, the one the registrar gives a Registry.
std::string_view ShortName(RegistryRoot root);

// Replacements such as {"MODULE", "C:\\path\\Norvisk.dll"} for %MODULE%.
using Replacements = std::vector<std::pair<std::string, std::string>>;

// The status of a script that cannot be read (syntax error, unknown root, unknown %NAME%):
// DISP_E_EXCEPTION, as the platform's own registrar reports it. Nothing is written then.
constexpr HRESULT kRegistrarScriptError = static_cast<HRESULT>(0x80020009u);

// Runs a registration script in register or unregister mode. Returns S_OK, kRegistrarScriptError
// when the script cannot be read, or the first failure the registry reports. A registration stops
// at its first failure and is undone (the failing root's block is run in unregister mode; blocks
// of other roots before it stay) before returning. An unregistration removes all it can and
// returns its first failure; removing what is not there is not an error.
HRESULT RunRegistrationScript(std::string_view script, bool registering,
                              const Replacements& replacements, Registry& registry);

// The Windows registry (registry_win.cpp; Windows builds only). Roots map to the predefined keys.
std::unique_ptr<Registry> MakeWindowsRegistry();

}  // namespace norvisk
