// The registered VGraph class as a container sees it before and around activation: the
// interfaces it answers and refuses, its drawing into a container's device context, its
// persisted stream byte for byte, what the registry says of it, and its answers to bad input.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <cstring>

#include "com_support.h"
#include "control_support.h"
#include "test_container.h"

namespace norvisk_win_test {
namespace {

class ControlInterfaces : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_EQ(Create(CLSID_VGraph, IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IOleObject, object.put()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IViewObjectEx, view.put()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IPersistStreamInit, persist.put()), S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IOleInPlaceObjectWindowless, inPlace.put()), S_OK);
  }
  void TearDown() override {
    inPlace.reset();
    persist.reset();
    view.reset();
    object.reset();
    unknown.reset();
    OleUninitialize();
  }

  // A memory stream holding `bytes`, positioned at its start.
  static void StreamOf(const std::string& bytes, Ref<IStream>* stream) {
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream->out()), S_OK);
    ULONG written = 0;
    if (!bytes.empty()) (*stream)->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER start{};
    (*stream)->Seek(start, STREAM_SEEK_SET, nullptr);
  }
  static std::string Le32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
  }
  static ULONGLONG Position(IStream* stream) {
    LARGE_INTEGER none{};
    ULARGE_INTEGER at{};
    stream->Seek(none, STREAM_SEEK_CUR, &at);
    return at.QuadPart;
  }
  SIZEL Extent() {
    SIZEL size{-1, -1};
    EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    return size;
  }

  Apartment apartment;
  Ref<IUnknown> unknown;
  Ref<IOleObject> object;
  Ref<IViewObjectEx> view;
  Ref<IPersistStreamInit> persist;
  Ref<IOleInPlaceObjectWindowless> inPlace;
};

TEST_F(ControlInterfaces, AnswersTheControlInterfacesOfOneObjectAndRefusesTheRest) {
  const IID* answered[] = {
      &IID_IVGraph,           &IID_IDispatch,   &IID_IViewObjectEx,
      &IID_IViewObject2,      &IID_IViewObject, &IID_IOleInPlaceObjectWindowless,
      &IID_IOleInPlaceObject, &IID_IOleWindow,  &IID_IOleInPlaceActiveObject,
      &IID_IOleControl,       &IID_IOleObject,  &IID_IPersistStreamInit,
      &IID_IPersist};
  for (const IID* iid : answered) {
    Ref<IUnknown> asked, identity;
    ASSERT_EQ(unknown->QueryInterface(*iid, asked.put()), S_OK);
    ASSERT_TRUE(asked);
    // One object: every interface leads back to the same unknown, and to each other.
    ASSERT_EQ(asked->QueryInterface(IID_IUnknown, identity.put()), S_OK);
    EXPECT_EQ(identity.get(), unknown.get());
    Ref<IUnknown> persisting;
    EXPECT_EQ(asked->QueryInterface(IID_IPersist, persisting.put()), S_OK);
  }
  const IID* refused[] = {
      &IID_IPersistStorage,       &IID_IDataObject,         &IID_IConnectionPointContainer,
      &IID_IProvideClassInfo,     &IID_IProvideClassInfo2,  &IID_IQuickActivate,
      &IID_ISpecifyPropertyPages, &IID_IPersistPropertyBag, &IID_ISupportErrorInfo,
      &IID_IOleInPlaceSite,       &IID_IClassFactory,       &IID_INVGraph};
  for (const IID* iid : refused) {
    void* asked = reinterpret_cast<void*>(1);
    EXPECT_EQ(unknown->QueryInterface(*iid, &asked), E_NOINTERFACE);
    EXPECT_EQ(asked, nullptr);
  }
}

