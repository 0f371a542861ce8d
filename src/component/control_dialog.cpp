// The control's window: made from dialog template 103, erased with the background brush,
// painted with the graph or the centred logo.
#include "component/control_dialog.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "component/module_state.h"
#include "resource.h"

namespace norvisk {

namespace {

constexpr long kHimetricPerInch = 2540;
constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 142;

// Whether the n bytes at a and b are the same: differences gathered over blocks, a loop
// without a branch a word, which the compiler turns into vector instructions.
bool same_bytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  constexpr std::size_t kBlock = 4096;
  std::size_t i = 0;
  while (i + 8 <= n) {
    std::size_t end = std::min(n - n % 8, i + kBlock);
    std::uint64_t differ = 0;
    for (; i < end; i += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      differ |= x ^ y;
    }
    if (differ) return false;
  }
  for (; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

SIZEL TemplateExtent() {
  HDC dc = CreateCompatibleDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  int unitX = 6, unitY = 13;
  if (dc) {
    HFONT font =
        CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    TEXTMETRICA metrics{};
    SIZE size{};
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (GetTextMetricsA(dc, &metrics) && GetTextExtentPoint32A(dc, kLetters, 52, &size)) {
      unitX = (size.cx / 26 + 1) / 2;  // the average character width, rounded
      unitY = metrics.tmHeight;
    }
    if (old) SelectObject(dc, old);
    if (font) DeleteObject(font);
    DeleteDC(dc);
  }
  int width = MulDiv(416, unitX, 4), height = MulDiv(186, unitY, 8);
  return SIZEL{MulDiv(width, kHimetricPerInch, dpi), MulDiv(height, kHimetricPerInch, dpi)};
}

ControlDialog::~ControlDialog() {
  Destroy();
  if (brush_) DeleteObject(brush_);
}

bool ControlDialog::Create(HWND parent) {
  if (window_) return true;
  shown_.Forget();
  window_ = CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_VGRAPH), parent,
                               &ControlDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  return window_ != nullptr;
}

void ControlDialog::Show() {
  if (window_) ShowWindow(window_, SW_SHOWNOACTIVATE);
}

void ControlDialog::Place(const RECT& position, const RECT& clip) {
  if (!window_) return;
  // What lies outside the clip rectangle is cut off by a window region.
  RECT visible{};
  IntersectRect(&visible, &position, &clip);
  if (EqualRect(&visible, &position)) {
    SetWindowRgn(window_, nullptr, TRUE);
  } else {
    OffsetRect(&visible, -position.left, -position.top);
    HRGN region = CreateRectRgnIndirect(&visible);
    // The window owns the region once it is set.
    if (region && !SetWindowRgn(window_, region, TRUE)) DeleteObject(region);
  }
  SetWindowPos(window_, nullptr, position.left, position.top, position.right - position.left,
               position.bottom - position.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ControlDialog::Destroy() {
  shown_.Release();
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
}

void ControlDialog::SetBackground(COLORREF color) {
  if (brush_) DeleteObject(brush_);
  brush_ = color == CLR_INVALID ? nullptr : CreateSolidBrush(color);
  color_ = color;
}

void ControlDialog::Repaint() {
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void ControlDialog::ClientSize(int* width, int* height) {
  RECT client{};
  if (window_) GetClientRect(window_, &client);
  *width = client.right - client.left;
  *height = client.bottom - client.top;
}

void ControlDialog::Extent(long* width, long* height) {
  *width = extent_.cx;
  *height = extent_.cy;
}

DeviceContext ControlDialog::AcquireTarget() {
  // What is drawn through it is not what the last paint left.
  shown_.Forget();
  return window_ ? GetDC(window_) : nullptr;
}

void ControlDialog::ReleaseTarget(DeviceContext target) { ReleaseDC(window_, target.dc()); }

INT_PTR CALLBACK ControlDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    reinterpret_cast<ControlDialog*>(lParam)->window_ = window;
    return FALSE;  // the focus stays where it is: the container gives it
  }
  auto* dialog = reinterpret_cast<ControlDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!dialog) return FALSE;
  if (message == WM_NCDESTROY) {
    // Also when the container destroys its own window first.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    dialog->window_ = nullptr;
    return FALSE;
  }
  return dialog->OnMessage(message, wParam);
}

INT_PTR ControlDialog::OnMessage(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_PAINT:
      Paint(reinterpret_cast<HDC>(wParam));
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      // The erase of a paint that copies the graph over its area fills only the rest.
      if (message == WM_CTLCOLORDLG && covering_)
        ExcludeClipRect(reinterpret_cast<HDC>(wParam), covered_.left, covered_.top, covered_.right,
                        covered_.bottom);
      // Without a brush of its own the dialog keeps the system's colour.
      if (!brush_) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wParam), color_);
      return reinterpret_cast<INT_PTR>(brush_);
    case WM_SETFOCUS: owner_.FocusGained(); return FALSE;
    case WM_KILLFOCUS: owner_.FocusLost(reinterpret_cast<HWND>(wParam)); return FALSE;
    case WM_MOUSEACTIVATE: owner_.MouseActivated(); return FALSE;
    default: return FALSE;
  }
}

