// Texts of run scripts, which are UTF-8, as the graph object takes them on this platform.
#pragma once

#include <string>
#include <string_view>

#include "objects/text.h"

namespace norvisk::cli {

// The script's UTF-8 text as an argument of the graph object. Where the graphs keep another
// 8-bit encoding (the ANSI code page on Windows) it goes as an automation string, converted the
// way the component converts every caller's text; `storage` holds it for the call.
TextArg ScriptText(std::string_view utf8, std::u16string* storage);

}  // namespace norvisk::cli
