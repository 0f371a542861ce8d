// /parse/bar and /parse/xy: how a data string is read, as the JSON `norvisk parse` prints.
#pragma once

#include <cstddef>

#include "serve/render.h"
#include "serve/request.h"

namespace norvisk::serve {

// The JSON of what `chart.data` gives a graph of the route's kind, from libnorvisk's C
// interface; on Ok `*bytes` (freed with FreePicture) holds `*size` bytes of it. Reading never
// fails for the data's sake, only for want of memory.
RenderResult ParseToJson(const ChartRequest& chart, unsigned char** bytes, std::size_t* size);

}  // namespace norvisk::serve