void ControlDialog::Paint(HDC given) {
  if (given) {
    // A device context of the caller's gets the control's own drawing; the graph or the logo
    // goes to the window itself.
    PaintPlaceholder(given);
    shown_.Forget();
    PaintThroughWindow();
    return;
  }

  // Everything goes through the one paint context: the placeholder, then the graph or the logo
  // over it, and the window's pixels leave for the screen once, when painting ends. The window
  // is left as a drawing of the graph or the logo over all of it would leave it, also when only
  // a part of it is painted.
  VGraph& graph = owner_.GraphObject();
  const bool hasGraph = graph.HasGraph();
  SurfaceBits canvas{};
  bool current = false;    // the window shows the canvas as it is over all of the graph
  bool logoAlone = false;  // the logo must go over pixels this paint leaves alone
  if (hasGraph) {
    // Pending changes are rendered first; an XY graph without points has nothing to show.
    canvas = graph.RenderedPicture();
    current = shown_.Holds(canvas);
    if (!current && canvas.bits) {
      // The whole canvas goes on the window, as when a method draws the graph: the part beyond
      // this paint's region would otherwise keep an older picture.
      RECT area{0, 0, canvas.width, canvas.height};
      InvalidateRect(window_, &area, FALSE);
    }
  } else {
    logoAlone = !UpdateCoversLogo();
  }

  // The graph as the window shows it is copied over its whole area again: erasing that first
  // would only cost the time.
  covering_ = current;
  covered_ = RECT{0, 0, canvas.width, canvas.height};
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window_, &paint);
  if (covering_ && dc) SelectClipRgn(dc, nullptr);  // the erase's exclusion goes
  covering_ = false;
  if (!dc) return;
  PaintPlaceholder(dc);
  if (hasGraph) {
    if (canvas.bits && (current || shown_.Take(canvas))) {
      shown_.CopyTo(dc);
    } else {
      shown_.Forget();
      graph.DrawTo(dc);
    }
  } else if (!logoAlone) {
    PaintLogo(dc);
  }
  EndPaint(window_, &paint);

  if (logoAlone) PaintThroughWindow();
}

// ANDed over pixels that were not erased, the logo darkens them anew: a part of it outside the
// update region needs a context of the whole window.
bool ControlDialog::UpdateCoversLogo() {
  int width = 0, height = 0;
  ClientSize(&width, &height);
  RECT logo{width / 2 - kLogoWidth / 2, height / 2 - kLogoHeight / 2, 0, 0};
  logo.right = logo.left + kLogoWidth;
  logo.bottom = logo.top + kLogoHeight;
  return UpdateCovers(logo);
}

void ControlDialog::PaintThroughWindow() {
  HDC target = GetDC(window_);
  if (!target) return;
  VGraph& graph = owner_.GraphObject();
  if (graph.HasGraph())
    graph.DrawTo(target);
  else
    PaintLogo(target);
  ReleaseDC(window_, target);
}

