// Run scripts: one call of the graph object a line, read and made one line at a time.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/graph_calls.h"

namespace norvisk::cli {

struct ScriptError {
  std::size_t line = 0;  // counted from 1
  std::string why;
};

// Makes the call of each line of `text` on `target`, in order. With `trace`, writes one line a
// call there: the method and its status. Stops before the first line that cannot be read and
// returns false with its number and why; what earlier lines did stays done. A byte-order mark
// before the first line is skipped.
bool RunScript(std::string_view text, GraphCalls& target, std::FILE* trace, ScriptError* error);

}  // namespace norvisk::cli
