// The module's entry points and class objects, used as COM uses them: DllGetClassObject,
// DllCanUnloadNow, the class factory with and without an outer object, and the interfaces the
// objects answer and refuse.
#include <ocidl.h>
#include <oleidl.h>

#include "com_support.h"

namespace norvisk_win_test {
namespace {

// Something no module of this build makes.
const CLSID kForeignClsid = {
    0x3C4F7E21, 0x9A1B, 0x4D2E, {0x8F, 0x60, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

void* const kNotTouched = reinterpret_cast<void*>(0x1234);

// An outer object for aggregation. Reference counts and QueryInterface calls are failures of
// the code under test unless the test says it expects them; those it expects are counted.
class OuterUnknown final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!expectQueries) ADD_FAILURE() << "QueryInterface on the outer object";
    ++queries;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override {
    if (!expectCounting) ADD_FAILURE() << "AddRef on the outer object";
    return ++addRefs - releases + 1;
  }
  STDMETHODIMP_(ULONG) Release() override {
    if (!expectCounting) ADD_FAILURE() << "Release on the outer object";
    return addRefs - ++releases + 1;
  }

  bool expectQueries = false;
  bool expectCounting = false;
  int queries = 0;
  int addRefs = 0;
  int releases = 0;
};

class ModuleEntry : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.ok()); }

  HRESULT ClassObject(REFCLSID clsid, Ref<IClassFactory>* factory) {
    return module.getClassObject(clsid, IID_IClassFactory, factory->put());
  }

  Apartment apartment;
  LoadedModule module;
};

