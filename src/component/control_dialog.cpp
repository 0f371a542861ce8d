// The control's window: made from dialog template 103, erased with the background brush,
// painted with the graph or the centred logo.
#include "component/control_dialog.h"

#include "component/module_state.h"
#include "resource.h"

namespace norvisk {

namespace {

constexpr long kHimetricPerInch = 2540;
constexpr int kLogoWidth = 180;
constexpr int kLogoHeight = 142;

}  // namespace

SIZEL TemplateExtent() {
  HDC dc = CreateCompatibleDC(nullptr);
  int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  int unitX = 6, unitY = 13;
  if (dc) {
    HFONT font = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, "MS Sans Serif");
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

DeviceContext ControlDialog::AcquireTarget() { return window_ ? GetDC(window_) : nullptr; }

void ControlDialog::ReleaseTarget(DeviceContext target) {
  ReleaseDC(window_, static_cast<HDC>(target));
}

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
      // Without a brush of its own the dialog keeps the system's colour.
      if (!brush_) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wParam), color_);
      return reinterpret_cast<INT_PTR>(brush_);
    case WM_SETFOCUS:
      owner_.FocusGained();
      return FALSE;
    case WM_KILLFOCUS:
      owner_.FocusLost(reinterpret_cast<HWND>(wParam));
      return FALSE;
    case WM_MOUSEACTIVATE:
      owner_.MouseActivated();
      return FALSE;
    default:
      return FALSE;
  }
}

void ControlDialog::Paint(HDC given) {
  PAINTSTRUCT paint{};
  HDC dc = given ? given : BeginPaint(window_, &paint);
  if (!dc) return;
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
  if (!given) EndPaint(window_, &paint);

  // The graph or the logo over the whole window, through a device context of its own.
  HDC target = GetDC(window_);
  if (!target) return;
  if (Graph* graph = owner_.CurrentGraph())
    graph->DrawToDC(target);
  else
    PaintLogo(target);
  ReleaseDC(window_, target);
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
