// Canvas: drawing settings and surface management over a raster back end.
#include "raster/canvas.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>

#include "raster/device.h"
#include "raster/resource_image.h"

namespace norvisk {

namespace {
std::atomic<int> live_canvases{0};
}

Canvas::Canvas(int width, int height) : Canvas(width, height, DefaultBackend()) {}

Canvas::Canvas(int width, int height, const Backend& backend) : backend_(backend) {
  Resize(width, height);
  // Counted once it stands: a canvas whose construction throws never had its destructor run.
  live_canvases.fetch_add(1, std::memory_order_relaxed);
}

Canvas::~Canvas() {
  // The surface and its context go first, so that no object is released while selected.
  scratch_.reset();
  device_.reset();
  live_canvases.fetch_sub(1, std::memory_order_relaxed);
}

int Canvas::LiveCount() { return live_canvases.load(std::memory_order_relaxed); }

bool Canvas::Resize(int width, int height) {
  // The same size keeps the surface; a surface that could not be had is tried again.
  if (width == desc_.width && height == desc_.height &&
      (ready_ || !SurfaceFits(width, height, desc_.bitsPerPixel))) {
    return true;
  }
  desc_.width = width;
  desc_.height = height;

  device_.reset();
  ready_ = false;
  if (!SurfaceFits(width, height, desc_.bitsPerPixel)) return false;

  device_ = backend_.CreateDevice(desc_);
  if (!device_) return false;
  ready_ = true;

  if (!brushObject_)
    brushObject_ = brushes_.Find(brush_, [&] { return backend_.CreateBrush(brush_); });
  device_->Select(DrawObject::Kind::Brush, brushObject_);
  if (!penObject_) penObject_ = pens_.Find(pen_, [&] { return backend_.CreatePen(pen_); });
  device_->Select(DrawObject::Kind::Pen, penObject_);
  // The font is made when text first needs it.
  if (fontObject_)
    device_->Select(DrawObject::Kind::Font, fontObject_.get());
  else
    fontWanted_ = true;
  return true;
}

FontSpec Canvas::MakeFontSpec() const {
  int dpi = device_ ? device_->LogPixelsY() : 96;
  return FontSpec{-MulDiv(fontPoints_, dpi, 72), italic_, underline_, faceName_};
}

bool Canvas::LoadBitmapResource(ModuleHandle module, int id) {
  ResourceImage image;
  if (!LoadResourceImage(module, id, &image)) return false;

  if (desc_.width == 0 || desc_.height == 0) {
    // A canvas without a size takes the image's size and depth.
    desc_.planes = 1;
    desc_.bitsPerPixel = static_cast<std::uint16_t>(image.bitsPerPixel);
    Resize(image.width, image.height);
  }
  if (!ready_) return true;

  if (image.bitsPerPixel == 24 &&
      device_->Cover(image.bits, image.rowBytes, image.width, image.height, image.rowSource))
    return true;
  SurfaceBits dst = device_->Bits();
  if (!dst.bits || dst.bitsPerPixel != image.bitsPerPixel) return true;
  // Top-left aligned, no scaling: rows of the image beyond the canvas are cut, and canvas
  // pixels beyond the image keep what they hold.
  int rows = std::min(dst.height, image.height);
  std::size_t rowLength =
      static_cast<std::size_t>(std::min(dst.width, image.width)) * (image.bitsPerPixel / 8);
  if (dst.height == image.height && dst.rowBytes == image.rowBytes &&
      rowLength == static_cast<std::size_t>(image.rowBytes)) {
    std::memcpy(dst.bits, image.bits, static_cast<std::size_t>(image.rowBytes) * rows);
    return true;
  }
  const PixelRows to = dst.Rows();
  const ConstPixelRows from =
      ConstPixelRows::BottomUp(image.bits, image.width, image.height, image.rowBytes);
  for (int y = 0; y < rows; ++y) std::memcpy(to.Row(y), from.Row(y), rowLength);
  return true;
}

bool Canvas::CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX,
                    int sourceY) {
  if (!ready_) return false;
  return device_->CopyTo(target, x, y, width, height, sourceX, sourceY);
}

