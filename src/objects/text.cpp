// Text arguments: 8-bit text passes through, automation strings are converted.
#include "objects/text.h"

namespace norvisk {

bool GraphText(const TextArg& arg, std::string* storage, std::string_view* text) {
  if (!arg.isWide()) {
    *text = arg.narrow();
    return true;
  }
  if (!WideToGraphText(arg.wide(), storage)) return false;
  *text = *storage;
  return true;
}

}  // namespace norvisk
