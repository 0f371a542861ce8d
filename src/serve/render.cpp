// Drawing for the service through libnorvisk's C interface: each call makes its own graph, so
// the workers share no drawing state.
#include "serve/render.h"

#include "norvisk.h"
#include "raster/png_writer.h"
#include "serve/parse_route.h"

namespace norvisk::serve {

RenderResult Render(const ChartRequest& chart, unsigned char** bytes, std::size_t* size) {
  if (Info(chart.route).handler == Handler::Parse) return ParseToJson(chart, bytes, size);
  norvisk_format format = NORVISK_FORMAT_BMP;
  switch (FormatOf(chart.route)) {
    case ChartFormat::Jpeg: format = NORVISK_FORMAT_JPEG; break;
    case ChartFormat::Png:
      // Without its compression library no PNG is written: a fault of the service (500), not
      // data with nothing to draw (422).
      if (!PngWriterReady(nullptr)) return RenderResult::Failed;
      format = NORVISK_FORMAT_PNG;
      break;
    default: break;
  }
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