TEST_F(ControlInterfaces, TheRegistryGivesStatusBitsUserTypeAndVerbs) {
  DWORD status = 0;
  ASSERT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
  EXPECT_EQ(status, 131473u);
  EXPECT_EQ(status, static_cast<DWORD>(OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                                       OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                       OLEMISC_RECOMPOSEONRESIZE));
  LPOLESTR userType = nullptr;
  ASSERT_EQ(object->GetUserType(USERCLASSTYPE_FULL, &userType), S_OK);
  ASSERT_NE(userType, nullptr);
  EXPECT_STREQ(userType, L"VGraph Class");
  CoTaskMemFree(userType);
  CLSID clsid{};
  ASSERT_EQ(object->GetUserClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VGraph));
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VGraph));
  // No verbs are registered for the class: the control says what the registry says.
  Ref<IEnumOLEVERB> verbs, registered;
  HRESULT expected = OleRegEnumVerbs(CLSID_VGraph, registered.out());
  EXPECT_EQ(object->EnumVerbs(verbs.out()), expected);
  EXPECT_EQ(static_cast<bool>(verbs), static_cast<bool>(registered));
}

TEST_F(ControlInterfaces, TheStartingExtentIsTheDialogTemplatesSize) {
  // The template's size in pixels as the system lays it out, then in HIMETRIC at 96 dpi.
  HMODULE module = GetModuleHandleW(L"Norvisk.dll");
  ASSERT_NE(module, nullptr);
  TopWindow top(100, 100);
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(103), top.handle(), nullptr, 0);
  ASSERT_NE(dialog, nullptr);
  RECT client{};
  GetClientRect(dialog, &client);
  DestroyWindow(dialog);
  ASSERT_EQ(persist->InitNew(), S_OK);
  SIZEL size = Extent();
  EXPECT_NEAR(size.cx, MulDiv(client.right, 2540, 96), 27) << "within a pixel";
  EXPECT_NEAR(size.cy, MulDiv(client.bottom, 2540, 96), 27) << "within a pixel";
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST_F(ControlInterfaces, ItPersistsItsExtentInTwelveBytes) {
  ULARGE_INTEGER max{};
  ASSERT_EQ(persist->GetSizeMax(&max), S_OK);
  EXPECT_EQ(max.QuadPart, 12u);
  ASSERT_EQ(persist->InitNew(), S_OK);
  SIZEL size{12345, 0x01020304};
  ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  Ref<IStream> stream;
  StreamOf("", &stream);
  ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ASSERT_EQ(Position(stream.get()), 12u);
  char bytes[16] = {};
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream->Read(bytes, sizeof bytes, &read);
  ASSERT_EQ(read, 12u);
  EXPECT_EQ(std::string(bytes, 12), Le32(0x300) + Le32(12345) + Le32(0x01020304));

  // Saved without clearing: still dirty.
  SIZEL other{1, 2};
  object->SetExtent(DVASPECT_CONTENT, &other);
  StreamOf("", &stream);
  ASSERT_EQ(persist->Save(stream.get(), FALSE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
}

TEST_F(ControlInterfaces, ItLoadsItsOwnVersionAndNoNewerOne) {
  SIZEL before = Extent();
  Ref<IStream> stream;
  // A newer format is refused and changes nothing.
  StreamOf(Le32(0x301) + Le32(1000) + Le32(2000), &stream);
  EXPECT_EQ(persist->Load(stream.get()), E_FAIL);
  EXPECT_EQ(Extent().cx, before.cx);
  EXPECT_EQ(Extent().cy, before.cy);
  // A stream that ends early too.
  StreamOf(Le32(0x300) + Le32(1000) + std::string(3, '\0'), &stream);
  EXPECT_EQ(persist->Load(stream.get()), E_FAIL);
  EXPECT_EQ(Extent().cx, before.cx);
  StreamOf(std::string(2, '\0'), &stream);
  EXPECT_EQ(persist->Load(stream.get()), E_FAIL);
  StreamOf("", &stream);
  EXPECT_EQ(persist->Load(stream.get()), E_FAIL);
  EXPECT_EQ(Extent().cy, before.cy);

  // Its own version loads, as do older ones; what follows the 12 bytes is left for others.
  StreamOf(Le32(0x300) + Le32(1000) + Le32(0xFFFFFFFFu) + "more", &stream);
  EXPECT_EQ(persist->Load(stream.get()), S_OK);
  EXPECT_EQ(Position(stream.get()), 12u);
  EXPECT_EQ(Extent().cx, 1000);
  EXPECT_EQ(Extent().cy, -1);  // the bits as written: 0xFFFFFFFF
  StreamOf(Le32(0x200) + Le32(7) + Le32(8), &stream);
  EXPECT_EQ(persist->Load(stream.get()), S_OK);
  EXPECT_EQ(Extent().cx, 7);
  EXPECT_EQ(Extent().cy, 8);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST_F(ControlInterfaces, DrawingWhileInactiveGivesThePlaceholder) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 260, 120);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, 260, 120};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  // The container's own mapping is not the control's: bounds are in its logical units.
  SetViewportOrgEx(dc, 20, 10, nullptr);
  RECTL bounds{0, 0, 220, 100};
  ASSERT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  POINT origin{};
  GetViewportOrgEx(dc, &origin);
  EXPECT_EQ(origin.x, 20) << "the device context's state is given back";
  SetViewportOrgEx(dc, 0, 0, nullptr);
  Picture drawn = CaptureDC(dc, 260, 120);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  WriteBmp(ExeFolder() + L"\\captures\\placeholder.bmp", drawn);

  // A black frame over the bounds, grey inside, the text in the window-text colour in the
  // middle, nothing outside.
  const std::uint32_t black = 0, grey = 0x808080, white = 0xFFFFFF,
                      ink = Rgb(GetSysColor(COLOR_WINDOWTEXT));
  int wrong = 0, inkLeft = 260, inkRight = -1, inkTop = 120, inkBottom = -1;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 260; ++x) {
      bool inside = x >= 20 && x < 240 && y >= 10 && y < 110;
      bool edge = inside && (x == 20 || x == 239 || y == 10 || y == 109);
      std::uint32_t pixel = drawn.At(x, y);
      if (!inside || edge) {
        wrong += pixel != (inside ? black : white);
      } else if (pixel != grey) {
        // Text edges may be smoothed: between the ink and the grey, channel by channel.
        for (int shift = 0; shift < 24; shift += 8) {
          unsigned a = pixel >> shift & 0xFF, b = ink >> shift & 0xFF, c = grey >> shift & 0xFF;
          if (a < std::min(b, c) || a > std::max(b, c)) ++wrong;
        }
        inkLeft = std::min(inkLeft, x);
        inkRight = std::max(inkRight, x);
        inkTop = std::min(inkTop, y);
        inkBottom = std::max(inkBottom, y);
      }
    }
  EXPECT_EQ(wrong, 0);
  ASSERT_GE(inkRight, inkLeft) << "no text";
  // "ATL Composite Control" on one line, centred both ways.
  EXPECT_GT(inkRight - inkLeft, 80);
  EXPECT_LT(inkBottom - inkTop, 20);
  EXPECT_NEAR((inkLeft + inkRight) / 2.0, 130, 3);
  EXPECT_NEAR((inkTop + inkBottom) / 2.0, 60, 3);
}

