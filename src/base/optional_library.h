// A shared library opened by name when it is first needed, and the functions taken from it:
// what the program can do without (fontconfig, say) costs nothing until then. POSIX
// builds only (optional_library_posix.cpp).
//
//   OptionalLibrary library("libexample.so.1");
//   library.Find("example_open", &functions.open);
//   library.Find("example_close", &functions.close);
//   if (!library.Keep()) return library.why();
#pragma once

#include <string>

namespace norvisk {

class OptionalLibrary {
 public:
  explicit OptionalLibrary(const char* soname);
  // Closes the library unless Keep succeeded.
  ~OptionalLibrary();
  OptionalLibrary(const OptionalLibrary&) = delete;
  OptionalLibrary& operator=(const OptionalLibrary&) = delete;

  // Sets *function to the library's function `name`; once a name is missing (or the library
  // is), the names after it are not looked for and their functions are left as they are.
  template <class Function>
  void Find(const char* name, Function** function) {
    if (void* address = Address(name)) *function = reinterpret_cast<Function*>(address);
  }

  // True when the library opened and every name was found: it then stays loaded for the life of
  // the process. Otherwise false, and why() says what was missing.
  bool Keep();
  const std::string& why() const { return why_; }

 private:
  void* Address(const char* name);

  std::string soname_;
  void* handle_ = nullptr;
  bool kept_ = false;
  std::string why_;  // empty while nothing is missing
};

}  // namespace norvisk
