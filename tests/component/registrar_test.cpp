// The registrar against an in-memory registry that behaves like the platform's (names without
// regard to case, a key with subkeys cannot be deleted on its own) and can fail on demand.
#include "component/registrar.h"
#include "support/memory_registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using norvisk::kRegistrarScriptError;
using norvisk::Registry;
using norvisk::Replacements;
using norvisk::RunRegistrationScript;

using norvisk_test::kAccessDenied;
using norvisk_test::MemoryRegistry;

const char kVGraphScript[] = R"(HKCR
{
	Norvisk.VGraph.1 = s 'VGraph Class'
	{
		CLSID = s '{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}'
	}
	Norvisk.VGraph = s 'VGraph Class'
	{
		CLSID = s '{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}'
		CurVer = s 'Norvisk.VGraph.1'
	}
	NoRemove CLSID
	{
		ForceRemove {7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B} = s 'VGraph Class'
		{
			ProgID = s 'Norvisk.VGraph.1'
			VersionIndependentProgID = s 'Norvisk.VGraph'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			ForceRemove 'Control'
			ForceRemove 'ToolboxBitmap32' = s '%MODULE%, 101'
			'MiscStatus' = s '0'
			{
			    '1' = s '131473'
			}
			'TypeLib' = s '{BD237280-67B7-4894-AFC2-9EAADDD50716}'
			'Version' = s '1.0'
		}
	}
}
)";

const char kNVGraphScript[] = R"(HKCR
{
	Norvisk.NVGraph.1 = s 'NVGraph Class'
	{
		CLSID = s '{DA51C85E-EF30-4F8F-8C07-29EC487E0176}'
	}
	Norvisk.NVGraph = s 'NVGraph Class'
	{
		CLSID = s '{DA51C85E-EF30-4F8F-8C07-29EC487E0176}'
		CurVer = s 'Norvisk.NVGraph.1'
	}
	NoRemove CLSID
	{
		ForceRemove {DA51C85E-EF30-4F8F-8C07-29EC487E0176} = s 'NVGraph Class'
		{
			ProgID = s 'Norvisk.NVGraph.1'
			VersionIndependentProgID = s 'Norvisk.NVGraph'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{BD237280-67B7-4894-AFC2-9EAADDD50716}'
		}
	}
}
)";

const char kModule[] = "C:\\Program Files\\Norvisk\\Norvisk.dll";
const Replacements kReplacements = {{"MODULE", kModule}};

const std::string kVGraphClass = "HKCR\\CLSID\\{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}";
const std::string kNVGraphClass = "HKCR\\CLSID\\{DA51C85E-EF30-4F8F-8C07-29EC487E0176}";

std::set<std::string> ExpectedVGraph() {
  const std::string c = kVGraphClass;
  const std::string module = kModule;
  return {
      "HKCR\\Norvisk.VGraph.1",
      "HKCR\\Norvisk.VGraph.1|@=VGraph Class",
      "HKCR\\Norvisk.VGraph.1\\CLSID",
      "HKCR\\Norvisk.VGraph.1\\CLSID|@={7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}",
      "HKCR\\Norvisk.VGraph",
      "HKCR\\Norvisk.VGraph|@=VGraph Class",
      "HKCR\\Norvisk.VGraph\\CLSID",
      "HKCR\\Norvisk.VGraph\\CLSID|@={7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}",
      "HKCR\\Norvisk.VGraph\\CurVer",
      "HKCR\\Norvisk.VGraph\\CurVer|@=Norvisk.VGraph.1",
      "HKCR\\CLSID",
      c,
      c + "|@=VGraph Class",
      c + "\\ProgID",
      c + "\\ProgID|@=Norvisk.VGraph.1",
      c + "\\VersionIndependentProgID",
      c + "\\VersionIndependentProgID|@=Norvisk.VGraph",
      c + "\\Programmable",
      c + "\\InprocServer32",
      c + "\\InprocServer32|@=" + module,
      c + "\\InprocServer32|ThreadingModel=Apartment",
      c + "\\Control",
      c + "\\ToolboxBitmap32",
      c + "\\ToolboxBitmap32|@=" + module + ", 101",
      c + "\\MiscStatus",
      c + "\\MiscStatus|@=0",
      c + "\\MiscStatus\\1",
      c + "\\MiscStatus\\1|@=131473",
      c + "\\TypeLib",
      c + "\\TypeLib|@={BD237280-67B7-4894-AFC2-9EAADDD50716}",
      c + "\\Version",
      c + "\\Version|@=1.0",
  };
}

