// Graph base: background, grid and value labels shared by both kinds.
#include "graph/graph.h"

#include <atomic>
#include <charconv>
#include <cmath>

namespace norvisk {

namespace {
std::atomic<int> live_graphs{0};
}

Graph::Graph() { live_graphs.fetch_add(1, std::memory_order_relaxed); }

Graph::~Graph() { live_graphs.fetch_sub(1, std::memory_order_relaxed); }

int Graph::LiveCount() { return live_graphs.load(std::memory_order_relaxed); }

bool ToPixel(double value, int* pixel) {
  if (std::isnan(value)) return false;
  constexpr double kFar = 1 << 30;
  if (value > kFar) value = kFar;
  if (value < -kFar) value = -kFar;
  *pixel = static_cast<int>(value);
  return true;
}

bool Graph::PictureRefused() const {
  if (canvas->ready()) return false;
  const SurfaceDesc& desc = canvas->surfaceDesc();
  return SurfaceFits(desc.width, desc.height, desc.bitsPerPixel);
}

void Graph::PlacePlot(int width, int height) {
  plotTop = height / 15;
  plotLeft = ScaleInt(width, 3, 32);
  plotHeight = ScaleInt(height, 2, 3);
}

void Graph::MakeCanvas(int width, int height) {
  canvas = std::make_unique<Canvas>(width, height);
  canvas->SetFontSize(FontPointsFor(height));
}

bool Graph::ResizeCanvas(int width, int height, bool newHeight) {
  dirty = true;
  bool resized = canvas->Resize(width, height);
  if (newHeight) canvas->SetFontSize(FontPointsFor(height));
  return resized;
}

bool Graph::CopyPicture(DeviceContext target, int width, int height) {
  if (!Prepare()) return false;
  return canvas->CopyTo(target, 0, 0, width, height, 0, 0);
}

bool Graph::SavePicture(const char* fileName) {
  return ExportToFile(fileName) == ExportResult::Written;
}

void Graph::UseSolidBlackPen() { canvas->SetPen(kPenSolid, 1, 0, 0, 0); }

bool Graph::LoadBackground(ModuleHandle module, int id) {
  dirty = true;
  return canvas->LoadBitmapResource(module, id);
}

ExportResult Graph::ExportToFile(const char* fileName) {
  if (!Prepare()) return ExportResult::NotWritten;
  return canvas->ExportImage(fileName);
}

ExportResult Graph::ExportToFile(const char* fileName, PictureWriter writer) {
  if (!Prepare()) return ExportResult::NotWritten;
  return canvas->ExportImage(fileName, writer);
}

ExportResult Graph::Encode(PictureWriter writer, const ImageSink& sink) {
  if (!Prepare()) return ExportResult::NotWritten;
  return canvas->EncodeImage(writer, sink);
}

void Graph::DrawGrid(int x, int y, int w, int h, int columns) {
  canvas->SetBrushStyle(kBrushHollow);
  canvas->DrawRectangle(x, y, x + w, y + h);
  canvas->SetPen(kPenDot, 1, 128, 128, 128);
  // Mask pen: bars, boxes and the line drawn after the grid let the grid show through.
  canvas->SetMixMode(kMixMaskPen);
  for (int k = 1; k <= 9; ++k) {
    int yk = y + ScaleInt(h, k, 10);
    canvas->MoveTo(x, yk);
    canvas->LineTo(x + w, yk);
  }
  if (columns >= 3) {
    for (int k = 1; k <= columns - 2; ++k) {
      int xk = x + static_cast<int>(static_cast<long long>(k) * w / (columns - 1));
      canvas->MoveTo(xk, y);
      canvas->LineTo(xk, y + h);
    }
  }
  canvas->SetBrushStyle(kBrushSolid);
  UseSolidBlackPen();
}

std::string ValueLabelText(double minValue, double maxValue, int i) {
  // From the formula for each label, never by repeated subtraction; the product is formed left
  // to right. Fixed point whatever the locale.
  double value = maxValue - i * (maxValue - minValue) * 0.1;
  char text[400];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return std::string(text, result.ptr);
}

void Graph::DrawValueLabels(int x, int y, int h, double minValue, double maxValue) {
  int fh = canvas->TextHeight("fg");
  canvas->SetBackgroundMode(kTransparent);
  for (int i = 0; i <= 10; ++i) {
    std::string label = ValueLabelText(minValue, maxValue, i);
    int tw = canvas->TextWidth(label);
    canvas->DrawText(x - tw - 2, y + ScaleInt(h, i, 10) - fh / 2, label);
  }
}

}  // namespace norvisk
