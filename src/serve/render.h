// Drawing one chart into memory for the service.
#pragma once

#include <cstddef>

#include "serve/request.h"

namespace norvisk::serve {

enum class RenderResult { Ok, NothingToDraw, NoMemory, Failed };

// Draws `chart` as the command would for the same data and size and encodes it; on Ok,
// `*bytes` (freed with FreePicture) holds `*size` bytes of BMP, JPEG or PNG. For a /parse
// route, the JSON of the data instead (ParseToJson).
RenderResult Render(const ChartRequest& chart, unsigned char** bytes, std::size_t* size);
void FreePicture(void* bytes);
// The program version that goes into every entity tag.
const char* ProgramVersion();

}  // namespace norvisk::serve