int Canvas::SetBackgroundMode(int mode) { return ready_ ? device_->SetBkMode(mode) : 0; }

Color Canvas::GetPixel(int x, int y) { return ready_ ? device_->GetPixel(x, y) : 0; }

void Canvas::MoveTo(int x, int y) {
  if (ready_) device_->MoveTo(x, y);
}

bool Canvas::LineTo(int x, int y) { return ready_ && device_->LineTo(x, y); }

void Canvas::DrawRectangle(int left, int top, int right, int bottom) {
  if (ready_) device_->Rectangle(left, top, right, bottom);
}

void Canvas::DrawText(int x, int y, std::string_view text) {
  if (!ready_) return;
  UseFont();
  device_->TextOut(x, y, text);
}

// Width and cell height of the text in the current font; false without a surface or when the
// platform cannot measure it.
bool Canvas::Measure(std::string_view text, int* width, int* height) {
  if (!ready_) return false;
  UseFont();
  return device_->TextExtent(text, width, height);
}

int Canvas::TextWidth(std::string_view text) {
  int width = 0, height = 0;
  return Measure(text, &width, &height) ? width : 0;
}

int Canvas::TextHeight(std::string_view text) {
  int width = 0, height = 0;
  return Measure(text, &width, &height) ? height : 0;
}

Color Canvas::TextColor() { return ready_ ? device_->GetTextColor() : 0; }

void Canvas::SetFontSize(int points) {
  fontPoints_ = points;
  ReplaceFont();
}

void Canvas::DrawVerticalText(int x, int y, std::string_view text) {
  // One measurement gives both the width and the height of the text's cell.
  int w = 0, h = 0;
  if (!Measure(text, &w, &h) || w == 0 || h == 0) return;
  // The text is turned as if from an upright copy on a w x h surface of its own, so a text too
  // large for any surface is left out.
  if (!SurfaceFits(w, h, 24)) return;
  if (device_->TurnedTextOut(x, y, w, text)) return;
  TurnThroughScratch(x, y, w, h, text);
}

// Draws the text upright on the scratch surface and copies its ink turned, pixel by pixel.
void Canvas::TurnThroughScratch(int x, int y, int w, int h, std::string_view text) {
  // The scratch surface is kept and only grows: making one costs more than the text itself on
  // some platforms. The opaque text fills its whole w x h cell, so whatever an earlier text left
  // outside that cell is never read.
  // One without a surface is made again: the platform may have refused it only for a while.
  if (!scratch_ || !scratch_->ready_ || scratch_->desc_.width < w || scratch_->desc_.height < h) {
    // Rounded up, so that a few sizes serve all labels and surfaces can be reused; near the
    // size limit there is no room to spare, and the text's own size is taken.
    auto round_up = [](long long v, int step) {
      return static_cast<int>(std::min<long long>((v + step - 1) / step * step, 0x7FFFFFFF));
    };
    int sw = round_up(std::max(w, scratch_ ? scratch_->desc_.width : 0), 64);
    int sh = round_up(std::max(h, scratch_ ? scratch_->desc_.height : 0), 32);
    if (!SurfaceFits(sw, sh, 24)) sw = w, sh = h;
    scratch_.reset();  // its context lets go of our font as it goes
    scratchFont_ = nullptr;
    scratch_ = std::make_unique<Canvas>(sw, sh, backend_);
  }
  // A scratch of a size within the limit was refused for want of memory: the text would be
  // left out of a picture that is then taken for complete, so the failure goes on as such.
  if (!scratch_->ready_) throw std::bad_alloc();
  Canvas& scratch = *scratch_;
  // The scratch draws with this canvas's font, which stays selected there until the font is
  // replaced (UseFont takes it back first). The scratch never makes a font of its own.
  if (scratchFont_ != fontObject_.get()) {
    scratch.device_->Select(DrawObject::Kind::Font, fontObject_.get());
    scratchFont_ = fontObject_.get();
  }
  scratch.device_->TextOut(0, 0, text);
  Color ink = scratch.device_->GetTextColor();

  SurfaceBits src = scratch.device_->Bits();
  SurfaceBits dst = device_->Bits();
  if (!src.bits || !dst.bits || src.bitsPerPixel != 24 || dst.bitsPerPixel != 24) return;
  const PixelRows upright = src.Rows(), turned = dst.Rows();
  const std::uint8_t b = BlueOf(ink), g = GreenOf(ink), r = RedOf(ink);
  // Scratch pixel (j, i) goes to (x + i, y + w - j): a quarter turn counter-clockwise. Only
  // pixels of exactly the text colour are carried over, regardless of the mix mode.
  for (int i = 0; i < h; ++i) {
    long long dx = static_cast<long long>(x) + i;
    if (dx < 0 || dx >= dst.width) continue;
    const std::uint8_t* row = upright.Row(i);
    for (int j = 0; j < w; ++j) {
      const std::uint8_t* p = row + 3 * j;
      if (p[0] != b || p[1] != g || p[2] != r) continue;
      long long dy = static_cast<long long>(y) + w - j;
      if (dy < 0 || dy >= dst.height) continue;
      std::uint8_t* q = turned.Row(dy) + 3 * dx;
      q[0] = b;
      q[1] = g;
      q[2] = r;
    }
  }
}

