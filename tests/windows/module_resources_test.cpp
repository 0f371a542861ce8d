// The resources of Norvisk.dll, read from the module loaded as a data file: which resources there
// are and their language, the registration scripts, the type library, the bitmaps, the dialog
// template, the string table and the version information; and the module's exports by ordinal
// and by name.
#include "com_support.h"

#include <winver.h>

#include <cstring>
#include <string_view>
#include <utility>

namespace norvisk_win_test {
namespace {

const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The type library's LIBID.
const GUID kLibId = {0xBD237280, 0x67B7, 0x4894, {0xAF, 0xC2, 0x9E, 0xAA, 0xDD, 0xD5, 0x07, 0x16}};

// The module mapped as data: its resources can be read, none of its code runs.
class DataModule {
 public:
  DataModule() : module_(LoadLibraryExW(ModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    EXPECT_NE(module_, nullptr) << "LoadLibraryEx " << Utf8(ModulePath()) << ": " << GetLastError();
  }
  ~DataModule() {
    if (module_) FreeLibrary(module_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;

  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// The bytes of one resource in US English, or an error.
::testing::AssertionResult Resource(HMODULE module, LPCSTR type, LPCSTR name,
                                    std::string_view* bytes) {
  HRSRC found = FindResourceExA(module, type, name, kUsEnglish);
  if (!found) return ::testing::AssertionFailure() << "FindResourceEx: " << GetLastError();
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(module, found);
  if (!data) return ::testing::AssertionFailure() << "LoadResource: " << GetLastError();
  *bytes = std::string_view(static_cast<const char*>(data), size);
  return ::testing::AssertionSuccess();
}

// A resource type or name as the resource compiler writes it: "#n" for a number.
std::string ResourceId(LPCSTR id) {
  if (!IS_INTRESOURCE(id)) return id;
  char number[16];
  std::snprintf(number, sizeof number, "#%u",
                static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(id)));
  return number;
}

// "TYPE NAME LANGUAGE" for every resource of the module, sorted.
struct ResourceWalk {
  std::string type, name;
  std::vector<std::string> found;
};

BOOL CALLBACK OnLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
  auto* walk = reinterpret_cast<ResourceWalk*>(param);
  char text[8];
  std::snprintf(text, sizeof text, "%04X", language);
  walk->found.push_back(walk->type + " " + walk->name + " " + text);
  return TRUE;
}

BOOL CALLBACK OnName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  auto* walk = reinterpret_cast<ResourceWalk*>(param);
  walk->name = ResourceId(name);
  std::size_t before = walk->found.size();
  EnumResourceLanguagesA(module, type, name, OnLanguage, param);
  if (walk->found.size() == before) walk->found.push_back(walk->type + " " + walk->name + " none");
  return TRUE;
}

BOOL CALLBACK OnType(HMODULE module, LPSTR type, LONG_PTR param) {
  auto* walk = reinterpret_cast<ResourceWalk*>(param);
  walk->type = ResourceId(type);
  EnumResourceNamesA(module, type, OnName, param);
  return TRUE;
}

std::vector<std::string> AllResources(HMODULE module) {
  ResourceWalk walk;
  EnumResourceTypesA(module, OnType, reinterpret_cast<LONG_PTR>(&walk));
  std::sort(walk.found.begin(), walk.found.end());
  return walk.found;
}

std::string SourceFile(const std::string& relative) {
  return ReadBytes(fs::path(DosPath(std::string(NORVISK_SOURCE_DIR) + "/" + relative)));
}

// Reads little-endian fields of a resource in order, never past its end.
class Reader {
 public:
  explicit Reader(std::string_view bytes, std::size_t at = 0) : bytes_(bytes), at_(at) {}

  bool ok() const { return ok_; }
  std::size_t at() const { return at_; }
  std::size_t left() const { return ok_ && at_ <= bytes_.size() ? bytes_.size() - at_ : 0; }

