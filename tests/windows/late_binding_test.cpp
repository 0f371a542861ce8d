// Late-bound clients: both classes made by ProgID and called through IDispatch, as script hosts
// call them: names to DISPIDs, arguments as VARIANTs, statuses and errors as Invoke reports them.
#include <vector>

#include "com_support.h"

namespace norvisk_win_test {
namespace {

// An object made by its ProgID, called by method names.
class LateBound {
 public:
  explicit LateBound(const wchar_t* progId) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << Utf8(progId);
    EXPECT_EQ(Create(clsid, IID_IDispatch, &object), S_OK) << Utf8(progId);
  }

  HRESULT Id(const std::wstring& name, DISPID* id) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
  }

  // Invoke by name; what GetIDsOfNames reported when the name is unknown.
  HRESULT Call(const std::wstring& name, const DispatchArgs& args = DispatchArgs()) {
    DISPID id = 0;
    if (HRESULT hr = Id(name, &id); FAILED(hr)) return hr;
    DISPPARAMS params = args.Params();
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT argError = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                &result, &info, &argError);
    // A method returning only a status gives no value.
    EXPECT_EQ(V_VT(&result), VT_EMPTY) << Utf8(name);
    VariantClear(&result);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return hr;
  }

  Ref<IDispatch> object;
};

class NVGraphDispatch : public ::testing::Test {
 protected:
  Apartment apartment;
  OutputFolder folder;
  LateBound graph{L"Norvisk.NVGraph"};
};

TEST_F(NVGraphDispatch, NamesGiveTheDocumentedDispids) {
  const wchar_t* names[] = {L"AddBarBar",   L"AddBarLegend",   L"AddBarValue", L"AddXYValue",
                            L"Clear",       L"CreateXYGraph",  L"SaveToFile",  L"DrawBarGraph",
                            L"DrawXYGraph", L"CreateBarGraph", L"SetWidth",    L"SetHeight"};
  DISPID want = 1;
  for (const wchar_t* name : names) {
    DISPID id = 0;
    EXPECT_EQ(graph.Id(name, &id), S_OK) << Utf8(name);
    EXPECT_EQ(id, want++) << Utf8(name);
  }
  DISPID id = 0;
  EXPECT_EQ(graph.Id(L"drawbargraph", &id), S_OK);  // names are not case-sensitive
  EXPECT_EQ(id, 8);
}

