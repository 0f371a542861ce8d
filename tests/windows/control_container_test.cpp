// VGraph in a strict container of our own, with the control's code linked in (so that the
// graphs and canvases it keeps alive, and the module's lock count, can be counted) and the
// registered module's resources: activation with the site, the window, the ambient colour,
// deactivation, closing and release, and a thousand of those cycles in one process.
#include <windows.h>
#include <ole2.h>

#include "com_support.h"
#include "component/graph_objects.h"
#include "component/module_state.h"
#include "control_support.h"
#include "graph/graph.h"
#include "raster/canvas.h"
#include "test_container.h"

namespace norvisk_win_test {
namespace {

using Calls = std::vector<std::string>;

constexpr wchar_t kFourBars[] =
    L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";
constexpr int kLogoBitmap = 203;

// The registered module supplies the resources: dialog template, logo, background.
HMODULE ResourceModule() {
  static HMODULE module = LoadLibraryW(ModulePath().c_str());
  return module;
}

// One control object of the linked-in class with the interfaces a container uses.
struct Control {
  Control() {
    norvisk::SetModuleInstance(ResourceModule());
    if (FAILED(norvisk::CreateVGraphObject(nullptr, IID_IUnknown, unknown.put()))) return;
    unknown->QueryInterface(IID_IOleObject, object.put());
    unknown->QueryInterface(IID_IOleInPlaceObject, inPlace.put());
    unknown->QueryInterface(IID_IPersistStreamInit, persist.put());
    unknown->QueryInterface(IID_IOleControl, control.put());
    unknown->QueryInterface(IID_IVGraph, graph.put());
  }
  bool ok() const { return object && inPlace && persist && control && graph; }
  HWND Window() const {
    HWND window = nullptr;
    return SUCCEEDED(inPlace->GetWindow(&window)) ? window : nullptr;
  }
  void Release() {
    graph.reset();
    control.reset();
    persist.reset();
    inPlace.reset();
    object.reset();
    unknown.reset();
  }

  Ref<IUnknown> unknown;
  Ref<IOleObject> object;
  Ref<IOleInPlaceObject> inPlace;
  Ref<IPersistStreamInit> persist;
  Ref<IOleControl> control;
  Ref<IVGraph> graph;
};

Picture Shown(HWND window) {
  PumpMessages();
  UpdateWindow(window);
  return CaptureWindow(window);
}

class ControlContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_NE(ResourceModule(), nullptr) << Utf8(ModulePath());
    logo = ResourcePicture(ResourceModule(), kLogoBitmap);
    ASSERT_EQ(logo.width, 180);
  }
  void TearDown() override { OleUninitialize(); }

  // Client site first, then a fresh start, then in-place activation: what the control's status
  // bits ask of a container.
  void Embed(Control& control, TestContainer& site) {
    ASSERT_TRUE(control.ok());
    ASSERT_EQ(control.object->SetClientSite(&site), S_OK);
    ASSERT_EQ(control.persist->InitNew(), S_OK);
    EXPECT_EQ(site.Calls(), Calls{}) << "the control called its site before it was activated";
    ASSERT_EQ(control.object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window,
                                     &site.position),
              S_OK);
  }
  void Unembed(Control& control) {
    EXPECT_EQ(control.object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(control.object->SetClientSite(nullptr), S_OK);
    control.Release();
  }

  // The logo on `background` in the middle of `shown`.
  ::testing::AssertionResult ShowsLogoOn(const Picture& shown, std::uint32_t background) const {
    if (shown.pixels.empty()) return ::testing::AssertionFailure() << "nothing captured";
    int left = shown.width / 2 - 90, logoTop = shown.height / 2 - 71, wrong = 0;
    for (int y = 0; y < shown.height; ++y)
      for (int x = 0; x < shown.width; ++x) {
        int lx = x - left, ly = y - logoTop;
        bool inLogo = lx >= 0 && ly >= 0 && lx < logo.width && ly < logo.height;
        if (shown.At(x, y) != (inLogo ? background & logo.At(lx, ly) : background)) ++wrong;
      }
    if (wrong == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << wrong << " pixels are not the logo on " << std::hex << background;
  }

  Picture logo;
  TopWindow top{640, 480};
};

TEST_F(ControlContainer, ActivatesInPlaceAsAChildDialogOfTheSitesWindow) {
  TestContainer site(top.handle());
  site.position = RECT{20, 10, 320, 210};
  site.clip = site.position;
  Control control;
  Embed(control, site);
  EXPECT_EQ(site.Calls(), (Calls{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow",
                                 "GetWindowContext", "ambient -701", "ShowObject"}));
  HWND window = control.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetParent(window), top.handle());
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  EXPECT_STREQ(className, L"#32770");
  EXPECT_TRUE(IsWindowVisible(window));
  // Shown without taking the activation or the focus from the container.
  EXPECT_NE(GetFocus(), window);
  RECT placed{};
  GetWindowRect(window, &placed);
  MapWindowPoints(nullptr, top.handle(), reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 20);
  EXPECT_EQ(placed.top, 10);
  EXPECT_EQ(placed.right, 320);
  EXPECT_EQ(placed.bottom, 210);

  // Activating again changes nothing but shows the object.
  EXPECT_EQ(control.object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, top.handle(),
                                   &site.position),
            S_OK);
  EXPECT_EQ(site.Calls(), Calls{"ShowObject"});
  EXPECT_EQ(control.Window(), window);
  Unembed(control);
  EXPECT_EQ(site.Calls(), Calls{"OnInPlaceDeactivate"});
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(ControlContainer, AContainerThatSaysNoIsNotActivatedIn) {
  TestContainer site(top.handle());
  site.canActivate = false;
  Control control;
  ASSERT_TRUE(control.ok());
  ASSERT_EQ(control.object->SetClientSite(&site), S_OK);
  EXPECT_EQ(control.object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, top.handle(),
                                   &site.position),
            E_FAIL);
  EXPECT_EQ(site.Calls(), Calls{"CanInPlaceActivate"});
  EXPECT_EQ(control.Window(), nullptr);
  Unembed(control);
  EXPECT_EQ(site.Calls(), Calls{});
}

