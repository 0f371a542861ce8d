// Early-bound clients: objects of both registered classes made with CoCreateInstance and called
// through their INVGraph and IVGraph vtables; statuses, graph kinds, sizes and written files.
#include <climits>

#include "com_support.h"

namespace norvisk_win_test {
namespace {

constexpr wchar_t kBarData[] = L"(Q1;Q2;Q3)(North;10;20;30)(South;15;25;35)(East;5;10;5)";
constexpr wchar_t kXYData[] = L"(Jan;10)(Feb;20)(Mar;15)(Apr;12)";

class NVGraphVtable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Create(CLSID_NVGraph, IID_INVGraph, &graph), S_OK); }
  void TearDown() override { graph.reset(); }

  // A file name in the test's folder, as an automation string.
  std::unique_ptr<Bstr> File(const std::wstring& name) {
    return std::make_unique<Bstr>(folder.File(name));
  }

  Apartment apartment;
  OutputFolder folder;
  Ref<INVGraph> graph;
};

TEST_F(NVGraphVtable, AFreshObjectRefusesToAddAndSavesNothing) {
  Bstr text(L"x");
  EXPECT_EQ(graph->AddBarValue(1), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(text, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarBar(text), S_FALSE);
  EXPECT_EQ(graph->AddBarLegend(text), S_FALSE);
  EXPECT_EQ(graph->SetWidth(800), S_FALSE);
  EXPECT_EQ(graph->SetHeight(400), S_FALSE);
  EXPECT_EQ(graph->Clear(), S_OK);
  EXPECT_EQ(graph->SaveToFile(*File(L"none.bmp")), S_OK);
  EXPECT_EQ(graph->SaveToFile(*File(L"none.jpg")), S_OK);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(NVGraphVtable, AddingMethodsOnlyFitTheirKind) {
  Bstr text(L"Jan");
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->AddBarBar(text), S_FALSE);
  EXPECT_EQ(graph->AddBarLegend(text), S_FALSE);
  EXPECT_EQ(graph->AddBarValue(3), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(text, 4), S_OK);

  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  EXPECT_EQ(graph->AddXYValue(text, 4), S_FALSE);
  EXPECT_EQ(graph->AddBarLegend(text), S_OK);
  EXPECT_EQ(graph->AddBarBar(text), S_OK);
  EXPECT_EQ(graph->AddBarValue(5), S_OK);
}

TEST_F(NVGraphVtable, DrawingReplacesTheGraphAndItsKind) {
  Bstr label(L"a"), bar(kBarData), xy(kXYData);
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  ASSERT_EQ(graph->AddXYValue(label, 1), S_OK);
  EXPECT_EQ(graph->DrawBarGraph(*File(L"bar.bmp"), bar), S_OK);
  EXPECT_EQ(graph->AddXYValue(label, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarValue(2), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"bar.bmp"), 640, 300));

  EXPECT_EQ(graph->DrawXYGraph(*File(L"xy.jpg"), xy), S_OK);
  EXPECT_EQ(graph->AddBarValue(2), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(label, 1), S_OK);
  EXPECT_TRUE(IsJpeg(folder.File(L"xy.jpg"), 640, 300));
}

TEST_F(NVGraphVtable, ClearEmptiesTheGraphAndKeepsItsKind) {
  Bstr legend(L"Q1"), bar(L"North");
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  ASSERT_EQ(graph->AddBarLegend(legend), S_OK);
  ASSERT_EQ(graph->AddBarBar(bar), S_OK);
  ASSERT_EQ(graph->AddBarValue(10), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"full.bmp")), S_OK);
  EXPECT_EQ(graph->Clear(), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"cleared.bmp")), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"full.bmp"), 640, 300));
  EXPECT_TRUE(IsBmp(folder.File(L"cleared.bmp"), 640, 300));
  EXPECT_NE(ReadBytes(folder.File(L"full.bmp")), ReadBytes(folder.File(L"cleared.bmp")));
  EXPECT_EQ(graph->AddXYValue(bar, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarBar(bar), S_OK);

  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->Clear(), S_OK);
  EXPECT_EQ(graph->AddBarBar(bar), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(bar, 1), S_OK);
}

