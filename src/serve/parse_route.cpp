// Reading a data string for /parse, through the same library call as the command's `parse`, so
// that both give the same bytes.
#include "serve/parse_route.h"

#include "norvisk.h"

namespace norvisk::serve {

RenderResult ParseToJson(const ChartRequest& chart, unsigned char** bytes, std::size_t* size) {
  char* json = nullptr;
  const norvisk_kind kind = Info(chart.route).bar ? NORVISK_KIND_BAR : NORVISK_KIND_XY;
  switch (norvisk_parse_json(kind, chart.data.data(), chart.data.size(), &json, size)) {
    case NORVISK_OK: *bytes = reinterpret_cast<unsigned char*>(json); return RenderResult::Ok;
    case NORVISK_NO_MEMORY: return RenderResult::NoMemory;
    default: return RenderResult::Failed;
  }
}

}  // namespace norvisk::serve
