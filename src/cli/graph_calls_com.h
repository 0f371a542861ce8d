// The --com target of `norvisk run`: the registered NVGraph class behind GraphCalls.
#pragma once

#include <memory>
#include <string>

#include "cli/graph_calls.h"

namespace norvisk::cli {

// Whether this build can reach the registered class at all; without it --com is a usage error.
#if defined(_WIN32)
inline constexpr bool kComBuild = true;
#else
inline constexpr bool kComBuild = false;
#endif

// The calls made on a new object of the class registered as "Norvisk.NVGraph", through its
// INVGraph interface, in a single-threaded apartment of the calling thread that lasts as long as
// the returned object. Texts are UTF-8 and reach the class as the same characters. nullptr and
// `why` when the object cannot be made (or this build has no COM).
std::unique_ptr<GraphCalls> MakeComGraphCalls(std::string* why);

}  // namespace norvisk::cli