TEST_F(NVGraphVtable, SizesApplyToTheCurrentGraphOnly) {
  Bstr legend(L"Q1"), bar(L"North"), data(kBarData);
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  EXPECT_EQ(graph->SetWidth(800), S_OK);
  EXPECT_EQ(graph->SetHeight(400), S_OK);
  ASSERT_EQ(graph->AddBarLegend(legend), S_OK);
  ASSERT_EQ(graph->AddBarBar(bar), S_OK);
  ASSERT_EQ(graph->AddBarValue(10), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"big.bmp")), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"big.bmp"), 800, 400));

  // A drawing method makes a new graph at the object's own size.
  EXPECT_EQ(graph->SetWidth(800), S_OK);
  ASSERT_EQ(graph->DrawBarGraph(*File(L"again.bmp"), data), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"again.bmp"), 640, 300));
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  ASSERT_EQ(graph->AddXYValue(bar, 3), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"xy.bmp")), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"xy.bmp"), 640, 300));
}

TEST_F(NVGraphVtable, EverySaveWritesTheSamePicture) {
  Bstr bar(kBarData), xy(kXYData);
  ASSERT_EQ(graph->DrawBarGraph(*File(L"first.bmp"), bar), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"second.bmp")), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"third.bmp")), S_OK);
  ASSERT_TRUE(IsBmp(folder.File(L"first.bmp"), 640, 300));
  std::string first = ReadBytes(folder.File(L"first.bmp"));
  EXPECT_EQ(ReadBytes(folder.File(L"second.bmp")), first);
  EXPECT_EQ(ReadBytes(folder.File(L"third.bmp")), first);

  ASSERT_EQ(graph->DrawXYGraph(*File(L"first.jpg"), xy), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"second.jpg")), S_OK);
  ASSERT_TRUE(IsJpeg(folder.File(L"first.jpg"), 640, 300));
  EXPECT_EQ(ReadBytes(folder.File(L"second.jpg")), ReadBytes(folder.File(L"first.jpg")));
}

TEST_F(NVGraphVtable, NullAndEmptyStringsAreEmptyTexts) {
  Bstr null, empty(L""), data(kBarData);
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  EXPECT_EQ(graph->AddBarLegend(null), S_OK);
  EXPECT_EQ(graph->AddBarLegend(empty), S_OK);
  EXPECT_EQ(graph->AddBarBar(null), S_OK);
  EXPECT_EQ(graph->AddBarValue(4), S_OK);
  EXPECT_EQ(graph->AddBarBar(empty), S_OK);
  EXPECT_EQ(graph->AddBarValue(2), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"nameless.bmp")), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"nameless.bmp"), 640, 300));

  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->AddXYValue(null, 1), S_OK);
  EXPECT_EQ(graph->AddXYValue(empty, 2), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"unlabelled.jpg")), S_OK);
  EXPECT_TRUE(IsJpeg(folder.File(L"unlabelled.jpg"), 640, 300));

  // No data: a bar graph without bars is still a picture, an XY graph without points is not.
  EXPECT_EQ(graph->DrawBarGraph(*File(L"no-bars.bmp"), null), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"no-bars.bmp"), 640, 300));
  EXPECT_EQ(graph->DrawXYGraph(*File(L"no-points.bmp"), empty), S_OK);
  EXPECT_FALSE(fs::exists(folder.File(L"no-points.bmp")));

  // No file name: nothing is written anywhere, and that is no failure.
  EXPECT_EQ(graph->DrawBarGraph(null, data), S_OK);
  EXPECT_EQ(graph->DrawBarGraph(empty, data), S_OK);
  EXPECT_EQ(graph->SaveToFile(null), S_OK);
  EXPECT_EQ(graph->SaveToFile(empty), S_OK);
  EXPECT_EQ(folder.Names(),
            (std::vector<std::wstring>{L"nameless.bmp", L"no-bars.bmp", L"unlabelled.jpg"}));
}

