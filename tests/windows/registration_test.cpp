// Registration of Norvisk.dll with regsvr32 and through its own entry points: every key and value
// of both classes, the control's categories and the type library; registering again changes
// nothing; unregistering takes it all away and leaves what others own.
//
// These tests change the registry that every other client test relies on, so CTest runs them
// alone, and each one leaves the module registered from the fixture's copy as it found it.
#include <comcat.h>

#include <map>

#include "com_support.h"

namespace norvisk_win_test {
namespace {

constexpr wchar_t kVGraphClsid[] = L"{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}";
constexpr wchar_t kNVGraphClsid[] = L"{DA51C85E-EF30-4F8F-8C07-29EC487E0176}";
constexpr wchar_t kLibid[] = L"{BD237280-67B7-4894-AFC2-9EAADDD50716}";
constexpr wchar_t kIVGraph[] = L"{99A3BE12-B7FD-4822-9819-E7E6BDA0F176}";
constexpr wchar_t kINVGraph[] = L"{EE7AF474-8AE9-4571-8AF9-9A1F34F1B7CC}";
constexpr wchar_t kSafeForScripting[] = L"{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
constexpr wchar_t kSafeForInitializing[] = L"{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
// The automation marshaler every dual interface of a registered type library is given.
constexpr wchar_t kOleAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";

std::wstring ClassKey(const wchar_t* clsid) { return std::wstring(L"CLSID\\") + clsid; }
std::wstring TypeLibKey() { return std::wstring(L"TypeLib\\") + kLibid; }
std::wstring InterfaceKey(const wchar_t* iid) { return std::wstring(L"Interface\\") + iid; }

// Every key of HKCR that registering the module may write.
std::vector<std::wstring> ModuleKeys() {
  return {L"Norvisk.VGraph.1", L"Norvisk.VGraph",      L"Norvisk.NVGraph.1",
          L"Norvisk.NVGraph",  ClassKey(kVGraphClsid), ClassKey(kNVGraphClsid),
          TypeLibKey(),        InterfaceKey(kIVGraph), InterfaceKey(kINVGraph)};
}

bool KeyExists(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// The string value `name` ("" for the default value) of HKCR\<path> is `want`, as REG_SZ.
::testing::AssertionResult HasString(const std::wstring& path, const std::wstring& name,
                                     const std::wstring& want) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "no key HKCR\\" << Utf8(path);
  DWORD type = 0, bytes = 0;
  LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes);
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (status == ERROR_SUCCESS)
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(value.data()), &bytes);
  RegCloseKey(key);
  std::string where =
      "HKCR\\" + Utf8(path) + " [" + (name.empty() ? "(default)" : Utf8(name)) + "]";
  if (status != ERROR_SUCCESS) return ::testing::AssertionFailure() << where << ": no value";
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  if (type != REG_SZ || value != want)
    return ::testing::AssertionFailure() << where << " is \"" << Utf8(value) << "\" of type "
                                         << type << ", not \"" << Utf8(want) << "\" (REG_SZ)";
  return ::testing::AssertionSuccess();
}

// The key exists and has no default value.
::testing::AssertionResult IsBareKey(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "no key HKCR\\" << Utf8(path);
  DWORD bytes = 0;
  LONG status = RegQueryValueExW(key, L"", nullptr, nullptr, nullptr, &bytes);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && bytes > sizeof(wchar_t))
    return ::testing::AssertionFailure() << "HKCR\\" << Utf8(path) << " has a default value";
  return ::testing::AssertionSuccess();
}

// A text dump of a key and everything under it: each key's path, then its values (name, type,
// bytes) and its subkeys, both sorted by name.
void Dump(HKEY parent, const std::wstring& path, std::wstring* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    *out += L"(missing) " + path + L"\n";
    return;
  }
  *out += L"[" + path + L"]\n";
  std::map<std::wstring, std::wstring> values;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLength = static_cast<DWORD>(std::size(name)), type = 0, bytes = 0;
    BYTE data[4096];
    bytes = sizeof data;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &bytes) != ERROR_SUCCESS)
      break;
    std::wstring text = std::to_wstring(type) + L":";
    for (DWORD b = 0; b < bytes; ++b) {
      wchar_t hex[4];
      swprintf(hex, 4, L"%02x", data[b]);
      text += hex;
    }
    values[std::wstring(name, nameLength)] = text;
  }
  for (const auto& [name, text] : values) *out += L"  \"" + name + L"\"=" + text + L"\n";
  std::vector<std::wstring> subkeys;
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLength = static_cast<DWORD>(std::size(name));
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    subkeys.emplace_back(name, nameLength);
  }
  RegCloseKey(key);
  std::sort(subkeys.begin(), subkeys.end());
  for (const std::wstring& subkey : subkeys) Dump(parent, path + L"\\" + subkey, out);
}