TEST_F(ControlInterfaces, DrawingWhileActiveLeavesItToTheWindow) {
  TopWindow top(400, 300);
  TestContainer site(top.handle());
  ASSERT_EQ(object->SetClientSite(&site), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  ASSERT_EQ(
      object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, top.handle(), &site.position),
      S_OK);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 50, 50);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, 50, 50};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECTL bounds{0, 0, 50, 50};
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  Picture drawn = CaptureDC(dc, 50, 50);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  for (std::uint32_t pixel : drawn.pixels) ASSERT_EQ(pixel, 0xFFFFFFu);
  EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

// An advise sink that counts what it is told.
class CountingSink final : public IAdviseSink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAdviseSink)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  STDMETHODIMP_(void) OnViewChange(DWORD aspect, LONG) override {
    if (aspect == DVASPECT_CONTENT) ++viewChanges;
  }
  STDMETHODIMP_(void) OnRename(IMoniker*) override {}
  STDMETHODIMP_(void) OnSave() override { ++saves; }
  STDMETHODIMP_(void) OnClose() override { ++closes; }

  ULONG refs = 0;
  int viewChanges = 0, saves = 0, closes = 0;
};

TEST_F(ControlInterfaces, AdviseSinksHearOfViewChangesAndClosing) {
  CountingSink sink;
  {
    Ref<IOleControl> control;
    ASSERT_EQ(unknown->QueryInterface(IID_IOleControl, control.put()), S_OK);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    DWORD aspects = 0, flags = 1;
    Ref<IAdviseSink> kept;
    ASSERT_EQ(view->GetAdvise(&aspects, &flags, kept.out()), S_OK);
    EXPECT_EQ(kept.get(), &sink);
    EXPECT_EQ(aspects, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(flags, 0u);
    // Not in-place active: the colour change goes to the view's sink.
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
    EXPECT_EQ(sink.viewChanges, 1);
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_FONT), S_OK);
    EXPECT_EQ(sink.viewChanges, 1);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
    EXPECT_EQ(sink.viewChanges, 1);

    DWORD connection = 0;
    ASSERT_EQ(object->Advise(&sink, &connection), S_OK);
    EXPECT_NE(connection, 0u);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(sink.closes, 1);
    EXPECT_EQ(object->Unadvise(connection), S_OK);
    EXPECT_EQ(object->Unadvise(connection), OLE_E_NOCONNECTION);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(sink.closes, 1);
  }
  EXPECT_EQ(sink.refs, 0u);
}

