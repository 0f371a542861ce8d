// In-place activation: the control's window made inside the container's window, its user
// interface activated and deactivated with the site, frame and document window; the in-place
// object and in-place active object interfaces.
#include "component/v_graph_control.h"
#include "objects/boundary.h"

namespace norvisk {

namespace {

bool inverted(const RECT& rect) { return rect.right < rect.left || rect.bottom < rect.top; }

}  // namespace

HRESULT VGraphControl::ActivateInPlace(bool uiActivate) {
  if (!clientSite_) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    IOleInPlaceSite* site = nullptr;
    if (FAILED(clientSite_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))) ||
        !site)
      return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) {
      site->Release();
      return E_FAIL;
    }
    if (HRESULT hr = site->OnInPlaceActivate(); FAILED(hr)) {
      site->Release();
      return hr;
    }
    inPlaceSite_ = site;
    inPlaceActive_ = true;

    HWND parent = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    bool made =
        SUCCEEDED(site->GetWindow(&parent)) &&
        SUCCEEDED(site->GetWindowContext(&frame_, &uiWindow_, &position, &clip, &frameInfo)) &&
        window_.Create(parent);
    if (!made) {
      InPlaceDeactivate();
      return E_FAIL;
    }
    ReadBackground();
    window_.Show();
    window_.Place(position, clip);
  }
  if (uiActivate) {
    if (HRESULT hr = ActivateUserInterface(); FAILED(hr)) return hr;
  }
  clientSite_->ShowObject();
  return S_OK;
}

HRESULT VGraphControl::ActivateUserInterface() {
  if (!inPlaceActive_) return E_UNEXPECTED;
  if (uiActive_) return S_OK;
  uiActive_ = true;
  if (HRESULT hr = inPlaceSite_->OnUIActivate(); FAILED(hr)) {
    uiActive_ = false;
    return hr;
  }
  // The focus comes to the control unless it is in it already.
  HWND focus = GetFocus(), window = window_.handle();
  if (window && focus != window && !IsChild(window, focus)) SetFocus(window);
  IOleInPlaceActiveObject* active = this;
  if (frame_) {
    frame_->SetActiveObject(active, nullptr);
    frame_->SetBorderSpace(nullptr);
  }
  if (uiWindow_) {
    uiWindow_->SetActiveObject(active, nullptr);
    uiWindow_->SetBorderSpace(nullptr);
  }
  return S_OK;
}

void VGraphControl::ReleaseInPlaceSite() {
  ReleaseHeld(frame_);
  ReleaseHeld(uiWindow_);
  ReleaseHeld(inPlaceSite_);
}

void VGraphControl::FocusGained() {
  if (inPlaceActive_ && !uiActive_) ActivateUserInterface();
}

void VGraphControl::FocusLost(HWND gaining) {
  HWND window = window_.handle();
  if (!inPlaceActive_ || !clientSite_ || gaining == window || (window && IsChild(window, gaining)))
    return;
  IOleControlSite* site = nullptr;
  if (SUCCEEDED(
          clientSite_->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&site))) &&
      site) {
    site->OnFocus(FALSE);
    site->Release();
  }
}

void VGraphControl::MouseActivated() {
  if (inPlaceActive_ && !uiActive_ && AmbientUserMode()) ActivateUserInterface();
}

STDMETHODIMP VGraphControl::GetWindow(HWND* window) {
  if (!window) return E_POINTER;
  *window = window_.handle();
  return *window ? S_OK : E_FAIL;
}

STDMETHODIMP VGraphControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP VGraphControl::InPlaceDeactivate() {
  return Guarded([&] {
    if (!inPlaceActive_) return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    // The graph and its canvas stay: they show again on the next activation.
    window_.Destroy();
    IOleInPlaceSite* site = inPlaceSite_;
    inPlaceSite_ = nullptr;
    ReleaseInPlaceSite();
    if (site) {
      site->OnInPlaceDeactivate();
      site->Release();
    }
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::UIDeactivate() {
  return Guarded([&] {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::SetObjectRects(LPCRECT position, LPCRECT clip) {
  if (!position || !clip) return E_POINTER;
  // An empty rectangle is a window of no size; an inverted one is no rectangle at all.
  if (inverted(*position) || inverted(*clip)) return E_INVALIDARG;
  return Guarded([&] {
    window_.Place(*position, *clip);
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// The control always has a window of its own: no message comes through the container.
STDMETHODIMP VGraphControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  if (!result) return E_POINTER;
  *result = 0;
  return S_FALSE;
}

STDMETHODIMP VGraphControl::GetDropTarget(IDropTarget** target) {
  if (!target) return E_POINTER;
  *target = nullptr;
  return E_NOTIMPL;
}

// No accelerators, menus or tool bars: nothing to translate, merge or lay out.
STDMETHODIMP VGraphControl::TranslateAccelerator(LPMSG) { return S_FALSE; }

STDMETHODIMP VGraphControl::OnFrameWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP VGraphControl::OnDocWindowActivate(BOOL) { return S_OK; }

STDMETHODIMP VGraphControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }

STDMETHODIMP VGraphControl::EnableModeless(BOOL) { return S_OK; }

}  // namespace norvisk