  std::uint32_t Get(int size) {
    if (!ok_ || bytes_.size() - at_ < static_cast<std::size_t>(size)) {
      ok_ = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes_[at_ + i]);
    at_ += static_cast<std::size_t>(size);
    return v;
  }
  WORD Word() { return static_cast<WORD>(Get(2)); }
  DWORD Dword() { return Get(4); }
  short Short() { return static_cast<short>(Get(2)); }

  // A null-terminated string of WCHARs.
  std::wstring WideString() {
    std::wstring text;
    for (WORD c; ok_ && (c = Word()) != 0;) text += static_cast<wchar_t>(c);
    return text;
  }

  // A sz_Or_Ord field of a dialog template: 0 (none), 0xFFFF then an ordinal, or a string.
  struct SzOrOrd {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring text;
  };
  SzOrOrd NameOrOrdinal() {
    SzOrOrd out;
    WORD first = Word();
    if (first == 0xFFFF) {
      out.isOrdinal = true;
      out.ordinal = Word();
    } else if (first != 0) {
      out.text = static_cast<wchar_t>(first) + WideString();
    }
    return out;
  }

  void AlignTo4(std::size_t base) {
    std::size_t aligned = base + ((at_ - base + 3) & ~std::size_t{3});
    if (aligned > bytes_.size()) ok_ = false;
    at_ = aligned;
  }

 private:
  std::string_view bytes_;
  std::size_t at_;
  bool ok_ = true;
};

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module.get(), nullptr); }

  DataModule module;
};

TEST_F(ModuleResources, ExactlyTheseResourcesAllInUsEnglish) {
  std::vector<std::string> expected = {
      "#16 #1 0409",         // VERSION
      "#2 #101 0409",        // BITMAP: the toolbox
      "#2 #202 0409",        // BITMAP: the background
      "#2 #203 0409",        // BITMAP: the logo
      "#5 #103 0409",        // DIALOG
      "#6 #7 0409",          // STRING: the block of numbers 96 to 111
      "REGISTRY #102 0409",  //
      "REGISTRY #106 0409",  //
      "TYPELIB #1 0409",     //
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(AllResources(module.get()), expected);
}

TEST_F(ModuleResources, RegistrationScriptsAreTheSourceFilesByteForByte) {
  const std::pair<int, const char*> scripts[] = {{102, "src/resources/vgraph.rgs"},
                                                 {106, "src/resources/nvgraph.rgs"}};
  for (const auto& [id, file] : scripts) {
    SCOPED_TRACE(file);
    std::string source = SourceFile(file);
    ASSERT_FALSE(source.empty()) << "could not read " << NORVISK_SOURCE_DIR << "/" << file;
    std::string_view bytes;
    ASSERT_TRUE(Resource(module.get(), "REGISTRY", MAKEINTRESOURCEA(id), &bytes));
    EXPECT_EQ(bytes.size(), source.size());
    EXPECT_TRUE(bytes == source) << "REGISTRY " << id << " differs from " << file;
  }
}

TEST_F(ModuleResources, TypeLibraryIsTheComponentsLibrary) {
  std::string_view bytes;
  ASSERT_TRUE(Resource(module.get(), "TYPELIB", MAKEINTRESOURCEA(1), &bytes));
  EXPECT_FALSE(bytes.empty());

  // The module's own library, and the same by its resource number.
  for (const std::wstring& path : {ModulePath(), ModulePath() + L"\\1"}) {
    SCOPED_TRACE(Utf8(path));
    Ref<ITypeLib> library;
    HRESULT status = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.out());
    ASSERT_EQ(status, S_OK) << Hex(status);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, kLibId));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    library->ReleaseTLibAttr(attr);
  }
}

