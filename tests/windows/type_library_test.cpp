// The registered type library, read back as automation clients read it: the library, its four
// types in order, and every method with its DISPID, help string, vtable slot and arguments.
#include <vector>

#include "com_support.h"

namespace norvisk_win_test {
namespace {

struct Param {
  const wchar_t* name;
  VARTYPE type;
};

struct Method {
  MEMBERID id;
  const wchar_t* name;
  std::vector<Param> params;
};

const std::vector<Method> kIVGraphMethods = {
    {1, L"DrawBarGraph", {{L"Data", VT_BSTR}}},
    {2, L"DrawXYGraph", {{L"Data", VT_BSTR}}},
    {3, L"AddBarBar", {{L"Legend", VT_BSTR}}},
    {4, L"AddBarLegend", {{L"Legend", VT_BSTR}}},
    {5, L"AddBarValue", {{L"Value", VT_R8}}},
    {6, L"AddXYValue", {{L"Legend", VT_BSTR}, {L"Value", VT_R8}}},
    {7, L"Clear", {}},
    {8, L"CreateBarGraph", {}},
    {9, L"CreateXYGraph", {}},
    {10, L"DrawGraph", {}},
    {11, L"SaveToFile", {{L"FileName", VT_BSTR}}},
};

const std::vector<Method> kINVGraphMethods = {
    {1, L"AddBarBar", {{L"Legend", VT_BSTR}}},
    {2, L"AddBarLegend", {{L"Legend", VT_BSTR}}},
    {3, L"AddBarValue", {{L"Value", VT_R8}}},
    {4, L"AddXYValue", {{L"Legend", VT_BSTR}, {L"Value", VT_R8}}},
    {5, L"Clear", {}},
    {6, L"CreateXYGraph", {}},
    {7, L"SaveToFile", {{L"FileName", VT_BSTR}}},
    {8, L"DrawBarGraph", {{L"FileName", VT_BSTR}, {L"Data", VT_BSTR}}},
    {9, L"DrawXYGraph", {{L"FileName", VT_BSTR}, {L"Data", VT_BSTR}}},
    {10, L"CreateBarGraph", {}},
    {11, L"SetWidth", {{L"Width", VT_INT}}},
    {12, L"SetHeight", {{L"Height", VT_INT}}},
};

// The name and help string of a type (index) or of the library itself (-1).
void Documentation(ITypeLib* library, INT index, std::wstring* name, std::wstring* help) {
  BSTR n = nullptr, h = nullptr;
  ASSERT_EQ(library->GetDocumentation(index, &n, &h, nullptr, nullptr), S_OK);
  *name = n ? n : L"";
  *help = h ? h : L"";
  SysFreeString(n);
  SysFreeString(h);
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(LoadRegTypeLib(LIBID_NORVISKLib, 1, 0, LOCALE_NEUTRAL, library.out()), S_OK);
  }

  // The coclass at `index`: its name, help string, creatable, one default interface `iid`.
  void ExpectCoclass(UINT index, const wchar_t* name, const wchar_t* help, REFCLSID clsid,
                     REFIID iid) {
    SCOPED_TRACE(Utf8(name));
    std::wstring gotName, gotHelp;
    Documentation(library.get(), static_cast<INT>(index), &gotName, &gotHelp);
    EXPECT_EQ(Utf8(gotName), Utf8(name));
    EXPECT_EQ(Utf8(gotHelp), Utf8(help));
    Ref<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfo(index, info.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attr->guid, clsid));
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->cImplTypes, 1);
    info->ReleaseTypeAttr(attr);

    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    Ref<ITypeInfo> implemented;
    ASSERT_EQ(info->GetRefTypeInfo(ref, implemented.out()), S_OK);
    ASSERT_EQ(implemented->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, iid));
    implemented->ReleaseTypeAttr(attr);
  }

  // The dual interface at `index`: as the library lists it (the dispatch side) and its vtable
  // side, with every method in order.
  void ExpectDualInterface(UINT index, const wchar_t* name, const wchar_t* help, REFIID iid,
                           const std::vector<Method>& methods) {
    SCOPED_TRACE(Utf8(name));
    std::wstring gotName, gotHelp;
    Documentation(library.get(), static_cast<INT>(index), &gotName, &gotHelp);
    EXPECT_EQ(Utf8(gotName), Utf8(name));
    EXPECT_EQ(Utf8(gotHelp), Utf8(help));

    Ref<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfo(index, dispatch.out()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(IsEqualGUID(attr->guid, iid));
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
    dispatch->ReleaseTypeAttr(attr);

    // The vtable side: IDispatch's seven methods, then these in order.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    Ref<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.out()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(IsEqualGUID(attr->guid, iid));
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION),
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(attr->cFuncs, methods.size());
    EXPECT_EQ(attr->cImplTypes, 1);
    WORD funcs = attr->cFuncs;
    vtable->ReleaseTypeAttr(attr);

    ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &ref), S_OK);
    Ref<ITypeInfo> base;
    ASSERT_EQ(vtable->GetRefTypeInfo(ref, base.out()), S_OK);
    ASSERT_EQ(base->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IDispatch));
    base->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < funcs && i < methods.size(); ++i) {
      const Method& want = methods[i];
      SCOPED_TRACE(Utf8(want.name));
      FUNCDESC* f = nullptr;
      ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
      EXPECT_EQ(f->memid, want.id);
      EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
      EXPECT_EQ(f->invkind, INVOKE_FUNC);
      EXPECT_EQ(f->callconv, CC_STDCALL);
      EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
      EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
      EXPECT_EQ(f->cParamsOpt, 0);
      ASSERT_EQ(static_cast<std::size_t>(f->cParams), want.params.size());
      for (std::size_t p = 0; p < want.params.size(); ++p) {
        EXPECT_EQ(f->lprgelemdescParam[p].tdesc.vt, want.params[p].type) << "argument " << p;
        EXPECT_EQ(f->lprgelemdescParam[p].paramdesc.wParamFlags, PARAMFLAG_FIN) << "argument " << p;
      }
      vtable->ReleaseFuncDesc(f);

      BSTR names[4] = {};
      UINT count = 0;
      ASSERT_EQ(vtable->GetNames(want.id, names, 4, &count), S_OK);
      std::vector<std::wstring> got;
      for (UINT n = 0; n < count; ++n) {
        got.emplace_back(names[n]);
        SysFreeString(names[n]);
      }
      std::vector<std::wstring> expected = {want.name};
      for (const Param& p : want.params) expected.emplace_back(p.name);
      EXPECT_EQ(got, expected);

      BSTR doc = nullptr;
      ASSERT_EQ(vtable->GetDocumentation(want.id, nullptr, &doc, nullptr, nullptr), S_OK);
      EXPECT_EQ(Utf8(doc ? doc : L""), "method " + Utf8(want.name));
      SysFreeString(doc);
    }
  }

  Ref<ITypeLib> library;
};

