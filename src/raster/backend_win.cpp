// The platform back end on Windows: GDI.
#include "raster/device.h"

namespace norvisk {

const Backend& DefaultBackend() { return GdiBackend(); }

}  // namespace norvisk