std::wstring DumpModuleKeys() {
  std::wstring out;
  for (const std::wstring& key : ModuleKeys()) Dump(HKEY_CLASSES_ROOT, key, &out);
  return out;
}

DWORD Regsvr32(const std::wstring& options) {
  return RunProcess(L"regsvr32.exe " + options + L" " + Quoted(ModulePath()));
}

class Registration : public ::testing::Test {
 protected:
  // Puts back what the fixture left: the module registered from its copy.
  void TearDown() override { EXPECT_EQ(Regsvr32(L"/s"), 0u) << "registering again at the end"; }

  void Unregister() {
    ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
    for (const std::wstring& key : ModuleKeys()) ASSERT_FALSE(KeyExists(key)) << Utf8(key);
  }

  Apartment apartment;
};

TEST_F(Registration, Regsvr32WritesEveryKeyAndValueOfBothClasses) {
  Unregister();
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  const std::wstring module = ModulePath();

  // The ProgIDs, versioned and version-independent.
  EXPECT_TRUE(HasString(L"Norvisk.VGraph.1", L"", L"VGraph Class"));
  EXPECT_TRUE(HasString(L"Norvisk.VGraph.1\\CLSID", L"", kVGraphClsid));
  EXPECT_TRUE(HasString(L"Norvisk.VGraph", L"", L"VGraph Class"));
  EXPECT_TRUE(HasString(L"Norvisk.VGraph\\CLSID", L"", kVGraphClsid));
  EXPECT_TRUE(HasString(L"Norvisk.VGraph\\CurVer", L"", L"Norvisk.VGraph.1"));
  EXPECT_TRUE(HasString(L"Norvisk.NVGraph.1", L"", L"NVGraph Class"));
  EXPECT_TRUE(HasString(L"Norvisk.NVGraph.1\\CLSID", L"", kNVGraphClsid));
  EXPECT_TRUE(HasString(L"Norvisk.NVGraph", L"", L"NVGraph Class"));
  EXPECT_TRUE(HasString(L"Norvisk.NVGraph\\CLSID", L"", kNVGraphClsid));
  EXPECT_TRUE(HasString(L"Norvisk.NVGraph\\CurVer", L"", L"Norvisk.NVGraph.1"));

  // The control class.
  const std::wstring v = ClassKey(kVGraphClsid);
  EXPECT_TRUE(HasString(v, L"", L"VGraph Class"));
  EXPECT_TRUE(HasString(v + L"\\ProgID", L"", L"Norvisk.VGraph.1"));
  EXPECT_TRUE(HasString(v + L"\\VersionIndependentProgID", L"", L"Norvisk.VGraph"));
  EXPECT_TRUE(IsBareKey(v + L"\\Programmable"));
  EXPECT_TRUE(HasString(v + L"\\InprocServer32", L"", module));
  EXPECT_TRUE(HasString(v + L"\\InprocServer32", L"ThreadingModel", L"Apartment"));
  EXPECT_TRUE(IsBareKey(v + L"\\Control"));
  EXPECT_TRUE(HasString(v + L"\\ToolboxBitmap32", L"", module + L", 101"));
  EXPECT_TRUE(HasString(v + L"\\MiscStatus", L"", L"0"));
  EXPECT_TRUE(HasString(v + L"\\MiscStatus\\1", L"", L"131473"));
  EXPECT_TRUE(HasString(v + L"\\TypeLib", L"", kLibid));
  EXPECT_TRUE(HasString(v + L"\\Version", L"", L"1.0"));
  EXPECT_TRUE(KeyExists(v + L"\\Implemented Categories\\" + kSafeForScripting));
  EXPECT_TRUE(KeyExists(v + L"\\Implemented Categories\\" + kSafeForInitializing));

  // The non-visual class: the same without what makes a control.
  const std::wstring nv = ClassKey(kNVGraphClsid);
  EXPECT_TRUE(HasString(nv, L"", L"NVGraph Class"));
  EXPECT_TRUE(HasString(nv + L"\\ProgID", L"", L"Norvisk.NVGraph.1"));
  EXPECT_TRUE(HasString(nv + L"\\VersionIndependentProgID", L"", L"Norvisk.NVGraph"));
  EXPECT_TRUE(IsBareKey(nv + L"\\Programmable"));
  EXPECT_TRUE(HasString(nv + L"\\InprocServer32", L"", module));
  EXPECT_TRUE(HasString(nv + L"\\InprocServer32", L"ThreadingModel", L"Apartment"));
  EXPECT_TRUE(HasString(nv + L"\\TypeLib", L"", kLibid));
  for (const wchar_t* absent :
       {L"Control", L"ToolboxBitmap32", L"MiscStatus", L"Version", L"Implemented Categories"})
    EXPECT_FALSE(KeyExists(nv + L"\\" + absent)) << Utf8(absent);

  // The type library and its two dual interfaces.
  const std::wstring lib = TypeLibKey() + L"\\1.0";
  EXPECT_TRUE(HasString(lib, L"", L"Norvisk 1.0 Type Library"));
  EXPECT_TRUE(HasString(lib + L"\\0\\win64", L"", module));
  EXPECT_TRUE(HasString(lib + L"\\HELPDIR", L"", ModuleFolder()));
  for (auto [iid, name] : {std::pair{kIVGraph, L"IVGraph"}, std::pair{kINVGraph, L"INVGraph"}}) {
    EXPECT_TRUE(HasString(InterfaceKey(iid), L"", name));
    EXPECT_TRUE(HasString(InterfaceKey(iid) + L"\\ProxyStubClsid32", L"", kOleAutomationProxy));
    EXPECT_TRUE(HasString(InterfaceKey(iid) + L"\\TypeLib", L"", kLibid));
    EXPECT_TRUE(HasString(InterfaceKey(iid) + L"\\TypeLib", L"Version", L"1.0"));
  }
}

