// libnorvisk: the C interface over the non-visual graph object. Nothing is thrown across it.
#include "norvisk.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "objects/boundary.h"
#include "objects/nv_graph.h"
#include "objects/parse_json.h"
#include "raster/memory_sink.h"
#include "raster/picture_memory.h"
#include "raster/png_writer.h"

struct norvisk_graph {
  norvisk::NVGraph object;
};

namespace {

using norvisk::ExportResult;
using norvisk::ImageFormat;
using norvisk::NVGraph;
using norvisk::PictureWriter;

#define NORVISK_STRINGIZE_(x) #x
#define NORVISK_STRINGIZE(x) NORVISK_STRINGIZE_(x)
constexpr const char* kVersion = NORVISK_STRINGIZE(NORVISK_VERSION_MAJOR) "." NORVISK_STRINGIZE(
    NORVISK_VERSION_MINOR) "." NORVISK_STRINGIZE(NORVISK_VERSION_PATCH);
static_assert(NORVISK_VERSION_NUMBER ==
              NORVISK_VERSION_MAJOR * 10000 + NORVISK_VERSION_MINOR * 100 + NORVISK_VERSION_PATCH);
#ifdef NORVISK_VERSION
// The header and the build speak of the same version.
static_assert(std::string_view(NORVISK_VERSION) == kVersion);
#endif

int FromResult(HRESULT hr) {
  if (hr == S_OK) return NORVISK_OK;
  if (hr == S_FALSE) return NORVISK_WRONG_KIND;
  return NORVISK_NO_MEMORY;  // the graph objects fail only for want of memory
}

int FromExport(HRESULT hr, ExportResult outcome) {
  if (hr != S_OK) return FromResult(hr);
  switch (outcome) {
    case ExportResult::Written: return NORVISK_OK;
    case ExportResult::NoMemory: return NORVISK_NO_MEMORY;
    case ExportResult::NotWritten: break;
  }
  return NORVISK_NOT_WRITTEN;
}

// Runs `call` through the exception boundary: what the library's code can throw is only
// allocation failure.
template <class Call>
int Guarded(Call&& call) noexcept {
  return norvisk::GuardedOr(static_cast<int>(NORVISK_NO_MEMORY), std::forward<Call>(call));
}

// The writer of a format of the C interface; nullptr for a number of no format.
PictureWriter WriterOf(int format) {
  switch (format) {
    case NORVISK_FORMAT_BMP: return norvisk::WriterFor(ImageFormat::Bmp);
    case NORVISK_FORMAT_JPEG: return norvisk::WriterFor(ImageFormat::Jpeg);
    case NORVISK_FORMAT_PNG: return norvisk::WritePng;
  }
  return nullptr;
}

// The current graph's picture into memory: *data and *size hold it only on NORVISK_OK.
int EncodeInto(NVGraph& object, PictureWriter writer, unsigned char** data, std::size_t* size) {
  norvisk::MemorySink memory;
  ExportResult outcome = ExportResult::NotWritten;
  const HRESULT hr = object.Encode(writer, memory.sink(), &outcome);
  if (memory.outOfMemory()) return NORVISK_NO_MEMORY;
  const int status = FromExport(hr, outcome);
  if (status == NORVISK_OK) *data = memory.Release(size);
  return status;
}

using Draw = HRESULT (NVGraph::*)(norvisk::TextArg, norvisk::TextArg, ExportResult*);

// A drawing method of the graph object: a new graph of its kind, its data, and the file.
int DrawGraph(Draw draw, norvisk_graph* graph, const char* file_name, const char* data) noexcept {
  if (graph == nullptr || file_name == nullptr || data == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int {
    ExportResult outcome = ExportResult::NotWritten;
    const HRESULT hr = (graph->object.*draw)(file_name, data, &outcome);
    return FromExport(hr, outcome);
  });
}

using Create = HRESULT (NVGraph::*)();

int Chart(Create create, const char* data, int width, int height, int format, unsigned char** out,
          std::size_t* size) noexcept {
  if (out != nullptr) *out = nullptr;
  if (size != nullptr) *size = 0;
  const PictureWriter writer = WriterOf(format);
  if (data == nullptr || out == nullptr || size == nullptr || writer == nullptr)
    return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int {
    NVGraph object;
    HRESULT hr = (object.*create)();
    // Resized as SetWidth and SetHeight resize the graph of 640 x 300 made first.
    if (hr == S_OK) hr = object.SetWidth(width);
    if (hr == S_OK) hr = object.SetHeight(height);
    if (hr == S_OK) hr = object.ReadData(data);
    if (hr != S_OK) return FromResult(hr);
    return EncodeInto(object, writer, out, size);
  });
}

}  // namespace

