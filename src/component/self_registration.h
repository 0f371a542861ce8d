// Registration of the module: its two scripts, the control's categories, the type library.
#pragma once

#include <windows.h>

namespace norvisk {

HRESULT RegisterModule();
HRESULT UnregisterModule();

}  // namespace norvisk