TEST_F(TypeLibrary, NameVersionAndHelpString) {
  std::wstring name, help;
  Documentation(library.get(), -1, &name, &help);
  EXPECT_EQ(Utf8(name), "NORVISKLib");
  EXPECT_EQ(Utf8(help), "Norvisk 1.0 Type Library");
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_NORVISKLib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, SYS_WIN64);
  EXPECT_EQ(attr->lcid, 0u);
  library->ReleaseTLibAttr(attr);
}

TEST_F(TypeLibrary, FourTypesInOrder) {
  ASSERT_EQ(library->GetTypeInfoCount(), 4u);
  const GUID* guids[] = {&CLSID_VGraph, &IID_IVGraph, &CLSID_NVGraph, &IID_INVGraph};
  const TYPEKIND kinds[] = {TKIND_COCLASS, TKIND_DISPATCH, TKIND_COCLASS, TKIND_DISPATCH};
  for (UINT i = 0; i < 4; ++i) {
    TYPEKIND kind{};
    ASSERT_EQ(library->GetTypeInfoType(i, &kind), S_OK);
    EXPECT_EQ(kind, kinds[i]) << "type " << i;
    Ref<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(*guids[i], info.out()), S_OK);
    Ref<ITypeLib> containing;
    UINT at = 99;
    ASSERT_EQ(info->GetContainingTypeLib(containing.out(), &at), S_OK);
    EXPECT_EQ(at, i) << "type " << i;
  }
}

TEST_F(TypeLibrary, VGraphCoclassAndItsDualInterface) {
  ExpectCoclass(0, L"VGraph", L"VGraph Class", CLSID_VGraph, IID_IVGraph);
  ExpectDualInterface(1, L"IVGraph", L"IVGraph Interface", IID_IVGraph, kIVGraphMethods);
}

TEST_F(TypeLibrary, NVGraphCoclassAndItsDualInterface) {
  ExpectCoclass(2, L"NVGraph", L"NVGraph Class", CLSID_NVGraph, IID_INVGraph);
  ExpectDualInterface(3, L"INVGraph", L"INVGraph Interface", IID_INVGraph, kINVGraphMethods);
}

// The dispatch side finds every method by name (in any case), as scripts call them.
TEST_F(TypeLibrary, DispatchSideFindsEveryMethodByName) {
  for (auto [iid, methods] :
       {std::pair{&IID_IVGraph, &kIVGraphMethods}, std::pair{&IID_INVGraph, &kINVGraphMethods}}) {
    Ref<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(*iid, info.out()), S_OK);
    for (const Method& m : *methods) {
      std::wstring lower = m.name;
      for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
      for (const std::wstring& spelling : {std::wstring(m.name), lower}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(spelling.c_str())};
        MEMBERID id = 0;
        EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << Utf8(spelling);
        EXPECT_EQ(id, m.id) << Utf8(spelling);
      }
    }
  }
}

}  // namespace
}  // namespace norvisk_win_test
