// Automation strings to the ANSI code page, the 8-bit text of Windows.
#include <windows.h>

#include "objects/text.h"

namespace norvisk {

bool WideToGraphText(const char16_t* wide, std::string* out) {
  out->clear();
  if (!wide || !*wide) return true;
  const wchar_t* text = reinterpret_cast<const wchar_t*>(wide);
  // Characters the code page lacks become its default character, as the platform converts.
  int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  out->resize(static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(CP_ACP, 0, text, -1, out->data(), bytes, nullptr, nullptr) != bytes)
    return false;
  out->resize(static_cast<std::size_t>(bytes) - 1);  // without the terminating zero
  return true;
}

}  // namespace norvisk
