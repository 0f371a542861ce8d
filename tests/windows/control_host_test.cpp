// VGraph hosted by the system's own control container (a window of class AtlAxWin whose text is
// the ProgID): the window the control gets and the pixels it shows, read back from it.
#include <windows.h>
#include <ole2.h>

#include "com_support.h"
#include "control_support.h"

namespace norvisk_win_test {
namespace {

constexpr wchar_t kFourBars[] =
    L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)(West;30;20;25)";
constexpr int kLogoBitmap = 203;

// The system's container library.
struct AtlLibrary {
  using InitFn = BOOL(WINAPI*)();
  using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

  AtlLibrary() : module(LoadLibraryW(L"atl.dll")) {
    if (!module) return;
    init =
        reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")));
    getControl = reinterpret_cast<GetControlFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "AtlAxGetControl")));
  }
  HMODULE module;
  InitFn init = nullptr;
  GetControlFn getControl = nullptr;
};

// One control made by the container in a child window of `parent`.
class HostedControl {
 public:
  HostedControl(const AtlLibrary& atl, HWND parent, int width, int height) {
    host_ = CreateWindowExW(0, L"AtlAxWin", L"Norvisk.VGraph", WS_CHILD | WS_VISIBLE, 0, 0, width,
                            height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!host_ || atl.getControl(host_, control_.out()) != S_OK || !control_) return;
    control_->QueryInterface(IID_IVGraph, graph_.put());
    Ref<IOleWindow> window;
    if (SUCCEEDED(control_->QueryInterface(IID_IOleWindow, window.put())))
      window->GetWindow(&window_);
    PumpMessages();
  }
  ~HostedControl() {
    graph_.reset();
    control_.reset();
    if (host_) DestroyWindow(host_);
    PumpMessages();
  }
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  bool ok() const { return graph_ && window_; }
  HWND host() const { return host_; }
  HWND window() const { return window_; }
  IVGraph* graph() const { return graph_.get(); }

  // The window after it has handled what is pending, its paint included.
  Picture Shown() const {
    PumpMessages();
    UpdateWindow(window_);
    return CaptureWindow(window_);
  }
  // The window after a repaint of all of it.
  Picture Repainted() const {
    InvalidateRect(window_, nullptr, TRUE);
    return Shown();
  }

 private:
  HWND host_ = nullptr;
  Ref<IUnknown> control_;
  Ref<IVGraph> graph_;
  HWND window_ = nullptr;
};

// Pixels of `shown` that differ from what `expected(x, y)` gives, with the first of them.
template <class Expected>
::testing::AssertionResult ShowsEverywhere(const Picture& shown, Expected expected) {
  int wrong = 0, firstX = -1, firstY = -1;
  for (int y = 0; y < shown.height; ++y)
    for (int x = 0; x < shown.width; ++x)
      if (shown.At(x, y) != expected(x, y) && wrong++ == 0) {
        firstX = x;
        firstY = y;
      }
  if (shown.pixels.empty()) return ::testing::AssertionFailure() << "nothing captured";
  if (wrong == 0) return ::testing::AssertionSuccess();
  char text[128];
  std::snprintf(text, sizeof text, "%d pixels differ, the first at (%d, %d): %06X for %06X", wrong,
                firstX, firstY, shown.At(firstX, firstY), expected(firstX, firstY));
  return ::testing::AssertionFailure() << text;
}

class ControlHost : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    ASSERT_TRUE(atl.init && atl.getControl) << "no container library";
    // The window class is registered once a process.
    static const bool registered = atl.init();
    ASSERT_TRUE(registered);
  }
  void TearDown() override { OleUninitialize(); }

  // Where the pictures of the run are kept to be looked at.
  static std::wstring CaptureFile(const wchar_t* name) {
    std::wstring folder = ExeFolder() + L"\\captures";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\" + name;
  }

  AtlLibrary atl;
  TopWindow top{640, 480};
};

// The logo ANDed onto the background at (left, top) of a control without a graph.
::testing::AssertionResult ShowsLogoAt(const Picture& shown, const Picture& logo,
                                       std::uint32_t background, int left, int top) {
  return ShowsEverywhere(shown, [&](int x, int y) {
    int lx = x - left, ly = y - top;
    bool inLogo = lx >= 0 && ly >= 0 && lx < logo.width && ly < logo.height;
    return inLogo ? background & logo.At(lx, ly) : background;
  });
}

