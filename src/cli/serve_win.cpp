// `norvisk serve` on Windows: the service is built for Linux only.
#include <cstdio>

#include "serve/serve.h"

namespace norvisk::serve {

int ServeCommand(int, char**) {
  std::fputs("norvisk: serve is not part of the Windows build (see norvisk --help)\n", stderr);
  return 2;
}

}  // namespace norvisk::serve
