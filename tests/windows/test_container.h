// A strict container for the control's tests: client site, in-place site, frame and document
// window, and ambient properties through IDispatch. Every call the control makes is written
// down in order; a call no control of this kind should make is a test failure.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace norvisk_win_test {

class TestContainer;

// The frame window or the document window of the container; both answer the same calls.
class TestFrame final : public IOleInPlaceFrame {
 public:
  TestFrame(TestContainer& container, const char* name) : container_(container), name_(name) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) ||
        IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
      *object = static_cast<IOleInPlaceFrame*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }

  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return Unexpected("ContextSensitiveHelp"); }
  STDMETHODIMP GetBorder(LPRECT) override { return Unexpected("GetBorder"); }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override {
    return Unexpected("RequestBorderSpace");
  }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override {
    Log(widths ? "SetBorderSpace(widths)" : "SetBorderSpace(null)");
    return S_OK;
  }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override {
    Log(active ? "SetActiveObject(control)" : "SetActiveObject(null)");
    return S_OK;
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override {
    return Unexpected("InsertMenus");
  }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return Unexpected("SetMenu"); }
  STDMETHODIMP RemoveMenus(HMENU) override { return Unexpected("RemoveMenus"); }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return Unexpected("SetStatusText"); }
  STDMETHODIMP EnableModeless(BOOL) override { return Unexpected("EnableModeless"); }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override {
    return Unexpected("TranslateAccelerator");
  }

  ULONG refs = 0;

 private:
  void Log(const std::string& call);
  HRESULT Unexpected(const char* call);

  TestContainer& container_;
  const char* name_;
};

class TestContainer final : public IOleClientSite, public IOleInPlaceSite, public IDispatch {
 public:
  explicit TestContainer(HWND parent) : window(parent) {}
  ~TestContainer() {
    EXPECT_EQ(refs, 0u) << "the control kept references to its site";
    EXPECT_EQ(frame.refs, 0u) << "the control kept references to the frame";
    EXPECT_EQ(document.refs, 0u) << "the control kept references to the document window";
  }
  TestContainer(const TestContainer&) = delete;
  TestContainer& operator=(const TestContainer&) = delete;

  // The calls made since the last look, and forgetting them.
  std::vector<std::string> Calls() {
    std::vector<std::string> made;
    made.swap(calls);
    return made;
  }
  void Log(const std::string& call) { calls.push_back(call); }
  HRESULT Unexpected(const std::string& call) {
    ADD_FAILURE() << "the control called " << call;
    calls.push_back("unexpected " + call);
    return E_NOTIMPL;
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
      *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
      *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(riid, IID_IDispatch))
      *object = static_cast<IDispatch*>(this);
    else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }

  // IOleClientSite
  STDMETHODIMP SaveObject() override {
    Log("SaveObject");
    return S_OK;
  }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return Unexpected("GetMoniker"); }
  STDMETHODIMP GetContainer(IOleContainer**) override { return Unexpected("GetContainer"); }
  STDMETHODIMP ShowObject() override {
    Log("ShowObject");
    return S_OK;
  }
  STDMETHODIMP OnShowWindow(BOOL) override { return Unexpected("OnShowWindow"); }
  STDMETHODIMP RequestNewObjectLayout() override { return Unexpected("RequestNewObjectLayout"); }

  // IOleWindow, IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* out) override {
    Log("GetWindow");
    *out = window;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return Unexpected("ContextSensitiveHelp"); }
  STDMETHODIMP CanInPlaceActivate() override {
    Log("CanInPlaceActivate");
    return canActivate ? S_OK : S_FALSE;
  }
  STDMETHODIMP OnInPlaceActivate() override {
    Log("OnInPlaceActivate");
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override {
    Log("OnUIActivate");
    return S_OK;
  }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** outFrame, IOleInPlaceUIWindow** outDocument,
                                LPRECT outPosition, LPRECT outClip,
                                LPOLEINPLACEFRAMEINFO info) override {
    Log("GetWindowContext");
    EXPECT_EQ(info->cb, sizeof(OLEINPLACEFRAMEINFO));
    frame.AddRef();
    document.AddRef();
    *outFrame = &frame;
    *outDocument = &document;
    *outPosition = position;
    *outClip = clip;
    info->fMDIApp = FALSE;
    info->hwndFrame = window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return Unexpected("Scroll"); }
  STDMETHODIMP OnUIDeactivate(BOOL) override {
    Log("OnUIDeactivate");
    return S_OK;
  }
  STDMETHODIMP OnInPlaceDeactivate() override {
    Log("OnInPlaceDeactivate");
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return Unexpected("DiscardUndoState"); }
  STDMETHODIMP DeactivateAndUndo() override { return Unexpected("DeactivateAndUndo"); }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return Unexpected("OnPosRectChange"); }

  // IDispatch: the ambient properties. Only property reads are expected.
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return Unexpected("GetTypeInfoCount"); }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unexpected("GetTypeInfo"); }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Unexpected("GetIDsOfNames");
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
    Log("ambient " + std::to_string(id));
    EXPECT_EQ(flags & DISPATCH_PROPERTYGET, DISPATCH_PROPERTYGET);
    EXPECT_TRUE(params && params->cArgs == 0);
    if (id == DISPID_AMBIENT_BACKCOLOR && hasBackColor && result) {
      V_VT(result) = VT_I4;
      V_I4(result) = static_cast<LONG>(backColor);
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  HWND window;
  RECT position{0, 0, 400, 300};
  RECT clip{0, 0, 400, 300};
  bool canActivate = true;
  bool hasBackColor = false;
  OLE_COLOR backColor = 0;
  TestFrame frame{*this, "frame"};
  TestFrame document{*this, "document"};
  ULONG refs = 0;

 private:
  std::vector<std::string> calls;
};

inline STDMETHODIMP TestFrame::GetWindow(HWND* window) {
  Log("GetWindow");
  *window = container_.window;
  return S_OK;
}
inline void TestFrame::Log(const std::string& call) {
  container_.Log(std::string(name_) + " " + call);
}
inline HRESULT TestFrame::Unexpected(const char* call) {
  return container_.Unexpected(std::string(name_) + " " + call);
}

}  // namespace norvisk_win_test
