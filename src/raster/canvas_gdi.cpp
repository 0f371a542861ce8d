// The GDI back end: a memory device context with a 24-bit DIB section, one GDI call a primitive.
#include <windows.h>

// <windows.h> maps these names onto its A/W functions; here they are our members.
#undef DrawText
#undef TextOut
#undef CreateFont
#undef GetObject

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "raster/device.h"

namespace norvisk {

namespace {

struct GdiObject : DrawObject {
  GdiObject(Kind kind, HGDIOBJ h) : DrawObject(kind), handle(h) {}
  ~GdiObject() override { DeleteObject(handle); }
  HGDIOBJ handle;
};

// A memory context with a DIB section selected.
struct Surface {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
};

void destroy_surface(const Surface& s) {
  SelectObject(s.dc, s.oldBitmap);
  DeleteObject(s.bitmap);
  DeleteDC(s.dc);
}

// Surfaces given back by canvases, for the next canvas of the same size. Making a DIB section
// maps fresh memory, and its first touch costs more than drawing a whole chart; a graph made
// for every call would pay it each time. The slots are fixed: giving a surface back happens in
// a destructor and must not allocate.
class SurfacePool {
 public:
  ~SurfacePool() {
    for (std::size_t i = 0; i < count_; ++i) destroy_surface(kept_[i]);
  }
  bool Take(int width, int height, Surface* out) {
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < count_; ++i) {
      if (kept_[i].width != width || kept_[i].height != height) continue;
      *out = kept_[i];
      Remove(i);
      return true;
    }
    return false;
  }
  void Give(const Surface& s) {
    if (RowBytes(s.width, 24) * s.height > kMaxKeptBytes) {
      destroy_surface(s);
      return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == kMaxKept) {
      destroy_surface(kept_[0]);
      Remove(0);
    }
    kept_[count_++] = s;
  }

 private:
  static constexpr std::size_t kMaxKept = 4;
  static constexpr std::int64_t kMaxKeptBytes = std::int64_t{8} << 20;
  // The oldest first.
  void Remove(std::size_t i) {
    for (; i + 1 < count_; ++i) kept_[i] = kept_[i + 1];
    --count_;
  }
  std::mutex lock_;
  Surface kept_[kMaxKept];
  std::size_t count_ = 0;
};

SurfacePool& surface_pool() {
  static SurfacePool pool;
  return pool;
}

class GdiDevice final : public Device {
 public:
  explicit GdiDevice(const Surface& surface)
      : surface_(surface),
        dc_(surface.dc),
        bits_(surface.bits),
        width_(surface.width),
        height_(surface.height) {
    // The objects a new context starts with, to select back before ours are released.
    oldPen_ = GetCurrentObject(dc_, OBJ_PEN);
    oldBrush_ = GetCurrentObject(dc_, OBJ_BRUSH);
    oldFont_ = GetCurrentObject(dc_, OBJ_FONT);
  }
  ~GdiDevice() override {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    SelectObject(dc_, oldFont_);
    surface_pool().Give(surface_);
  }

  SurfaceBits Bits() override {
    GdiFlush();  // drawing may still be queued
    return SurfaceBits{bits_,   width_, height_, 24, static_cast<int>(RowBytes(width_, 24)),
                       nullptr, 0};
  }
  int LogPixelsY() override { return GetDeviceCaps(dc_, LOGPIXELSY); }

  void Select(DrawObject::Kind kind, const DrawObject* object) override {
    HGDIOBJ fallback = kind == DrawObject::Kind::Pen     ? oldPen_
                       : kind == DrawObject::Kind::Brush ? oldBrush_
                                                         : oldFont_;
    SelectObject(dc_, object ? static_cast<const GdiObject*>(object)->handle : fallback);
  }