extern "C" {

norvisk_graph* norvisk_graph_new(void) { return new (std::nothrow) norvisk_graph; }

void norvisk_graph_free(norvisk_graph* graph) { delete graph; }

int norvisk_create_bar_graph(norvisk_graph* graph) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.CreateBarGraph()); });
}

int norvisk_create_xy_graph(norvisk_graph* graph) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.CreateXYGraph()); });
}

int norvisk_add_bar_legend(norvisk_graph* graph, const char* legend) {
  if (graph == nullptr || legend == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.AddBarLegend(legend)); });
}

int norvisk_add_bar_bar(norvisk_graph* graph, const char* name) {
  if (graph == nullptr || name == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.AddBarBar(name)); });
}

int norvisk_add_bar_value(norvisk_graph* graph, double value) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.AddBarValue(value)); });
}

int norvisk_add_xy_value(norvisk_graph* graph, const char* label, double value) {
  if (graph == nullptr || label == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.AddXYValue(label, value)); });
}

int norvisk_clear(norvisk_graph* graph) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.Clear()); });
}

int norvisk_set_width(norvisk_graph* graph, int width) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.SetWidth(width)); });
}

int norvisk_set_height(norvisk_graph* graph, int height) {
  if (graph == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return FromResult(graph->object.SetHeight(height)); });
}

int norvisk_save_to_file(norvisk_graph* graph, const char* file_name) {
  if (graph == nullptr || file_name == nullptr) return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int {
    if (!graph->object.HasGraph()) return NORVISK_WRONG_KIND;
    // A size of no picture is not given the background's size, as the command does not.
    if (!graph->object.HasPicture()) return NORVISK_NOT_WRITTEN;
    ExportResult outcome = ExportResult::NotWritten;
    const HRESULT hr = graph->object.SaveToFile(file_name, &outcome);
    return FromExport(hr, outcome);
  });
}

int norvisk_draw_bar_graph(norvisk_graph* graph, const char* file_name, const char* data) {
  return DrawGraph(&NVGraph::DrawBarGraph, graph, file_name, data);
}

int norvisk_draw_xy_graph(norvisk_graph* graph, const char* file_name, const char* data) {
  return DrawGraph(&NVGraph::DrawXYGraph, graph, file_name, data);
}

int norvisk_encode(norvisk_graph* graph, norvisk_format format, unsigned char** data,
                   size_t* size) {
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  const PictureWriter writer = WriterOf(format);
  if (graph == nullptr || data == nullptr || size == nullptr || writer == nullptr)
    return NORVISK_BAD_ARGUMENT;
  return Guarded([&]() -> int { return EncodeInto(graph->object, writer, data, size); });
}

int norvisk_bar_chart(const char* data, int width, int height, norvisk_format format,
                      unsigned char** out, size_t* size) {
  return Chart(&NVGraph::CreateBarGraph, data, width, height, format, out, size);
}

int norvisk_xy_chart(const char* data, int width, int height, norvisk_format format,
                     unsigned char** out, size_t* size) {
  return Chart(&NVGraph::CreateXYGraph, data, width, height, format, out, size);
}

int norvisk_parse_json(norvisk_kind kind, const char* data, size_t length, char** json,
                       size_t* json_length) {
  if (json) *json = nullptr;
  if (json_length) *json_length = 0;
  if (!data || !json || !json_length) return NORVISK_BAD_ARGUMENT;
  if (kind != NORVISK_KIND_BAR && kind != NORVISK_KIND_XY) return NORVISK_BAD_ARGUMENT;
  return Guarded([&] {
    std::string text;
    const norvisk::GraphKind graph =
        kind == NORVISK_KIND_BAR ? norvisk::GraphKind::Bar : norvisk::GraphKind::XY;
    if (norvisk::ParseJson(graph, std::string_view(data, length), &text) != S_OK)
      return static_cast<int>(NORVISK_NO_MEMORY);
    text += '\n';  // a line, as the command prints it
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (!block) return static_cast<int>(NORVISK_NO_MEMORY);
    std::memcpy(block, text.c_str(), text.size() + 1);
    *json = block;
    *json_length = text.size();
    return static_cast<int>(NORVISK_OK);
  });
}

void norvisk_free(void* data) { norvisk::GivePictureMemory(data); }

const char* norvisk_status_text(int status) {
  switch (status) {
    case NORVISK_OK: return "done";
    case NORVISK_WRONG_KIND: return "the call does not fit the kind of graph, or there is no graph";
    case NORVISK_NO_MEMORY: return "out of memory";
    case NORVISK_NOT_WRITTEN: return "no picture was written";
    case NORVISK_BAD_ARGUMENT: return "a null or unknown argument";
  }
  return "unknown status";
}

const char* norvisk_version(void) { return kVersion; }

}  // extern "C"