TEST_F(Registration, ProgIdsLeadToTheClassesAndBack) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NVGraph));
  ASSERT_EQ(CLSIDFromProgID(L"Norvisk.NVGraph.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NVGraph));
  ASSERT_EQ(CLSIDFromProgID(L"Norvisk.VGraph", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VGraph));
  ASSERT_EQ(CLSIDFromProgID(L"Norvisk.VGraph.1", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VGraph));

  for (auto [id, progId] : {std::pair{&CLSID_NVGraph, L"Norvisk.NVGraph.1"},
                            std::pair{&CLSID_VGraph, L"Norvisk.VGraph.1"}}) {
    LPOLESTR name = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(*id, &name), S_OK);
    EXPECT_EQ(std::wstring(name), progId);
    CoTaskMemFree(name);
  }

  // The category manager sees the control's two categories, and none for the other class.
  Ref<ICatInformation> categories;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICatInformation, categories.put()),
            S_OK);
  CATID wanted[2];
  ASSERT_EQ(CLSIDFromString(kSafeForScripting, &wanted[0]), S_OK);
  ASSERT_EQ(CLSIDFromString(kSafeForInitializing, &wanted[1]), S_OK);
  EXPECT_EQ(categories->IsClassOfCategories(CLSID_VGraph, 2, wanted, 0, wanted), S_OK);
  EXPECT_EQ(categories->IsClassOfCategories(CLSID_NVGraph, 1, wanted, 0, wanted), S_FALSE);
}

TEST_F(Registration, RegisteringTwiceLeavesWhatRegisteringOnceLeft) {
  Unregister();
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  std::wstring once = DumpModuleKeys();
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  std::wstring twice = DumpModuleKeys();
  EXPECT_EQ(Utf8(twice), Utf8(once));
  // Both dumps hold every key, so the comparison covers them.
  for (const std::wstring& key : ModuleKeys())
    EXPECT_NE(once.find(L"[" + key + L"]"), std::wstring::npos) << Utf8(key);
  EXPECT_EQ(once.find(L"(missing)"), std::wstring::npos);
}

