// What a PNG's entity tag names besides the request: the compressor takes the code paths of
// the processor it runs on, and two machines may give other bytes for the same pixels. A cache
// in front of several instances must then not take one machine's tag for the other's bytes.
#pragma once

#include <string_view>

#include "serve/request.h"

namespace norvisk::serve {

// Encodes a reference chart as PNG once and keeps a hash of its bytes; later calls do nothing.
// The service calls it as it starts, so that no request waits for it.
void TakePngFingerprint();

// The text a chart's entity tag is made with besides the request: the program's version, and
// for a PNG route the fingerprint too (taken on first use if TakePngFingerprint was not called).
std::string_view TagVersion(Route route);

}  // namespace norvisk::serve