TEST_F(ControlHost, TheContainerMakesTheControlWindowAChildDialogOfItsWindow) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  EXPECT_EQ(GetParent(control.window()), control.host());
  wchar_t className[16] = {};
  GetClassNameW(control.window(), className, 16);
  EXPECT_STREQ(className, L"#32770");
  LONG style = GetWindowLongW(control.window(), GWL_STYLE);
  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_TRUE(style & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongW(control.window(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  RECT client{};
  GetClientRect(control.window(), &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 300);
}

TEST_F(ControlHost, WithoutAGraphTheLogoSitsInTheMiddleOnTheDialogColour) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  Picture shown = control.Shown();
  WriteBmp(CaptureFile(L"logo-400x300.bmp"), shown);
  Picture logo = ResourcePicture(GetModuleHandleW(L"Norvisk.dll"), kLogoBitmap);
  ASSERT_EQ(logo.width, 180);
  ASSERT_EQ(logo.height, 142);
  // The container gives no background colour: the dialog's own.
  std::uint32_t background = Rgb(GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(ShowsLogoAt(shown, logo, background, 110, 79));
  // Both kinds of logo pixel are there to be seen: white ground and darker ink.
  EXPECT_EQ(shown.At(110, 79), background);
  EXPECT_NE(shown.At(200, 150), background);
}

TEST_F(ControlHost, ASmallControlClipsTheLogo) {
  HostedControl control(atl, top.handle(), 100, 100);
  ASSERT_TRUE(control.ok());
  Picture shown = control.Shown();
  WriteBmp(CaptureFile(L"logo-100x100.bmp"), shown);
  Picture logo = ResourcePicture(GetModuleHandleW(L"Norvisk.dll"), kLogoBitmap);
  ASSERT_EQ(logo.width, 180);
  EXPECT_TRUE(ShowsLogoAt(shown, logo, Rgb(GetSysColor(COLOR_BTNFACE)), -40, -21));
}

TEST_F(ControlHost, DrawBarGraphShowsAtOnceWhatSaveToFileWrites) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  control.Shown();
  Bstr data(kFourBars);
  ASSERT_EQ(control.graph()->DrawBarGraph(data), S_OK);
  // No message handled in between: the method drew into the window itself.
  Picture drawn = CaptureWindow(control.window());
  OutputFolder folder;
  Bstr file(folder.File(L"shown.bmp"));
  ASSERT_EQ(control.graph()->SaveToFile(file), S_OK);
  Picture saved = ReadBmp(ReadBytes(folder.File(L"shown.bmp")));
  ASSERT_EQ(saved.width, 400);
  ASSERT_EQ(saved.height, 300);
  EXPECT_TRUE(ShowsEverywhere(drawn, [&](int x, int y) { return saved.At(x, y); }));
  WriteBmp(CaptureFile(L"bar-400x300.bmp"), drawn);

  // Repaints of the unchanged graph show the same pixels, and so does DrawGraph.
  EXPECT_TRUE(ShowsEverywhere(control.Repainted(), [&](int x, int y) { return drawn.At(x, y); }));
  EXPECT_TRUE(ShowsEverywhere(control.Repainted(), [&](int x, int y) { return drawn.At(x, y); }));
  ASSERT_EQ(control.graph()->DrawGraph(), S_OK);
  EXPECT_TRUE(ShowsEverywhere(CaptureWindow(control.window()),
                              [&](int x, int y) { return drawn.At(x, y); }));
}

TEST_F(ControlHost, AGraphKeepsItsSizeWhenTheContainerGrows) {
  HostedControl control(atl, top.handle(), 300, 200);
  ASSERT_TRUE(control.ok());
  control.Shown();
  Bstr data(kFourBars);
  ASSERT_EQ(control.graph()->DrawBarGraph(data), S_OK);
  Picture small = CaptureWindow(control.window());
  ASSERT_EQ(small.width, 300);
  ASSERT_EQ(small.height, 200);

  MoveWindow(control.host(), 0, 0, 500, 400, TRUE);
  Picture grown = control.Shown();
  WriteBmp(CaptureFile(L"bar-300x200-in-500x400.bmp"), grown);
  ASSERT_EQ(grown.width, 500);
  ASSERT_EQ(grown.height, 400);
  std::uint32_t background = Rgb(GetSysColor(COLOR_BTNFACE));
  auto expected = [&](int x, int y) { return x < 300 && y < 200 ? small.At(x, y) : background; };
  EXPECT_TRUE(ShowsEverywhere(grown, expected));
  EXPECT_TRUE(ShowsEverywhere(control.Repainted(), expected));

  // Drawn over by someone else, the window gets graph and background back from a repaint.
  for (int round = 0; round < 2; ++round) {
    HDC dc = GetDC(control.window());
    RECT all{0, 0, 500, 400};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(control.window(), dc);
    EXPECT_TRUE(ShowsEverywhere(control.Repainted(), expected)) << "round " << round;
  }
}

TEST_F(ControlHost, AnXYGraphWithoutPointsShowsOnlyTheBackground) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  control.Shown();
  Bstr none(L"");
  ASSERT_EQ(control.graph()->DrawXYGraph(none), S_OK);
  std::uint32_t background = Rgb(GetSysColor(COLOR_BTNFACE));
  // The logo is gone for good: a graph exists, even one that draws nothing.
  EXPECT_TRUE(ShowsEverywhere(control.Repainted(), [&](int, int) { return background; }));
}