TEST_F(ControlInterfaces, BadArgumentsGetTheirStatusAndChangeNothing) {
  EXPECT_EQ(object->GetClientSite(nullptr), E_POINTER);
  EXPECT_EQ(object->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, nullptr), E_POINTER);
  EXPECT_EQ(object->GetClipboardData(0, nullptr), E_POINTER);
  EXPECT_EQ(object->EnumVerbs(nullptr), E_POINTER);
  EXPECT_EQ(object->GetUserClassID(nullptr), E_POINTER);
  EXPECT_EQ(object->GetUserType(USERCLASSTYPE_FULL, nullptr), E_POINTER);
  EXPECT_EQ(object->GetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(object->Advise(nullptr, nullptr), E_POINTER);
  DWORD connection = 5;
  EXPECT_EQ(object->Advise(nullptr, &connection), E_INVALIDARG);
  EXPECT_EQ(object->Unadvise(12), OLE_E_NOCONNECTION);
  EXPECT_EQ(object->EnumAdvise(nullptr), E_POINTER);
  EXPECT_EQ(inPlace->GetWindow(nullptr), E_POINTER);
  EXPECT_EQ(inPlace->GetDropTarget(nullptr), E_POINTER);
  EXPECT_EQ(inPlace->OnWindowMessage(WM_PAINT, 0, 0, nullptr), E_POINTER);
  EXPECT_EQ(view->GetColorSet(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(view->Freeze(DVASPECT_CONTENT, -1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(view->GetAdvise(nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(view->GetRect(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(view->GetViewStatus(nullptr), E_POINTER);
  EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, nullptr, POINT{}, 0, nullptr), E_POINTER);
  EXPECT_EQ(view->QueryHitRect(DVASPECT_CONTENT, nullptr, nullptr, 0, nullptr), E_POINTER);
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr),
            E_POINTER);
  RECTL bounds{0, 0, 10, 10};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr,
                       nullptr, 0),
            E_INVALIDARG);
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
      E_INVALIDARG);
  EXPECT_EQ(
      view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      DV_E_DVASPECT);
  DeleteDC(dc);
  EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
  EXPECT_EQ(persist->Load(nullptr), E_POINTER);
  EXPECT_EQ(persist->Save(nullptr, TRUE), E_POINTER);
  EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
  Ref<IOleControl> control;
  ASSERT_EQ(unknown->QueryInterface(IID_IOleControl, control.put()), S_OK);
  EXPECT_EQ(control->GetControlInfo(nullptr), E_POINTER);
  // Before any site: nothing to read the colour from, nothing to repaint.
  EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);

  // The extent of another aspect is not the control's.
  SIZEL before = Extent(), icon{1, 1};
  EXPECT_EQ(object->SetExtent(DVASPECT_ICON, &icon), DV_E_DVASPECT);
  EXPECT_EQ(object->GetExtent(DVASPECT_ICON, &icon), DV_E_DVASPECT);
  EXPECT_EQ(Extent().cx, before.cx);
  EXPECT_EQ(Extent().cy, before.cy);

  // Verbs without a site, and verbs the control does not know.
  RECT position{0, 0, 10, 10};
  for (LONG verb : {OLEIVERB_PRIMARY, OLEIVERB_SHOW, OLEIVERB_INPLACEACTIVATE, OLEIVERB_UIACTIVATE})
    EXPECT_EQ(object->DoVerb(verb, nullptr, nullptr, 0, nullptr, &position), E_UNEXPECTED) << verb;
  EXPECT_EQ(object->DoVerb(OLEIVERB_OPEN, nullptr, nullptr, 0, nullptr, &position), E_NOTIMPL);
  EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, nullptr, &position),
            E_NOTIMPL);
  EXPECT_EQ(object->DoVerb(-42, nullptr, nullptr, 0, nullptr, &position), E_NOTIMPL);
  EXPECT_EQ(object->DoVerb(OLEIVERB_HIDE, nullptr, nullptr, 0, nullptr, &position), S_OK);
  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
  EXPECT_EQ(window, nullptr);
  // Rectangles before there is a window are taken and kept to no effect.
  RECT inverted{10, 10, 0, 0}, empty{5, 5, 5, 5};
  EXPECT_EQ(inPlace->SetObjectRects(&inverted, &position), E_INVALIDARG);
  EXPECT_EQ(inPlace->SetObjectRects(&empty, &empty), S_OK);
  EXPECT_EQ(inPlace->SetObjectRects(nullptr, &position), E_POINTER);
}

