// The platform back end where there is no GDI: the software one.
#include "raster/device.h"

namespace norvisk {

const Backend& DefaultBackend() { return SoftBackend(); }

}  // namespace norvisk