TEST_F(Registration, RegisteringReplacesAStaleClassKey) {
  // Left behind by some older build: a key and a value the scripts do not write.
  const std::wstring nv = ClassKey(kNVGraphClsid);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (nv + L"\\Stale").c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, (nv + L"\\InprocServer32").c_str(), L"Stale", REG_SZ,
                            L"x", 4),
            ERROR_SUCCESS);
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  EXPECT_FALSE(KeyExists(nv + L"\\Stale"));
  EXPECT_TRUE(HasString(nv + L"\\InprocServer32", L"", ModulePath()));
  HKEY server = nullptr;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CLASSES_ROOT, (nv + L"\\InprocServer32").c_str(), 0, KEY_READ, &server),
      ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(server, L"Stale", nullptr, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(server);
}

TEST_F(Registration, UnregisteringRemovesTheClassesProgIdsAndTypeLibraryOnly) {
  // Someone else's class beside ours, and the category keys the manager keeps.
  const std::wstring other = L"CLSID\\{0B5A6E2C-31D5-4E59-9C0A-6D1E2F3A4B5C}";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, other.c_str(), nullptr, REG_SZ, L"Other", 12),
            ERROR_SUCCESS);
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  ASSERT_TRUE(KeyExists(ClassKey(kNVGraphClsid)));

  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);
  for (const std::wstring& key : ModuleKeys()) EXPECT_FALSE(KeyExists(key)) << Utf8(key);
  EXPECT_TRUE(KeyExists(L"CLSID"));
  EXPECT_TRUE(HasString(other, L"", L"Other"));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, other.c_str()), ERROR_SUCCESS);

  // Unregistering what is not registered is no failure.
  EXPECT_EQ(Regsvr32(L"/u /s"), 0u);
}

TEST_F(Registration, EntryPointsThroughLoadLibraryMatchRegsvr32) {
  Unregister();
  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  std::wstring byRegsvr32 = DumpModuleKeys();
  ASSERT_EQ(Regsvr32(L"/u /s"), 0u);

  LoadedModule module;
  ASSERT_TRUE(module.ok());
  ASSERT_EQ(module.registerServer(), S_OK);
  EXPECT_EQ(Utf8(DumpModuleKeys()), Utf8(byRegsvr32));
  EXPECT_EQ(module.registerServer(), S_OK);
  EXPECT_EQ(Utf8(DumpModuleKeys()), Utf8(byRegsvr32));

  EXPECT_EQ(module.unregisterServer(), S_OK);
  for (const std::wstring& key : ModuleKeys()) EXPECT_FALSE(KeyExists(key)) << Utf8(key);
  EXPECT_EQ(module.unregisterServer(), S_OK);
}

TEST_F(Registration, ClientsFindNothingOnceUnregistered) {
  const fs::path script = fs::temp_directory_path() / "norvisk-registration-client.run";
  std::ofstream(script, std::ios::binary) << "CreateBarGraph\nAddBarLegend Q1\n";
  const std::wstring command =
      Quoted(DosPath(NORVISK_EXE)) + L" run --com " + Quoted(script.wstring());

  Unregister();
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid), CO_E_CLASSSTRING);
  Ref<INVGraph> graph;
  EXPECT_EQ(Create(CLSID_NVGraph, IID_INVGraph, &graph), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(graph);
  Ref<ITypeLib> library;
  EXPECT_EQ(LoadRegTypeLib(LIBID_NORVISKLib, 1, 0, LOCALE_NEUTRAL, library.out()),
            TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(RunProcess(command), 1u) << "run --com without the class";

  ASSERT_EQ(Regsvr32(L"/s"), 0u);
  EXPECT_EQ(CLSIDFromProgID(L"Norvisk.NVGraph", &clsid), S_OK);
  EXPECT_EQ(Create(CLSID_NVGraph, IID_INVGraph, &graph), S_OK);
  EXPECT_EQ(LoadRegTypeLib(LIBID_NORVISKLib, 1, 0, LOCALE_NEUTRAL, library.out()), S_OK);
  EXPECT_EQ(RunProcess(command), 0u) << "run --com with the class";
  graph.reset();
  library.reset();
  fs::remove(script);
}

}  // namespace
}  // namespace norvisk_win_test