TEST_F(NVGraphVtable, TextsOutsideTheCodePage) {
  // Characters the ANSI code page lacks: CJK, a pair of surrogates, a lone half of one.
  Bstr cjk(L"\u4e2d\u6587"), emoji(L"\U0001F600"), lone(std::wstring(1, wchar_t(0xD800)) + L"x");
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  EXPECT_EQ(graph->AddBarLegend(cjk), S_OK);
  EXPECT_EQ(graph->AddBarLegend(emoji), S_OK);
  EXPECT_EQ(graph->AddBarBar(lone), S_OK);
  EXPECT_EQ(graph->AddBarValue(1), S_OK);
  EXPECT_EQ(graph->AddBarValue(2), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"texts.jpg")), S_OK);
  EXPECT_TRUE(IsJpeg(folder.File(L"texts.jpg"), 640, 300));
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->AddXYValue(cjk, 1), S_OK);
  EXPECT_EQ(graph->AddXYValue(emoji, 2), S_OK);
  ASSERT_EQ(graph->SaveToFile(*File(L"texts.bmp")), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"texts.bmp"), 640, 300));

  // A file name in the code page reaches the file system as the same characters.
  Bstr data(kBarData);
  EXPECT_EQ(graph->DrawBarGraph(*File(L"w\u00e4rme.bmp"), data), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"w\u00e4rme.bmp"), 640, 300));
  // One outside it cannot be spelled in the code page: no file of that name, and no failure.
  EXPECT_EQ(graph->DrawBarGraph(*File(L"\u4e2d.bmp"), data), S_OK);
  EXPECT_FALSE(fs::exists(folder.File(L"\u4e2d.bmp")));
}

TEST_F(NVGraphVtable, ImpossibleSizesAreTakenAndNothingBreaks) {
  Bstr bar(L"x");
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  int round = 0;
  for (int size : {0, -1, -640, 100000, INT_MAX, INT_MIN}) {
    SCOPED_TRACE(size);
    std::wstring name = L"odd" + std::to_wstring(round++) + L".bmp";
    EXPECT_EQ(graph->SetWidth(size), S_OK);
    EXPECT_EQ(graph->SetHeight(size), S_OK);
    EXPECT_EQ(graph->AddBarBar(bar), S_OK);
    EXPECT_EQ(graph->AddBarValue(1), S_OK);
    EXPECT_EQ(graph->SaveToFile(*File(name)), S_OK);
    // Whatever was written is a whole picture.
    if (fs::exists(folder.File(name))) {
      BmpHeader h;
      std::string bytes = ReadBytes(folder.File(name));
      ASSERT_TRUE(ReadBmpHeader(bytes, &h));
      EXPECT_TRUE(IsBmp(folder.File(name), h.width, h.height));
    }
    EXPECT_EQ(graph->SetHeight(300), S_OK);
  }
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->SetWidth(-5), S_OK);
  EXPECT_EQ(graph->AddXYValue(bar, 1), S_OK);
  EXPECT_EQ(graph->SaveToFile(*File(L"odd.jpg")), S_OK);

  // The object still draws at its own size.
  Bstr data(kBarData);
  ASSERT_EQ(graph->DrawBarGraph(*File(L"after.bmp"), data), S_OK);
  EXPECT_TRUE(IsBmp(folder.File(L"after.bmp"), 640, 300));
}

