// OptionalLibrary through dlopen and dlsym.
#include "base/optional_library.h"

#include <dlfcn.h>

namespace norvisk {

OptionalLibrary::OptionalLibrary(const char* soname) : soname_(soname) {
  handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* error = dlerror();
    why_ = error ? error : "cannot load " + soname_;
  }
}

OptionalLibrary::~OptionalLibrary() {
  if (handle_ && !kept_) dlclose(handle_);
}

void* OptionalLibrary::Address(const char* name) {
  if (!why_.empty()) return nullptr;
  void* address = dlsym(handle_, name);
  if (!address) why_ = soname_ + " has no " + name;
  return address;
}

bool OptionalLibrary::Keep() {
  kept_ = why_.empty();
  return kept_;
}

}  // namespace norvisk
