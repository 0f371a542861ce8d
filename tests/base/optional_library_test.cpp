// OptionalLibrary: functions found, what is missing named, and a library kept only when whole.
#include "base/optional_library.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

namespace norvisk {
namespace {

// Whether the library is loaded in this process now.
bool Loaded(const char* soname) {
  void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

struct Maths {
  double (*cos)(double) = nullptr;
  double (*sqrt)(double) = nullptr;
};

TEST(OptionalLibrary, FindsEveryFunctionOfALibrary) {
  Maths m;
  OptionalLibrary library("libm.so.6");
  library.Find("cos", &m.cos);
  library.Find("sqrt", &m.sqrt);
  ASSERT_TRUE(library.Keep()) << library.why();
  EXPECT_EQ(library.why(), "");
  ASSERT_NE(m.cos, nullptr);
  ASSERT_NE(m.sqrt, nullptr);
  EXPECT_EQ(m.cos(0.0), 1.0);
  EXPECT_EQ(m.sqrt(81.0), 9.0);
}

TEST(OptionalLibrary, AMissingFunctionIsNamedAndStopsTheSearch) {
  Maths m;
  double (*missing)(double) = nullptr;
  OptionalLibrary library("libm.so.6");
  library.Find("cos", &m.cos);
  library.Find("norvisk_no_such_function", &missing);
  library.Find("sqrt", &m.sqrt);
  EXPECT_FALSE(library.Keep());
  EXPECT_EQ(library.why(), "libm.so.6 has no norvisk_no_such_function");
  EXPECT_NE(m.cos, nullptr);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(m.sqrt, nullptr) << "looked for after a missing name";
}

TEST(OptionalLibrary, AMissingLibraryIsReported) {
  double (*cos)(double) = nullptr;
  OptionalLibrary library("libnorvisk-not-there.so.7");
  library.Find("cos", &cos);
  EXPECT_FALSE(library.Keep());
  EXPECT_NE(library.why().find("libnorvisk-not-there.so.7"), std::string::npos) << library.why();
  EXPECT_EQ(cos, nullptr);
}

// fontconfig: a library this test program does not load by itself.
TEST(OptionalLibrary, OnlyAWholeLibraryStaysLoaded) {
  const char* soname = NORVISK_FONTCONFIG_SONAME;
  ASSERT_FALSE(Loaded(soname)) << "loaded before the test";
  void (*found)() = nullptr;
  {
    OptionalLibrary partial(soname);
    partial.Find("FcPatternCreate", &found);
    partial.Find("norvisk_no_such_function", &found);
    EXPECT_FALSE(partial.Keep());
    EXPECT_TRUE(Loaded(soname));
  }
  EXPECT_FALSE(Loaded(soname)) << "a library that failed stays loaded";
  {
    OptionalLibrary whole(soname);
    whole.Find("FcPatternCreate", &found);
    EXPECT_TRUE(whole.Keep()) << whole.why();
  }
  EXPECT_TRUE(Loaded(soname)) << "a kept library was closed";
}

}  // namespace
}  // namespace norvisk