TEST_F(NVGraphVtable, UnwritableNamesReportSuccessAndWriteNothing) {
  Bstr data(kBarData);
  const std::wstring names[] = {
      folder.File(L"no\\such\\folder\\chart.bmp"),
      folder.File(L"no-such-folder\\chart.jpg"),
      folder.path().wstring(),    // the folder itself
      folder.File(L"chart.PNG"),  // neither ".bmp" nor ".jpg" in it
      folder.File(L"chart.BMP"),  // the extension's case matters
      L"Q:\\no-such-drive\\chart.bmp",
      folder.File(L"bad<name>.bmp"),
  };
  for (const std::wstring& name : names) {
    Bstr file(name);
    EXPECT_EQ(graph->DrawBarGraph(file, data), S_OK) << Utf8(name);
    EXPECT_EQ(graph->SaveToFile(file), S_OK) << Utf8(name);
  }
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(NVGraphVtable, AFailedSaveKeepsTheOldFileAndAGoodOneReplacesItWhole) {
  Bstr data(kBarData), file(folder.File(L"chart.jpg"));
  ASSERT_EQ(graph->DrawBarGraph(file, data), S_OK);
  const std::string old = ReadBytes(folder.File(L"chart.jpg"));
  ASSERT_TRUE(IsJpeg(folder.File(L"chart.jpg"), 640, 300));
  // Wider than a JPEG may be: the method says S_OK as always, and the file stays as it was.
  ASSERT_EQ(graph->SetWidth(70000), S_OK);
  EXPECT_EQ(graph->SaveToFile(file), S_OK);
  EXPECT_EQ(ReadBytes(folder.File(L"chart.jpg")), old);
  EXPECT_EQ(folder.Names(), std::vector<std::wstring>{L"chart.jpg"});
  ASSERT_EQ(graph->SetWidth(320), S_OK);
  EXPECT_EQ(graph->SaveToFile(file), S_OK);
  EXPECT_TRUE(IsJpeg(folder.File(L"chart.jpg"), 320, 300));
  EXPECT_EQ(folder.Names(), std::vector<std::wstring>{L"chart.jpg"});
}

// The control class before any container gives it a window: graphs at the control's extent,
// nothing drawn, files saved as the control would show them.
class VGraphVtable : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Create(CLSID_VGraph, IID_IVGraph, &graph), S_OK); }
  void TearDown() override { graph.reset(); }

  Apartment apartment;
  OutputFolder folder;
  Ref<IVGraph> graph;
};

