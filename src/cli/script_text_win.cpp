// Script texts on Windows: UTF-8 to an automation string, which the graph object converts to
// the ANSI code page as it does for every caller.
#include <windows.h>

#include "cli/script_text.h"

namespace norvisk::cli {

TextArg ScriptText(std::string_view utf8, std::u16string* storage) {
  storage->clear();
  if (!utf8.empty()) {
    int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    storage->resize(static_cast<std::size_t>(length > 0 ? length : 0));
    if (length > 0)
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                          reinterpret_cast<wchar_t*>(storage->data()), length);
  }
  return TextArg(storage->c_str());
}

}  // namespace norvisk::cli