// The picture a graph's SaveToFile writes now.
Picture SavedPicture(IVGraph* graph) {
  OutputFolder folder;
  Bstr file(folder.File(L"saved.bmp"));
  if (graph->SaveToFile(file) != S_OK) return {};
  return ReadBmp(ReadBytes(folder.File(L"saved.bmp")));
}

TEST_F(ControlHost, APaintOfPartOfTheWindowShowsAChangedGraphWhole) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  control.Shown();
  Bstr data(kFourBars);
  ASSERT_EQ(control.graph()->DrawBarGraph(data), S_OK);
  Picture before = control.Repainted();
  control.Repainted();
  auto showsWhole = [](const Picture& saved) {
    return [&saved](int x, int y) { return saved.At(x, y); };
  };

  // A fifth bar that no method draws: the paint of one corner renders it, and the whole graph
  // shows it, not only the corner.
  Bstr bar(L"Centre");
  ASSERT_EQ(control.graph()->AddBarBar(bar), S_OK);
  ASSERT_EQ(control.graph()->AddBarValue(60), S_OK);
  RECT corner{0, 0, 40, 30};
  InvalidateRect(control.window(), &corner, TRUE);
  Picture shown = control.Shown();
  Picture saved = SavedPicture(control.graph());
  ASSERT_EQ(saved.width, 400);
  EXPECT_FALSE(ShowsEverywhere(saved, showsWhole(before))) << "the fifth bar changes nothing";
  EXPECT_TRUE(ShowsEverywhere(shown, showsWhole(saved)));
  WriteBmp(CaptureFile(L"bar-changed-corner-paint.bmp"), shown);

  // A sixth, rendered by SaveToFile before any paint: a paint of a strip in the middle shows
  // it over the whole graph too.
  Bstr another(L"Last");
  ASSERT_EQ(control.graph()->AddBarBar(another), S_OK);
  ASSERT_EQ(control.graph()->AddBarValue(80), S_OK);
  Picture resaved = SavedPicture(control.graph());
  EXPECT_FALSE(ShowsEverywhere(resaved, showsWhole(saved))) << "the sixth bar changes nothing";
  RECT strip{150, 0, 170, 300};
  InvalidateRect(control.window(), &strip, TRUE);
  EXPECT_TRUE(ShowsEverywhere(control.Shown(), showsWhole(resaved)));

  // Paints of parts of the unchanged graph leave it as it is.
  InvalidateRect(control.window(), &corner, TRUE);
  InvalidateRect(control.window(), &strip, FALSE);
  EXPECT_TRUE(ShowsEverywhere(control.Shown(), showsWhole(resaved)));
  EXPECT_TRUE(ShowsEverywhere(control.Repainted(), showsWhole(resaved)));
}

TEST_F(ControlHost, TheLogoOfAGrownControlGoesOverAllOfItsNewPlace) {
  HostedControl control(atl, top.handle(), 400, 300);
  ASSERT_TRUE(control.ok());
  Picture small = control.Shown();
  Picture logo = ResourcePicture(GetModuleHandleW(L"Norvisk.dll"), kLogoBitmap);
  ASSERT_EQ(logo.width, 180);
  std::uint32_t background = Rgb(GetSysColor(COLOR_BTNFACE));

  // Only the new strips are painted, yet the logo, centred anew, darkens its whole place: over
  // the old picture where that was not erased.
  MoveWindow(control.host(), 0, 0, 500, 400, TRUE);
  Picture grown = control.Shown();
  WriteBmp(CaptureFile(L"logo-400x300-grown.bmp"), grown);
  ASSERT_EQ(grown.width, 500);
  EXPECT_TRUE(ShowsEverywhere(grown, [&](int x, int y) {
    std::uint32_t under = x < 400 && y < 300 ? small.At(x, y) : background;
    int lx = x - 160, ly = y - 129;
    bool inLogo = lx >= 0 && ly >= 0 && lx < logo.width && ly < logo.height;
    return inLogo ? under & logo.At(lx, ly) : under;
  }));
  // A repaint of all of it shows the one logo in the middle.
  EXPECT_TRUE(ShowsLogoAt(control.Repainted(), logo, background, 160, 129));
}

}  // namespace
}  // namespace norvisk_win_test