// One bitmap resource: a BITMAPINFOHEADER, its colour table and its rows, nothing more.
void CheckBitmap(HMODULE module, int id, LONG width, LONG height, WORD bits, DWORD colours) {
  SCOPED_TRACE("BITMAP " + std::to_string(id));
  std::string_view bytes;
  ASSERT_TRUE(Resource(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(id), &bytes));
  ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER h;
  std::memcpy(&h, bytes.data(), sizeof h);
  EXPECT_EQ(h.biSize, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(h.biWidth, width);
  EXPECT_EQ(h.biHeight, height);
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, bits);
  EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
  DWORD tableEntries =
      h.biClrUsed != 0 ? h.biClrUsed : (h.biBitCount <= 8 ? 1u << h.biBitCount : 0);
  EXPECT_EQ(tableEntries, colours) << "entries in the colour table";
  std::size_t stride = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
  EXPECT_EQ(bytes.size(), sizeof(BITMAPINFOHEADER) + 4 * colours + stride * height)
      << "the header, " << colours << " colours and " << height << " rows of " << stride
      << " bytes";

  // As a client loads it.
  HBITMAP loaded = static_cast<HBITMAP>(
      LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(loaded, nullptr) << "LoadImage: " << GetLastError();
  BITMAP info{};
  EXPECT_EQ(GetObjectW(loaded, sizeof info, &info), static_cast<int>(sizeof info));
  EXPECT_EQ(info.bmWidth, width);
  EXPECT_EQ(info.bmHeight, height);
  EXPECT_EQ(info.bmBitsPixel, bits);
  DeleteObject(loaded);
}

TEST_F(ModuleResources, Bitmaps) {
  CheckBitmap(module.get(), 101, 16, 16, 4, 16);
  CheckBitmap(module.get(), 202, 640, 300, 8, 256);
  CheckBitmap(module.get(), 203, 180, 142, 24, 0);
}

TEST_F(ModuleResources, DialogIsAnEmptyExtendedChildTemplate) {
  std::string_view bytes;
  ASSERT_TRUE(Resource(module.get(), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(103), &bytes));
  Reader r(bytes);
  EXPECT_EQ(r.Word(), 1) << "dlgVer";
  EXPECT_EQ(r.Word(), 0xFFFF) << "signature";
  EXPECT_EQ(r.Dword(), 0u) << "helpID";
  EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_EX_CONTROLPARENT)) << "exStyle";
  EXPECT_EQ(r.Dword(), static_cast<DWORD>(WS_CHILD | DS_SETFONT)) << "style";
  EXPECT_EQ(r.Word(), 0) << "cDlgItems";
  EXPECT_EQ(r.Short(), 0) << "x";
  EXPECT_EQ(r.Short(), 0) << "y";
  EXPECT_EQ(r.Short(), 416) << "cx";
  EXPECT_EQ(r.Short(), 186) << "cy";
  auto menu = r.NameOrOrdinal();
  EXPECT_FALSE(menu.isOrdinal);
  EXPECT_EQ(menu.text, L"") << "menu";
  auto windowClass = r.NameOrOrdinal();
  EXPECT_FALSE(windowClass.isOrdinal);
  EXPECT_EQ(windowClass.text, L"") << "windowClass";
  EXPECT_EQ(r.WideString(), L"") << "title";
  // The font, there because of DS_SETFONT.
  EXPECT_EQ(r.Word(), 8) << "pointsize";
  EXPECT_EQ(r.Word(), 0) << "weight";
  EXPECT_EQ(r.Get(1), 0u) << "italic";
  EXPECT_EQ(r.Get(1), 1u) << "charset";
  EXPECT_EQ(r.WideString(), L"MS Sans Serif") << "typeface";
  ASSERT_TRUE(r.ok()) << "the template ends early (" << bytes.size() << " bytes)";
  // No items follow: at most the padding to 32 bits.
  EXPECT_LT(r.left(), 4u);
  for (std::size_t rest = r.left(); rest > 0; --rest) EXPECT_EQ(r.Get(1), 0u) << "padding";
}

TEST_F(ModuleResources, StringTableHoldsOnlyTheProjectName) {
  char text[64] = {};
  EXPECT_EQ(LoadStringA(module.get(), 100, text, sizeof text), 7);
  EXPECT_STREQ(text, "Norvisk");
  for (UINT other : {96u, 99u, 101u, 111u}) {
    char none[64] = {};
    EXPECT_EQ(LoadStringA(module.get(), other, none, sizeof none), 0) << "string " << other;
  }

  // The block of strings 96 to 111: sixteen counted strings, the fifth one 100.
  std::string_view bytes;
  ASSERT_TRUE(Resource(module.get(), MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(100 / 16 + 1), &bytes));
  Reader r(bytes);
  for (int i = 0; i < 16; ++i) {
    WORD length = r.Word();
    std::wstring s;
    for (WORD k = 0; k < length; ++k) s += static_cast<wchar_t>(r.Word());
    EXPECT_EQ(Utf8(s), i == 100 % 16 ? "Norvisk" : "") << "string " << 96 + i;
  }
  EXPECT_TRUE(r.ok()) << "the block ends early";
  EXPECT_EQ(r.left(), 0u) << "bytes after the sixteenth string";
}