TEST_F(VGraphVtable, AFreshObjectHasNothingToDrawOrSave) {
  Bstr text(L"x"), file(folder.File(L"none.bmp"));
  EXPECT_EQ(graph->DrawGraph(), S_FALSE);
  EXPECT_EQ(graph->AddBarValue(1), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(text, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarBar(text), S_FALSE);
  EXPECT_EQ(graph->AddBarLegend(text), S_FALSE);
  EXPECT_EQ(graph->Clear(), S_OK);
  EXPECT_EQ(graph->SaveToFile(file), S_OK);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(VGraphVtable, GraphsTakeTheControlsExtentAndSaveAsShown) {
  Bstr data(kBarData), xy(kXYData), label(L"a"), first(folder.File(L"first.bmp")),
      second(folder.File(L"second.bmp")), jpeg(folder.File(L"xy.jpg"));
  ASSERT_EQ(graph->DrawBarGraph(data), S_OK);
  EXPECT_EQ(graph->AddXYValue(label, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarValue(1), S_OK);
  EXPECT_EQ(graph->DrawGraph(), S_OK);
  ASSERT_EQ(graph->SaveToFile(first), S_OK);
  ASSERT_EQ(graph->SaveToFile(second), S_OK);
  BmpHeader h;
  std::string bytes = ReadBytes(folder.File(L"first.bmp"));
  ASSERT_TRUE(ReadBmpHeader(bytes, &h));
  EXPECT_GT(h.width, 0);
  EXPECT_GT(h.height, 0);
  EXPECT_TRUE(IsBmp(folder.File(L"first.bmp"), h.width, h.height));
  EXPECT_EQ(ReadBytes(folder.File(L"second.bmp")), bytes);

  // The next graph has the same extent.
  ASSERT_EQ(graph->DrawXYGraph(xy), S_OK);
  EXPECT_EQ(graph->AddBarValue(1), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(label, 1), S_OK);
  ASSERT_EQ(graph->SaveToFile(jpeg), S_OK);
  EXPECT_TRUE(IsJpeg(folder.File(L"xy.jpg"), h.width, h.height));
}

TEST_F(VGraphVtable, AFailedSaveKeepsTheOldFile) {
  // A control wider than a JPEG may be (70,000 pixels at 96 dpi): its graphs take its extent.
  Ref<IOleObject> ole;
  ASSERT_EQ(graph->QueryInterface(IID_IOleObject, ole.put()), S_OK);
  SIZEL extent{MulDiv(70000, 2540, 96), MulDiv(100, 2540, 96)};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  Bstr data(kBarData), jpeg(folder.File(L"chart.jpg")), bmp(folder.File(L"chart.bmp"));
  std::ofstream(fs::path(folder.File(L"chart.jpg")), std::ios::binary) << "the old picture";
  ASSERT_EQ(graph->DrawBarGraph(data), S_OK);
  EXPECT_EQ(graph->SaveToFile(jpeg), S_OK);
  EXPECT_EQ(ReadBytes(folder.File(L"chart.jpg")), "the old picture");
  // A bitmap has no such limit: the same graph is written.
  EXPECT_EQ(graph->SaveToFile(bmp), S_OK);
  BmpHeader h;
  ASSERT_TRUE(ReadBmpHeader(ReadBytes(folder.File(L"chart.bmp")), &h));
  EXPECT_GT(h.width, 65500);
  EXPECT_EQ(folder.Names(), (std::vector<std::wstring>{L"chart.bmp", L"chart.jpg"}));
}

TEST_F(VGraphVtable, AddingMethodsOnlyFitTheirKind) {
  Bstr text(L"Jan");
  ASSERT_EQ(graph->CreateXYGraph(), S_OK);
  EXPECT_EQ(graph->AddBarBar(text), S_FALSE);
  EXPECT_EQ(graph->AddBarValue(1), S_FALSE);
  EXPECT_EQ(graph->AddXYValue(text, 1), S_OK);
  EXPECT_EQ(graph->Clear(), S_OK);
  EXPECT_EQ(graph->AddXYValue(text, 1), S_OK);
  ASSERT_EQ(graph->CreateBarGraph(), S_OK);
  EXPECT_EQ(graph->AddXYValue(text, 1), S_FALSE);
  EXPECT_EQ(graph->AddBarLegend(text), S_OK);
  EXPECT_EQ(graph->AddBarBar(text), S_OK);
  EXPECT_EQ(graph->DrawGraph(), S_OK);
}

// Objects of both classes are independent of each other, in one apartment.
TEST(Objects, ObjectsOfOneClassKeepTheirOwnGraphs) {
  Apartment apartment;
  OutputFolder folder;
  Ref<INVGraph> a, b;
  ASSERT_EQ(Create(CLSID_NVGraph, IID_INVGraph, &a), S_OK);
  ASSERT_EQ(Create(CLSID_NVGraph, IID_INVGraph, &b), S_OK);
  ASSERT_NE(a.get(), b.get());
  Bstr label(L"a");
  ASSERT_EQ(a->CreateBarGraph(), S_OK);
  ASSERT_EQ(b->CreateXYGraph(), S_OK);
  EXPECT_EQ(a->AddBarBar(label), S_OK);
  EXPECT_EQ(a->AddXYValue(label, 1), S_FALSE);
  EXPECT_EQ(b->AddBarBar(label), S_FALSE);
  EXPECT_EQ(b->AddXYValue(label, 1), S_OK);
}

}  // namespace
}  // namespace norvisk_win_test
