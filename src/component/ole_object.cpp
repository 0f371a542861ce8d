// IOleObject: the client site, verbs, closing, the extent, advise sinks, and what the registry
// says of the class (status bits, user type, verbs).
#include "component/v_graph_control.h"
#include "objects/boundary.h"

namespace norvisk {

STDMETHODIMP VGraphControl::SetClientSite(IOleClientSite* site) {
  if (site) site->AddRef();
  if (clientSite_) clientSite_->Release();
  clientSite_ = site;
  return S_OK;
}

STDMETHODIMP VGraphControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = clientSite_;
  if (clientSite_) clientSite_->AddRef();
  return S_OK;
}

STDMETHODIMP VGraphControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

STDMETHODIMP VGraphControl::Close(DWORD saveOption) {
  return Guarded([&] {
    InPlaceDeactivate();
    bool save = saveOption == OLECLOSE_SAVEIFDIRTY || saveOption == OLECLOSE_PROMPTSAVE;
    if (save && dirty_ && clientSite_ && SUCCEEDED(clientSite_->SaveObject()) && adviseHolder_)
      adviseHolder_->SendOnSave();
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
  });
}

// Nothing links to the control or into it (the status bits say so).
STDMETHODIMP VGraphControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP VGraphControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (!moniker) return E_POINTER;
  *moniker = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VGraphControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP VGraphControl::GetClipboardData(DWORD, IDataObject** data) {
  if (!data) return E_POINTER;
  *data = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP VGraphControl::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  return Guarded([&]() -> HRESULT {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_UIACTIVATE: return ActivateInPlace(true);
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE: return ActivateInPlace(false);
      case OLEIVERB_HIDE:
        UIDeactivate();
        if (window_.handle()) ShowWindow(window_.handle(), SW_HIDE);
        return S_OK;
      case OLEIVERB_DISCARDUNDOSTATE: return S_OK;  // nothing is ever undone
      case OLEIVERB_OPEN:
      case OLEIVERB_PROPERTIES:
        return E_NOTIMPL;  // no window of its own outside the container, no property pages
      default:
        // A verb of the container's own numbering is taken as the primary verb.
        if (verb > 0) {
          HRESULT hr = ActivateInPlace(true);
          return FAILED(hr) ? hr : OLEOBJ_S_INVALIDVERB;
        }
        return E_NOTIMPL;
    }
  });
}

STDMETHODIMP VGraphControl::EnumVerbs(IEnumOLEVERB** verbs) {
  if (!verbs) return E_POINTER;
  *verbs = nullptr;
  return OleRegEnumVerbs(CLSID_VGraph, verbs);
}

STDMETHODIMP VGraphControl::Update() { return S_OK; }

STDMETHODIMP VGraphControl::IsUpToDate() { return S_OK; }

STDMETHODIMP VGraphControl::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_VGraph;
  return S_OK;
}

STDMETHODIMP VGraphControl::GetUserType(DWORD form, LPOLESTR* userType) {
  if (!userType) return E_POINTER;
  *userType = nullptr;
  return OleRegGetUserType(CLSID_VGraph, form, userType);
}

STDMETHODIMP VGraphControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  if (size->cx != extent_.cx || size->cy != extent_.cy) dirty_ = true;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP VGraphControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (!size) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP VGraphControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!connection) return E_POINTER;
  *connection = 0;
  if (!sink) return E_INVALIDARG;
  if (!adviseHolder_) {
    if (HRESULT hr = CreateOleAdviseHolder(&adviseHolder_); FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, connection);
}

STDMETHODIMP VGraphControl::Unadvise(DWORD connection) {
  if (!adviseHolder_) return OLE_E_NOCONNECTION;
  return adviseHolder_->Unadvise(connection);
}

STDMETHODIMP VGraphControl::EnumAdvise(IEnumSTATDATA** advises) {
  if (!advises) return E_POINTER;
  *advises = nullptr;
  if (!adviseHolder_) return E_FAIL;
  return adviseHolder_->EnumAdvise(advises);
}

STDMETHODIMP VGraphControl::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (!status) return E_POINTER;
  *status = 0;
  return OleRegGetMiscStatus(CLSID_VGraph, aspect, status);
}

STDMETHODIMP VGraphControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace norvisk
