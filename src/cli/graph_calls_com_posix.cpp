// Builds without COM: --com has nothing to call.
#include "cli/graph_calls_com.h"

namespace norvisk::cli {

std::unique_ptr<GraphCalls> MakeComGraphCalls(std::string* why) {
  *why = "--com needs the Windows build";
  return nullptr;
}

}  // namespace norvisk::cli