std::set<std::string> ExpectedNVGraph() {
  const std::string c = kNVGraphClass;
  return {
      "HKCR\\Norvisk.NVGraph.1",
      "HKCR\\Norvisk.NVGraph.1|@=NVGraph Class",
      "HKCR\\Norvisk.NVGraph.1\\CLSID",
      "HKCR\\Norvisk.NVGraph.1\\CLSID|@={DA51C85E-EF30-4F8F-8C07-29EC487E0176}",
      "HKCR\\Norvisk.NVGraph",
      "HKCR\\Norvisk.NVGraph|@=NVGraph Class",
      "HKCR\\Norvisk.NVGraph\\CLSID",
      "HKCR\\Norvisk.NVGraph\\CLSID|@={DA51C85E-EF30-4F8F-8C07-29EC487E0176}",
      "HKCR\\Norvisk.NVGraph\\CurVer",
      "HKCR\\Norvisk.NVGraph\\CurVer|@=Norvisk.NVGraph.1",
      "HKCR\\CLSID",
      c,
      c + "|@=NVGraph Class",
      c + "\\ProgID",
      c + "\\ProgID|@=Norvisk.NVGraph.1",
      c + "\\VersionIndependentProgID",
      c + "\\VersionIndependentProgID|@=Norvisk.NVGraph",
      c + "\\Programmable",
      c + "\\InprocServer32",
      c + "\\InprocServer32|@=" + std::string(kModule),
      c + "\\InprocServer32|ThreadingModel=Apartment",
      c + "\\TypeLib",
      c + "\\TypeLib|@={BD237280-67B7-4894-AFC2-9EAADDD50716}",
  };
}

std::set<std::string> Union(std::set<std::string> a, const std::set<std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

HRESULT Register(std::string_view script, Registry& registry) {
  return RunRegistrationScript(script, true, kReplacements, registry);
}
HRESULT Unregister(std::string_view script, Registry& registry) {
  return RunRegistrationScript(script, false, kReplacements, registry);
}

// Another component's class and an unrelated class key, which the scripts must never touch.
void PutNeighbours(MemoryRegistry& registry) {
  registry.PutValue("HKCR", "CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Other Class");
  registry.PutValue("HKCR", "CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32", "",
                    "other.dll");
  registry.PutValue("HKCR", ".txt", "", "txtfile");
}

// --- The component's scripts --------------------------------------------------------------

TEST(RegistrarScripts, RegisterIntoAnEmptyRegistryWritesExactlyTheScriptsKeys) {
  MemoryRegistry vgraph;
  ASSERT_EQ(Register(kVGraphScript, vgraph), S_OK);
  EXPECT_EQ(vgraph.Entries(), ExpectedVGraph());

  MemoryRegistry nvgraph;
  ASSERT_EQ(Register(kNVGraphScript, nvgraph), S_OK);
  EXPECT_EQ(nvgraph.Entries(), ExpectedNVGraph());

  MemoryRegistry both;
  ASSERT_EQ(Register(kVGraphScript, both), S_OK);
  ASSERT_EQ(Register(kNVGraphScript, both), S_OK);
  EXPECT_EQ(both.Entries(), Union(ExpectedVGraph(), ExpectedNVGraph()));
}

TEST(RegistrarScripts, RegisteringTwiceEqualsRegisteringOnce) {
  MemoryRegistry once;
  PutNeighbours(once);
  ASSERT_EQ(Register(kVGraphScript, once), S_OK);
  ASSERT_EQ(Register(kNVGraphScript, once), S_OK);

  MemoryRegistry twice;
  PutNeighbours(twice);
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Register(kVGraphScript, twice), S_OK);
    ASSERT_EQ(Register(kNVGraphScript, twice), S_OK);
  }
  EXPECT_EQ(twice.Entries(), once.Entries());
}