TEST_F(ModuleEntry, ClassObjectsOnlyForTheTwoClasses) {
  for (const CLSID* clsid : {&kForeignClsid, &LIBID_NORVISKLib, &IID_INVGraph}) {
    void* object = kNotTouched;
    EXPECT_EQ(module.getClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(module.getClassObject(CLSID_NVGraph, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_EQ(module.getClassObject(kForeignClsid, IID_IClassFactory, nullptr), E_POINTER);

  // A class object answers IUnknown and IClassFactory and nothing else.
  void* object = kNotTouched;
  EXPECT_EQ(module.getClassObject(CLSID_NVGraph, IID_INVGraph, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  object = kNotTouched;
  EXPECT_EQ(module.getClassObject(CLSID_VGraph, IID_IClassFactory2, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  Ref<IUnknown> unknown;
  EXPECT_EQ(module.getClassObject(CLSID_VGraph, IID_IUnknown, unknown.put()), S_OK);
  EXPECT_TRUE(unknown);
}

TEST_F(ModuleEntry, EachClassHasOneClassObject) {
  Ref<IClassFactory> v1, v2, nv1, nv2;
  ASSERT_EQ(ClassObject(CLSID_VGraph, &v1), S_OK);
  ASSERT_EQ(ClassObject(CLSID_VGraph, &v2), S_OK);
  ASSERT_EQ(ClassObject(CLSID_NVGraph, &nv1), S_OK);
  ASSERT_EQ(ClassObject(CLSID_NVGraph, &nv2), S_OK);
  EXPECT_EQ(v1.get(), v2.get());
  EXPECT_EQ(nv1.get(), nv2.get());
  EXPECT_NE(v1.get(), nv1.get());

  // Each makes objects of its own class.
  Ref<INVGraph> graph;
  EXPECT_EQ(nv1->CreateInstance(nullptr, IID_INVGraph, graph.put()), S_OK);
  Ref<IVGraph> control;
  EXPECT_EQ(v1->CreateInstance(nullptr, IID_IVGraph, control.put()), S_OK);
  void* object = kNotTouched;
  EXPECT_EQ(nv1->CreateInstance(nullptr, IID_IVGraph, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(nv1->CreateInstance(nullptr, IID_INVGraph, nullptr), E_POINTER);
}

TEST_F(ModuleEntry, CanUnloadOnlyWithoutObjectsClassObjectsOrLocks) {
  EXPECT_EQ(module.canUnloadNow(), S_OK);
  Ref<IClassFactory> factory;
  ASSERT_EQ(ClassObject(CLSID_NVGraph, &factory), S_OK);
  EXPECT_EQ(module.canUnloadNow(), S_FALSE);  // the class object is held

  Ref<INVGraph> graph;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_INVGraph, graph.put()), S_OK);
  factory.reset();
  EXPECT_EQ(module.canUnloadNow(), S_FALSE);  // an object lives
  graph.reset();
  EXPECT_EQ(module.canUnloadNow(), S_OK);

  ASSERT_EQ(ClassObject(CLSID_VGraph, &factory), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(module.canUnloadNow(), S_FALSE);  // locked
  ASSERT_EQ(ClassObject(CLSID_VGraph, &factory), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.reset();
  EXPECT_EQ(module.canUnloadNow(), S_OK);

  // Objects made through COM by the registered path live in the same module.
  Ref<IVGraph> control;
  ASSERT_EQ(Create(CLSID_VGraph, IID_IVGraph, &control), S_OK);
  EXPECT_EQ(module.canUnloadNow(), S_FALSE);
  control.reset();
  EXPECT_EQ(module.canUnloadNow(), S_OK);
}

class Aggregation : public ModuleEntry, public ::testing::WithParamInterface<const CLSID*> {
 protected:
  const IID& Interface() const { return *GetParam() == CLSID_NVGraph ? IID_INVGraph : IID_IVGraph; }
};

TEST_P(Aggregation, TheInnerUnknownDelegatesToTheOuterObject) {
  Ref<IClassFactory> factory;
  ASSERT_EQ(ClassObject(*GetParam(), &factory), S_OK);
  OuterUnknown outer;
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  ASSERT_NE(inner, nullptr);
  EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
  EXPECT_EQ(module.canUnloadNow(), S_FALSE);

  // The interface comes from the inner unknown, its reference counted by the outer object.
  outer.expectCounting = true;
  IDispatch* dual = nullptr;
  ASSERT_EQ(inner->QueryInterface(Interface(), reinterpret_cast<void**>(&dual)), S_OK);
  EXPECT_EQ(outer.addRefs, 1);
  dual->AddRef();
  EXPECT_EQ(outer.addRefs, 2);
  dual->Release();
  EXPECT_EQ(outer.releases, 1);

  // The interface's methods work on the inner object.
  if (*GetParam() == CLSID_NVGraph) {
    auto* graph = static_cast<INVGraph*>(dual);
    EXPECT_EQ(graph->AddBarValue(1), S_FALSE);
    EXPECT_EQ(graph->CreateBarGraph(), S_OK);
    EXPECT_EQ(graph->AddBarValue(1), S_OK);
  } else {
    auto* control = static_cast<IVGraph*>(dual);
    EXPECT_EQ(control->DrawGraph(), S_FALSE);
    EXPECT_EQ(control->CreateBarGraph(), S_OK);
    EXPECT_EQ(control->DrawGraph(), S_OK);
  }

  // Its QueryInterface is the outer object's.
  outer.expectQueries = true;
  IUnknown* identity = nullptr;
  ASSERT_EQ(dual->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
  EXPECT_EQ(outer.queries, 1);
  identity->Release();
  dual->Release();
  outer.expectQueries = false;
  EXPECT_EQ(outer.addRefs, outer.releases);

  // The inner unknown keeps its own count; IDispatch is the same dual interface.
  IUnknown* again = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, inner);
  EXPECT_EQ(again->Release(), 1u);
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(dispatch, dual);
  dispatch->Release();
  void* refused = kNotTouched;
  EXPECT_EQ(inner->QueryInterface(IID_IPersistStorage, &refused), E_NOINTERFACE);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(outer.addRefs, outer.releases);

  outer.expectCounting = false;
  EXPECT_EQ(inner->Release(), 0u);
  factory.reset();
  EXPECT_EQ(module.canUnloadNow(), S_OK);
}

TEST_P(Aggregation, AnOuterObjectMayOnlyAskForTheInnerUnknown) {
  Ref<IClassFactory> factory;
  ASSERT_EQ(ClassObject(*GetParam(), &factory), S_OK);
  OuterUnknown outer;  // no call on it is expected
  for (const IID* iid : {&IID_IDispatch, &Interface(), &IID_IPersist}) {
    void* object = kNotTouched;
    EXPECT_EQ(factory->CreateInstance(&outer, *iid, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
  }
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, nullptr), E_POINTER);
  factory.reset();
  EXPECT_EQ(module.canUnloadNow(), S_OK);  // nothing was left behind
}

INSTANTIATE_TEST_SUITE_P(BothClasses, Aggregation, ::testing::Values(&CLSID_VGraph, &CLSID_NVGraph),
                         [](const auto& tested) {
                           return std::string(*tested.param == CLSID_VGraph ? "VGraph" : "NVGraph");
                         });

struct ClassInterfaces {
  const char* name;
  const CLSID* clsid;
  const IID* own;
  const IID* other;
};

class Interfaces : public ::testing::TestWithParam<ClassInterfaces> {
 protected:
  Apartment apartment;
};

// NVGraph answers only IUnknown, IDispatch and its dual interface; VGraph, a control, answers
// the control interfaces too (control_interfaces_test), but none of these.
TEST_P(Interfaces, OneIdentityAndNoneOfTheOtherClassesInterfaces) {
  const ClassInterfaces& c = GetParam();
  Ref<IUnknown> object;
  ASSERT_EQ(Create(*c.clsid, IID_IUnknown, &object), S_OK);

  Ref<IDispatch> own, dispatch;
  ASSERT_EQ(object->QueryInterface(*c.own, own.put()), S_OK);
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.put()), S_OK);
  // One identity, whichever interface it is asked through.
  for (IUnknown* through :
       {object.get(), static_cast<IUnknown*>(own.get()), static_cast<IUnknown*>(dispatch.get())}) {
    Ref<IUnknown> identity;
    ASSERT_EQ(through->QueryInterface(IID_IUnknown, identity.put()), S_OK);
    EXPECT_EQ(identity.get(), object.get());
  }
  EXPECT_EQ(own->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  std::vector<const IID*> refusedByAll = {c.other,
                                          &IID_IPersistStorage,
                                          &IID_IDataObject,
                                          &IID_IConnectionPointContainer,
                                          &IID_IProvideClassInfo,
                                          &IID_IProvideClassInfo2,
                                          &IID_IClassFactory};
  if (*c.clsid == CLSID_NVGraph)
    for (const IID* control : {&IID_IPersist, &IID_IPersistStreamInit, &IID_IOleObject,
                               &IID_IViewObject, &IID_IOleInPlaceObject, &IID_IOleControl})
      refusedByAll.push_back(control);
  for (const IID* refused : refusedByAll) {
    void* answer = kNotTouched;
    EXPECT_EQ(object->QueryInterface(*refused, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    answer = kNotTouched;
    EXPECT_EQ(own->QueryInterface(*refused, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    // Nor is an object made for one of them.
    Ref<IUnknown> made;
    EXPECT_EQ(Create(*c.clsid, *refused, &made), E_NOINTERFACE);
    EXPECT_FALSE(made);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothClasses, Interfaces,
    ::testing::Values(ClassInterfaces{"VGraph", &CLSID_VGraph, &IID_IVGraph, &IID_INVGraph},
                      ClassInterfaces{"NVGraph", &CLSID_NVGraph, &IID_INVGraph, &IID_IVGraph}),
    [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace norvisk_win_test
