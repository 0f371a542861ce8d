// Script texts here: UTF-8 is already the graphs' own text.
#include "cli/script_text.h"

namespace norvisk::cli {

TextArg ScriptText(std::string_view utf8, std::u16string*) { return TextArg(utf8); }

}  // namespace norvisk::cli
