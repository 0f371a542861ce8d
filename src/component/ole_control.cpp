// IOleControl and the container's ambient properties: the background colour the control's
// window is erased with, and whether the container runs in user mode.
#include "component/v_graph_control.h"
#include "objects/boundary.h"

namespace norvisk {

namespace {

// Ambient property `id` of the site, as `type`; false when the site has no such property.
bool read_ambient(IOleClientSite* site, DISPID id, VARTYPE type, VARIANT* value) {
  if (!site) return false;
  IDispatch* ambient = nullptr;
  if (FAILED(site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient))) || !ambient)
    return false;
  DISPPARAMS none{};
  bool read = SUCCEEDED(ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                        &none, value, nullptr, nullptr)) &&
              SUCCEEDED(VariantChangeType(value, value, 0, type));
  ambient->Release();
  return read;
}

}  // namespace

void VGraphControl::ReadBackground() {
  COLORREF color = CLR_INVALID;
  VARIANT value;
  VariantInit(&value);
  if (read_ambient(clientSite_, DISPID_AMBIENT_BACKCOLOR, VT_UI4, &value)) {
    COLORREF translated = 0;
    if (SUCCEEDED(OleTranslateColor(static_cast<OLE_COLOR>(V_UI4(&value)), nullptr, &translated)))
      color = translated;
  }
  VariantClear(&value);
  window_.SetBackground(color);
}

bool VGraphControl::AmbientUserMode() {
  VARIANT value;
  VariantInit(&value);
  bool userMode = true;
  if (read_ambient(clientSite_, DISPID_AMBIENT_USERMODE, VT_BOOL, &value))
    userMode = V_BOOL(&value) != VARIANT_FALSE;
  VariantClear(&value);
  return userMode;
}

STDMETHODIMP VGraphControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  return E_NOTIMPL;  // no mnemonics
}

STDMETHODIMP VGraphControl::OnMnemonic(MSG*) { return E_NOTIMPL; }

STDMETHODIMP VGraphControl::OnAmbientPropertyChange(DISPID id) {
  return Guarded([&] {
    if (id == DISPID_AMBIENT_BACKCOLOR) {
      ReadBackground();
      ViewChanged();
    }
    return S_OK;
  });
}

STDMETHODIMP VGraphControl::FreezeEvents(BOOL) { return S_OK; }

}  // namespace norvisk