TEST_F(ControlContainer, TheAmbientColourIsTheBackgroundAndItsChangeRepaints) {
  TestContainer site(top.handle());
  site.hasBackColor = true;
  site.backColor = RGB(40, 160, 220);
  Control control;
  Embed(control, site);
  site.Calls();
  Picture shown = Shown(control.Window());
  WriteBmp(ExeFolder() + L"\\captures\\logo-ambient.bmp", shown);
  EXPECT_TRUE(ShowsLogoOn(shown, 0x28A0DC));

  // A system colour, as containers often give it, is translated.
  site.backColor = 0x80000000 | COLOR_HIGHLIGHT;
  EXPECT_EQ(control.control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
  EXPECT_EQ(site.Calls(), Calls{"ambient -701"});
  shown = Shown(control.Window());
  WriteBmp(ExeFolder() + L"\\captures\\logo-ambient-changed.bmp", shown);
  EXPECT_TRUE(ShowsLogoOn(shown, Rgb(GetSysColor(COLOR_HIGHLIGHT))));

  // Other ambient properties are not the control's business.
  EXPECT_EQ(control.control->OnAmbientPropertyChange(DISPID_AMBIENT_FORECOLOR), S_OK);
  EXPECT_EQ(site.Calls(), Calls{});

  // No colour any more: the dialog's own.
  site.hasBackColor = false;
  EXPECT_EQ(control.control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
  EXPECT_TRUE(ShowsLogoOn(Shown(control.Window()), Rgb(GetSysColor(COLOR_BTNFACE))));
  Unembed(control);
}

TEST_F(ControlContainer, UserInterfaceActivationGoesThroughTheFrameAndTheDocument) {
  TestContainer site(top.handle());
  Control control;
  Embed(control, site);
  site.Calls();
  EXPECT_EQ(
      control.object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, top.handle(), &site.position),
      S_OK);
  PumpMessages();
  EXPECT_EQ(site.Calls(), (Calls{"OnUIActivate", "frame SetActiveObject(control)",
                                 "frame SetBorderSpace(null)", "document SetActiveObject(control)",
                                 "document SetBorderSpace(null)", "ShowObject"}));
  EXPECT_EQ(GetFocus(), control.Window());
  EXPECT_EQ(control.inPlace->UIDeactivate(), S_OK);
  EXPECT_EQ(site.Calls(), (Calls{"frame SetActiveObject(null)", "document SetActiveObject(null)",
                                 "OnUIDeactivate"}));
  EXPECT_EQ(control.inPlace->UIDeactivate(), S_OK);
  EXPECT_EQ(site.Calls(), Calls{});
  Unembed(control);
}

TEST_F(ControlContainer, DeactivationKeepsTheGraphForTheNextActivation) {
  TestContainer site(top.handle());
  Control control;
  Embed(control, site);
  Bstr data(kFourBars);
  ASSERT_EQ(control.graph->DrawBarGraph(data), S_OK);
  Picture drawn = Shown(control.Window());
  int graphs = norvisk::Graph::LiveCount(), canvases = norvisk::Canvas::LiveCount();
  site.Calls();

  HWND window = control.Window();
  EXPECT_EQ(control.inPlace->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(site.Calls(), Calls{"OnInPlaceDeactivate"});
  EXPECT_FALSE(IsWindow(window));
  HWND none = reinterpret_cast<HWND>(1);
  EXPECT_EQ(control.inPlace->GetWindow(&none), E_FAIL);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(norvisk::Graph::LiveCount(), graphs);
  EXPECT_EQ(norvisk::Canvas::LiveCount(), canvases);
  // Without a window there is nothing to draw into, and no failure either.
  EXPECT_EQ(control.graph->DrawGraph(), S_OK);

  ASSERT_EQ(control.object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, top.handle(),
                                   &site.position),
            S_OK);
  Picture again = Shown(control.Window());
  ASSERT_EQ(again.width, drawn.width);
  EXPECT_TRUE(again.pixels == drawn.pixels) << "the graph did not show again";
  Unembed(control);
}

TEST_F(ControlContainer, CloseAndReleaseLeaveNoWindowObjectOrLock) {
  // The system makes objects of its own the first time a dialog is made and painted (fonts,
  // caches): one control first, then the counts.
  {
    TestContainer site(top.handle());
    Control control;
    Embed(control, site);
    Shown(control.Window());
    Bstr data(kFourBars);
    control.graph->DrawBarGraph(data);
    Unembed(control);
    site.Calls();
  }
  PumpMessages();
  int gdi = GdiObjectCount(), windows = WindowCount(), graphs = norvisk::Graph::LiveCount(),
      canvases = norvisk::Canvas::LiveCount();
  long locks = norvisk::ModuleLockCount();
  {
    TestContainer site(top.handle());
    site.hasBackColor = true;
    site.backColor = RGB(200, 0, 0);
    Control control;
    Embed(control, site);
    EXPECT_EQ(norvisk::ModuleLockCount(), locks + 1);
    Bstr data(kFourBars);
    ASSERT_EQ(control.graph->DrawBarGraph(data), S_OK);
    Shown(control.Window());
    EXPECT_EQ(WindowCount(), windows + 1);
    EXPECT_GT(GdiObjectCount(), gdi);
    site.Calls();
    // A dirty control asks its site to save it when closed that way.
    SIZEL size{5000, 3000};
    ASSERT_EQ(control.object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(control.object->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site.Calls(), (Calls{"OnInPlaceDeactivate", "SaveObject"}));
    EXPECT_EQ(WindowCount(), windows);
    Unembed(control);
  }
  PumpMessages();
  EXPECT_EQ(norvisk::Graph::LiveCount(), graphs);
  EXPECT_EQ(norvisk::Canvas::LiveCount(), canvases);
  EXPECT_EQ(norvisk::ModuleLockCount(), locks);
  EXPECT_EQ(WindowCount(), windows);
  EXPECT_EQ(GdiObjectCount(), gdi);
}

TEST_F(ControlContainer, AThousandControlCyclesLeaveNothingBehind) {
  int graphs = norvisk::Graph::LiveCount(), canvases = norvisk::Canvas::LiveCount();
  long locks = norvisk::ModuleLockCount();
  Bstr data(kFourBars);
  auto cycle = [&](int i) {
    TestContainer site(top.handle());
    site.hasBackColor = i % 2 == 0;
    site.backColor = RGB(i % 256, 100, 50);
    site.position = site.clip = RECT{0, 0, 200 + i % 100, 150};
    Control control;
    Embed(control, site);
    if (!control.Window()) return false;
    bool drawn = control.graph->DrawBarGraph(data) == S_OK;
    UpdateWindow(control.Window());
    drawn = drawn && norvisk::Graph::LiveCount() == graphs + 1;
    control.inPlace->InPlaceDeactivate();
    Unembed(control);
    return drawn;
  };
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(cycle(i)) << "cycle " << i;
  PumpMessages();
  int gdi = GdiObjectCount(), windows = WindowCount();
  for (int i = 20; i < 1000; ++i) {
    ASSERT_TRUE(cycle(i)) << "cycle " << i;
    if (i % 100 == 0) PumpMessages();
  }
  PumpMessages();
  EXPECT_EQ(norvisk::Graph::LiveCount(), graphs);
  EXPECT_EQ(norvisk::Canvas::LiveCount(), canvases);
  EXPECT_EQ(norvisk::ModuleLockCount(), locks);
  EXPECT_EQ(WindowCount(), windows);
  // The system may keep a few objects of its own in caches; a leak of one a cycle is 980.
  EXPECT_LE(GdiObjectCount(), gdi + 4);
}

}  // namespace
}  // namespace norvisk_win_test