// One block of a VS_VERSIONINFO: wLength, wValueLength, wType, szKey, padding, value, padding,
// children.
struct VersionBlock {
  WORD length = 0, valueLength = 0, type = 0;
  std::wstring key;
  std::string_view value;  // its bytes
  std::vector<VersionBlock> children;
};

::testing::AssertionResult ReadVersionBlock(std::string_view bytes, std::size_t at,
                                            VersionBlock* block) {
  Reader r(bytes, at);
  block->length = r.Word();
  block->valueLength = r.Word();
  block->type = r.Word();
  block->key = r.WideString();
  r.AlignTo4(0);
  std::size_t end = at + block->length;
  if (!r.ok() || block->length < 6 || end > bytes.size())
    return ::testing::AssertionFailure() << "a block at " << at << " of length " << block->length
                                         << " does not fit in " << bytes.size() << " bytes";
  // A text value's length counts WCHARs, a binary one's bytes.
  std::size_t valueBytes = block->type == 1 ? 2u * block->valueLength : block->valueLength;
  if (r.at() + valueBytes > end)
    return ::testing::AssertionFailure() << Utf8(block->key) << ": value past the block's end";
  block->value = bytes.substr(r.at(), valueBytes);
  std::size_t child = r.at() + valueBytes;
  while (true) {
    child = (child + 3) & ~std::size_t{3};
    if (child >= end) break;
    VersionBlock next;
    if (auto read = ReadVersionBlock(bytes.substr(0, end), child, &next); !read)
      return read << " in " << Utf8(block->key);
    child += next.length;
    block->children.push_back(std::move(next));
  }
  return ::testing::AssertionSuccess();
}

std::wstring TextValue(std::string_view value) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
    auto c = static_cast<wchar_t>(static_cast<unsigned char>(value[i]) |
                                  static_cast<unsigned char>(value[i + 1]) << 8);
    if (c == 0) break;
    text += c;
  }
  return text;
}

std::vector<std::string> Keys(const VersionBlock& block) {
  std::vector<std::string> keys;
  for (const auto& child : block.children) keys.push_back(Utf8(child.key));
  return keys;
}

// The strings of the table 040904b0 in order; nullptr where only presence is checked.
const std::vector<std::pair<const wchar_t*, const wchar_t*>> kVersionStrings = {
    {L"Comments", nullptr},
    {L"CompanyName", nullptr},
    {L"FileDescription", L"Norvisk Module"},
    {L"FileVersion", L"1, 0, 0, 1"},
    {L"InternalName", L"Norvisk"},
    {L"LegalCopyright", nullptr},
    {L"LegalTrademarks", L""},
    {L"OLESelfRegister", L""},
    {L"OriginalFilename", L"Norvisk.DLL"},
    {L"PrivateBuild", L""},
    {L"ProductName", L"Norvisk Module"},
    {L"ProductVersion", L"1, 0, 0, 1"},
    {L"SpecialBuild", L""},
};

class ModuleVersion : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(ModulePath().c_str(), &handle);
    ASSERT_GT(size, 0u) << "GetFileVersionInfoSize: " << GetLastError();
    info.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(ModulePath().c_str(), 0, size, info.data()))
        << "GetFileVersionInfo: " << GetLastError();
  }

  // A value by VerQueryValue: false when there is none.
  bool Query(const std::wstring& path, const void** value, UINT* length) {
    void* found = nullptr;
    *length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &found, length)) return false;
    *value = found;
    return true;
  }

  std::vector<char> info;
};