TEST(RegistrarScripts, ReRegistrationWipesWhatIsStaleUnderForceRemoveKeys) {
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  const std::string c = "CLSID\\{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}";
  registry.PutValue("HKCR", c + "\\Implemented Categories\\{0DE86A52-2BAA-11CF-A229-00AA003D7352}",
                    "", "");
  registry.PutValue("HKCR", c, "Stale", "yes");
  registry.PutValue("HKCR", c + "\\InprocServer32", "", "C:\\old\\Norvisk.dll");
  registry.PutValue("HKCR", c + "\\InprocServer32", "ThreadingModel", "Both");

  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), ExpectedVGraph());
}

TEST(RegistrarScripts, ReRegistrationKeepsForeignEntriesOfPlainKeys) {
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  registry.PutValue("HKCR", "Norvisk.VGraph\\Foreign", "", "kept");
  registry.PutValue("HKCR", "Norvisk.VGraph\\CurVer", "", "Norvisk.VGraph.0");

  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  std::set<std::string> expected = ExpectedVGraph();
  expected.insert("HKCR\\Norvisk.VGraph\\Foreign");
  expected.insert("HKCR\\Norvisk.VGraph\\Foreign|@=kept");
  EXPECT_EQ(registry.Entries(), expected);  // CurVer is set again, the foreign key stays
}

TEST(RegistrarScripts, UnregisterRemovesTheClassAndItsProgIdsButKeepsClsidAndNeighbours) {
  MemoryRegistry registry;
  PutNeighbours(registry);
  const std::set<std::string> before = registry.Entries();
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  ASSERT_EQ(Register(kNVGraphScript, registry), S_OK);
  // ForceRemove takes what others put under the class key along with it.
  registry.PutValue("HKCR", "CLSID\\{7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}\\Added", "x", "y");

  ASSERT_EQ(Unregister(kVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), Union(before, ExpectedNVGraph()));

  ASSERT_EQ(Unregister(kNVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), before);
}

TEST(RegistrarScripts, UnregisterOnItsOwnLeavesClsidInPlace) {
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  ASSERT_EQ(Unregister(kVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), std::set<std::string>{"HKCR\\CLSID"});
}

TEST(RegistrarScripts, UnregisterKeepsAPlainKeyThatStillHoldsForeignEntries) {
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  registry.Put("HKCR", "Norvisk.VGraph\\Shell");
  registry.PutValue("HKCR", "Norvisk.VGraph.1", "EditFlags", "0");

  ASSERT_EQ(Unregister(kVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), (std::set<std::string>{
                                    "HKCR\\CLSID",
                                    "HKCR\\Norvisk.VGraph",
                                    "HKCR\\Norvisk.VGraph|@=VGraph Class",
                                    "HKCR\\Norvisk.VGraph\\Shell",
                                    "HKCR\\Norvisk.VGraph.1",
                                    "HKCR\\Norvisk.VGraph.1|@=VGraph Class",
                                    "HKCR\\Norvisk.VGraph.1|EditFlags=0",
                                }));
}

TEST(RegistrarScripts, UnregisteringWhatIsNotThereSucceedsAndWritesNothing) {
  MemoryRegistry empty;
  EXPECT_EQ(Unregister(kVGraphScript, empty), S_OK);
  EXPECT_EQ(Unregister(kNVGraphScript, empty), S_OK);
  EXPECT_EQ(empty.WriteCount(), 0);
  EXPECT_TRUE(empty.Entries().empty());

  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  ASSERT_EQ(Unregister(kVGraphScript, registry), S_OK);
  const std::set<std::string> after_first = registry.Entries();
  EXPECT_EQ(Unregister(kVGraphScript, registry), S_OK);
  EXPECT_EQ(registry.Entries(), after_first);
}