void ControlDialog::PaintPlaceholder(HDC dc) {
  RECT bounds{};
  GetClientRect(window_, &bounds);
  // The control's own drawing, in device pixels from the window's corner: the placeholder while
  // it is not in-place active, which it always is while its window paints.
  bool metafile = GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE;
  int saved = metafile ? 0 : SaveDC(dc);
  if (!metafile) {
    SetMapMode(dc, MM_TEXT);
    SetWindowOrgEx(dc, 0, 0, nullptr);
    SetViewportOrgEx(dc, 0, 0, nullptr);
  }
  if (!owner_.InPlaceActive()) DrawPlaceholder(dc, bounds);
  if (saved) RestoreDC(dc, saved);
}

bool ControlDialog::UpdateCovers(const RECT& area) const {
  RECT client{}, inside{};
  GetClientRect(window_, &client);
  if (!IntersectRect(&inside, &area, &client)) return true;
  HRGN update = CreateRectRgn(0, 0, 0, 0);
  HRGN rest = CreateRectRgnIndirect(&inside);
  bool covers = false;
  if (update && rest && GetUpdateRgn(window_, update, FALSE) != ERROR)
    covers = CombineRgn(rest, rest, update, RGN_DIFF) == NULLREGION;
  if (update) DeleteObject(update);
  if (rest) DeleteObject(rest);
  return covers;
}

ControlDialog::ShownCanvas::~ShownCanvas() { Release(); }

void ControlDialog::ShownCanvas::Release() {
  if (dc_) {
    SelectObject(dc_, oldBitmap_);
    DeleteDC(dc_);
  }
  if (bitmap_) DeleteObject(bitmap_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  oldBitmap_ = nullptr;
  pixels_ = nullptr;
  std::vector<std::uint8_t>().swap(canvas_);
  width_ = height_ = 0;
  held_ = false;
}

bool ControlDialog::ShownCanvas::Reserve(int width, int height) {
  if (dc_ && width == width_ && height == height_) return true;
  Release();
  std::size_t bytes = static_cast<std::size_t>(RowBytes(width, 24)) * height;
  try {
    canvas_.resize(bytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as the canvas
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = bitmap && bits ? SelectObject(dc, bitmap) : nullptr;
  if (!old || old == HGDI_ERROR) {
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(dc);
    return false;
  }
  dc_ = dc;
  bitmap_ = bitmap;
  oldBitmap_ = old;
  pixels_ = static_cast<std::uint32_t*>(bits);
  width_ = width;
  height_ = height;
  return true;
}

bool ControlDialog::ShownCanvas::Holds(const SurfaceBits& bits) const {
  if (!held_ || !bits.bits || bits.bitsPerPixel != 24 || bits.width != width_ ||
      bits.height != height_)
    return false;
  return same_bytes(canvas_.data(), bits.bits, canvas_.size());
}

bool ControlDialog::ShownCanvas::Take(const SurfaceBits& bits) {
  held_ = false;
  if (!bits.bits || bits.bitsPerPixel != 24 || bits.rowBytes != RowBytes(bits.width, 24) ||
      !Reserve(bits.width, bits.height))
    return false;
  std::memcpy(canvas_.data(), bits.bits, canvas_.size());
  GdiFlush();  // nothing may still be drawing into the section
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* from = canvas_.data() + static_cast<std::size_t>(y) * bits.rowBytes;
    std::uint32_t* to = pixels_ + static_cast<std::size_t>(y) * width_;
    for (int x = 0; x < width_; ++x, from += 3)
      to[x] = from[0] | (std::uint32_t{from[1]} << 8) | (std::uint32_t{from[2]} << 16);
  }
  held_ = true;
  return true;
}

bool ControlDialog::ShownCanvas::CopyTo(HDC target) const {
  return held_ && BitBlt(target, 0, 0, width_, height_, dc_, 0, 0, SRCCOPY) != FALSE;
}

void ControlDialog::PaintLogo(HDC target) {
  int width = 0, height = 0;
  ClientSize(&width, &height);
  HBITMAP logo = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(IDB_LOGO));
  if (!logo) return;
  if (HDC memory = CreateCompatibleDC(nullptr)) {
    HGDIOBJ old = SelectObject(memory, logo);
    // The logo's white ground leaves the background as it is; its darker pixels darken it.
    BitBlt(target, width / 2 - kLogoWidth / 2, height / 2 - kLogoHeight / 2, kLogoWidth,
           kLogoHeight, memory, 0, 0, SRCAND);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  DeleteObject(logo);
}

}  // namespace norvisk
