// The GDI back end: a memory device context with a 24-bit DIB section, one GDI call a primitive.
#include <windows.h>

// <windows.h> maps these names onto its A/W functions; here they are our members.
#undef DrawText
#undef TextOut
#undef CreateFont
#undef GetObject

#include <memory>
#include <string>

#include "raster/device.h"

namespace norvisk {

namespace {

struct GdiObject : DrawObject {
  GdiObject(Kind kind, HGDIOBJ h) : DrawObject(kind), handle(h) {}
  ~GdiObject() override { DeleteObject(handle); }
  HGDIOBJ handle;
};

class GdiDevice final : public Device {
 public:
  GdiDevice(HDC dc, HBITMAP bitmap, HGDIOBJ oldBitmap, std::uint8_t* bits, int width, int height)
      : dc_(dc), bitmap_(bitmap), oldBitmap_(oldBitmap), bits_(bits), width_(width), height_(height) {
    // The objects a new context starts with, to select back before ours are released.
    oldPen_ = GetCurrentObject(dc_, OBJ_PEN);
    oldBrush_ = GetCurrentObject(dc_, OBJ_BRUSH);
    oldFont_ = GetCurrentObject(dc_, OBJ_FONT);
  }
  ~GdiDevice() override {
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    SelectObject(dc_, oldFont_);
    SelectObject(dc_, oldBitmap_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }

  SurfaceBits Bits() override {
    GdiFlush();  // drawing may still be queued
    return SurfaceBits{bits_, width_, height_, 24, static_cast<int>(RowBytes(width_, 24)), nullptr, 0};
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
    ExtTextOutA(dc_, x, y, ETO_OPAQUE, nullptr, text.data(), static_cast<UINT>(text.size()), nullptr);
  }
  bool TextExtent(std::string_view text, int* width, int* height) override {
    SIZE size{};
    if (!GetTextExtentPoint32A(dc_, text.data(), static_cast<int>(text.size()), &size)) return false;
    *width = size.cx;
    *height = size.cy;
    return true;
  }
  Color GetPixel(int x, int y) override { return ::GetPixel(dc_, x, y); }
  bool CopyTo(DeviceContext target, int x, int y, int width, int height, int sourceX,
              int sourceY) override {
    return BitBlt(static_cast<HDC>(target), x, y, width, height, dc_, sourceX, sourceY, SRCCOPY) !=
           FALSE;
  }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ oldBitmap_;
  std::uint8_t* bits_;
  int width_;
  int height_;
  HGDIOBJ oldPen_;
  HGDIOBJ oldBrush_;
  HGDIOBJ oldFont_;
};

class GdiBackendImpl final : public Backend {
 public:
  std::unique_ptr<Device> CreateDevice(const SurfaceDesc& desc) const override {
    if (desc.bitsPerPixel != 24 || !SurfaceFits(desc.width, desc.height, 24)) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
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
      return nullptr;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (!old || old == HGDI_ERROR) {
      DeleteObject(bitmap);
      DeleteDC(dc);
      return nullptr;
    }
    return std::make_unique<GdiDevice>(dc, bitmap, old, static_cast<std::uint8_t*>(bits),
                                       desc.width, desc.height);
  }

  std::unique_ptr<DrawObject> CreatePen(const PenSpec& spec) const override {
    HPEN pen = ::CreatePen(spec.style, spec.width, spec.color);
    if (!pen) return nullptr;
    return std::make_unique<GdiObject>(DrawObject::Kind::Pen, pen);
  }

  std::unique_ptr<DrawObject> CreateBrush(const BrushSpec& spec) const override {
    LOGBRUSH record{spec.style, spec.color, static_cast<ULONG_PTR>(spec.hatch)};
    HBRUSH brush = CreateBrushIndirect(&record);
    if (!brush) return nullptr;
    return std::make_unique<GdiObject>(DrawObject::Kind::Brush, brush);
  }

  std::unique_ptr<DrawObject> CreateFont(const FontSpec& spec) const override {
    HFONT font = CreateFontA(spec.height, 0, 0, 0, 0, spec.italic, spec.underline, 0,
                             ANSI_CHARSET, OUT_DEFAULT_PRECIS, 15, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, spec.face.c_str());
    if (!font) return nullptr;
    return std::make_unique<GdiObject>(DrawObject::Kind::Font, font);
  }
};

}  // namespace

const Backend& GdiBackend() {
  static const GdiBackendImpl backend;
  return backend;
}

}  // namespace norvisk