TEST(RegistrarScripts, ComponentScriptFilesReadAsTheScriptsAbove) {
  const std::filesystem::path dir = std::filesystem::path(NORVISK_SOURCE_DIR) / "src" / "resources";
  const std::pair<const char*, std::set<std::string>> files[] = {
      {"vgraph.rgs", ExpectedVGraph()},
      {"nvgraph.rgs", ExpectedNVGraph()},
  };
  for (const auto& [name, expected] : files) {
    std::ifstream in(dir / name, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << (dir / name).string();
    std::ostringstream text;
    text << in.rdbuf();
    MemoryRegistry registry;
    EXPECT_EQ(Register(text.str(), registry), S_OK) << name;
    EXPECT_EQ(registry.Entries(), expected) << name;
    EXPECT_EQ(Unregister(text.str(), registry), S_OK) << name;
    EXPECT_EQ(registry.Entries(), std::set<std::string>{"HKCR\\CLSID"}) << name;
  }
}

// --- Failures ------------------------------------------------------------------------------

TEST(RegistrarFailure, AFailedWriteUndoesTheRootBlockAndReturnsTheFailure) {
  MemoryRegistry counting;
  ASSERT_EQ(Register(kVGraphScript, counting), S_OK);
  const int writes = counting.WriteCount();
  ASSERT_GT(writes, 20);

  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    MemoryRegistry registry;
    PutNeighbours(registry);
    const std::set<std::string> before = registry.Entries();
    registry.fail_write = n;
    EXPECT_EQ(Register(kVGraphScript, registry), kAccessDenied);
    EXPECT_EQ(registry.Entries(), before);
  }
}

TEST(RegistrarFailure, UndoAlsoRemovesWhatAnEarlierRegistrationLeft) {
  // As the platform's registrar: the undo is an unregistration of the block, not a restore.
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  registry.fail_write = registry.writes + 3;
  EXPECT_EQ(Register(kVGraphScript, registry), kAccessDenied);
  EXPECT_EQ(registry.Entries(), std::set<std::string>{"HKCR\\CLSID"});
}

TEST(RegistrarFailure, OnlyTheFailingRootBlockIsUndone) {
  const char script[] = R"(
    HKCU { Software { Norvisk = s 'settings' } }
    HKCR { Norvisk.Test = s 'Test' { CLSID = s '{1}' } }
  )";
  MemoryRegistry registry;
  registry.fail_write = 6;  // HKCU: 2 keys and a value; HKCR: a key, its value, then CLSID fails
  EXPECT_EQ(Register(script, registry), kAccessDenied);
  EXPECT_EQ(registry.Entries(), (std::set<std::string>{
                                    "HKCU\\Software",
                                    "HKCU\\Software\\Norvisk",
                                    "HKCU\\Software\\Norvisk|@=settings",
                                }));
}

TEST(RegistrarFailure, UnregistrationGoesOnAfterAFailureAndReturnsIt) {
  MemoryRegistry registry;
  ASSERT_EQ(Register(kVGraphScript, registry), S_OK);
  registry.fail_write = registry.writes + 1;  // the first delete: Norvisk.VGraph.1\CLSID
  EXPECT_EQ(Unregister(kVGraphScript, registry), kAccessDenied);
  EXPECT_EQ(registry.Entries(),
            (std::set<std::string>{
                "HKCR\\CLSID",
                "HKCR\\Norvisk.VGraph.1",
                "HKCR\\Norvisk.VGraph.1|@=VGraph Class",
                "HKCR\\Norvisk.VGraph.1\\CLSID",
                "HKCR\\Norvisk.VGraph.1\\CLSID|@={7A55324A-7AC8-4F03-8A04-3BE3DFCFA19B}",
            }));
}

TEST(RegistrarFailure, ScriptsThatCannotBeReadChangeNothing) {
  const std::pair<const char*, const char*> bad[] = {
      {"missing closing brace", "HKCR { A = s 'a' { B = s 'b' }"},
      {"extra closing brace", "HKCR { A = s 'a' } }"},
      {"brace without a key", "HKCR { { A } }"},
      {"missing quote", "HKCR { A = s 'a }"},
      {"unknown value type", "HKCR { A = d '1' }"},
      {"value type missing", "HKCR { A = 'a' }"},
      {"unquoted text", "HKCR { A = s a }"},
      {"val without a value", "HKCR { A { val B } }"},
      {"val without a type", "HKCR { A { val B = 'b' } }"},
      {"val with a block", "HKCR { A { val B = s 'b' { C } } }"},
      {"val directly under the root", "HKCR { val B = s 'b' }"},
      {"unknown root", "HKXX { A }"},
      {"root without a block", "HKCR A = s 'a'"},
      {"two keywords", "HKCR { NoRemove ForceRemove A }"},
      {"keyword without a name", "HKCR { A ForceRemove }"},
      {"empty key name", "HKCR { '' = s 'a' }"},
      {"key name with a separator", "HKCR { 'A\\B' = s 'a' }"},
      {"unknown replacement", "HKCR { A = s '%NOSUCH%' }"},
      {"unclosed replacement", "HKCR { A = s '100%' }"},
      {"equals twice", "HKCR { A = = s 'a' }"},
      {"error after a good block", "HKCR { A = s 'a' } HKCU { B = x 'b' }"},
      {"garbage", "#!/bin/sh\necho hello\n"},
  };
  for (const auto& [what, script] : bad) {
    for (bool registering : {true, false}) {
      SCOPED_TRACE(std::string(what) + (registering ? ", registering" : ", unregistering"));
      MemoryRegistry registry;
      registry.PutValue("HKCR", "A", "", "a");
      registry.PutValue("HKCU", "B", "", "b");
      const std::set<std::string> before = registry.Entries();
      EXPECT_EQ(RunRegistrationScript(script, registering, kReplacements, registry),
                kRegistrarScriptError);
      EXPECT_TRUE(registry.calls.empty());
      EXPECT_EQ(registry.Entries(), before);
    }
  }
}

