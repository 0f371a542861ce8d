// The Windows registry behind the registrar, on scratch keys below HKCU\Software\NorviskTest
// (one per test, as tests run in parallel). Windows only.
#if defined(_WIN32)

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "component/registrar.h"

namespace {

using norvisk::MakeWindowsRegistry;
using norvisk::Registry;

// Reads a REG_SZ value back through the plain API; nullopt when missing or of another type.
std::optional<std::string> ReadString(const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::nullopt;
  char data[512] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG error = RegQueryValueExA(key, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS || type != REG_SZ || size == 0 || data[size - 1] != '\0')
    return std::nullopt;
  return std::string(data, size - 1);
}

bool Exists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

class WindowsRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::string("Software\\NorviskTest\\") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
    registry_ = MakeWindowsRegistry();
    ASSERT_NE(registry_, nullptr);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, scratch_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\NorviskTest");  // only once the last test is gone
  }

  std::string scratch_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(WindowsRegistryTest, CreatesKeysWithTheirParentsAndWritesStrings) {
  const std::string deep = scratch_ + "\\A\\B";
  ASSERT_EQ(registry_->CreateKey("HKCU", deep), S_OK);
  EXPECT_TRUE(Exists(scratch_ + "\\A"));
  EXPECT_TRUE(registry_->KeyExists("HKCU", deep));
  EXPECT_TRUE(
      registry_->KeyExists("HKEY_CURRENT_USER", scratch_ + "\\a\\b"));  // long root, any case
  EXPECT_FALSE(registry_->KeyExists("HKCU", scratch_ + "\\C"));

  ASSERT_EQ(registry_->SetString("HKCU", deep, "", "C:\\Program Files\\Norvisk\\Norvisk.dll, 101"),
            S_OK);
  ASSERT_EQ(registry_->SetString("HKCU", deep, "ThreadingModel", "Apartment"), S_OK);
  ASSERT_EQ(registry_->SetString("HKCU", deep, "Empty", ""), S_OK);
  EXPECT_EQ(ReadString(deep, ""), "C:\\Program Files\\Norvisk\\Norvisk.dll, 101");
  EXPECT_EQ(ReadString(deep, "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadString(deep, "Empty"), "");

  ASSERT_EQ(registry_->SetString("HKCU", deep, "ThreadingModel", "Both"), S_OK);
  EXPECT_EQ(ReadString(deep, "ThreadingModel"), "Both");
  EXPECT_LT(registry_->SetString("HKCU", scratch_ + "\\Missing", "x", "y"), 0);
}

TEST_F(WindowsRegistryTest, EmptyMeansNoSubkeysAndNoNamedValues) {
  const std::string a = scratch_ + "\\A";
  const std::string b = a + "\\B";
  ASSERT_EQ(registry_->CreateKey("HKCU", b), S_OK);
  EXPECT_TRUE(registry_->IsEmpty("HKCU", b));
  EXPECT_FALSE(registry_->IsEmpty("HKCU", a));

  ASSERT_EQ(registry_->SetString("HKCU", b, "", "default only"), S_OK);
  EXPECT_TRUE(registry_->IsEmpty("HKCU", b));
  ASSERT_EQ(registry_->SetString("HKCU", b, "Named", "v"), S_OK);
  EXPECT_FALSE(registry_->IsEmpty("HKCU", b));
  ASSERT_EQ(registry_->DeleteValue("HKCU", b, "Named"), S_OK);
  EXPECT_TRUE(registry_->IsEmpty("HKCU", b));
}

TEST_F(WindowsRegistryTest, DeletesValuesKeysAndTrees) {
  const std::string a = scratch_ + "\\A";
  const std::string b = a + "\\B";
  ASSERT_EQ(registry_->CreateKey("HKCU", b), S_OK);
  ASSERT_EQ(registry_->SetString("HKCU", a, "V", "v"), S_OK);
  ASSERT_EQ(registry_->SetString("HKCU", a, "", "d"), S_OK);

  EXPECT_EQ(registry_->DeleteValue("HKCU", a, "V"), S_OK);
  EXPECT_EQ(ReadString(a, "V"), std::nullopt);
  EXPECT_EQ(ReadString(a, ""), "d");
  EXPECT_EQ(registry_->DeleteValue("HKCU", a, "V"), S_FALSE);
  EXPECT_EQ(registry_->DeleteValue("HKCU", scratch_ + "\\Missing", "V"), S_FALSE);

  EXPECT_LT(registry_->DeleteKey("HKCU", a), 0);  // it still has B
  EXPECT_TRUE(Exists(b));
  EXPECT_EQ(registry_->DeleteKey("HKCU", b), S_OK);
  EXPECT_FALSE(Exists(b));
  EXPECT_EQ(registry_->DeleteKey("HKCU", b), S_FALSE);

  ASSERT_EQ(registry_->CreateKey("HKCU", b + "\\C"), S_OK);
  EXPECT_EQ(registry_->DeleteTree("HKCU", scratch_), S_OK);
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_EQ(registry_->DeleteTree("HKCU", scratch_), S_FALSE);
}

TEST_F(WindowsRegistryTest, RefusesUnknownRootsAndTheRootItself) {
  ASSERT_EQ(registry_->CreateKey("HKCU", scratch_), S_OK);
  EXPECT_EQ(registry_->CreateKey("HKXX", scratch_), E_INVALIDARG);
  EXPECT_FALSE(registry_->KeyExists("HKXX", scratch_));
  for (const char* root : {"HKCU", "HKCR"}) {
    EXPECT_EQ(registry_->DeleteTree(root, ""), E_INVALIDARG) << root;
    EXPECT_EQ(registry_->DeleteKey(root, ""), E_INVALIDARG) << root;
  }
  EXPECT_TRUE(Exists(scratch_));
  EXPECT_TRUE(registry_->KeyExists("HKCR", "CLSID"));
}

TEST_F(WindowsRegistryTest, RunsAScriptBothWays) {
  const std::string script =
      "HKCU { NoRemove Software { NoRemove NorviskTest { ForceRemove " +
      std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
      " = s 'Class' { InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' }"
      " 'MiscStatus' = s '0' { '1' = s '131473' } } } } }";
  const norvisk::Replacements replacements = {{"MODULE", "C:\\dir\\Norvisk.dll"}};
  ASSERT_EQ(registry_->CreateKey("HKCU", scratch_ + "\\Stale"), S_OK);

  ASSERT_EQ(norvisk::RunRegistrationScript(script, true, replacements, *registry_), S_OK);
  EXPECT_EQ(ReadString(scratch_, ""), "Class");
  EXPECT_FALSE(Exists(scratch_ + "\\Stale"));
  EXPECT_EQ(ReadString(scratch_ + "\\InprocServer32", ""), "C:\\dir\\Norvisk.dll");
  EXPECT_EQ(ReadString(scratch_ + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(ReadString(scratch_ + "\\MiscStatus\\1", ""), "131473");

  ASSERT_EQ(norvisk::RunRegistrationScript(script, false, replacements, *registry_), S_OK);
  EXPECT_FALSE(Exists(scratch_));
  EXPECT_TRUE(Exists("Software"));
  EXPECT_EQ(norvisk::RunRegistrationScript(script, false, replacements, *registry_), S_OK);
}

}  // namespace

#endif  // defined(_WIN32)
