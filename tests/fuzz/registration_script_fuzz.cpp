// Registration scripts against an in-memory registry. A script that cannot be read writes
// nothing; one that registers registers the same again; and, without keys kept on removal
// (NoRemove), its unregistration leaves the registry as empty as it was before.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "support/memory_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using norvisk_fuzz::Check;
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  const norvisk::Replacements replacements = {
      {"MODULE", "C:\\Program Files\\Norvisk\\Norvisk.dll"}};
  norvisk_test::MemoryRegistry registry;
  const HRESULT hr = norvisk::RunRegistrationScript(script, true, replacements, registry);
  if (hr == norvisk::kRegistrarScriptError) {
    Check(registry.Entries().empty(), "a script that cannot be read writes nothing");
    return 0;
  }
  Check(hr == S_OK, "a readable script registers into a registry that never fails");
  const auto registered = registry.Entries();
  Check(norvisk::RunRegistrationScript(script, true, replacements, registry) == S_OK,
        "registering again works");
  Check(registry.Entries() == registered, "registering again registers the same");

  std::string lower(script);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  const bool keeps = lower.find("noremove") != std::string::npos;
  const HRESULT removed = norvisk::RunRegistrationScript(script, false, replacements, registry);
  Check(removed == S_OK, "a registered script unregisters");
  if (!keeps) Check(registry.Entries().empty(), "unregistering removes everything registered");
  return 0;
}