TEST_F(ControlInterfaces, ActiveVerbsAndRectanglesOfAnyShape) {
  TopWindow top(400, 300);
  TestContainer site(top.handle());
  ASSERT_EQ(object->SetClientSite(&site), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  RECT position = site.position;
  // A verb of the container's own numbering is the primary verb: the user interface activated.
  EXPECT_EQ(object->DoVerb(7, nullptr, &site, 0, top.handle(), &position), OLEOBJ_S_INVALIDVERB);
  HWND window = nullptr;
  ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
  std::vector<std::string> calls = site.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "OnUIActivate"), calls.end());

  RECT inverted{300, 200, 100, 50}, empty{30, 40, 30, 40}, clip{0, 0, 400, 300};
  EXPECT_EQ(inPlace->SetObjectRects(&inverted, &clip), E_INVALIDARG);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 400) << "an inverted rectangle changed the window";
  EXPECT_EQ(inPlace->SetObjectRects(&clip, &inverted), E_INVALIDARG);
  EXPECT_EQ(inPlace->SetObjectRects(&empty, &clip), S_OK);
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(client.bottom, 0);
  // A clip rectangle smaller than the position cuts the window off.
  RECT half{0, 0, 200, 300};
  EXPECT_EQ(inPlace->SetObjectRects(&clip, &half), S_OK);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(GetWindowRgn(window, region), SIMPLEREGION);
  RECT box{};
  GetRgnBox(region, &box);
  DeleteObject(region);
  EXPECT_EQ(box.right, 200);
  EXPECT_EQ(box.bottom, 300);
  EXPECT_EQ(object->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, top.handle(), &position), S_OK);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(object->DoVerb(-42, nullptr, &site, 0, top.handle(), &position), E_NOTIMPL);
  EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

}  // namespace
}  // namespace norvisk_win_test