void Canvas::SetPen(int style, int width, int red, int green, int blue) {
  pen_.style = style;
  pen_.width = width;
  pen_.color = MakeColor(red, green, blue);
  ReplacePen();
}

void Canvas::SetPenRgb(int red, int green, int blue) {
  pen_.color = MakeColor(red, green, blue);
  ReplacePen();
}

void Canvas::SetPenColor(Color color) {
  pen_.color = color;
  ReplacePen();
}

void Canvas::SetMixMode(int mode) {
  if (ready_) device_->SetRop2(mode);
}

void Canvas::SetBrushStyle(unsigned style) {
  brush_.style = style;
  ReplaceBrush();
}

void Canvas::SetBrushColor(Color color) {
  brush_.color = color;
  ReplaceBrush();
}

SurfaceBits Canvas::Bits() const { return ready_ ? device_->Bits() : SurfaceBits{}; }

template <class Settings>
template <class Make>
DrawObject* KeptObjects<Settings>::Find(const Settings& settings, Make make) {
  auto kept = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.settings == settings; });
  if (kept != entries_.end()) {
    std::rotate(kept, kept + 1, entries_.end());
    return entries_.back().object.get();
  }
  std::unique_ptr<DrawObject> made = make();
  if (!made) return nullptr;
  if (entries_.size() == kMaxKept) entries_.erase(entries_.begin());
  entries_.push_back(Entry{settings, std::move(made)});
  return entries_.back().object.get();
}

// A new object replaces the old one only when it could be made; otherwise the kind is unset
// and the surface's default object draws until the next successful replacement. Selecting the
// object already selected (the default included) is left out.
namespace {
void select_object(Device* device, DrawObject::Kind kind, DrawObject* object, DrawObject** slot) {
  if (device && object != *slot) device->Select(kind, object);
  *slot = object;
}
}  // namespace

void Canvas::ReplacePen() {
  select_object(device_.get(), DrawObject::Kind::Pen,
                pens_.Find(pen_, [&] { return backend_.CreatePen(pen_); }), &penObject_);
}

void Canvas::ReplaceBrush() {
  select_object(device_.get(), DrawObject::Kind::Brush,
                brushes_.Find(brush_, [&] { return backend_.CreateBrush(brush_); }), &brushObject_);
}

// Fonts are made when text needs one: a canvas often has its size set more than once before
// anything is written, and a scratch canvas never writes with a font of its own.
void Canvas::ReplaceFont() { fontWanted_ = true; }

void Canvas::UseFont() {
  if (!fontWanted_ || !device_) return;
  std::unique_ptr<DrawObject> made = backend_.CreateFont(MakeFontSpec());
  // A font that could not be made (or whose making threw) is still wanted: the next text asks
  // for it again, rather than the canvas keeping the default font for good.
  fontWanted_ = !made;
  // Neither context may hold the old font when it goes.
  if (scratch_ && scratchFont_) scratch_->device_->Select(DrawObject::Kind::Font, nullptr);
  scratchFont_ = nullptr;
  device_->Select(DrawObject::Kind::Font, made.get());
  fontObject_ = std::move(made);
}

}  // namespace norvisk