// --- The language --------------------------------------------------------------------------

TEST(RegistrarLanguage, QuotesReplacementsAndNameForms) {
  const char script[] =
      "\xEF\xBB\xBF"
      "HKEY_CURRENT_USER {\n"
      "  noremove Software {\n"
      "    'It''s' = s 'say ''hi'''{\n"
      "      VAL 'a b' = S '100%% of %module% in %Dir%'\n"
      "      %Module% = s ''\n"
      "    }\n"
      "    Bare.Word-1\n"
      "  }}";
  const Replacements replacements = {{"MODULE", "m.dll"}, {"DIR", "C:\\x"}};
  MemoryRegistry registry;
  // Resources may carry a terminator.
  ASSERT_EQ(RunRegistrationScript(std::string(script) + std::string(2, '\0'), true, replacements,
                                  registry),
            S_OK);
  EXPECT_EQ(registry.Entries(), (std::set<std::string>{
                                    "HKCU\\Software",
                                    "HKCU\\Software\\It's",
                                    "HKCU\\Software\\It's|@=say 'hi'",
                                    "HKCU\\Software\\It's|a b=100% of m.dll in C:\\x",
                                    "HKCU\\Software\\It's\\m.dll",
                                    "HKCU\\Software\\It's\\m.dll|@=",
                                    "HKCU\\Software\\Bare.Word-1",
                                }));
  // A replacement that puts a separator into a key name is refused like a written one.
  EXPECT_EQ(RunRegistrationScript("HKCU { Software { %Dir% } }", true, replacements, registry),
            kRegistrarScriptError);
  // The registry's strings cannot hold a NUL.
  EXPECT_EQ(
      RunRegistrationScript(std::string("HKCU { A = s 'a\0b' }", 21), true, replacements, registry),
      kRegistrarScriptError);
}

TEST(RegistrarLanguage, BracesNeedNoSpaceAroundThem) {
  MemoryRegistry registry;
  ASSERT_EQ(RunRegistrationScript("HKCR{K{val V=s'v'}{1-2}{ X}'q'{}}", true, {}, registry), S_OK);
  EXPECT_EQ(registry.Entries(), (std::set<std::string>{
                                    "HKCR\\K",
                                    "HKCR\\K|V=v",
                                    "HKCR\\{1-2}",
                                    "HKCR\\{1-2}\\X",
                                    "HKCR\\q",
                                }));
}

TEST(RegistrarLanguage, RootNamesShortAndLong) {
  const std::pair<const char*, const char*> roots[] = {
      {"HKCR", "HKCR"}, {"HKEY_CLASSES_ROOT", "HKCR"},
      {"HKCU", "HKCU"}, {"hkey_current_user", "HKCU"},
      {"HKLM", "HKLM"}, {"HKEY_LOCAL_MACHINE", "HKLM"},
      {"HKU", "HKU"},   {"HKEY_USERS", "HKU"},
      {"HKCC", "HKCC"}, {"HKEY_CURRENT_CONFIG", "HKCC"},
  };
  for (const auto& [written, root] : roots) {
    MemoryRegistry registry;
    ASSERT_EQ(RunRegistrationScript(std::string(written) + " { K }", true, {}, registry), S_OK)
        << written;
    EXPECT_EQ(registry.Entries(), std::set<std::string>{std::string(root) + "\\K"}) << written;
  }
}

