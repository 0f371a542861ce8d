// The view object: drawing into a container's device context (the placeholder while the control
// is not in-place active; its window shows it otherwise), view advise, extent and hit tests.
#include "component/v_graph_control.h"
#include "objects/boundary.h"

namespace norvisk {

namespace {
constexpr wchar_t kPlaceholderText[] = L"ATL Composite Control";
}  // namespace

void DrawPlaceholder(HDC dc, const RECT& bounds) {
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(GRAY_BRUSH));
  Rectangle(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
  COLORREF oldColor = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  int oldMode = SetBkMode(dc, TRANSPARENT);
  RECT text = bounds;
  DrawTextW(dc, kPlaceholderText, -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SetBkMode(dc, oldMode);
  SetTextColor(dc, oldColor);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

STDMETHODIMP VGraphControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                 LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                 ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  // A control with a window of its own is always drawn into given bounds.
  if (!dc || !bounds) return E_INVALIDARG;
  return Guarded([&] {
    if (inPlaceActive_) return S_OK;
    // The placeholder is drawn in device pixels, whatever the container's mapping.
    RECT device{bounds->left, bounds->top, bounds->right, bounds->bottom};
    bool metafile = GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE;
    int saved = 0;
    if (!metafile) {
      LPtoDP(dc, reinterpret_cast<POINT*>(&device), 2);
      saved = SaveDC(dc);
      SetMapMode(dc, MM_TEXT);
      SetWindowOrgEx(dc, 0, 0, nullptr);
      SetViewportOrgEx(dc, 0, 0, nullptr);
    }
    DrawPlaceholder(dc, device);
    if (saved) RestoreDC(dc, saved);
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                        LOGPALETTE** colors) {
  if (!colors) return E_POINTER;
  *colors = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VGraphControl::Freeze(DWORD, LONG, void*, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  return E_NOTIMPL;
}

STDMETHODIMP VGraphControl::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP VGraphControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  if (sink) sink->AddRef();
  if (viewSink_) viewSink_->Release();
  viewSink_ = sink;
  viewAspects_ = aspects;
  viewFlags_ = flags;
  return S_OK;
}

STDMETHODIMP VGraphControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) {
    *sink = viewSink_;
    if (viewSink_) viewSink_->AddRef();
  }
  return S_OK;
}

void VGraphControl::ViewChanged() {
  if (inPlaceActive_ && window_.Exists()) {
    window_.Repaint();
    return;
  }
  if (!viewSink_) return;
  IAdviseSink* sink = viewSink_;
  sink->AddRef();
  if (viewFlags_ & ADVF_ONLYONCE) SetAdvise(0, 0, nullptr);
  sink->OnViewChange(DVASPECT_CONTENT, -1);
  sink->Release();
}

STDMETHODIMP VGraphControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

STDMETHODIMP VGraphControl::GetRect(DWORD, LPRECTL rect) {
  if (!rect) return E_POINTER;
  return E_NOTIMPL;
}

// The window fills its whole rectangle with its background.
STDMETHODIMP VGraphControl::GetViewStatus(DWORD* status) {
  if (!status) return E_POINTER;
  *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
  return S_OK;
}

STDMETHODIMP VGraphControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG,
                                          DWORD* hit) {
  if (!bounds || !hit) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP VGraphControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG,
                                         DWORD* hit) {
  if (!bounds || !location || !hit) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  RECT common{};
  *hit = IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
  return S_OK;
}

STDMETHODIMP VGraphControl::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*,
                                             LPSIZEL size) {
  if (!size) return E_POINTER;
  return E_NOTIMPL;
}

}  // namespace norvisk