  int SetBkMode(int mode) override { return ::SetBkMode(dc_, mode); }
  void SetRop2(int mode) override { ::SetROP2(dc_, mode); }
  Color GetTextColor() override { return ::GetTextColor(dc_); }
  void MoveTo(int x, int y) override { MoveToEx(dc_, x, y, nullptr); }
  bool LineTo(int x, int y) override { return ::LineTo(dc_, x, y) != FALSE; }
  void Rectangle(int left, int top, int right, int bottom) override {
    ::Rectangle(dc_, left, top, right, bottom);
  }
  void TextOut(int x, int y, std::string_view text) override {
    ExtTextOutA(dc_, x, y, ETO_OPAQUE, nullptr, text.data(), static_cast<UINT>(text.size()),
                nullptr);
  }
  bool TextExtent(std::string_view text, int* width, int* height) override {
    SIZE size{};
    if (!GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size))
      return false;
    *width = size.cx;
    *height = size.cy;
    return true;
  }
  Color GetPixel(int x, int y) override { return ::GetPixel(dc_, x, y); }
  bool CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX,
              int sourceY) override {
    // A device context only: pixel rows in memory are the software back end's.
    return target.dc() &&
           BitBlt(target.dc(), x, y, width, height, dc_, sourceX, sourceY, SRCCOPY) != FALSE;
  }

 private:
  Surface surface_;
  HDC dc_;
  std::uint8_t* bits_;
  int width_;
  int height_;
  HGDIOBJ oldPen_;
  HGDIOBJ oldBrush_;
  HGDIOBJ oldFont_;
};

// A back-end object owning `handle` (nullptr when the platform refused one). When memory for
// the object runs out, the handle is deleted and std::bad_alloc goes on to the caller's
// boundary, as in the software back end: drawing on with a default object would give a wrong
// picture and report it as drawn.
std::unique_ptr<DrawObject> own_object(DrawObject::Kind kind, HGDIOBJ handle) {
  if (!handle) return nullptr;
  struct Owner {
    HGDIOBJ handle;
    ~Owner() {
      if (handle) DeleteObject(handle);
    }
  } owner{handle};
  auto made = std::make_unique<GdiObject>(kind, handle);
  owner.handle = nullptr;
  return made;
}

class GdiBackendImpl final : public Backend {
 public:
  static bool MakeSurface(const SurfaceDesc& desc, Surface* out) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = desc.width;
    info.bmiHeader.biHeight = desc.height;  // positive: rows bottom-up
    info.bmiHeader.biPlanes = desc.planes;
    info.bmiHeader.biBitCount = desc.bitsPerPixel;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
      if (bitmap) DeleteObject(bitmap);
      DeleteDC(dc);
      return false;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (!old || old == HGDI_ERROR) {
      DeleteObject(bitmap);
      DeleteDC(dc);
      return false;
    }
    *out = Surface{dc, bitmap, old, static_cast<std::uint8_t*>(bits), desc.width, desc.height};
    return true;
  }

  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    if (desc.bitsPerPixel != 24 || !SurfaceFits(desc.width, desc.height, 24)) return nullptr;
    Surface surface;
    if (surface_pool().Take(desc.width, desc.height, &surface)) {
      // As a new context and a new section start: black, with the default drawing state.
      GdiFlush();
      std::memset(surface.bits, 0,
                  static_cast<std::size_t>(RowBytes(desc.width, 24)) * desc.height);
      SetBkMode(surface.dc, OPAQUE);
      SetROP2(surface.dc, R2_COPYPEN);
      SetTextColor(surface.dc, RGB(0, 0, 0));
      SetBkColor(surface.dc, RGB(255, 255, 255));
      MoveToEx(surface.dc, 0, 0, nullptr);
    } else if (!MakeSurface(desc, &surface)) {
      return nullptr;
    }
    // The surface goes back to the platform if the device holding it cannot be made.
    struct Owner {
      const Surface* surface;
      ~Owner() {
        if (surface) destroy_surface(*surface);
      }
    } owner{&surface};
    auto device = std::make_unique<GdiDevice>(surface);
    owner.surface = nullptr;
    return device;
  }

  std::unique_ptr<DrawObject> CreatePen(const PenSpec& settings) const override {
    return own_object(DrawObject::Kind::Pen,
                      ::CreatePen(settings.style, settings.width, settings.color));
  }

  std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& settings) const override {
    LOGBRUSH record{settings.style, settings.color, static_cast<ULONG_PTR>(settings.hatch)};
    return own_object(DrawObject::Kind::Brush, CreateBrushIndirect(&record));
  }

  std::unique_ptr<DrawObject> CreateFont(const FontSpec& settings) const override {
    HFONT font = CreateFontA(settings.height, 0, 0, 0, 0, settings.italic, settings.underline, 0,
                             ANSI_CHARSET, OUT_DEFAULT_PRECIS, 15, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, settings.face.c_str());
    return own_object(DrawObject::Kind::Font, font);
  }
};

}  // namespace

const Backend& GdiBackend() {
  static const GdiBackendImpl backend;
  return backend;
}

}  // namespace norvisk