TEST(RegistrarLanguage, ValuesOfPlainKeysAreRemovedAndForeignValuesKeepTheKey) {
  const char script[] = "HKCU { Plain { val A = s 'x' } }";
  MemoryRegistry registry;
  ASSERT_EQ(RunRegistrationScript(script, true, {}, registry), S_OK);
  ASSERT_EQ(registry.Entries(), (std::set<std::string>{"HKCU\\Plain", "HKCU\\Plain|A=x"}));
  ASSERT_EQ(RunRegistrationScript(script, false, {}, registry), S_OK);
  EXPECT_TRUE(registry.Entries().empty());

  ASSERT_EQ(RunRegistrationScript(script, true, {}, registry), S_OK);
  registry.PutValue("HKCU", "Plain", "B", "foreign");
  ASSERT_EQ(RunRegistrationScript(script, false, {}, registry), S_OK);
  EXPECT_EQ(registry.Entries(), (std::set<std::string>{"HKCU\\Plain", "HKCU\\Plain|B=foreign"}));
}

TEST(RegistrarLanguage, EmptyScriptsDoNothing) {
  for (const char* script : {"", "   \n\t", "\xEF\xBB\xBF", "HKCR { }", "HKCR{}"}) {
    MemoryRegistry registry;
    EXPECT_EQ(RunRegistrationScript(script, true, {}, registry), S_OK) << script;
    EXPECT_TRUE(registry.calls.empty()) << script;
  }
}

// --- Odd input ------------------------------------------------------------------------------

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Runs one input; an unreadable script must leave the registry untouched.
void RunOdd(const std::string& script, HRESULT& result) {
  for (bool registering : {true, false}) {
    MemoryRegistry registry;
    result = RunRegistrationScript(script, registering, kReplacements, registry);
    ASSERT_TRUE(result == S_OK || result == kRegistrarScriptError) << std::hex << result;
    if (result == kRegistrarScriptError) {
      ASSERT_TRUE(registry.calls.empty());
    }
  }
}

TEST(RegistrarOddInput, EveryTruncationOfTheScriptsIsRefusedUnlessComplete) {
  for (const std::string script : {kVGraphScript, kNVGraphScript}) {
    for (std::size_t length = 0; length <= script.size(); ++length) {
      const std::string prefix = script.substr(0, length);
      HRESULT result = S_OK;
      RunOdd(prefix, result);
      if (HasFatalFailure()) return;
      const bool complete = Trim(prefix).empty() || Trim(prefix) == Trim(script);
      EXPECT_EQ(result, complete ? S_OK : kRegistrarScriptError) << "length " << length;
    }
  }
}

TEST(RegistrarOddInput, GarbledScriptsNeverCrash) {
  std::mt19937 random(20240611);
  const char specials[] = {'{', '}', '\'', '=', ' ', '%', '\0', 'x', '\\', '\n', 's'};
  for (const std::string script : {kVGraphScript, kNVGraphScript}) {
    for (int round = 0; round < 1500; ++round) {
      std::string garbled = script;
      const int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = random() % garbled.size();
        switch (random() % 3) {
          case 0: garbled[at] = specials[random() % sizeof specials]; break;
          case 1: garbled.erase(at, 1 + random() % 8); break;
          default:
            garbled.insert(garbled.begin() + static_cast<std::ptrdiff_t>(at),
                           static_cast<char>(random() % 256));
            break;
        }
        if (garbled.empty()) garbled.push_back('{');
      }
      HRESULT result = S_OK;
      RunOdd(garbled, result);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(RegistrarOddInput, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  std::string deep = "HKCR {\n";
  for (int i = 0; i < 100000; ++i) deep += "k {\n";
  MemoryRegistry registry;
  EXPECT_EQ(RunRegistrationScript(deep, true, {}, registry), kRegistrarScriptError);
  deep += std::string(100001, '}');
  EXPECT_EQ(RunRegistrationScript(deep, true, {}, registry), kRegistrarScriptError);
  EXPECT_TRUE(registry.calls.empty());

  std::string fine = "HKCR { ";
  for (int i = 0; i < 20; ++i) fine += "k { ";
  fine += std::string(21, '}');
  EXPECT_EQ(RunRegistrationScript(fine, true, {}, registry), S_OK);
}

}  // namespace
