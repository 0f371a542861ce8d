// Drawing for the service through libnorvisk's C interface: each call makes its own graph, so
// the workers share no drawing state.
#include "serve/render.h"

#include "norvisk.h"
#include "serve/parse_route.h"

namespace norvisk::serve {

RenderResult Render(const ChartRequest& chart, unsigned char** bytes, std::size_t* size) {
  if (Info(chart.route).handler == Handler::Parse) return ParseToJson(chart, bytes, size);
  const norvisk_format format = IsJpeg(chart.route) ? NORVISK_FORMAT_JPEG : NORVISK_FORMAT_BMP;
  auto draw = IsBar(chart.route) ? norvisk_bar_chart : norvisk_xy_chart;
  switch (draw(chart.data.c_str(), chart.width, chart.height, format, bytes, size)) {
    case NORVISK_OK: return RenderResult::Ok;
    case NORVISK_NOT_WRITTEN: return RenderResult::NothingToDraw;
    case NORVISK_NO_MEMORY: return RenderResult::NoMemory;
    default: return RenderResult::Failed;
  }
}

void FreePicture(void* bytes) { norvisk_free(bytes); }

const char* ProgramVersion() { return norvisk_version(); }

}  // namespace norvisk::serve