TEST_F(NVGraphDispatch, UnknownNamesAndMembers) {
  DISPID id = 123;
  EXPECT_EQ(graph.Id(L"DrawGraph", &id), DISP_E_UNKNOWNNAME);  // IVGraph's, not INVGraph's
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_EQ(graph.Id(L"NoSuchMethod", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  // A method name with its argument names: unknown argument names are reported as such.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"SaveToFile"), const_cast<LPOLESTR>(L"FileName"),
                      const_cast<LPOLESTR>(L"Nope")};
  DISPID ids[3] = {};
  EXPECT_EQ(graph.object->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 7);
  EXPECT_EQ(ids[1], 0);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);

  // Other interfaces' name spaces are not there.
  IID other = IID_INVGraph;
  EXPECT_EQ(graph.object->GetIDsOfNames(other, names, 1, LOCALE_USER_DEFAULT, ids),
            DISP_E_UNKNOWNINTERFACE);

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(graph.object->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                 nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(graph.object->Invoke(5, other, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                 nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

// Methods whose vtable status is S_FALSE succeed through Invoke: the dispatch layer reports
// S_OK for every success code.
TEST_F(NVGraphDispatch, InvokeTurnsSFalseIntoSOk) {
  Ref<INVGraph> vtable;
  ASSERT_EQ(graph.object->QueryInterface(IID_INVGraph, vtable.put()), S_OK);
  Bstr label(L"a");
  // The same calls, first through the vtable, on a fresh object.
  ASSERT_EQ(vtable->AddBarValue(1), S_FALSE);
  ASSERT_EQ(vtable->SetWidth(800), S_FALSE);
  EXPECT_EQ(graph.Call(L"AddBarValue", DispatchArgs().Number(1)), S_OK);
  EXPECT_EQ(graph.Call(L"AddXYValue", DispatchArgs().Text(L"a").Number(1)), S_OK);
  EXPECT_EQ(graph.Call(L"AddBarBar", DispatchArgs().Text(L"a")), S_OK);
  EXPECT_EQ(graph.Call(L"SetWidth", DispatchArgs().Integer(800)), S_OK);
  EXPECT_EQ(graph.Call(L"CreateXYGraph"), S_OK);
  ASSERT_EQ(vtable->AddBarBar(label), S_FALSE);
  EXPECT_EQ(graph.Call(L"AddBarBar", DispatchArgs().Text(L"a")), S_OK);
}

TEST_F(NVGraphDispatch, CallsReachTheObject) {
  const std::wstring bar = folder.File(L"bar.bmp"), copy = folder.File(L"copy.bmp"),
                     xy = folder.File(L"xy.jpg"), big = folder.File(L"big.bmp");
  EXPECT_EQ(graph.Call(L"DrawBarGraph", DispatchArgs().Text(bar).Text(L"(Q1;Q2)(North;10;20)")),
            S_OK);
  EXPECT_EQ(graph.Call(L"SaveToFile", DispatchArgs().Text(copy)), S_OK);
  EXPECT_TRUE(IsBmp(bar, 640, 300));
  EXPECT_EQ(ReadBytes(copy), ReadBytes(bar));

  EXPECT_EQ(graph.Call(L"CreateXYGraph"), S_OK);
  EXPECT_EQ(graph.Call(L"AddXYValue", DispatchArgs().Text(L"Jan").Number(10)), S_OK);
  EXPECT_EQ(graph.Call(L"AddXYValue", DispatchArgs().Text(L"Feb").Number(20)), S_OK);
  EXPECT_EQ(graph.Call(L"SaveToFile", DispatchArgs().Text(xy)), S_OK);
  EXPECT_TRUE(IsJpeg(xy, 640, 300));

  EXPECT_EQ(graph.Call(L"CreateBarGraph"), S_OK);
  EXPECT_EQ(graph.Call(L"SetWidth", DispatchArgs().Integer(800)), S_OK);
  EXPECT_EQ(graph.Call(L"SetHeight", DispatchArgs().Number(400)), S_OK);  // converted to int
  EXPECT_EQ(graph.Call(L"AddBarLegend", DispatchArgs().Text(L"Q1")), S_OK);
  EXPECT_EQ(graph.Call(L"AddBarBar", DispatchArgs().Text(L"North")), S_OK);
  EXPECT_EQ(graph.Call(L"AddBarValue", DispatchArgs().Text(L"12.5")), S_OK);  // converted to double
  EXPECT_EQ(graph.Call(L"SaveToFile", DispatchArgs().Text(big)), S_OK);
  EXPECT_TRUE(IsBmp(big, 800, 400));
}

TEST_F(NVGraphDispatch, WrongArgumentsAreRefusedBeforeTheCall) {
  const std::wstring file = folder.File(L"never.bmp");
  EXPECT_EQ(graph.Call(L"DrawBarGraph", DispatchArgs().Text(file)), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"DrawBarGraph", DispatchArgs().Text(file).Text(L"(A)(x;1)").Text(L"x")),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"Clear", DispatchArgs().Number(1)), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"AddXYValue", DispatchArgs().Text(L"a")), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"SaveToFile"), DISP_E_BADPARAMCOUNT);

  // Arguments that cannot be converted to the declared types.
  EXPECT_EQ(graph.Call(L"AddBarValue", DispatchArgs().Text(L"not a number")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(graph.Call(L"AddXYValue", DispatchArgs().Text(L"a").Text(L"b")), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(graph.Call(L"SetWidth", DispatchArgs().Text(L"wide")), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(folder.Names().empty());

  // None of them reached the object: it still has no graph.
  Ref<INVGraph> vtable;
  ASSERT_EQ(graph.object->QueryInterface(IID_INVGraph, vtable.put()), S_OK);
  EXPECT_EQ(vtable->SetWidth(1), S_FALSE);
}

TEST_F(NVGraphDispatch, TypeInformationIsTheInterfaces) {
  UINT count = 0;
  ASSERT_EQ(graph.object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Ref<ITypeInfo> info;
  ASSERT_EQ(graph.object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_INVGraph));
  info->ReleaseTypeAttr(attr);
  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(graph.object->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(graph.object->GetTypeInfoCount(nullptr), E_POINTER);
}

class VGraphDispatch : public ::testing::Test {
 protected:
  Apartment apartment;
  OutputFolder folder;
  LateBound graph{L"Norvisk.VGraph"};
};

TEST_F(VGraphDispatch, NamesStatusesAndErrors) {
  const wchar_t* names[] = {L"DrawBarGraph",  L"DrawXYGraph", L"AddBarBar", L"AddBarLegend",
                            L"AddBarValue",   L"AddXYValue",  L"Clear",     L"CreateBarGraph",
                            L"CreateXYGraph", L"DrawGraph",   L"SaveToFile"};
  DISPID want = 1;
  for (const wchar_t* name : names) {
    DISPID id = 0;
    EXPECT_EQ(graph.Id(name, &id), S_OK) << Utf8(name);
    EXPECT_EQ(id, want++) << Utf8(name);
  }
  DISPID id = 0;
  EXPECT_EQ(graph.Id(L"SetWidth", &id), DISP_E_UNKNOWNNAME);  // INVGraph's only

  // DrawGraph without a graph: S_FALSE through the vtable, S_OK through Invoke.
  Ref<IVGraph> vtable;
  ASSERT_EQ(graph.object->QueryInterface(IID_IVGraph, vtable.put()), S_OK);
  ASSERT_EQ(vtable->DrawGraph(), S_FALSE);
  EXPECT_EQ(graph.Call(L"DrawGraph"), S_OK);

  EXPECT_EQ(graph.Call(L"DrawBarGraph", DispatchArgs().Text(L"(A)(x;1)")), S_OK);
  EXPECT_EQ(vtable->AddBarValue(2), S_OK);  // the call made a bar graph
  EXPECT_EQ(graph.Call(L"SaveToFile", DispatchArgs().Text(folder.File(L"v.bmp"))), S_OK);
  BmpHeader h;
  EXPECT_TRUE(ReadBmpHeader(ReadBytes(folder.File(L"v.bmp")), &h));

  EXPECT_EQ(graph.Call(L"DrawBarGraph"), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"DrawGraph", DispatchArgs().Number(1)), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(graph.Call(L"Nope"), DISP_E_UNKNOWNNAME);
}

}  // namespace
}  // namespace norvisk_win_test
