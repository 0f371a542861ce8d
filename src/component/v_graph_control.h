// VGraph as an OLE control: one object answering IVGraph and the OLE interfaces a container
// embeds a control through. Each concern has its file: the object and its interface table
// (v_graph_control.cpp), the automation methods (v_graph_object.cpp), IOleObject
// (ole_object.cpp), in-place activation (in_place.cpp), the view object (view_object.cpp),
// IOleControl and the ambient properties (ole_control.cpp), persistence (persist_stream.cpp);
// the window itself is a ControlDialog (control_dialog.h).
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include "component/control_dialog.h"
#include "component/dispatch.h"
#include "norvisk_h.h"
#include "objects/v_graph.h"

namespace norvisk {

class VGraphControl final : public DispatchObject<IVGraph, IID_IVGraph>,
                            public IViewObjectEx,
                            public IOleInPlaceObjectWindowless,
                            public IOleInPlaceActiveObject,
                            public IOleControl,
                            public IOleObject,
                            public IPersistStreamInit,
                            private ControlDialog::Owner {
 public:
  explicit VGraphControl(IUnknown* outer);
  ~VGraphControl() override;

  // IUnknown, once for every interface: to the controlling unknown.
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    return DispatchObject::QueryInterface(riid, object);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return DispatchObject::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return DispatchObject::Release(); }

  // IVGraph
  STDMETHODIMP DrawBarGraph(BSTR data) override;
  STDMETHODIMP DrawXYGraph(BSTR data) override;
  STDMETHODIMP AddBarBar(BSTR legend) override;
  STDMETHODIMP AddBarLegend(BSTR legend) override;
  STDMETHODIMP AddBarValue(double value) override;
  STDMETHODIMP AddXYValue(BSTR legend, double value) override;
  STDMETHODIMP Clear() override;
  STDMETHODIMP CreateBarGraph() override;
  STDMETHODIMP CreateXYGraph() override;
  STDMETHODIMP DrawGraph() override;
  STDMETHODIMP SaveToFile(BSTR fileName) override;

  // IViewObject, IViewObject2, IViewObjectEx
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                    HDC targetInfo, HDC dc, LPCRECTL bounds, LPCRECTL metafileBounds,
                    BOOL(STDMETHODCALLTYPE* keepGoing)(ULONG_PTR), ULONG_PTR argument) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                           HDC targetInfo, LOGPALETTE** colors) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* cookie) override;
  STDMETHODIMP Unfreeze(DWORD cookie) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
  STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
  STDMETHODIMP GetViewStatus(DWORD* status) override;
  STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                             DWORD* hit) override;
  STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                            DWORD* hit) override;
  STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetInfo,
                                DVEXTENTINFO* info, LPSIZEL size) override;

  // IOleWindow (for both in-place interfaces), IOleInPlaceObject, IOleInPlaceObjectWindowless
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  STDMETHODIMP OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam,
                               LRESULT* result) override;
  STDMETHODIMP GetDropTarget(IDropTarget** target) override;

  // IOleInPlaceActiveObject
  STDMETHODIMP TranslateAccelerator(LPMSG message) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* message) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index, HWND parent,
                      LPCRECT position) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* userType) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

  // IPersist, IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  // ControlDialog::Owner: what the window asks of the control.
  VGraph& GraphObject() override { return graph_; }
  bool InPlaceActive() override { return inPlaceActive_; }
  void FocusGained() override;
  void FocusLost(HWND gaining) override;
  void MouseActivated() override;

  // In-place activation with the client site (in_place.cpp): the window made and shown, then,
  // for `uiActivate`, the user interface.
  HRESULT ActivateInPlace(bool uiActivate);
  HRESULT ActivateUserInterface();
  void ReleaseInPlaceSite();
  // The background brush from the site's ambient colour (ole_control.cpp).
  void ReadBackground();
  // Whether the container runs in user mode, true when it does not say (ole_control.cpp).
  bool AmbientUserMode();
  // The view changed: the window repainted, or the view advise sink told.
  void ViewChanged();

  SIZEL extent_{};  // in HIMETRIC: the dialog template's, until a container sets or loads one
  ControlDialog window_;
  VGraph graph_;

  IOleClientSite* clientSite_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IOleInPlaceFrame* frame_ = nullptr;
  IOleInPlaceUIWindow* uiWindow_ = nullptr;
  IOleAdviseHolder* adviseHolder_ = nullptr;
  IAdviseSink* viewSink_ = nullptr;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  bool dirty_ = false;
};

}  // namespace norvisk