TEST_F(ModuleVersion, FixedPart) {
  const void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(Query(L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed.dwFileFlags, 0u);
  EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(fixed.dwFileSubtype, 0u);
}

TEST_F(ModuleVersion, OneTranslationUsEnglishUnicode) {
  const void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(Query(L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u) << "one language and code page";
  WORD pair[2];
  std::memcpy(pair, value, sizeof pair);
  EXPECT_EQ(pair[0], 0x0409);
  EXPECT_EQ(pair[1], 0x04B0);
}

TEST_F(ModuleVersion, StringsByQuery) {
  for (const auto& [key, expected] : kVersionStrings) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
    SCOPED_TRACE(Utf8(path));
    const void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(Query(path, &value, &length)) << "absent";
    std::wstring text = length ? std::wstring(static_cast<const wchar_t*>(value),
                                              wcsnlen(static_cast<const wchar_t*>(value), length))
                               : std::wstring();
    if (expected) {
      EXPECT_EQ(Utf8(text), Utf8(expected));
    }
    if (std::wstring(key) == L"Comments") {
      EXPECT_FALSE(text.empty());
      EXPECT_NE(text.find(L"JPEG"), std::wstring::npos) << Utf8(text);
    }
  }
  const void* value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(Query(L"\\StringFileInfo\\040904b0\\Nonexistent", &value, &length));
}

TEST_F(ModuleVersion, RawBlocksInOrder) {
  DataModule module;
  ASSERT_NE(module.get(), nullptr);
  std::string_view bytes;
  ASSERT_TRUE(Resource(module.get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), &bytes));
  VersionBlock root;
  ASSERT_TRUE(ReadVersionBlock(bytes, 0, &root));
  EXPECT_EQ(Utf8(root.key), "VS_VERSION_INFO");
  EXPECT_EQ(root.valueLength, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(root.length, bytes.size()) << "the block is the whole resource";
  ASSERT_EQ(Keys(root), (std::vector<std::string>{"StringFileInfo", "VarFileInfo"}));

  const VersionBlock& strings = root.children[0];
  ASSERT_EQ(Keys(strings), std::vector<std::string>{"040904b0"});
  const VersionBlock& table = strings.children[0];
  std::vector<std::string> expectedKeys;
  for (const auto& entry : kVersionStrings) expectedKeys.push_back(Utf8(entry.first));
  ASSERT_EQ(Keys(table), expectedKeys);
  for (std::size_t i = 0; i < table.children.size(); ++i) {
    const VersionBlock& s = table.children[i];
    SCOPED_TRACE(Utf8(s.key));
    EXPECT_EQ(s.type, 1) << "a text value";
    EXPECT_TRUE(s.children.empty());
    if (kVersionStrings[i].second) {
      EXPECT_EQ(Utf8(TextValue(s.value)), Utf8(kVersionStrings[i].second));
    }
  }

  const VersionBlock& vars = root.children[1];
  ASSERT_EQ(Keys(vars), std::vector<std::string>{"Translation"});
  EXPECT_EQ(vars.children[0].type, 0) << "a binary value";
  EXPECT_EQ(vars.children[0].value, std::string_view("\x09\x04\xB0\x04", 4));
}

TEST(ModuleExports, OrdinalsOneToFourAreTheFourEntryPoints) {
  HMODULE module = LoadLibraryW(ModulePath().c_str());
  ASSERT_NE(module, nullptr) << "LoadLibrary " << Utf8(ModulePath()) << ": " << GetLastError();
  const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                         "DllUnregisterServer"};
  std::vector<FARPROC> seen;
  for (WORD ordinal = 1; ordinal <= 4; ++ordinal) {
    const char* name = names[ordinal - 1];
    SCOPED_TRACE(name);
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    FARPROC byName = GetProcAddress(module, name);
    EXPECT_NE(byName, nullptr);
    EXPECT_EQ(byOrdinal, byName) << "ordinal " << ordinal;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), byName), 0) << "the same as another entry";
    seen.push_back(byName);
  }
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(5)), nullptr) << "an export by ordinal 5";
  FreeLibrary(module);
}

}  // namespace
}  // namespace norvisk_win_test
